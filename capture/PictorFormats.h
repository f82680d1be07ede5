// Reading a TPictorFormat from the attributes of a Media Foundation media type. Used by
// format enumeration and by the capture session when it looks for the native type that
// equals a requested format.
#pragma once

#include "Pictor.h"

#include <wrl/client.h>

struct IMFMediaType;
struct IMFSourceReader;

// Zeroes *format, then fills it from every attribute of the type. True when the
// attribute store could be locked, counted and unlocked; a stop on a single attribute
// keeps what was read so far and still counts as success.
bool ReadPictorFormat(IMFMediaType* type, TPictorFormat* format);

// Reads attribute `index` of the type into *format. Returns the failing result of
// fetching the attribute, 0 for the five packed 64-bit attributes, 1 for any other.
int ReadPictorFormatAttribute(IMFMediaType* type, UINT32 index, TPictorFormat* format);

// Two records stand for the same format when every field except the three names is
// equal.
bool SamePictorFormat(const TPictorFormat& a, const TPictorFormat& b);

// Selects only the first video stream of the reader, finds its first native type equal to
// `format` and makes it the reader's current type. With a name (StartCapture), every step
// is described in the log under it; without (a reopened camera), nothing is. Null on
// failure, with *result the failing call's result (S_OK when no type is equal).
Microsoft::WRL::ComPtr<IMFMediaType> SelectNativeType(IMFSourceReader* reader, const TPictorFormat& format,
                                                      const char* name, HRESULT* result);
