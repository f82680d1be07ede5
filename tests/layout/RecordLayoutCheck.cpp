// The records' layouts are part of Pictor.dll's binary interface: a host compiled
// separately reads and writes every field at these offsets. Compile-time pins only,
// written with offsetof/sizeof so that MSVC checks them too (Pictor.h pins the sizes).
#include <cstddef>

#include "Pictor.h"

#define PIN(type, field, offset, size)                                        \
  static_assert(offsetof(type, field) == (offset), #type "::" #field " offset"); \
  static_assert(sizeof(type::field) == (size), #type "::" #field " size")
PIN(TPictorDescr, FriendlyName, 0, 1024);
PIN(TPictorDescr, SymbolicLink, 1024, 1024);
PIN(TPictorFormat, FrameSize, 0, 4);
PIN(TPictorFormat, Height, 4, 4);
PIN(TPictorFormat, Width, 8, 4);
PIN(TPictorFormat, YUVMatrix, 12, 4);
PIN(TPictorFormat, VideoLighting, 16, 4);
PIN(TPictorFormat, DefaultStride, 20, 4);
PIN(TPictorFormat, VideoChromaSiting, 24, 4);
PIN(TPictorFormat, AMFormatType, 28, 16);
PIN(TPictorFormat, AMFormatTypeName, 44, 512);
PIN(TPictorFormat, FixedSizeSamples, 556, 4);
PIN(TPictorFormat, VideoNominalRange, 560, 4);
PIN(TPictorFormat, FrameRate, 564, 4);
PIN(TPictorFormat, FrameRateLow, 568, 4);
PIN(TPictorFormat, PixelAspectRatio, 572, 4);
PIN(TPictorFormat, PixelAspectRatioLow, 576, 4);
PIN(TPictorFormat, AllSamplesIndependent, 580, 4);
PIN(TPictorFormat, FrameRateRangeMin, 584, 4);
PIN(TPictorFormat, FrameRateRangeMinLow, 588, 4);
PIN(TPictorFormat, SampleSize, 592, 4);
PIN(TPictorFormat, VideoPrimaries, 596, 4);
PIN(TPictorFormat, InterlaceMode, 600, 4);
PIN(TPictorFormat, FrameRateRangeMax, 604, 4);
PIN(TPictorFormat, FrameRateRangeMaxLow, 608, 4);
PIN(TPictorFormat, MajorType, 612, 16);
PIN(TPictorFormat, MajorTypeName, 628, 512);
PIN(TPictorFormat, SubType, 1140, 16);
PIN(TPictorFormat, SubTypeName, 1156, 512);
static_assert(alignof(TPictorFormat) == 4, "TPictorFormat alignment");
PIN(TPictorParameter, Value, 0, 4);
PIN(TPictorParameter, Min, 4, 4);
PIN(TPictorParameter, Max, 8, 4);
PIN(TPictorParameter, Step, 12, 4);
PIN(TPictorParameter, Default, 16, 4);
PIN(TPictorParameter, Flags, 20, 4);
PIN(TPictorParameter, Apply, 24, 1);
PIN(TPictorParameters, VideoProcAmp, 0, 10 * 28);
PIN(TPictorParameters, CameraControl, 280, 7 * 28);
static_assert(sizeof(wchar_t) == 2, "UTF-16 code units");
#undef PIN
