// Deep copies of Media Foundation samples: the capture thread copies every sample the
// source reader returns so the reader's sample can be released at once; the copies throw
// EPictor* after an error line when they cannot be made.
#pragma once

struct IMFSample;
struct IMFMediaBuffer;
class TSamplePool;

// Copies flags, time, duration and every buffer; not the attribute store.
// A null source gives null.
IMFSample* PictorDuplicateSample(IMFSample* source);

// Copies the current-length bytes into a new memory buffer of exactly that size. A 2-D
// buffer is copied in its contiguous form (the bytes a plain Lock would give).
IMFMediaBuffer* PictorDuplicateBuffer(IMFMediaBuffer* source);

// The same with the copies' buffers taken from `pool` (null: new ones), so that a
// capture running in one format allocates no buffer per frame.
IMFSample* PictorDuplicateSample(IMFSample* source, TSamplePool* pool);
IMFMediaBuffer* PictorDuplicateBuffer(IMFMediaBuffer* source, TSamplePool* pool);
