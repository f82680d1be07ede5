// The preview's Direct3D set-up: what it creates, how the device is made, the embedded
// pixel program and its constant table, the upload path, and the set-up's log lines.
#include <windows.h>
#include <d3d9.h>
#include <d3dx9shader.h>
#include <wrl/client.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>

#include "PreviewTestSupport.h"
#include "preview/ShaderResource.h"
#include "tests/support/LogCapture.h"

using Microsoft::WRL::ComPtr;

namespace previewtest {
namespace {

// The Microsoft runtime prints "%p" as 16 upper-case hex digits on x64.
std::string PointerText(const void* p)
{
  char text[32];
  std::snprintf(text, sizeof text, "%016llX", static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(p)));
  return text;
}

std::vector<std::string> SetUpLines(const std::vector<std::string>& lines)
{
  std::vector<std::string> out;
  for (const std::string& line : lines)
    if (line.rfind("TPictorD3D9Preview::InitD3D9", 0) == 0 || line.rfind("TPictorD3D9Preview::CreatePixelShader", 0) == 0 ||
        line.rfind("TPictorD3D9Preview::GetVertexProcessingCaps", 0) == 0 || line.rfind("LoadResource", 0) == 0)
      out.push_back(line);
  return out;
}

void ExpectSurface(IDirect3DSurface9* surface, D3DPOOL pool, DWORD usage, unsigned int w, unsigned int h)
{
  ASSERT_NE(surface, nullptr);
  D3DSURFACE_DESC desc;
  ASSERT_EQ(surface->GetDesc(&desc), D3D_OK);
  EXPECT_EQ(desc.Format, D3DFMT_A8R8G8B8);
  EXPECT_EQ(desc.Pool, pool);
  EXPECT_EQ(desc.Usage, usage);
  EXPECT_EQ(desc.Width, w);
  EXPECT_EQ(desc.Height, h);
  EXPECT_EQ(desc.MultiSampleType, D3DMULTISAMPLE_NONE);
}

void ExpectTexture(IDirect3DTexture9* texture, D3DPOOL pool, unsigned int w, unsigned int h)
{
  ASSERT_NE(texture, nullptr);
  EXPECT_EQ(texture->GetLevelCount(), 1u);
  D3DSURFACE_DESC desc;
  ASSERT_EQ(texture->GetLevelDesc(0, &desc), D3D_OK);
  EXPECT_EQ(desc.Format, D3DFMT_A8R8G8B8);
  EXPECT_EQ(desc.Pool, pool);
  EXPECT_EQ(desc.Usage, 0u);
  EXPECT_EQ(desc.Width, w);
  EXPECT_EQ(desc.Height, h);
}

TEST(DeviceSetUp, BuildsEveryObjectAtTheFormatSizeAndLogsEachStep)
{
  auto& log = pictortest::LogCapture::Get();
  TPictorD3D9Preview preview;
  Access::SetCaptureFormat(preview, 40, 30);
  log.Clear();
  ASSERT_TRUE(Access::InitD3D9(preview));

  ExpectSurface(Access::RenderTarget(preview), D3DPOOL_DEFAULT, D3DUSAGE_RENDERTARGET, 40, 30);
  ExpectTexture(Access::Staging(preview), D3DPOOL_SYSTEMMEM, 40, 30);
  ExpectTexture(Access::CameraTexture(preview), D3DPOOL_DEFAULT, 40, 30);
  ExpectTexture(Access::BackgroundTexture(preview), D3DPOOL_DEFAULT, 40, 30);
  ExpectSurface(Access::ReadBack(preview), D3DPOOL_SYSTEMMEM, 0, 40, 30);
  EXPECT_NE(Access::Shader(preview), nullptr);

  D3DDEVICE_CREATION_PARAMETERS creation;
  ASSERT_EQ(Access::Device(preview)->GetCreationParameters(&creation), D3D_OK);
  EXPECT_EQ(creation.AdapterOrdinal, D3DADAPTER_DEFAULT);
  EXPECT_EQ(creation.DeviceType, D3DDEVTYPE_HAL);
  const DWORD vertexProcessing = Access::GetVertexProcessingCaps(preview);
  EXPECT_TRUE(vertexProcessing == D3DCREATE_HARDWARE_VERTEXPROCESSING ||
              vertexProcessing == D3DCREATE_SOFTWARE_VERTEXPROCESSING);
  EXPECT_EQ(creation.BehaviorFlags, vertexProcessing | D3DCREATE_FPU_PRESERVE | D3DCREATE_MULTITHREADED);
  D3DCAPS9 caps;
  ASSERT_EQ(Access::D3D9(preview)->GetDeviceCaps(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, &caps), D3D_OK);
  EXPECT_EQ(vertexProcessing, (caps.DevCaps & D3DDEVCAPS_HWTRANSFORMANDLIGHT) ? DWORD(D3DCREATE_HARDWARE_VERTEXPROCESSING)
                                                                              : DWORD(D3DCREATE_SOFTWARE_VERTEXPROCESSING));

  // The resource is looked up in this program's own module (it links the library's objects).
  HRSRC resource = FindResourceW(nullptr, MAKEINTRESOURCEW(101), L"BINARY");
  ASSERT_NE(resource, nullptr);
  const void* bytes = LockResource(::LoadResource(nullptr, resource));
  const bool dynamic = (caps.Caps2 & D3DCAPS2_DYNAMICTEXTURES) != 0;
  const std::vector<std::string> expected = {
      "TPictorD3D9Preview::InitD3D9",
      dynamic ? "TPictorD3D9Preview::InitD3D9 device supports dynamic textures."
              : "TPictorD3D9Preview::InitD3D9 device doesn't support dynamic textures.",
      "TPictorD3D9Preview::CreatePixelShader shader 101",
      "LoadResource resource 101",
      "LoadResource exit with " + PointerText(bytes),
      "TPictorD3D9Preview::CreatePixelShader pixel shader has been created.",
      "TPictorD3D9Preview::CreatePixelShader exit with 1",
      "TPictorD3D9Preview::InitD3D9 exit with 1",
  };
  EXPECT_EQ(SetUpLines(log.Lines()), expected);
}

TEST(DeviceSetUp, RepeatedSetUpReleasesTheEarlierObjects)
{
  TPictorD3D9Preview preview;
  Access::SetCaptureFormat(preview, 16, 16);
  ASSERT_TRUE(Access::InitD3D9(preview));
  // A reference of our own on the first Direct3D object: every device, surface and
  // texture made from it keeps it alive, so only our reference may remain.
  ComPtr<IDirect3D9Ex> first = Access::D3D9(preview);
  Access::SetCaptureFormat(preview, 24, 8);
  ASSERT_TRUE(Access::InitD3D9(preview));
  EXPECT_NE(Access::D3D9(preview), first.Get());
  ExpectSurface(Access::RenderTarget(preview), D3DPOOL_DEFAULT, D3DUSAGE_RENDERTARGET, 24, 8);
  EXPECT_EQ(first.Detach()->Release(), 0u);
}

TEST(DeviceSetUp, CameraWithoutAUsableFormatFailsAtTheZeroSizedRenderTarget)
{
  auto& log = pictortest::LogCapture::Get();
  TPictorD3D9Preview preview;
  log.Clear();
  EXPECT_FALSE(Access::InitD3D9(preview));  // captureFormat is all zero
  EXPECT_EQ(Access::RenderTarget(preview), nullptr);
  const std::vector<std::string> lines = SetUpLines(log.Lines());
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[2], "TPictorD3D9Preview::InitD3D9 CreateRenderTarget pD3DRTSurface error " +
                          std::to_string(static_cast<int>(D3DERR_INVALIDCALL)));
  EXPECT_EQ(lines[3], "TPictorD3D9Preview::InitD3D9 exit with 0");
}

