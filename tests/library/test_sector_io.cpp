// Sector transfers, byte order of single values and buffers, FAT24, Ceil.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "library/quenbrix.h"
#include "library/word_swap.h"

namespace {

class TempFile : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string tmpl = ::testing::TempDir() + "quenbrix_sector_XXXXXX";
    std::vector<char> name(tmpl.begin(), tmpl.end());
    name.push_back('\0');
    fd_ = ::mkstemp(name.data());
    ASSERT_GE(fd_, 0);
    path_ = name.data();
  }
  void TearDown() override {
    if (fd_ >= 0) ::close(fd_);
    ::unlink(path_.c_str());
  }
  // Makes the file `size` bytes long without allocating it.
  bool Resize(off_t size) { return ::ftruncate(fd_, size) == 0; }

  int fd_ = -1;
  std::string path_;
};

std::vector<uint8_t> Pattern(size_t n, uint32_t seed) {
  std::vector<uint8_t> v(n);
  std::mt19937 rng(seed);
  for (auto& b : v) b = static_cast<uint8_t>(rng());
  return v;
}

// ------------------------------------------------------------ sector I/O

TEST_F(TempFile, WriteThenReadRoundTripsAtTheSectorOffset) {
  ASSERT_TRUE(Resize(64 * 512));
  const auto data = Pattern(3 * 512, 1);
  ASSERT_EQ(DiskIOWriteSectors(fd_, 5, 3, 512, data.data()), 1);
  // The bytes went to offset 5 * 512, nowhere else.
  std::vector<uint8_t> raw(64 * 512);
  ASSERT_EQ(::pread(fd_, raw.data(), raw.size(), 0), static_cast<ssize_t>(raw.size()));
  EXPECT_EQ(0, std::memcmp(raw.data() + 5 * 512, data.data(), data.size()));
  EXPECT_TRUE(std::all_of(raw.begin(), raw.begin() + 5 * 512, [](uint8_t b) { return b == 0; }));
  EXPECT_TRUE(std::all_of(raw.begin() + 8 * 512, raw.end(), [](uint8_t b) { return b == 0; }));

  std::vector<uint8_t> back(3 * 512, 0xEE);
  ASSERT_EQ(DiskIOReadSectors(fd_, 5, 3, 512, back.data()), 1);
  EXPECT_EQ(back, data);
}

TEST_F(TempFile, SectorNumbersAboveTwoToTheTwentyThreeReachBeyondFourGigabytes) {
  // Sector 8,388,608 lies at byte offset 2^32 exactly.
  ASSERT_TRUE(Resize((off_t{1} << 32) + 4096));
  const auto data = Pattern(512, 2);
  ASSERT_EQ(DiskIOWriteSectors(fd_, 8388608u, 1, 512, data.data()), 1);
  std::vector<uint8_t> raw(512);
  ASSERT_EQ(::pread(fd_, raw.data(), 512, off_t{1} << 32), 512);
  EXPECT_EQ(raw, data);
  // Nothing landed at offset 0 (a 32-bit wrap would put it there).
  ASSERT_EQ(::pread(fd_, raw.data(), 512, 0), 512);
  EXPECT_TRUE(std::all_of(raw.begin(), raw.end(), [](uint8_t b) { return b == 0; }));
}

TEST_F(TempFile, TheLastSectorNumberUsesTheFull41BitOffset) {
  // Sector 2^32 - 1 of 512 bytes: offset 2^41 - 512.
  const off_t end = off_t{1} << 41;
  if (!Resize(end)) GTEST_SKIP() << "file system takes no 2 TiB sparse file";
  const auto data = Pattern(512, 3);
  ASSERT_EQ(DiskIOWriteSectors(fd_, 0xFFFFFFFFu, 1, 512, data.data()), 1);
  std::vector<uint8_t> raw(512);
  ASSERT_EQ(::pread(fd_, raw.data(), 512, end - 512), 512);
  EXPECT_EQ(raw, data);
  std::vector<uint8_t> back(512);
  ASSERT_EQ(DiskIOReadSectors(fd_, 0xFFFFFFFFu, 1, 512, back.data()), 1);
  EXPECT_EQ(back, data);
}

