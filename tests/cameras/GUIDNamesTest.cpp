// The GUID name table, checked natively: no row shadows another and a lookup matches all
// 128 bits. The rows against the SDK's own definitions, and the braced form of an unnamed
// GUID, are checked under Wine (InternalsTest.cpp).
#include <gtest/gtest.h>

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

}  // namespace
