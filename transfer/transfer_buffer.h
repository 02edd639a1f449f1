// The transfer buffer: moving the data of one file from one side to the
// other, one cluster at a time, through core::DataBuffer.
//
// The copy job opens the source with core::FSOpenFile and the target with
// FSCreateFile (file_create.h), and for each file calls
//   for every source cluster but the last:  FSDataBufferRead(source), FSDataBufferWrite(target)
//   for the last one:                       FSDataBufferRead(source),
//                                           DataBufferFill := size - target ClustersDone x cluster bytes,
//                                           FSDataBufferFlush(target)
// then closes both sides with core::FSCloseFile.
//
// Byte order: recorder data is word-reversed when it crosses to or from a PC
// side; between two recorder disks it keeps the disk's order.
//
// On a recorder target each written cluster goes to the next free FAT
// element, searched forward from the current one (the first from FreeHint)
// with a step of 1, or with BadlyInterleavedFiles a step of 1 to 11 from a
// generator that is never seeded; the last piece always with step 1. The
// chain grows only in the in-memory FAT; the job writes the entry and the FAT
// when the file is complete. A free element below FAT index 3 stops the
// program ("... system area! Bailing out!") after both sides' files are closed.
//
// Every operation returns false when it failed: a read or write that failed
// or came up short (PC or recorder), no free cluster left between the start
// and LastCluster (nothing linked, nothing written), a cluster outside the
// disk. The job then reports the file as failed and calls FSDiscardNewChain
// for a recorder target.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace transfer {

// [View] BadlyInterleavedFiles = 1, read by the main window at start-up.
extern bool BadlyInterleavedFiles;

// Appends the next cluster of the file open on `side` at DataBufferFill.
// While the caller writes it, the following cluster of the file is already
// being read on a helper thread (when source and target clusters are of one
// size); asking for anything else drops that read.
// A cluster of a recorder file that cannot be read whole is read again
// sector by sector: the sectors that read are passed on, the others are
// zeros and are noted in FSUnreadableBytes.
bool FSDataBufferRead(int side);
// The byte ranges [first, end) of the file being read, counted from its
// start, that FSDataBufferRead gave as zeros because they could not be read,
// ascending and merged. The caller empties it before a file's first read.
struct ByteRange {
  int64_t First = 0;
  int64_t End = 0;
};
std::vector<ByteRange>& FSUnreadableBytes();
// Waits for a read made ahead and drops it: call before the source is closed
// in the middle of a file (a cancel, a failure).
void FSDataBufferDrop();
// Writes every whole target cluster at the front of the buffer to the file
// being created on `side`; less than one cluster stays in the buffer.
bool FSDataBufferWrite(int side);
// Writes the rest of the buffer as the file's last piece (a PC file gets
// exactly DataBufferFill bytes; a recorder file as many clusters as the
// rest needs) and empties the buffer. A fill of 0 writes nothing.
bool FSDataBufferFlush(int side);
// Why the last FSDataBufferRead, FSDataBufferWrite or FSDataBufferFlush
// that gave false failed, in the user's words: the system's reason ("Input/
// output error"), a full disk said as such.
const std::string& FSDataBufferFailure();

// Recorder target: frees, in memory, the chain the buffer linked for the file
// being created (from FreeHint, as far as it was linked), so that a failed or
// abandoned file leaves no used clusters behind. Nothing is written.
void FSDiscardNewChain(int side);

// The step generator: the classic unseeded pseudo-random sequence
// (0.7055475, 0.533424, ...). RandomNext draws the next value in [0, 1);
// InterleaveStep draws one and returns round-half-even(10 r + 1), 1 to 11.
double RandomNext();
int32_t InterleaveStep();
// Back to the start of the sequence, as at program start (tests).
void ResetRandom();

}  // namespace transfer
