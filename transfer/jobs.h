// The long jobs on the checked items of a pane: copy and move, erase, and the
// stream scan of recordings. They work through the JobHost (job_host.h) the
// main window registers; without a host they do nothing.
//
// Each job reports to the user itself. Files that could not be copied,
// scanned or erased are listed at the job's end; sources of failed copies
// are always kept.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace transfer {

void DoCopy(int side, bool move);
void DoErase(int side);
void DoScan(int side);

// ---- building blocks of the jobs, open for tests

// The chain of a recorder entry checked against its cluster count: every
// index in 1 .. LastCluster, each visited once, `count` clusters before the
// end mark. False (damaged) otherwise; `chain` gets the indexes walked.
bool WalkChain(int side, int32_t first, int32_t count, std::vector<int32_t>& chain);

// The PCR PID of the first program-map-table section found at the packet
// positions 0, 188, ... of a buffer (packet with payload start, pointer
// field 0, table id 2); -1 when there is none.
int32_t FindPcrPid(const uint8_t* buffer, size_t length);
// True when one of the packets at 0, 188 and 376 of a 512-byte sector starts
// a payload on `pcrPid` with its scrambling bits set.
bool SectorScrambled(const uint8_t* sector, int32_t pcrPid);

}  // namespace transfer
