// A program without the "BINARY" 101 resource, as a host that links the library's objects
// but not its resource script: the device set-up fails and says why.
#include "PreviewTestSupport.h"
#include "log/LogRecord.h"
#include "tests/support/HostTest.h"

namespace previewtest {
namespace {

TEST(MissingShaderResource, SetUpFailsWithTheFindResourceError)
{
  auto& log = pictortest::LogCapture::Get();
  TPictorD3D9Preview preview;
  Access::SetCaptureFormat(preview, 16, 16);
  log.Clear();
  EXPECT_FALSE(Access::InitD3D9(preview));
  // A failed set-up keeps none of the objects it made before the failing step.
  EXPECT_EQ(Access::Shader(preview), nullptr);
  EXPECT_EQ(Access::Device(preview), nullptr);
  EXPECT_EQ(Access::D3D9(preview), nullptr);
  // This program has no resource section at all, for which the loader reports
  // ERROR_RESOURCE_DATA_NOT_FOUND (1812), on Windows as under Wine.
  const std::vector<pictortest::CapturedRecord> records = log.Records();
  const pictortest::CapturedRecord* line = pictortest::FindRecord(
      records, "LoadResource Unable to find shader resource. error " + std::to_string(ERROR_RESOURCE_DATA_NOT_FOUND));
  ASSERT_NE(line, nullptr);
  EXPECT_EQ(line->kind, kLogRecordKindError);
}

}  // namespace
}  // namespace previewtest
