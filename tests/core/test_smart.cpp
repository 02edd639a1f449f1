#include <gtest/gtest.h>

#include <cstring>

#include "core/smart.h"
#include "platform/platform.h"
#include "tests/support/image_builder.h"

namespace {

TEST(SmartParsing, ModelIsTrimmedIdentifyText) {
  uint8_t identify[512] = {};
  std::memset(identify + 54, ' ', 40);
  std::memcpy(identify + 54, "HD160", 5);
  EXPECT_EQ(core::SmartModelFromIdentify(identify, sizeof identify), "HD160");
  std::memcpy(identify + 54, "  SAMSUNG SP2504C", 17);
  EXPECT_EQ(core::SmartModelFromIdentify(identify, sizeof identify), "SAMSUNG SP2504C");
  std::memset(identify + 54, ' ', 40);
  EXPECT_EQ(core::SmartModelFromIdentify(identify, sizeof identify), "");
  EXPECT_EQ(core::SmartModelFromIdentify(identify, 60), "");   // too short: nothing
}

TEST(SmartParsing, OnlyTheFirst21SlotsCount) {
  uint8_t attributes[512] = {};
  EXPECT_EQ(core::SmartAttributeCount(attributes, sizeof attributes), 0);
  attributes[2] = 1;          // slot 1
  attributes[2 + 12 * 20] = 194;   // slot 21 (offset 242)
  attributes[2 + 12 * 21] = 197;   // slot 22 (offset 254): not counted
  EXPECT_EQ(core::SmartAttributeCount(attributes, sizeof attributes), 2);
}

TEST(SmartQuery, AnImageFileHasNoSmart) {
  imagebuilder::TempDir dir{"smart"};
  imagebuilder::WriteWholeFile(dir / "disk.img", std::string(4096, '\0'));
  const int handle = platform::DriveOpen(dir / "disk.img", false);
  ASSERT_GT(handle, 0);
  std::string model = "x";
  std::vector<uint8_t> attributes;
  int32_t count = 7;
  EXPECT_FALSE(core::Smart(handle, model, attributes, count));
  EXPECT_EQ(count, 0);
  EXPECT_EQ(model, "");
  EXPECT_EQ(core::SmartLabelSuffix(handle), "");
  platform::DriveClose(handle);
}

}  // namespace
