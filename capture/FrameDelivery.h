// Deep copies of Media Foundation samples. The capture thread copies every sample
// the source reader returns so the reader's sample can be released at once.
// Both functions throw EPictor* (after an error line) when a copy cannot be made.
#pragma once

struct IMFSample;
struct IMFMediaBuffer;

// Copies flags, time, duration and every buffer; not the attribute store.
// A null source gives null.
IMFSample* PictorDuplicateSample(IMFSample* source);

// Copies the current-length bytes into a new memory buffer of exactly that size.
IMFMediaBuffer* PictorDuplicateBuffer(IMFMediaBuffer* source);
