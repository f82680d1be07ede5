// A program without the "BINARY" 101 resource: the device set-up fails at the shader.
#include <windows.h>

#include <gtest/gtest.h>

#include "PreviewTestSupport.h"
#include "tests/support/LogCapture.h"

namespace previewtest {
namespace {

TEST(MissingShaderResource, SetUpFailsWithTheFindResourceError)
{
  auto& log = pictortest::LogCapture::Get();
  TPictorD3D9Preview preview;
  Access::SetCaptureFormat(preview, 16, 16);
  log.Clear();
  EXPECT_FALSE(Access::InitD3D9(preview));
  EXPECT_EQ(Access::Shader(preview), nullptr);
  EXPECT_NE(Access::ReadBack(preview), nullptr);  // what was made before stays

  std::vector<std::string> lines;
  for (const std::string& line : log.Lines())
    if (line.rfind("LoadResource", 0) == 0 || line.rfind("TPictorD3D9Preview::CreatePixelShader", 0) == 0 ||
        line.rfind("TPictorD3D9Preview::InitD3D9 C", 0) == 0 || line.rfind("TPictorD3D9Preview::InitD3D9 exit", 0) == 0)
      lines.push_back(line);
  const std::vector<std::string> expected = {
      "TPictorD3D9Preview::CreatePixelShader shader 101",
      "LoadResource resource 101",
      // This program has no resource section at all, for which the loader reports
      // ERROR_RESOURCE_DATA_NOT_FOUND (1812), on Windows as under Wine.
      "LoadResource Unable to find shader resource. error " + std::to_string(ERROR_RESOURCE_DATA_NOT_FOUND),
      "LoadResource exit with 0000000000000000",
      "TPictorD3D9Preview::CreatePixelShader exit with 0",
      "TPictorD3D9Preview::InitD3D9 CreatePixelShader pD3D9PixelShaderBlur7x7KernelFilterD3D9 error",
      "TPictorD3D9Preview::InitD3D9 exit with 0",
  };
  EXPECT_EQ(lines, expected);
}

}  // namespace
}  // namespace previewtest
