// libFuzzer target: the seed image, damaged as the input says, is loaded
// (LoadTopf) and checked (FSCK) by the main program's core. Neither may crash,
// hang, touch memory it does not own, raise a run-time error or end the
// program. The image is opened read-only: neither routine writes to a disk.
#include <cstdint>

#include "tests/fuzz/fuzz_image.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzzimage::TheWorkspace();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzimage::Workspace& work = fuzzimage::TheWorkspace();
  work.Fuzz(data, size, [&](fuzzimage::Ranges&) { return fuzzimage::LoadAndCheckDrive0(work.Quiet); });
  return 0;
}
