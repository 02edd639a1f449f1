// libFuzzer target: the seed image, damaged as the input says, is repaired by
// the check-and-repair program and checked once more (fuzz_repair.h): one
// repair settles what it can, and the second run finds nothing to fix.
#include <cstdint>

#include "tests/fuzz/fuzz_repair.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzzimage::TheWorkspace();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzimage::Workspace& work = fuzzimage::TheWorkspace();
  work.Fuzz(data, size, [&](fuzzimage::Ranges& written) {
    return fuzzimage::RepairTwiceDrive0(work.Quiet, work.Folder + "/undo", written);
  });
  return 0;
}
