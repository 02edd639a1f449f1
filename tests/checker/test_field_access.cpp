// Typed field access in the cluster buffer.
#include "checker/field_access.h"
#include "layer_fixture.h"

namespace checkertest {
namespace {

using namespace checker;

class FieldAccessTest : public LayerTest {
 protected:
  void SetUp() override {
    LayerTest::SetUp();
    SectorsPerCluster = 4;
    ClusterBuffer.assign(4 * 512, 0xEE);
  }
};

TEST_F(FieldAccessTest, WordsAndLongsAreBigEndianAndSigned) {
  SetTopfWord(34, 2068);
  EXPECT_EQ(ClusterBuffer[34], 0x08);
  EXPECT_EQ(ClusterBuffer[35], 0x14);
  EXPECT_EQ(GetTopfWord(34), 2068);
  SetTopfWord(0, 0xFFFF);
  EXPECT_EQ(GetTopfWord(0), -1);
  SetTopfLong(8, 0x07082607);
  EXPECT_EQ((std::vector<uint8_t>(ClusterBuffer.begin() + 8, ClusterBuffer.begin() + 12)),
            (std::vector<uint8_t>{0x07, 0x08, 0x26, 0x07}));
  EXPECT_EQ(GetTopfLong(8), 0x07082607);
  SetTopfLong(12, -1);
  EXPECT_EQ(GetTopfLong(12), -1);
}

TEST_F(FieldAccessTest, StringsEndAtTheirZeroAndPadNothing) {
  SetTopfString(20, "DataFiles");
  EXPECT_EQ(std::string(ClusterBuffer.begin() + 20, ClusterBuffer.begin() + 30), std::string("DataFiles\0", 10));
  EXPECT_EQ(ClusterBuffer[30], 0xEE) << "nothing after the zero is touched";
  EXPECT_EQ(GetTopfString(20), "DataFiles");
  SetTopfString(40, std::string("ab\0", 3));
  EXPECT_EQ(ClusterBuffer[43], 0xEE) << "an existing terminating zero is not doubled";
  // Windows-1252 bytes stay bytes.
  SetTopfString(60, "Caf\xE9");
  EXPECT_EQ(GetTopfString(60), "Caf\xE9");
  // Without a zero the text ends with the buffer.
  ClusterBuffer[ClusterBuffer.size() - 1] = 'z';
  EXPECT_EQ(GetTopfString(int32_t(ClusterBuffer.size()) - 1), "z");
}

TEST_F(FieldAccessTest, DatesUseModifiedJulianDays) {
  ib::Date when{2005, 6, 15, 20, 15, 0};
  const double value = ib::DateValueOf(when) + 42.0 / 86400.0;
  SetTopfDate(1, value);
  EXPECT_EQ((uint16_t(ClusterBuffer[1] << 8 | ClusterBuffer[2])), ib::MjdOf(2005, 6, 15));
  EXPECT_EQ(ClusterBuffer[3], 20);
  EXPECT_EQ(ClusterBuffer[4], 15);
  EXPECT_EQ(ClusterBuffer[5], 42);
  EXPECT_NEAR(GetTopfDate(1), value, 1e-9);
  // MJD 15018 is day 0 (30 December 1899).
  ClusterBuffer[100] = 15018 >> 8;
  ClusterBuffer[101] = 15018 & 0xFF;
  ClusterBuffer[102] = 12;
  ClusterBuffer[103] = ClusterBuffer[104] = 0;
  EXPECT_DOUBLE_EQ(GetTopfDate(100), 0.5);
  // Now as the clock gives it (fixed by the fixture).
  EXPECT_NEAR(NowDateValue(), ib::DateValueOf(ib::Date{2024, 3, 5, 14, 7, 0}) + 30.0 / 86400.0, 1e-9);
}

TEST_F(FieldAccessTest, FieldsOutsideTheBufferAreRunTimeErrors) {
  const int32_t size = int32_t(ClusterBuffer.size());
  EXPECT_THROW(GetTopfWord(size - 1), core::RuntimeError);
  EXPECT_THROW(GetTopfLong(-1), core::RuntimeError);
  EXPECT_THROW(SetTopfLong(size - 3, 1), core::RuntimeError);
  EXPECT_THROW(SetTopfString(size - 2, "ab"), core::RuntimeError);
  EXPECT_THROW(GetTopfDate(size - 4), core::RuntimeError);
  EXPECT_THROW(GetTopfString(size + 1), core::RuntimeError);
  EXPECT_NO_THROW(GetTopfLong(size - 4));
  try {
    SetTopfWord(size, 1);
    FAIL();
  } catch (const core::RuntimeError& e) {
    EXPECT_EQ(e.Number, 9);
  }
}

}  // namespace
}  // namespace checkertest
