// Person keying through the preview: a mode that cannot load its runtime is refused with
// its own result and line while the colour key goes on, and the photograph's person is
// kept over the background by both renderers, matching the model's own mask.
#include <memory>

#include "PictorC.h"
#include "person/OnnxSegmentationModel_win.h"
#include "tests/person/PersonTestSupport.h"
#include "tests/preview/PreviewTestSupport.h"
#include "tests/support/HostTest.h"

static auto* const g_com = ::testing::AddGlobalTestEnvironment(new pictortest::ComEnvironment);

using namespace persontest;
using previewtest::Access;
using previewtest::FrameSink;

namespace {
int PICTOR_CDECL Delivered(unsigned int width, unsigned int height, unsigned int pitch, unsigned char* pixels,
                           void* sink)
{
  return FrameSink::Callback(width, height, pitch, pixels, sink);
}
}  // namespace

// A host that ships Pictor.dll without the runtime: this program run from a directory of
// its own (person_mode_no_runtime_wine).
TEST(PersonMode, WithoutItsRuntimeIsRefusedWithItsOwnResultAndTheColourKeyGoesOn)
{
  if (GetFileAttributesW((LibraryDirectory() + L"onnxruntime.dll").c_str()) != INVALID_FILE_ATTRIBUTES)
    GTEST_SKIP() << "the runtime is here (person_mode_no_runtime_wine runs this without it)";
  PictorPreview preview = nullptr;
  ASSERT_EQ(PictorPreviewCreate(&preview), PICTOR_OK);
  pictortest::LogCapture::Get().Clear();
  EXPECT_EQ(PictorPreviewSetKeyingMode(preview, PICTOR_KEYING_PERSON), PICTOR_E_PERSON_UNAVAILABLE);
  EXPECT_STREQ(PictorResultName(PICTOR_E_PERSON_UNAVAILABLE), "PICTOR_E_PERSON_UNAVAILABLE");
  EXPECT_TRUE(Logged("no-runtime\\onnxruntime.dll is missing"));
  EXPECT_TRUE(Logged("person mode unavailable: inference runtime missing"));
  EXPECT_EQ(PictorPreviewSetKeyingMode(preview, 2), PICTOR_E_INVALID_ARGUMENT);

  ASSERT_NO_FATAL_FAILURE(pictortest::VirtualCamera::Get().Configure(
      "camera link=vcam-green pattern=greenscreen\nformat subtype=RGB32 size=64x48 rate=30/1\n"));
  FrameSink sink;
  sink.formatWidth = 64;
  sink.formatHeight = 48;
  ASSERT_EQ(PictorPreviewSetRenderer(preview, PICTOR_RENDERER_SOFTWARE), PICTOR_OK);
  PictorKeyingParams keying = TPictorD3D9PreviewChromaKeyingParams();
  ASSERT_EQ(PictorPreviewStart(preview, L"vcam-green", 0, 1, nullptr, &keying, Delivered, &sink), PICTOR_OK);
  ASSERT_TRUE(sink.WaitFor(3));
  // Still the colour key: the screen (top row) goes, the subject (the middle) stays.
  const TReferenceImage last = sink.Last();
  EXPECT_EQ(last.Argb(0, 0), 0xFF000000u);
  EXPECT_NE(last.Argb(32, 24), 0xFF000000u);
  EXPECT_EQ(PictorPreviewDestroy(preview), PICTOR_OK);
}

// The keyed picture against the model's own mask of the photograph: a pixel is kept when
// it is nearer the camera's picture than the background. The first frame comes before any
// mask and shows nothing of the room.
TEST(PersonMode, KeepsThePhotographsPersonOverTheBackgroundWithBothRenderers)
{
  const unsigned int w = 1280, h = 720;
  const std::vector<uint8_t> photo = Photograph(w, h), reference = ReferenceMask(w, h);
  ASSERT_NO_FATAL_FAILURE(
      pictortest::VirtualCamera::Get().Configure("camera link=vcam-photo pattern=picture:" PICTOR_TEST_PICTURE
                                                 "\nformat subtype=RGB32 size=1280x720 rate=30/1\n"));
  std::vector<uint8_t> magenta(size_t(4) * w * h);
  for (size_t i = 0; i < magenta.size(); i += 4) magenta[i] = magenta[i + 2] = magenta[i + 3] = 255;
  TPictorD3D9PreviewImage background(w, h, 4 * w, magenta.data(), true);
  for (TPictorRenderer renderer : {prSoftware, prDirect3D9}) {
    SCOPED_TRACE(renderer == prSoftware ? "software" : "Direct3D 9");
    FrameSink sink;
    sink.formatWidth = w;
    sink.formatHeight = h;
    TPictorD3D9Preview preview;
    preview.SetRenderer(renderer);
    ASSERT_TRUE(preview.SetKeyingMode(kmPerson));
    ASSERT_TRUE(preview.StartPreview(L"vcam-photo", 0, true, &background, nullptr, FrameSink::Callback, &sink));
    ASSERT_TRUE(sink.WaitFor(8));
    preview.SetSensitivity(0.5f);
    ASSERT_TRUE(sink.WaitFor(sink.Count() + 3));
    const TReferenceImage first = sink.frames.front(), last = sink.Last();
    size_t room = 0, both = 0, either = 0;
    for (unsigned int y = 0; y < h; ++y)
      for (unsigned int x = 0; x < w; ++x) {
        const uint8_t* camera = &photo[4 * (size_t(y) * w + x)];
        auto kept = [&](const TReferenceImage& image) {
          const uint8_t* p = image.Pixel(x, y);
          int toCamera = 0, toBackground = 0;
          for (int c = 0; c < 3; ++c) {
            toCamera += std::abs(p[c] - camera[c]);
            toBackground += std::abs(p[c] - (c == 1 ? 0 : 255));
          }
          return toCamera < toBackground;
        };
        room += kept(first);
        const bool keptNow = kept(last), expected = reference[size_t(y) * w + x] != 0;
        both += keptNow && expected;
        either += keptNow || expected;
      }
    EXPECT_EQ(room, 0u) << "the first frame, before any mask, showed the room";
    EXPECT_GE(double(both) / double(either), 0.95);
  }
}