TEST_F(TempFile, AShortReadIsAFailure) {
  // 1000 bytes: the second sector is cut short.
  ASSERT_TRUE(Resize(1000));
  std::vector<uint8_t> buf(1024, 0xEE);
  EXPECT_EQ(DiskIOReadSectors(fd_, 0, 2, 512, buf.data()), 0);
  EXPECT_EQ(DiskIOReadSectors(fd_, 1, 1, 512, buf.data()), 0);
  EXPECT_EQ(DiskIOReadSectors(fd_, 0, 1, 512, buf.data()), 1);
}

TEST_F(TempFile, AReadAtOrPastTheEndIsAFailure) {
  ASSERT_TRUE(Resize(4 * 512));
  std::vector<uint8_t> buf(512);
  EXPECT_EQ(DiskIOReadSectors(fd_, 3, 1, 512, buf.data()), 1);
  EXPECT_EQ(DiskIOReadSectors(fd_, 4, 1, 512, buf.data()), 0);
  EXPECT_EQ(DiskIOReadSectors(fd_, 1000, 1, 512, buf.data()), 0);
}

TEST_F(TempFile, FailuresOfTheHandleAreReported) {
  std::vector<uint8_t> buf(512);
  EXPECT_EQ(DiskIOReadSectors(-1, 0, 1, 512, buf.data()), 0);
  EXPECT_EQ(DiskIOWriteSectors(-1, 0, 1, 512, buf.data()), 0);
  // A handle opened read-only cannot write.
  const int ro = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(ro, 0);
  EXPECT_EQ(DiskIOWriteSectors(ro, 0, 1, 512, buf.data()), 0);
  EXPECT_EQ(errno, EBADF);
  ::close(ro);
  // Malformed requests.
  EXPECT_EQ(DiskIOReadSectors(fd_, 0, -1, 512, buf.data()), 0);
  EXPECT_EQ(DiskIOReadSectors(fd_, 0, 1, 0, buf.data()), 0);
}

TEST_F(TempFile, AnEmptyRequestSucceedsWithoutTransfer) {
  EXPECT_EQ(DiskIOReadSectors(fd_, 0, 0, 512, nullptr), 1);
  EXPECT_EQ(DiskIOWriteSectors(fd_, 0, 0, 512, nullptr), 1);
  struct stat st;
  ASSERT_EQ(::fstat(fd_, &st), 0);
  EXPECT_EQ(st.st_size, 0);
}

// ------------------------------------------------------------ byte order

TEST(ByteOrder, SingleValues) {
  EXPECT_EQ(SwapOrderWord(0x1122), 0x2211);
  EXPECT_EQ(SwapOrderWord(0x00FF), 0xFF00);
  EXPECT_EQ(SwapOrderLong(0x11223344u), 0x44332211u);
  EXPECT_EQ(SwapOrderLong(0x000000FFu), 0xFF000000u);
}

TEST(ByteOrder, Fat24EntryBecomesItsNumber) {
  const uint8_t fat[][4] = {{0x00, 0x01, 0x23, 0x00}, {0x12, 0x34, 0x56, 0x00},
                            {0xFF, 0xFF, 0xFF, 0x00}, {0x00, 0x00, 0x00, 0x00}};
  const uint32_t expected[] = {0x123, 0x123456, 0xFFFFFF, 0};
  for (size_t i = 0; i < 4; ++i) {
    uint32_t v;
    std::memcpy(&v, fat[i], 4);
    TopfFAT24ToLong(&v);
    EXPECT_EQ(v, expected[i]) << i;
  }
  // Byte 3 stays as it was.
  uint32_t v;
  const uint8_t odd[4] = {0x01, 0x02, 0x03, 0x7F};
  std::memcpy(&v, odd, 4);
  TopfFAT24ToLong(&v);
  uint8_t out[4];
  std::memcpy(out, &v, 4);
  EXPECT_EQ(out[0], 0x03);
  EXPECT_EQ(out[1], 0x02);
  EXPECT_EQ(out[2], 0x01);
  EXPECT_EQ(out[3], 0x7F);
}

