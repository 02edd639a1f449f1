// MakeDemoImage [--no-hint] <folder> [sample.ts]
// Writes <folder>/PhysicalDrive0, the demo disk (tests/support/demo_disk.h) as a
// sparse image of about 40 GB, for trying the programs out with
// QUENBRIX_DEVICES=<folder>. --no-hint leaves out the line that says so (for
// scripts that start the program themselves). An existing
// <folder>/PhysicalDrive0 - a disk image, or a link to a recorder disk - is
// never written over: the tool says so and writes nothing.
#include "platform/platform.h"
#include "tests/support/demo_disk.h"

#include <cstdio>
#include <exception>
#include <string>
#include <sys/stat.h>
#include <vector>

#ifndef QUENBRIX_TEST_DATA
#define QUENBRIX_TEST_DATA "tests/data"
#endif

using namespace imagebuilder;

namespace {

int Usage() {
  std::fprintf(stderr, "usage: MakeDemoImage [--no-hint] <folder> [sample.ts]\n"
                       "Writes <folder>/PhysicalDrive0, a sparse demo recorder disk image.\n"
                       "An existing <folder>/PhysicalDrive0 (file, link or device) is never written over.\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  bool hint = true;
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--no-hint")
      hint = false;
    else if (!arg.empty() && arg[0] == '-')
      return Usage();
    else
      args.push_back(arg);
  }
  if (args.empty() || args.size() > 2) return Usage();
  const std::string folder = args[0];
  const std::string path = folder + "/PhysicalDrive0";
  if (RefuseExistingDisk("MakeDemoImage", path)) return 1;
  const std::string sample = args.size() == 2 ? args[1] : std::string(QUENBRIX_TEST_DATA) + "/sample.ts";
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
    if (RefuseExistingDisk("MakeDemoImage", path)) return 1;  // appeared meanwhile
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
