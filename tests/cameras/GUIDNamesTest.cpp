// The GUID name table, checked natively: no row shadows another, a lookup matches all
// 128 bits, and unnamed GUIDs get the registry's braced form. The rows against the SDK's
// own definitions are checked under Wine (InternalsTest.cpp).
#include <gtest/gtest.h>

#include <cstring>

#include "capture/GUIDNames.h"

namespace {

TEST(GUIDNames, EveryRowFindsItselfAndANearMissFindsNothing) {
  for (size_t i = 0; i < MFGUIDNameTableSize(); ++i) {
    const TMFGUIDNameRow& row = MFGUIDNameTable()[i];
    EXPECT_EQ(GetMFGUIDName(row.guid), row.name) << "row " << i;  // no earlier row shadows it
    for (int bit : {31, 47, 63, 127}) {  // one bit off in Data1, Data2, Data3, Data4
      TPictorGUID g = row.guid;
      reinterpret_cast<unsigned char*>(&g)[bit / 8] ^= 1u << bit % 8;
      EXPECT_EQ(GetMFGUIDName(g), L"") << "row " << i << " bit " << bit;
    }
  }
  EXPECT_EQ(GetMFGUIDName(TPictorGUID{}), L"");
}

TEST(GUIDNames, BracedFormIsUpperCase) {
  const TPictorGUID vendor = {0x0123ABCD, 0x4567, 0x89EF, {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF}};
  EXPECT_EQ(FormatGUIDBraced(vendor), L"{0123ABCD-4567-89EF-0123-456789ABCDEF}");
  const TPictorGUID ones = {0xFFFFFFFF, 0xFFFF, 0xFFFF, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}};
  EXPECT_EQ(FormatGUIDBraced(ones), L"{FFFFFFFF-FFFF-FFFF-FFFF-FFFFFFFFFFFF}");
}

}  // namespace
