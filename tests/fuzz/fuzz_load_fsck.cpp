// libFuzzer target: a small recorder image, damaged as the input says, is
// loaded (LoadTopf) and checked (FSCK). Neither may crash, hang or touch
// memory it does not own. The image is opened read-only: neither routine
// writes to a disk.
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "core/disk_init.h"
#include "core/disk_io.h"
#include "core/disk_load.h"
#include "core/disk_model.h"
#include "core/error_handler.h"
#include "core/fsck.h"
#include "core/settings.h"
#include "tests/fuzz/fuzz_image.h"
#include "tests/fuzz/quiet_ui.h"

namespace {

struct Setup {
  std::string folder;
  std::string image;
  int fd = -1;
  fuzzimage::QuietUi quiet;

  Setup() {
    char pattern[] = "/tmp/quenbrix-fuzz-XXXXXX";
    if (!mkdtemp(pattern)) std::abort();
    folder = pattern;
    image = folder + "/PhysicalDrive0";
    fuzzimage::SeedModel().Write(image);
    fd = open(image.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) std::abort();
    setenv("QUENBRIX_DEVICES", folder.c_str(), 1);
    core::SetAppDir(folder);
    ui::SetCurrent(&quiet);
  }
};

Setup& State() {
  static Setup setup;
  return setup;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Setup& s = State();
  const auto saved = fuzzimage::Apply(s.fd, data, size);

  try {
    fuzzimage::LoadAndCheckDrive0();
  } catch (const ui::ProgramEnded&) {
    // An emergency stop is a message and an orderly end, not a crash.
    if (core::Disk[0].Handle >= 1) core::CloseDisk(core::Disk[0].Handle);
    core::Disk[0].Handle = 0;
  }

  fuzzimage::Restore(s.fd, saved);
  return 0;
}
