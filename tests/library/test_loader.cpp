// The run-time binding of the library from the program folder.
#include <gtest/gtest.h>

#include <unistd.h>

#include <climits>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "library/loader.h"

namespace {

// Path of the mapped libQuenbrix.so, empty when it is not loaded.
std::string MappedLibrary() {
  std::ifstream maps("/proc/self/maps");
  std::string line;
  while (std::getline(maps, line)) {
    const size_t slash = line.find('/');
    if (slash != std::string::npos && line.size() >= 15 &&
        line.compare(line.size() - 15, 15, "/libQuenbrix.so") == 0)
      return line.substr(slash);
  }
  return {};
}

std::string ExeFolder() {
  char path[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
  std::string exe(path, n > 0 ? size_t(n) : 0);
  return exe.substr(0, exe.rfind('/') + 1);
}

// Taken before any test runs: the program is not linked against the library.
const std::string kMappedAtStart = MappedLibrary();

TEST(Loader, LoadsTheLibraryFromTheProgramFolderOnFirstUse) {
  EXPECT_EQ(kMappedAtStart, "");
  EXPECT_EQ(qlib::Ceil(2.5), 3);
  EXPECT_EQ(MappedLibrary(), ExeFolder() + "libQuenbrix.so");
}

TEST(Loader, EveryFunctionReachesTheLibrary) {
  EXPECT_EQ(qlib::Ceil(-1.5), -1);
  EXPECT_EQ(qlib::SwapOrderWord(0x1122), 0x2211);
  EXPECT_EQ(qlib::SwapOrderLong(0x11223344u), 0x44332211u);
  uint32_t fat = 0x00230100;  // bytes 00 01 23 00
  qlib::TopfFAT24ToLong(&fat);
  EXPECT_EQ(fat, 0x123u);

  std::vector<uint8_t> sector(512, 0);
  sector[0] = 1;
  qlib::TopfSwapDWORD(sector.data(), 1);
  EXPECT_EQ(sector[3], 1);

  std::vector<uint8_t> cluster(0x80000, 0);
  qlib::Calc_CRC(cluster.data(), 1);
  EXPECT_EQ(cluster[48], 0xE1);
  EXPECT_EQ(cluster[563], 0xB2);

  char name[255];
  qlib::AdaptFilename("a:b", name);
  EXPECT_STREQ(name, "a.b");

  int32_t fh, fl, lh, ll, pid;
  uint8_t flag;
  const uint8_t header[188] = {'T', 'F', 'r', 'c', 'P'};
  qlib::SearchPTS(header, sizeof header, &fh, &fl, &lh, &ll, &pid, &flag);
  EXPECT_EQ(flag, 1);
  int32_t program = 5, pmt = 0, video = 0, audio = 0, pcr = 0;
  qlib::FindPIDs(header, sizeof header, &program, &pmt, &video, &audio, &pcr);
  EXPECT_EQ(program, 5);

  EXPECT_EQ(qlib::Smart(-1, nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(qlib::DiskIOReadSectors(-1, 0, 1, 512, sector.data()), 0);
  EXPECT_EQ(qlib::DiskIOWriteSectors(-1, 0, 1, 512, sector.data()), 0);
  EXPECT_EQ(qlib::TruncateFile64("/nonexistent/file", 1), 0);
  qlib::TruncateFile("/nonexistent/file", 1);
}

TEST(Loader, ThePathCannotChangeOnceLoaded) {
  EXPECT_EQ(qlib::Ceil(1.0), 1);
  qlib::SetLibraryPath("/nonexistent/libQuenbrix.so");
  EXPECT_EQ(qlib::Ceil(1.5), 2);
}

}  // namespace
