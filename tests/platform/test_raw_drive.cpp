// Drives: "PhysicalDriveN" resolution, handles, transfers, size and geometry.
#include "platform/platform.h"
#include "tests/support/image_builder.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using imagebuilder::TempDir;
using namespace platform;

namespace {

// Sets QUENBRIX_DEVICES for the life of the object.
class DevicesFolder {
 public:
  explicit DevicesFolder(const std::string& folder) {
    const char* old = std::getenv("QUENBRIX_DEVICES");
    had_ = old != nullptr;
    if (had_) old_ = old;
    setenv("QUENBRIX_DEVICES", folder.c_str(), 1);
  }
  ~DevicesFolder() {
    if (had_) setenv("QUENBRIX_DEVICES", old_.c_str(), 1);
    else unsetenv("QUENBRIX_DEVICES");
  }

 private:
  bool had_ = false;
  std::string old_;
};

void MakeSparse(const std::string& path, uint64_t size) {
  int fd = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(ftruncate(fd, static_cast<off_t>(size)), 0);
  close(fd);
}

}  // namespace

TEST(ResolveDrive, UsesTheDevicesFolderOnly) {
  TempDir dir;
  MakeSparse(dir / "PhysicalDrive0", 1 << 20);
  MakeSparse(dir / "image.img", 1 << 20);
  ASSERT_EQ(symlink((dir / "image.img").c_str(), (dir / "PhysicalDrive2").c_str()), 0);
  ASSERT_EQ(symlink((dir / "gone.img").c_str(), (dir / "PhysicalDrive3").c_str()), 0);
  DevicesFolder devices(dir.Path());
  EXPECT_EQ(ResolveDrive(0), dir / "PhysicalDrive0");
  EXPECT_EQ(ResolveDrive(1), "");
  EXPECT_EQ(ResolveDrive(2), dir / "PhysicalDrive2");
  EXPECT_EQ(ResolveDrive(3), "");          // dangling link
  EXPECT_EQ(ResolveDrive(-1), "");
  EXPECT_EQ(ResolveDrive(32), "");

  int h = DriveOpen("physicaldrive2", false);
  EXPECT_GE(h, 3);
  DriveClose(h);
  EXPECT_EQ(DriveOpen("PhysicalDrive1", false), -1);
  EXPECT_EQ(LastError(), ENOENT);
  EXPECT_EQ(DriveOpen("PhysicalDrive32", false), -1);
}

TEST(ResolveDrive, AMissingDevicesFolderNeverFallsThroughToRealDisks) {
  TempDir dir;
  DevicesFolder devices(dir / "missing");
  for (int n = 0; n < kMaxDrives; ++n) EXPECT_EQ(ResolveDrive(n), "") << n;
  EXPECT_EQ(DriveOpen("PhysicalDrive0", false), -1);
}

TEST(DriveOpen, HandlesAreAtLeastThreeAndWritesAreWriteThrough) {
  TempDir dir;
  const std::string image = dir / "disk.img";
  MakeSparse(image, 4096);
  // With the standard input closed the system hands out descriptor 0 first.
  int saved = dup(0);
  ASSERT_GE(saved, 0);
  close(0);
  int h = DriveOpen(image, true);
  dup2(saved, 0);
  close(saved);
  ASSERT_GE(h, 3);
  EXPECT_TRUE(fcntl(h, F_GETFL) & O_DSYNC);
  EXPECT_TRUE(fcntl(h, F_GETFD) & FD_CLOEXEC);
  DriveClose(h);

  h = DriveOpen(image, false);
  ASSERT_GE(h, 3);
  EXPECT_FALSE(fcntl(h, F_GETFL) & O_DSYNC);
  char byte = 1;
  EXPECT_FALSE(WriteAt(h, 0, &byte, 1));   // read-only handle
  DriveClose(h);
  EXPECT_EQ(DriveOpen(dir / "none.img", false), -1);
  EXPECT_EQ(LastError(), ENOENT);
}

TEST(ReadWriteAt, WholeTransfersAt64BitOffsetsAndFailuresAtTheEnd) {
  TempDir dir;
  const std::string image = dir / "disk.img";
  const uint64_t size = 6000000000ull;
  MakeSparse(image, size);
  int h = DriveOpen(image, true);
  ASSERT_GE(h, 3);
  std::vector<uint8_t> out(1024), in(1024);
  for (size_t i = 0; i < out.size(); ++i) out[i] = static_cast<uint8_t>(i * 7 + 3);
  const uint64_t far = 5000000000ull;      // beyond 32 bits
  ASSERT_TRUE(WriteAt(h, far, out.data(), out.size()));
  ASSERT_TRUE(ReadAt(h, far, in.data(), in.size()));
  EXPECT_EQ(in, out);

  EXPECT_TRUE(ReadAt(h, size - 512, in.data(), 512));    // the last sector
  EXPECT_FALSE(ReadAt(h, size - 256, in.data(), 512));   // runs over the end
  EXPECT_FALSE(ReadAt(h, size, in.data(), 512));         // at the end
  EXPECT_FALSE(ReadAt(h, size + 512, in.data(), 512));   // past the end
  EXPECT_FALSE(ReadAt(-1, 0, in.data(), 512));
  DriveClose(h);
}

TEST(DriveGeometry, ReportsTheRecorderToolsGeometryOfASparseImage) {
  TempDir dir;
  const std::string image = dir / "disk.img";
  const uint64_t sectors = 250000000;       // 119.2 GiB
  MakeSparse(image, sectors * 512);
  int h = DriveOpen(image, false);
  ASSERT_GE(h, 3);
  EXPECT_EQ(DriveSize(h), int64_t(sectors * 512));
  DriveGeometry g;
  ASSERT_TRUE(GetDriveGeometry(h, g));
  EXPECT_EQ(g.Cylinders, 15561);            // 250,000,000 / 16,065, whole
  EXPECT_EQ(g.TracksPerCylinder, 255u);
  EXPECT_EQ(g.SectorsPerTrack, 63u);
  EXPECT_EQ(g.BytesPerSector, 512u);
  DriveClose(h);

  DriveGeometry bad;
  EXPECT_FALSE(GetDriveGeometry(-1, bad));
  EXPECT_EQ(bad.Cylinders, 0);
  EXPECT_EQ(bad.TracksPerCylinder, 0u);
  EXPECT_EQ(bad.SectorsPerTrack, 0u);
  EXPECT_EQ(bad.BytesPerSector, 0u);
}

TEST(DriveGeometry, MatchesTheBuildersLastCluster) {
  TempDir dir;
  imagebuilder::ImageSpec spec;
  spec.LastCluster = 3000;
  imagebuilder::DiskImage disk(spec);
  disk.Write(dir / "PhysicalDrive0");
  DevicesFolder devices(dir.Path());
  int h = DriveOpen("PhysicalDrive0", false);
  ASSERT_GE(h, 3);
  DriveGeometry g;
  ASSERT_TRUE(GetDriveGeometry(h, g));
  const double n = double(g.Cylinders) * g.TracksPerCylinder * g.SectorsPerTrack / disk.SectorsPerCluster();
  EXPECT_EQ(int64_t(std::nearbyint(n)) - 1, disk.LastCluster());
  // The last FAT index the loader handles is readable.
  std::vector<uint8_t> cluster(disk.ClusterBytes());
  EXPECT_TRUE(ReadAt(h, uint64_t(disk.LastCluster() + 1) * disk.ClusterBytes(), cluster.data(), cluster.size()));
  DriveClose(h);
}
