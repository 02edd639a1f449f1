// Opening one entry of a side's file list for a transfer, closing it again,
// and the free space of a side.
#pragma once

namespace core {

// Prepares the side for reading Files[index]: on a PC side the file becomes
// the side's open device (InitTopf); on a recorder side the read position is
// set to its first cluster. DataBuffer becomes five clusters of the larger
// side (its bytes beyond DataBufferFill = 0 are left as they were). An
// index outside the list is a run-time error.
void FSOpenFile(int side, int index, bool readWrite);
// Ends that state; a PC side's file handle is closed.
void FSCloseFile(int side);
// Bytes the side can still take: on a PC side the free space of the file
// system that holds the folder the pane shows (CurrentFolder; the drive root
// when none is set); a recorder disk's free FAT elements (0..LastCluster)
// whose cluster lies wholly on the device x cluster size; 0 in disaster mode.
double FSGetFreeSpace(int side);

}  // namespace core
