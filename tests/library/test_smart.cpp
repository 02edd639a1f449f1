// SMART: what can be checked without a drive.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "library/quenbrix.h"
#include "library/smart_identify.h"

namespace {

struct Buffers {
  std::vector<uint8_t> identify = std::vector<uint8_t>(256, 0xA5);
  std::vector<uint8_t> attributes = std::vector<uint8_t>(512, 0x5A);
  std::vector<uint8_t> thresholds = std::vector<uint8_t>(512, 0x3C);
  bool Untouched() const {
    for (auto b : identify) if (b != 0xA5) return false;
    for (auto b : attributes) if (b != 0x5A) return false;
    for (auto b : thresholds) if (b != 0x3C) return false;
    return true;
  }
};

TEST(SmartTest, AnInvalidHandleGivesNothing) {
  Buffers b;
  EXPECT_EQ(Smart(-1, b.identify.data(), b.attributes.data(), b.thresholds.data()), 0);
  EXPECT_TRUE(b.Untouched());
  // A number that is not an open handle.
  EXPECT_EQ(Smart(987654, b.identify.data(), b.attributes.data(), b.thresholds.data()), 0);
  EXPECT_TRUE(b.Untouched());
}

TEST(SmartTest, AnImageFileHasNoSmart) {
  std::string tmpl = ::testing::TempDir() + "quenbrix_smart_XXXXXX";
  std::vector<char> name(tmpl.begin(), tmpl.end());
  name.push_back('\0');
  const int fd = ::mkstemp(name.data());
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::ftruncate(fd, 1 << 20), 0);
  Buffers b;
  EXPECT_EQ(Smart(fd, b.identify.data(), b.attributes.data(), b.thresholds.data()), 0);
  EXPECT_TRUE(b.Untouched());
  ::close(fd);
  ::unlink(name.data());
}

TEST(SmartTest, IdentifyTextsReadInNaturalOrder) {
  // Identify data as the drive delivers it: each word little-endian, the
  // first character of a pair in the word's high byte.
  auto asDelivered = [](std::vector<uint8_t>& id, size_t offset, const std::string& text) {
    for (size_t i = 0; i < text.size(); i += 2) {
      id[offset + i] = uint8_t(text[i + 1]);
      id[offset + i + 1] = uint8_t(text[i]);
    }
  };
  std::vector<uint8_t> id(256);
  for (size_t i = 0; i < id.size(); ++i) id[i] = uint8_t(i);
  const std::string serial = "5JS0ABCD            ";            // 20
  const std::string firmware = "3.AAE   ";                        // 8
  const std::string model = std::string("ST3160023A") + std::string(30, ' ');  // 40
  asDelivered(id, 20, serial);
  asDelivered(id, 46, firmware);
  asDelivered(id, 54, model);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(&id[54]), 10), "TS130620A3");
  const auto before = id;

  quenbrix_detail::SwapIdentifyText(id.data());
  EXPECT_EQ(std::string(reinterpret_cast<char*>(&id[54]), 40), model);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(&id[46]), 8), firmware);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(&id[20]), 20), serial);
  // Everything outside the three fields stays.
  for (size_t i = 0; i < id.size(); ++i) {
    const bool text = (i >= 20 && i < 40) || (i >= 46 && i < 94);
    if (!text) {
      ASSERT_EQ(id[i], before[i]) << i;
    }
  }
}

}  // namespace
