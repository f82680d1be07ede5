// Software colour key: marks key-coloured pixels of a BGRA frame by writing alpha 0 and
// gives every other pixel the requested opacity. Works in place; colour bytes are never
// changed. Runs the fastest version the processor supports (see ColorKeyInternal.h).
#pragma once

#include "PictorPreviewRecords.h"

// Pixels: width pixels of 4 bytes (blue, green, red, alpha) per row, height rows, rows
// stride bytes apart, first stored row first. A null pointer or an empty frame writes
// nothing.
void RemoveKeyColor(unsigned char* pixels, unsigned int width, unsigned int height, unsigned int stride,
                    float sensitivity, float smoothing, unsigned char opacity, TRemoveBackgroundColorType colorType,
                    unsigned int customColor);
