// The seven check-and-repair steps, run in this order by the check driver
// (Menu_File_PerformChecks_Click). Each reports through Addinfo
// (checker_state.h) and writes a cluster it changed back at once with
// WriteTopfCluster (disk_layer.h), passing the system-cluster permission only
// for disk cluster 0 (and the root, disk cluster 1, in step 3).
#pragma once

namespace checker {

// Superblock and its backup, the cleared areas of the system cluster.
void fsck_01_SuperBlock();
// The root directory copy in the system cluster.
void fsck_02_RootDir();
// The root directory cluster: copied slots, invalid slots erased.
void fsck_03_Cluster0Root();
// The directory walk: fills FoundEntries, sets DirScanIncomplete.
void fsck_04_ScanDirectories();
// FAT repair and lost-chain recovery; may set LostDirectoryRecovered.
void fsck_05_FAT();
// Directory entries against the FAT chains, directory sizes.
void fsck_06_FATSubDirsXCheck();
// Root free bytes and used clusters in the superblock; true when cluster 0
// was written.
bool fsck_07_SuperBlockDependencies();

}  // namespace checker
