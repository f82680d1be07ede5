// The records' layouts are part of Pictor.dll's binary interface: a host compiled
// separately reads and writes them at these offsets.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <exception>
#include <vector>

#include "Pictor.h"

// Compile-time pins, written with offsetof/sizeof only so that MSVC checks them too.
#define PIN(type, field, offset, size)                                        \
  static_assert(offsetof(type, field) == (offset), #type "::" #field " offset"); \
  static_assert(sizeof(type::field) == (size), #type "::" #field " size")

PIN(TPictorDescr, FriendlyName, 0, 1024);
PIN(TPictorDescr, SymbolicLink, 1024, 1024);
static_assert(sizeof(TPictorDescr) == 2048, "TPictorDescr size");

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
static_assert(sizeof(TPictorFormat) == 1668, "TPictorFormat size");
static_assert(alignof(TPictorFormat) == 4, "TPictorFormat alignment");

PIN(TPictorParameter, Value, 0, 4);
PIN(TPictorParameter, Min, 4, 4);
PIN(TPictorParameter, Max, 8, 4);
PIN(TPictorParameter, Step, 12, 4);
PIN(TPictorParameter, Default, 16, 4);
PIN(TPictorParameter, Flags, 20, 4);
PIN(TPictorParameter, Apply, 24, 1);
static_assert(sizeof(TPictorParameter) == 28, "TPictorParameter size");

PIN(TPictorParameters, VideoProcAmp, 0, 10 * 28);
PIN(TPictorParameters, CameraControl, 280, 7 * 28);
static_assert(sizeof(TPictorParameters) == 476, "TPictorParameters size");

static_assert(sizeof(wchar_t) == 2, "UTF-16 code units");
#undef PIN

namespace {

template <typename T, typename F>
size_t OffsetIn(const T& record, const F& field) {
  return reinterpret_cast<const unsigned char*>(&field) -
         reinterpret_cast<const unsigned char*>(&record);
}

bool AllZero(const void* data, size_t size) {
  const unsigned char* bytes = static_cast<const unsigned char*>(data);
  for (size_t i = 0; i < size; ++i) {
    if (bytes[i] != 0) return false;
  }
  return true;
}

TEST(RecordLayout, FieldsSitWhereAHostExpectsThem) {
  TPictorFormat f;
  EXPECT_EQ(OffsetIn(f, f.AMFormatType), 28u);
  EXPECT_EQ(OffsetIn(f, f.AMFormatTypeName), 44u);
  EXPECT_EQ(OffsetIn(f, f.FixedSizeSamples), 556u);
  EXPECT_EQ(OffsetIn(f, f.FrameRateRangeMaxLow), 608u);
  EXPECT_EQ(OffsetIn(f, f.MajorType), 612u);
  EXPECT_EQ(OffsetIn(f, f.MajorTypeName), 628u);
  EXPECT_EQ(OffsetIn(f, f.SubType), 1140u);
  EXPECT_EQ(OffsetIn(f, f.SubTypeName), 1156u);
  EXPECT_EQ(sizeof(f), 1668u);

  // Arrays of records are walked by the host with these strides.
  std::vector<TPictorDescr> descrs(2);
  EXPECT_EQ(OffsetIn(descrs[0], descrs[1].SymbolicLink), 2048u + 1024u);
  TPictorParameters p;
  EXPECT_EQ(OffsetIn(p, p.CameraControl[0]), 10u * 28u);  // CameraControl_Pan is entry 10
  EXPECT_EQ(OffsetIn(p, p.CameraControl[6]), 16u * 28u);  // CameraControl_Focus entry 16
  EXPECT_EQ(OffsetIn(p.VideoProcAmp[0], p.VideoProcAmp[0].Apply), 24u);
}

TEST(RecordLayout, DefaultConstructionZeroesEveryByteThatCarriesAValue) {
  // Placement over a dirty buffer: the constructor must clear each field itself.
  alignas(TPictorFormat) unsigned char raw[sizeof(TPictorFormat)];
  std::memset(raw, 0xA5, sizeof(raw));
  TPictorFormat* f = new (raw) TPictorFormat();
  EXPECT_TRUE(AllZero(f, sizeof(*f)));  // the record has no padding

  alignas(TPictorParameters) unsigned char rawParams[sizeof(TPictorParameters)];
  std::memset(rawParams, 0xA5, sizeof(rawParams));
  TPictorParameters* p = new (rawParams) TPictorParameters();
  for (const TPictorParameter& e : p->VideoProcAmp) {
    EXPECT_TRUE(AllZero(&e, offsetof(TPictorParameter, Apply) + 1));
  }
  for (const TPictorParameter& e : p->CameraControl) {
    EXPECT_TRUE(AllZero(&e, offsetof(TPictorParameter, Apply) + 1));
  }
}

TEST(RecordLayout, CopyingAFormatCopiesEveryField) {
  TPictorFormat a;
  unsigned char* bytes = reinterpret_cast<unsigned char*>(&a);
  for (size_t i = 0; i < sizeof(a); ++i) bytes[i] = static_cast<unsigned char>(i * 7 + 1);
  TPictorFormat b = a;
  EXPECT_EQ(std::memcmp(&a, &b, sizeof(a)), 0);
}

TEST(Exceptions, EPictorIsCaughtAsItsBasesWithItsMessage) {
  EPictor* thrown = new EPictor("Error in TPictor");
  try {
    throw thrown;
  } catch (std::exception* e) {
    EXPECT_STREQ(e->what(), "Error in TPictor");
    EXPECT_EQ(static_cast<EBaseException*>(thrown)->Message, "Error in TPictor");
  }
  delete thrown;
}

}  // namespace
