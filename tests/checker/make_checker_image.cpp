// Writes the disk image of the check program's end-to-end test:
//   MakeCheckerImage FOLDER   -> FOLDER/PhysicalDrive0, FOLDER/PhysicalDrive1
// A small recorder disk with one recording, one folder, and a lost chain
// (FAT entries that no directory entry refers to); drive 1 is the same disk
// with a wrong but plausible cluster size (4512) in its superblock only.
#include <cstdio>
#include <string>

#include "tests/support/image_builder.h"

int main(int argc, char** argv) {
  if (argc != 2 || argv[1][0] == '-') {
    std::fprintf(stderr, "usage: MakeCheckerImage FOLDER\n");
    return 2;
  }
  namespace ib = imagebuilder;
  const std::string folder = argv[1];
  // Neither drive may exist yet: a user's image or a link to a recorder
  // disk is never written over.
  for (const char* drive : {"/PhysicalDrive0", "/PhysicalDrive1"})
    if (ib::RefuseExistingDisk("MakeCheckerImage", folder + drive)) return 1;
  try {
    ib::DiskImage image;
    image.AddFolder("\\DataFiles\\Films");
    ib::FileSpec f;
    f.Path = "\\DataFiles\\Films\\news.rec";
    f.Size = 3ull * 2068 * 512;
    image.AddFile(f);
    image.AddLostChain({300, 301, 302, 303});
    image.Write(folder + "/PhysicalDrive0");
    image.Write(folder + "/PhysicalDrive1");
    ib::ImageFile(folder + "/PhysicalDrive1").SetSuperU16(ib::kSbSectorsPerCluster, 4512, true, false);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "MakeCheckerImage: %s\n", e.what());
    return 1;
  }
  return 0;
}
