// PC volumes from the mount table.
#include "platform/platform.h"
#include "tests/support/image_builder.h"

#include <gtest/gtest.h>
#include <set>

using namespace platform;

TEST(Volumes, RealFileSystemsOnlyEachMountPointOnce) {
  std::vector<Volume> volumes = ListVolumes();
  ASSERT_FALSE(volumes.empty());
  std::set<std::string> seen;
  bool root = false;
  for (const Volume& v : volumes) {
    EXPECT_TRUE(seen.insert(v.MountPoint).second) << v.MountPoint;
    EXPECT_FALSE(v.MountPoint.empty());
    EXPECT_EQ(v.MountPoint[0], '/');
    if (v.MountPoint.size() > 1) {
      EXPECT_NE(v.MountPoint.back(), '/');
    }
    for (const char* pseudo : {"proc", "sysfs", "devpts", "devtmpfs", "cgroup", "cgroup2", "mqueue"})
      EXPECT_NE(v.FsName, pseudo) << v.MountPoint;
    if (v.FsName == "tmpfs") {
      EXPECT_EQ(v.MountPoint, "/");
    }
    EXPECT_NE(v.Type, DriveType::Unknown);
    root = root || v.MountPoint == "/";
  }
  EXPECT_TRUE(root);
}

TEST(Volumes, VolumeOfAPathIsTheLongestMountPointAboveIt) {
  imagebuilder::TempDir dir;
  Volume v;
  ASSERT_TRUE(VolumeOf(dir.Path(), v));
  EXPECT_EQ(dir.Path().compare(0, v.MountPoint.size(), v.MountPoint), 0);
  for (const Volume& other : ListVolumes()) {
    const std::string& m = other.MountPoint;
    bool above = m == "/" || dir.Path() == m || dir.Path().compare(0, m.size() + 1, m + "/") == 0;
    if (above) {
      EXPECT_LE(m.size(), v.MountPoint.size()) << m;
    }
  }
  Volume root;
  ASSERT_TRUE(VolumeOf("/", root));
  EXPECT_EQ(root.MountPoint, "/");
  EXPECT_GT(root.TotalBytes, 0u);
}

TEST(Volumes, FatFamilyIsFourGigabyteLimited) {
  EXPECT_TRUE(IsFat4GBLimited("vfat"));
  EXPECT_TRUE(IsFat4GBLimited("msdos"));
  EXPECT_FALSE(IsFat4GBLimited("exfat"));
  EXPECT_FALSE(IsFat4GBLimited("ext4"));
  EXPECT_FALSE(IsFat4GBLimited("ntfs3"));
}
