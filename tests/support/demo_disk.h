// The demo disk: a recorder disk of about 40 GB (sparse on the PC) with a few
// folders and recordings, as MakeDemoImage writes it for trying the programs
// out. It looks like a disk the recorder formatted: layout version 0x0101 in
// both superblocks and zeros in the FAT tails past LastCluster, so that the
// check-and-repair program finds nothing to fix on it.
#pragma once

#include <string>

#include "tests/support/image_builder.h"

namespace imagebuilder {

// The model; `sample` is the transport stream the recordings repeat ("" =
// the committed tests/data/sample.ts).
DiskImage DemoDisk(const std::string& sample = "");

}  // namespace imagebuilder
