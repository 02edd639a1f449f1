// MakeDemoImage [--no-hint] <folder> [sample.ts]
// Writes <folder>/PhysicalDrive0, the demo disk (tests/support/demo_disk.h) as a
// sparse image of about 40 GB, for trying the programs out with
// QUENBRIX_DEVICES=<folder>. --no-hint leaves out the line that says so (for
// scripts that start the program themselves).
#include "platform/platform.h"
#include "tests/support/demo_disk.h"

#include <cstdio>
#include <exception>
#include <string>
#include <sys/stat.h>

#ifndef QUENBRIX_TEST_DATA
#define QUENBRIX_TEST_DATA "tests/data"
#endif

using namespace imagebuilder;

int main(int argc, char** argv) {
  const bool hint = !(argc > 1 && std::string(argv[1]) == "--no-hint");
  if (!hint) {
    --argc;
    ++argv;
  }
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: MakeDemoImage [--no-hint] <folder> [sample.ts]\n"
                         "Writes <folder>/PhysicalDrive0, a sparse demo recorder disk image.\n");
    return 2;
  }
  const std::string folder = argv[1];
  const std::string sample = argc == 3 ? argv[2] : std::string(QUENBRIX_TEST_DATA) + "/sample.ts";
  try {
    struct stat st;
    if (stat(sample.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
      std::fprintf(stderr, "MakeDemoImage: no transport stream at %s\n", sample.c_str());
      return 1;
    }
    if (!platform::MakePath(folder)) {
      std::fprintf(stderr, "MakeDemoImage: cannot create the folder %s\n", folder.c_str());
      return 1;
    }
    const DiskImage disk = DemoDisk(sample);
    const std::string path = folder + "/PhysicalDrive0";
    disk.Write(path);
    std::printf("Wrote %s: %llu bytes (sparse), %u sectors per cluster, LastCluster %lld, %zu entries.\n",
                path.c_str(), static_cast<unsigned long long>(disk.SizeBytes()), disk.SectorsPerCluster(),
                static_cast<long long>(disk.LastCluster()), disk.Paths().size());
    if (hint) std::printf("Run the programs with QUENBRIX_DEVICES=%s\n", folder.c_str());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "MakeDemoImage: %s\n", e.what());
    return 1;
  }
  return 0;
}