TEST(ShaderProgram, ConstantTableNamesItsRegisters)
{
  DWORD size = 0;
  const void* bytes = LoadResource(&size);
  ASSERT_NE(bytes, nullptr);
  EXPECT_EQ(static_cast<const DWORD*>(bytes)[0], D3DPS_VERSION(3, 0));

  // D3DX reads the table the way shader tools do.
  HMODULE d3dx = LoadLibraryW(L"d3dx9_43.dll");
  ASSERT_NE(d3dx, nullptr);
  using GetTableFn = HRESULT(WINAPI*)(const DWORD*, ID3DXConstantTable**);
  auto getTable = reinterpret_cast<GetTableFn>(GetProcAddress(d3dx, "D3DXGetShaderConstantTable"));
  ASSERT_NE(getTable, nullptr);
  {
    ComPtr<ID3DXConstantTable> table;
    ASSERT_EQ(getTable(static_cast<const DWORD*>(bytes), &table), D3D_OK);
    D3DXCONSTANTTABLE_DESC desc;
    ASSERT_EQ(table->GetDesc(&desc), D3D_OK);
    EXPECT_EQ(desc.Constants, 3u);
    struct {
      const char* name;
      D3DXREGISTER_SET set;
      UINT index;
      D3DXPARAMETER_TYPE type;
    } expected[] = {
        {"_const_data", D3DXRS_FLOAT4, 0, D3DXPT_FLOAT},
        {"samstate", D3DXRS_SAMPLER, 0, D3DXPT_SAMPLER2D},
        {"custombackgroundstate", D3DXRS_SAMPLER, 1, D3DXPT_SAMPLER2D},
    };
    for (const auto& e : expected) {
      D3DXHANDLE handle = table->GetConstantByName(nullptr, e.name);
      ASSERT_NE(handle, nullptr) << e.name;
      D3DXCONSTANT_DESC constant;
      UINT count = 1;
      ASSERT_EQ(table->GetConstantDesc(handle, &constant, &count), D3D_OK);
      EXPECT_EQ(constant.RegisterSet, e.set) << e.name;
      EXPECT_EQ(constant.RegisterIndex, e.index) << e.name;
      EXPECT_EQ(constant.RegisterCount, 1u) << e.name;
      EXPECT_EQ(constant.Type, e.type) << e.name;
    }
  }
  FreeLibrary(d3dx);
}

