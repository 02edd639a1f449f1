// Every read-modify-write of the disk core with its read failing while
// writes still work (a transient error): once a cluster's read has failed,
// nothing is written over that cluster, so zeros never replace a superblock,
// a FAT or a directory.
#include <functional>
#include <limits>

#include "core/create_file.h"
#include "core/entry_edit.h"
#include "core/erase.h"
#include "core/fat_write.h"
#include "tests/core/writer_fixture.h"
#include "tests/support/sector_faults.h"

namespace writertest {
namespace {

constexpr int64_t kSpc = 2068;

class ReadModifyWrite : public WriterTest {
 protected:
  ReadModifyWrite() : model_(SmallSpec(40)) {
    // Folders above the cached clusters 0 to 5, so that each read of them
    // reaches the device.
    model_.AddFolder("\\DataFiles\\Films", 20);
    model_.AddFolder("\\DataFiles\\Empty", 21);
    ib::FileSpec f;
    f.Path = "\\DataFiles\\Films\\b.rec";
    f.Size = 2 * kSpc * 512;
    model_.AddFile(f);
  }
  auto& FAT() { return core::Disk[0].FAT; }
  int32_t StartOf(const std::string& name) { return Rec(name).StartCluster; }
  int32_t HolderOf(const std::string& name) { return Rec(name).DirCluster; }
  double When() { return core::DateValue(2010, 3, 4, 5, 6, 7); }

