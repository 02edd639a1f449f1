// The disk probe: physical drives 0..31 whose sector 0 carries the recorder's
// identity become entries of the left disk chooser (and of the right one in
// write mode); the right chooser then gets the PC's fixed and network drives.
// The entries are kept in the model (core/disk_model.h); the main window
// shows them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/disk_model.h"

namespace core {

// The probe's test of one superblock (view order, words reversed): its
// identification text is the recorder's, exactly.
bool CarriesRecorderId(const uint8_t* superblockView);
// A disk shows that it is a recorder disk when at least one of its two
// superblocks (the first 1024 bytes of its system cluster, view order)
// carries the recorder's magic number or the identification the probe
// looks for. Only such a disk is repaired without asking.
bool ShowsRecorderSuperblock(const uint8_t* systemView1024);
// What the first sectors of a disk that shows no recorder superblock hold,
// as a question before writing over it names it: "an ext2/3/4 file
// system", "a partition table", "only zeros", "unknown data"... `raw`: the
// bytes in disk order, up to 4096 of them.
std::string ForeignContentName(const uint8_t* raw, size_t length);

// Fills ChooserEntries, InUseRecorderDrives, UnopenedDrives and
// ForeignDrives. The main window then selects the first left entry.
void FSShowDisks();

// The entry text of a PC volume: mount point + "  [" + label + "]", or
// "  [Network: " + label + "]" for a network file system.
struct PcDrive;
std::string PCDriveEntryText(const PcDrive& drive);

}  // namespace core