class Upload : public ::testing::Test {
 protected:
  void SetUp() override
  {
    Access::SetCaptureFormat(preview, 4, 3);
    ASSERT_TRUE(Access::InitD3D9(preview));
    Fill(0xEEEEEEEEu);
  }
  // Writes every staging texel through an upload of a full frame of `value`.
  void Fill(uint32_t value)
  {
    std::vector<uint32_t> full(4 * 3, value);
    Access::LoadTexture(preview, reinterpret_cast<const unsigned char*>(full.data()), 3, 16);
  }
  uint32_t StagingTexel(unsigned int x, unsigned int y)
  {
    D3DLOCKED_RECT locked;
    EXPECT_EQ(Access::Staging(preview)->LockRect(0, &locked, nullptr, D3DLOCK_READONLY), D3D_OK);
    uint32_t texel;
    std::memcpy(&texel, static_cast<unsigned char*>(locked.pBits) + y * locked.Pitch + x * 4, 4);
    Access::Staging(preview)->UnlockRect(0);
    return texel;
  }
  TPictorD3D9Preview preview;
};

TEST_F(Upload, MoreRowsThanTheTextureUsesTheLastStoredRows)
{
  // Five stored rows of four pixels, value = 0x100 * row + column.
  std::vector<uint32_t> rows(5 * 4);
  for (uint32_t r = 0; r < 5; ++r)
    for (uint32_t c = 0; c < 4; ++c)
      rows[r * 4 + c] = 0x100 * r + c;
  Access::LoadTexture(preview, reinterpret_cast<const unsigned char*>(rows.data()), 5, 16);
  EXPECT_EQ(StagingTexel(0, 0), 0x400u);
  EXPECT_EQ(StagingTexel(3, 1), 0x303u);
  EXPECT_EQ(StagingTexel(2, 2), 0x202u);
}

TEST_F(Upload, FewerRowsAndNarrowerStrideLeaveTheRestAsItWas)
{
  const uint32_t row[2] = {0xA0, 0xA1};  // one stored row, 8 bytes
  Access::LoadTexture(preview, reinterpret_cast<const unsigned char*>(row), 1, 8);
  EXPECT_EQ(StagingTexel(0, 0), 0xA0u);
  EXPECT_EQ(StagingTexel(1, 0), 0xA1u);
  EXPECT_EQ(StagingTexel(2, 0), 0xEEEEEEEEu);
  EXPECT_EQ(StagingTexel(0, 1), 0xEEEEEEEEu);
  // Nothing is read through a null source or a stride that is not positive.
  Access::LoadTexture(preview, nullptr, 3, 16);
  Access::LoadTexture(preview, reinterpret_cast<const unsigned char*>(row), 1, 0);
  EXPECT_EQ(StagingTexel(0, 0), 0xA0u);
}

}  // namespace
}  // namespace previewtest
