// The records' layouts are part of Pictor.dll's binary interface: a host compiled
// separately reads and writes every field at these offsets. Compile-time pins only,
// written with offsetof/sizeof so that MSVC checks them too (Pictor.h pins the sizes).
#include <cstddef>

#include "Pictor.h"

// clang-format off
#define PIN(type, field, offset, size)                                        \
  static_assert(offsetof(type, field) == (offset), #type "::" #field " offset"); \
  static_assert(sizeof(type::field) == (size), #type "::" #field " size")
#define D(field, offset, size) PIN(TPictorDescr, field, offset, size)
#define F(field, offset, size) PIN(TPictorFormat, field, offset, size)
#define P(field, offset, size) PIN(TPictorParameter, field, offset, size)
#define PS(field, offset, size) PIN(TPictorParameters, field, offset, size)
D(FriendlyName, 0, 1024); D(SymbolicLink, 1024, 1024);
F(FrameSize, 0, 4); F(Height, 4, 4); F(Width, 8, 4);
F(YUVMatrix, 12, 4); F(VideoLighting, 16, 4); F(DefaultStride, 20, 4);
F(VideoChromaSiting, 24, 4); F(AMFormatType, 28, 16); F(AMFormatTypeName, 44, 512);
F(FixedSizeSamples, 556, 4); F(VideoNominalRange, 560, 4); F(FrameRate, 564, 4);
F(FrameRateLow, 568, 4); F(PixelAspectRatio, 572, 4); F(PixelAspectRatioLow, 576, 4);
F(AllSamplesIndependent, 580, 4); F(FrameRateRangeMin, 584, 4); F(FrameRateRangeMinLow, 588, 4);
F(SampleSize, 592, 4); F(VideoPrimaries, 596, 4); F(InterlaceMode, 600, 4);
F(FrameRateRangeMax, 604, 4); F(FrameRateRangeMaxLow, 608, 4); F(MajorType, 612, 16);
F(MajorTypeName, 628, 512); F(SubType, 1140, 16); F(SubTypeName, 1156, 512);
static_assert(alignof(TPictorFormat) == 4, "TPictorFormat alignment");
P(Value, 0, 4); P(Min, 4, 4); P(Max, 8, 4); P(Step, 12, 4);
P(Default, 16, 4); P(Flags, 20, 4); P(Apply, 24, 1);
PS(VideoProcAmp, 0, 10 * 28); PS(CameraControl, 280, 7 * 28);
#define FI(field, offset) PIN(TPictorFrameInfo, field, offset, 8)
FI(Sequence, 0); FI(SampleTime, 8); FI(DeviceTime, 16); FI(ReadTime, 24); FI(DroppedBefore, 32);
static_assert(sizeof(TPictorFrameInfo) == 40 && alignof(TPictorFrameInfo) == 8, "TPictorFrameInfo layout");
#define SX(field, offset, size) PIN(TPictorCaptureStatusEx, field, offset, size)
SX(Size, 0, 4); SX(State, 4, 4); SX(Error, 8, 4); SX(Reserved, 12, 4); SX(FramesDelivered, 16, 8);
SX(FramesDropped, 24, 8); SX(FrameRate, 32, 8); SX(Reconnects, 40, 8);
static_assert(sizeof(TPictorCaptureStatusEx) == 48, "TPictorCaptureStatusEx layout");
// clang-format on
static_assert(sizeof(wchar_t) == 2, "UTF-16 code units");
