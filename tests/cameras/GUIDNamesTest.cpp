// The GUID name table, checked natively: its shape, and the lookups format records and
// diagnostics depend on.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <tuple>

#include "capture/GUIDNames.h"

namespace {

constexpr TPictorGUID kNV12 = {0x3231564E, 0x0000, 0x0010,
                               {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
// Vendor-specific subtype found on real cameras, not in the table.
constexpr TPictorGUID kUnnamed = {0x0123ABCD, 0x4567, 0x89EF,
                                  {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF}};

std::string Narrow(const std::wstring& w) { return std::string(w.begin(), w.end()); }

TEST(GUIDNameTable, Has139DistinctRowsOfSDKIdentifiers) {
  ASSERT_EQ(MFGUIDNameTableSize(), 139u);
  std::set<std::tuple<uint32_t, uint16_t, uint16_t, std::string>> guids;
  std::set<std::wstring> names;
  for (size_t i = 0; i < MFGUIDNameTableSize(); ++i) {
    const TMFGUIDNameRow& row = MFGUIDNameTable()[i];
    const std::wstring name = row.name;
    SCOPED_TRACE(Narrow(name));
    EXPECT_LE(name.size(), 40u);
    EXPECT_TRUE(name.rfind(L"MF_MT_", 0) == 0 || name.rfind(L"MFMediaType_", 0) == 0 ||
                name.rfind(L"MFVideoFormat_", 0) == 0 || name.rfind(L"MFAudioFormat_", 0) == 0 ||
                name == L"CLSID_KsDataTypeHandlerVideo2");
    EXPECT_TRUE(names.insert(name).second) << "duplicate name";
    EXPECT_TRUE(guids.insert({row.guid.Data1, row.guid.Data2, row.guid.Data3,
                              std::string(reinterpret_cast<const char*>(row.guid.Data4), 8)})
                    .second)
        << "duplicate GUID";
    // Every row finds itself: no earlier row shadows it.
    EXPECT_EQ(GetMFGUIDName(row.guid), name);
  }
}

TEST(GUIDNameLookup, KnownGUIDsByTheirIdentifiers) {
  EXPECT_EQ(GetMFGUIDName(kNV12), L"MFVideoFormat_NV12");
  constexpr TPictorGUID ks = {0xF72A76A0, 0xEB0A, 0x11D0,
                              {0xAC, 0xE4, 0x00, 0x00, 0xC0, 0xCC, 0x16, 0xBA}};
  EXPECT_EQ(GetMFGUIDName(ks), L"CLSID_KsDataTypeHandlerVideo2");
  constexpr TPictorGUID frameSize = {0x1652C33D, 0xD6B2, 0x4012,
                                     {0xB8, 0x34, 0x72, 0x03, 0x08, 0x49, 0xA3, 0x7D}};
  EXPECT_EQ(GetMFGUIDName(frameSize), L"MF_MT_FRAME_SIZE");
}

TEST(GUIDNameLookup, MatchesAll128BitsOrNothing) {
  EXPECT_EQ(GetMFGUIDName(TPictorGUID{}), L"");
  EXPECT_EQ(GetMFGUIDName(kUnnamed), L"");
  // One bit off in each part of NV12 is a different GUID.
  TPictorGUID g = kNV12;
  g.Data1 ^= 1;
  EXPECT_EQ(GetMFGUIDName(g), L"");
  g = kNV12;
  g.Data3 ^= 0x100;
  EXPECT_EQ(GetMFGUIDName(g), L"");
  g = kNV12;
  g.Data4[7] ^= 0x80;
  EXPECT_EQ(GetMFGUIDName(g), L"");
}

TEST(GUIDBracedForm, RegistryFormUpperCase38Characters) {
  EXPECT_EQ(FormatGUIDBraced(kUnnamed), L"{0123ABCD-4567-89EF-0123-456789ABCDEF}");
  EXPECT_EQ(FormatGUIDBraced(TPictorGUID{}), L"{00000000-0000-0000-0000-000000000000}");
  const TPictorGUID ones = {0xFFFFFFFF, 0xFFFF, 0xFFFF,
                            {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}};
  EXPECT_EQ(FormatGUIDBraced(ones).size(), 38u);
  EXPECT_EQ(FormatGUIDBraced(ones), L"{FFFFFFFF-FFFF-FFFF-FFFF-FFFFFFFFFFFF}");
}

}  // namespace