  ib::DiskImage model_;
};

struct Case {
  const char* Name;
  // The disk cluster whose device reads fail (after `PassingReads` of them).
  std::function<int32_t()> Cluster;
  std::function<void()> Run;
  int PassingReads = 0;
  const char* Message = "";     // the message box the failure shows ("" none)
  bool NothingWritten = false;  // the failed read comes before any write
  std::function<void()> Prepare = [] {};
};

TEST_F(ReadModifyWrite, NoClusterIsWrittenBackAfterItsReadFailed) {
  const std::string film = "\\DataFiles\\Films\\b.rec";
  const std::string films = "\\DataFiles\\Films";
  const std::string dataFiles = "\\DataFiles";
  auto index = [&](const std::string& name) { return IndexOf(name); };
  auto holder = [&](const std::string& name) { return [&, name] { return HolderOf(name) + 1; }; };
  auto own = [&](const std::string& name) { return [&, name] { return StartOf(name) + 1; }; };
  auto systemCluster = [] { return 0; };
  auto queueSizes = [&](const std::string& name) {
    return [&, name] {
      core::FSRecalculateDirSizes(0, core::kDirSizesAdd, StartOf(name));
      core::FSRecalculateDirSizes(0, core::kDirSizesRun, 0);
    };
  };
  auto linkNew = [&](int32_t first) {
    return [&, first] {
      FAT()[size_t(first)].Next = -1;
      FAT()[size_t(first)].Prev = 0;
    };
  };

  const std::vector<Case> cases = {
      {"UpdateTopfFAT", systemCluster,
       [&] { FAT()[30].Next = -1; EXPECT_FALSE(core::UpdateTopfFAT(0)); }, 0, "", true},
      {"FSKillFATChain", systemCluster,
       [&] { EXPECT_FALSE(core::FSKillFATChain(0, StartOf(film))); }, 0, "", true},
      {"CopyBackupCRC", systemCluster, [&] { EXPECT_FALSE(core::CopyBackupCRC(0)); }, 0, "", true},
      {"ModifyTopfFileCryptFlags", holder(film),
       [&] {
         Rec(film).CryptValid = true;
         Rec(film).CryptFlags = 1;
         EXPECT_FALSE(core::ModifyTopfFileCryptFlags(0, index(film)));
       },
       0, "", true},
      {"ModifyTopfFileDate", holder(film),
       [&] {
         Rec(film).RecDate = When();
         EXPECT_FALSE(core::ModifyTopfFileDate(0, index(film)));
       },
       0, "", true},
      {"ModifyTopfFileStartCluster, its folder", holder(film),
       [&] {
         Rec(film).StartCluster = 33;
         EXPECT_FALSE(core::ModifyTopfFileStartCluster(0, index(film)));
       },
       0, "", true},
      {"ModifyTopfFileStartCluster, the root copy", systemCluster,
       [&] { core::ModifyTopfFileStartCluster(0, index(dataFiles)); }},
      {"ModifyTopfFileStartCluster, the folder's \".\"", own(dataFiles),
       [&] { core::ModifyTopfFileStartCluster(0, index(dataFiles)); }},
      {"ModifyTopfFileStartCluster, a subfolder's \"..\"", own(films),
       [&] { core::ModifyTopfFileStartCluster(0, index(dataFiles)); }},
      {"FSEraseFile, its folder", holder(film),
       [&] { EXPECT_FALSE(core::FSEraseFile(0, index(film), true)); }, 0,
       "could not be read; nothing was erased", true},
      {"FSEraseFile, the system cluster", systemCluster,
       [&] { EXPECT_FALSE(core::FSEraseFile(0, index(film), true)); }, 0,
       "The FAT could not be read", true},
      {"FSRecalculateDirSizes, the holding folder", holder(films), queueSizes(films), 0, "not be written"},
      {"FSRecalculateDirSizes, the root copy", systemCluster, queueSizes(films), 0, "not be written"},
      {"CreateTopfFile, the parent folder", own(films),
       [&] {
         EXPECT_FALSE(core::CreateTopfFile(0, films + "\\new.rec", false, 1000, When(), 30));
       },
       0, "could not be read", true, linkNew(30)},
      // The new entry is written first; the older one of that name is then
      // erased through a read of the same folder, which fails here.
      {"CreateTopfFile, the parent folder when erasing the older file", own(films),
       [&] { core::CreateTopfFile(0, film, false, 1000, When(), 30); }, 1, "could not be read",
       false, linkNew(30)},
      {"CreateTopfFile, the new folder's cluster", [] { return 31 + 1; },
       [&] { core::CreateTopfFile(0, films + "\\New", true, double(kSpc * 512), When(), 31); }, 0,
       "its own cluster could not be updated", false,
       [&] {
         linkNew(31)();
         core::BuildSubDirBuffer(0, 31, films + "\\New");
         ASSERT_TRUE(core::WriteTopfCluster(0, 31 + 1, false));
       }},
  };

  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    Load(model_);
    c.Prepare();
    const int64_t first = int64_t(c.Cluster()) * kSpc;
    core::InvalidateSideCache(0);

    faults::SectorFaults f;
    int seen = 0;
    size_t failedAt = std::numeric_limits<size_t>::max();
    // Cluster reads only: the one-sector look at sector 0 that tells a lost
    // drive from a bad cluster still succeeds.
    f.FailReadsWhere([&](uint32_t sector, int32_t count) {
      if (count < 2 || int64_t(sector) + count <= first || int64_t(sector) >= first + kSpc)
        return false;
      if (++seen <= c.PassingReads) return false;
      failedAt = std::min(failedAt, f.Writes().size());
      return true;
    });
    if (*c.Message) script.ExpectMsgBox(c.Message, ui::Answer::OK);
    c.Run();
    EXPECT_TRUE(script.AllAnswered());
    ASSERT_GT(f.FailedReads(), 0u) << "the read under test never reached the device";

    for (size_t w = failedAt; w < f.Writes().size(); ++w) {
      const auto& write = f.Writes()[w];
      const int64_t begin = write.FirstSector;
      const int64_t end = begin + int64_t(write.Bytes.size() / 512);
      EXPECT_TRUE(end <= first || begin >= first + kSpc)
          << "write " << w << " at sector " << begin << " over the cluster whose read failed";
    }
    if (c.NothingWritten) EXPECT_TRUE(f.Writes().empty());   // every write passes the stand-in
  }
}

}  // namespace
}  // namespace writertest