TEST(ByteOrder, SwapDwordTurnsEveryWordOfTheSectorsOnly) {
  std::vector<uint8_t> buf(1024, 0xAB);
  const uint8_t head[4] = {0x07, 0x26, 0x08, 0x07};
  std::memcpy(buf.data(), head, 4);
  buf[508] = 1, buf[509] = 2, buf[510] = 3, buf[511] = 4;
  TopfSwapDWORD(buf.data(), 1);
  EXPECT_EQ(buf[0], 0x07);
  EXPECT_EQ(buf[1], 0x08);
  EXPECT_EQ(buf[2], 0x26);
  EXPECT_EQ(buf[3], 0x07);
  EXPECT_EQ(buf[508], 4);
  EXPECT_EQ(buf[511], 1);
  for (size_t i = 512; i < buf.size(); ++i) ASSERT_EQ(buf[i], 0xAB) << i;
}

TEST(ByteOrder, SwapDwordOfNoSectorsChangesNothing) {
  auto buf = Pattern(512, 4);
  const auto before = buf;
  TopfSwapDWORD(buf.data(), 0);
  TopfSwapDWORD(buf.data(), -5);
  EXPECT_EQ(buf, before);
}

TEST(ByteOrder, SwapDwordTwiceIsTheIdentityOnClusterSizes) {
  for (int sectors : {1, 7, 2068, 4512}) {
    auto buf = Pattern(size_t(sectors) * 512, 5);
    const auto before = buf;
    TopfSwapDWORD(buf.data(), sectors);
    for (size_t i = 0; i < buf.size(); i += 4) {
      ASSERT_EQ(buf[i], before[i + 3]) << sectors << " @" << i;
      ASSERT_EQ(buf[i + 1], before[i + 2]);
      ASSERT_EQ(buf[i + 2], before[i + 1]);
      ASSERT_EQ(buf[i + 3], before[i]);
    }
    TopfSwapDWORD(buf.data(), sectors);
    EXPECT_EQ(buf, before);
  }
}

// Each width of the word reversal against the plain one, on word counts that
// leave tails and on start addresses that are not aligned.
TEST(ByteOrder, EveryWordSwapVariantMatchesThePlainOne) {
  using namespace quenbrix_detail;
  std::vector<void (*)(uint8_t*, size_t)> variants;
#ifdef QUENBRIX_WORD_SWAP_X86
  variants.push_back(SwapWordsSse2);
  if (HaveAvx2()) variants.push_back(SwapWordsAvx2);
#endif
  if (variants.empty()) GTEST_SKIP() << "only the plain variant on this processor";
  const auto source = Pattern(4096 + 8, 6);
  for (auto variant : variants) {
    for (size_t misalign : {0, 1, 3}) {
      for (size_t words : {0, 1, 15, 16, 17, 31, 32, 33, 100, 1000}) {
        std::vector<uint8_t> a(source.begin(), source.end()), b = a;
        SwapWordsScalar(a.data() + misalign, words);
        variant(b.data() + misalign, words);
        ASSERT_EQ(a, b) << "misalign " << misalign << " words " << words;
      }
    }
  }
}

// ------------------------------------------------------------------ Ceil

TEST(CeilTest, SmallestWholeNumberNotBelow) {
  EXPECT_EQ(Ceil(2.0), 2);
  EXPECT_EQ(Ceil(2.000001), 3);
  EXPECT_EQ(Ceil(-1.5), -1);
  EXPECT_EQ(Ceil(0.0), 0);
  EXPECT_EQ(Ceil(-0.0), 0);
  EXPECT_EQ(Ceil(0.1), 1);
  EXPECT_EQ(Ceil(-2.0), -2);
  EXPECT_EQ(Ceil(3.0 * 171 / 512), 2);
  EXPECT_EQ(Ceil(2147483646.5), 2147483647);
  EXPECT_EQ(Ceil(-2147483648.0), INT32_MIN);
}

TEST(CeilTest, ValuesNoWholeNumberCanHoldGiveZero) {
  EXPECT_EQ(Ceil(std::nan("")), 0);
  EXPECT_EQ(Ceil(1e300), 0);
  EXPECT_EQ(Ceil(-1e300), 0);
}

}  // namespace
