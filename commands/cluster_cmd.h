// Raw access to single clusters and to the system-cluster dump of the left
// disk (side 0): saving and restoring the .scc/.scd pair behind the wait
// window, reading one cluster into a file in the program folder and writing
// one cluster from a file.
//
// A cluster number typed by the user is a FAT index; the disk cluster is
// that number + 1, so -1 names the system cluster. Numbers are taken only
// from -1 to the disk's LastCluster.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace commands {

constexpr const char* kSystemClustersFilter = "System Clusters (*.scc)|*.scc|All files|*.*";
constexpr const char* kBinariesFilter = "Binaries (*.bin)|*.bin|All files|*.*";
constexpr const char* kClusterNumberPrompt = "Enter cluster number";

// "Cluster_" + the FAT index as six digits + ".bin"; a negative index keeps
// its sign in front of the digits ("Cluster_-000001.bin").
std::string ClusterBinFileName(int32_t fatIndex);

// A typed cluster number: blanks around it ignored, an optional sign, digits
// and an optional fraction (rounded to the nearest whole number, halves to
// even). Anything else, or a value beyond 32 bits, is no number (nullopt).
std::optional<int32_t> ParseClusterNumber(const std::string& text);

// Bytes of one cluster of side 0 as the cluster I/O transfers it (0 when the
// side holds no usable cluster size).
int64_t LeftClusterBytes();

// Reads FAT index `fatIndex` (-1 .. LastCluster) of side 0 and writes it to
// `path`, replacing the file whole. False, with a message, when the cluster
// could not be read (no file is written then).
bool ReadClusterToFile(int32_t fatIndex, const std::string& path);
// Writes the file at `path` into FAT index `fatIndex` of side 0 (the system
// cluster for -1). The file must hold exactly one cluster; otherwise, or
// when it cannot be read, nothing is written. False (with a message) on any
// failure.
bool WriteClusterFromFile(int32_t fatIndex, const std::string& path);

// The Expert menu commands.
void SaveSystemClustersCommand();
void RestoreSystemClustersCommand();
void ReadClusterCommand();
void WriteClusterCommand();

}  // namespace commands
