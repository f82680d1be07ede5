// The software renderer on the virtual camera, in a program of its own so that nothing
// has loaded Direct3D before: a software preview delivers keyed frames without ever
// loading d3d9.dll, and SetRenderer takes effect from the next StartPreview.
#include <memory>

#include "PreviewTestSupport.h"
#include "tests/support/HostTest.h"

static auto* const g_com = ::testing::AddGlobalTestEnvironment(new pictortest::ComEnvironment);

namespace previewtest {
namespace {

TEST(SoftwareRenderer, MakesNoDirect3DObjectAndTheNextStartFollowsSetRenderer)
{
  ASSERT_NO_FATAL_FAILURE(pictortest::VirtualCamera::Get().Configure(
      "camera name=\"Green screen\" link=\"vcam-green\" pattern=greenscreen\n"
      "format subtype=RGB32 size=63x47 rate=30/1\n"));
  ASSERT_EQ(GetModuleHandleW(L"d3d9.dll"), nullptr) << "d3d9.dll must not be loaded before the preview starts";
  FrameSink sink;
  sink.formatWidth = 63;
  sink.formatHeight = 47;
  auto preview = std::make_unique<TPictorD3D9Preview>();
  preview->SetRenderer(prSoftware);
  preview->SetRenderer(static_cast<TPictorRenderer>(2));  // refused: the choice stays
  TPictorD3D9PreviewChromaKeyingParams params;
  ASSERT_TRUE(preview->StartPreview(L"vcam-green", 0, true, nullptr, &params, FrameSink::Callback, &sink));
  ASSERT_TRUE(sink.WaitFor(3));
  preview->SetRenderer(prDirect3D9);  // not before the next start
  ASSERT_TRUE(sink.WaitFor(sink.Count() + 2));
  EXPECT_EQ(GetModuleHandleW(L"d3d9.dll"), nullptr);
  EXPECT_EQ(Access::D3D9(*preview), nullptr);
  // The green screen is keyed away over black (the top row); the subject, a disc on the
  // middle row, is kept.
  const TReferenceImage last = sink.Last();
  int subject = 0;
  for (unsigned int x = 0; x < 63; ++x) {
    EXPECT_EQ(last.Argb(x, 0), 0xFF000000u) << x;
    subject += last.Argb(x, 23) == 0xFF000000u ? 0 : 1;
  }
  EXPECT_GT(subject, 4);

  ASSERT_TRUE(preview->StartPreview(L"vcam-green", 0, true, nullptr, nullptr, FrameSink::Callback, &sink));
  const size_t count = sink.Count();
  ASSERT_TRUE(sink.WaitFor(count + 2));
  EXPECT_NE(GetModuleHandleW(L"d3d9.dll"), nullptr);
  EXPECT_NE(Access::D3D9(*preview), nullptr);
}

}  // namespace
}  // namespace previewtest
