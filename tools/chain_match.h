// The chain matcher: links the hits of the found-cluster table into chains
// whose video time stamps continue each other, one presumed recording each,
// and lists them in AppDir + CrcId + "_Match.txt" (the hits' lines in chain
// order, a line of 100 "-" between two chains, CR LF line ends).
//
// Every hit on a FAT index 1 .. LastCluster takes part, free or used, each
// cluster at most once: a hit outside that range, or a second hit on a
// cluster already listed, is left out (Excluded, Used) and joins no chain.
// What a used cluster may become is the rebuild's decision.
//
// A hit's continuation is chosen among all later hits of its PID within the
// search window: one without a gap in the time stamps (one step) before one
// across a gap, and of those the nearest in time; a hit that continues
// another without a gap is never taken across a gap by a third. A gap too
// short to hold a cluster of the stream (half the longer span of the two
// hits) separates two recordings and is not bridged.
#pragma once

#include <cstdint>

namespace tools {

// Time-stamp step between the end of one hit and the start of the next that
// continues a chain (90 kHz units).
bool PtsContinues(double d);

// Reloads the table from the search list and links it (NextRec, PrevRec).
// False when the search list was refused (nothing is matched or written).
// With no hits nothing is written.
bool Matcher();

// The linking alone, on the table as it stands (the list file is written
// when `writeList` is set).
void MatchLoadedTable(bool writeList);

}  // namespace tools
