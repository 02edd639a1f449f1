// The expert tools of the check program: single clusters to and from PC
// files, the dump of the system and directory clusters, and the tools that
// split, join and compare directory-cluster dumps.
//
// A ".scd" record is the FAT index as a 4-byte little-endian number, then
// SectorsPerCluster x 512 bytes of the cluster in view order. A single-cluster
// file "Cluster_" + Format(FAT index, "000000") + ".bin" holds exactly the
// data of one record ("Cluster_-000001.bin" is the system cluster). Every
// file name written is made from numbers only and lies in the dump's folder
// (or the current folder).
#pragma once

#include <cstdint>
#include <string>

namespace checker {

// The folder part of DiskName (with its trailing "/"); "" in disk mode.
std::string DumpFolder();

// Each record of DiskName + ".scd" into its own cluster file in the dump's
// folder (an existing file replaced). A record cut short at the end of the
// dump is not written.
void SeparateSCD();

// The cluster files "Cluster_NNNNNN.bin" (six digits) of the dump's folder
// joined into DiskName + ".scd", ascending by number. The record size is the
// dump's cluster (in disk mode the first file's length); files of another
// length are left out. Without files nothing changes. In file mode ScdIndex
// is rebuilt from the new file.
void CombineSCD();

// Compares the dump with the dump at secondPath (any extension dropped):
// writes "Cluster_-000001.bin" when the system clusters differ and the
// cluster file of every record of this dump that the second one lacks or
// holds differently, into this dump's folder.
void CompareSCD(const std::string& secondPath);

// Saves the dump of the disk (or of the loaded dump) to base + ".scc" and
// ".scd" (base = path without extension) through core::SaveDump, reading
// with ReadTopfClusterSectors: the same records the main program saves of
// the same disk. Shows the busy pointer.
void SaveTopfSystemClusters(const std::string& path);

// Read Cluster: disk cluster fatIndex + 1 into "Cluster_" + Format(fatIndex,
// "000000") + ".bin" in the current folder (the zeroed buffer when the read
// fails).
void ReadClusterToFile(int32_t fatIndex);

// Write Cluster: the first SectorsPerCluster x 512 bytes of the file into
// disk cluster fatIndex + 1 (the system cluster for -1), with the undo
// copies. A file shorter than one cluster is refused with a message. True
// when the cluster was written.
bool WriteClusterFromFile(int32_t fatIndex, const std::string& file);

// The text of a typed cluster number as a whole number (not a number: 0),
// kept inside the 32-bit range.
int32_t ClusterNumberFromText(const std::string& text);

}  // namespace checker
