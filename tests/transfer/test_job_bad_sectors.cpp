// A failing recorder disk: unreadable sectors at each place that matters,
// under each thing a user does with it. What can be read reaches the PC,
// what cannot is zeros there and named, and is never stored or written back.
#include <algorithm>
#include <filesystem>
#include <memory>

#include "core/dumps.h"
#include "core/fsck.h"
#include "tests/support/sector_faults.h"
#include "tests/transfer/job_files.h"
#include "tests/transfer/job_fixture.h"

namespace jobtest {
namespace {

namespace ib = imagebuilder;
using transfertest::Spec;

struct Place {
  const char* Name;
  uint32_t Sector, Count;   // the unreadable sectors
  std::string Told;         // what the load names ("" a recording's sectors: nothing)
  int Rec3Cluster;          // the cluster of Rec3.rec that holds them, -1 none, 9 all of it
};

class BadSectorTest : public JobTest {};

TEST_F(BadSectorTest, WhatCanBeReadReachesThePcAndNothingUnreadIsStoredOrWrittenBack) {
  ib::DiskImage model(Spec(kSpc, 24)), empty(Spec(kSpc, 24));
  auto name = [](int k) { return "Rec" + std::to_string(k) + ".rec"; };
  auto size = [](int k) { return k == 3 ? 2 * kCluster + 5000 : kCluster / 2 + k; };
  for (int k = 1; k <= 5; ++k) model.AddFile(File("\\DataFiles\\" + name(k), size(k), k));
  model.AddFolder("\\DataFiles\\Films");
  model.AddFile(File("\\DataFiles\\Films\\film.rec", 1000, 9));
  const std::vector<uint32_t> rec3 = model.Entry("\\DataFiles\\Rec3.rec").Chain;
  ASSERT_EQ(rec3.back(), rec3[0] + 2);   // one run of clusters
  const uint32_t films = (model.FolderIndex("\\DataFiles\\Films") + 1) * kSpc,
                 dataFiles = model.FolderIndex("\\DataFiles");
  const std::vector<Place> places = {
      {"FAT1", 256, 1, "FAT1 (FAT2 was used in its place)", -1},
      {"FAT2", 1024, 1, "These parts could not be read:\r\nFAT2", -1},
      {"backup superblock", 1, 1, "the backup superblock", -1},
      {"root copy", 2, 1, "the root directory copy", -1},
      {"folder", films, 1, "the folder '\\DataFiles\\Films\\'", -1},
      {"root folder", kSpc, 1, "(cluster 0; its first entries were taken from the root directory copy", -1},
      {"first cluster", (rec3[0] + 1) * kSpc + 7, 1, "", 0},
      {"middle cluster", (rec3[1] + 1) * kSpc + 7, 1, "", 1},
      {"last cluster", (rec3[2] + 1) * kSpc + 7, 1, "", 2},
      {"the whole recording", (rec3[0] + 1) * kSpc, 3 * kSpc, "", 9},
      {"superblock", 0, 1, "the superblock", -1},   // these two: the check alone
      {"root", kSpc, 1, "the folder '\\'", -1},
  };

  for (const Place& p : places)
    for (const std::string op : {"load", "copy off", "move off", "copy to a disk", "save and restore", "check"}) {
      if ((p.Sector == 0 || p.Sector == kSpc) && op != "check") continue;
      SCOPED_TRACE(std::string(p.Name) + ", " + op);
      const bool move = op == "move off", toDisk = op == "copy to a disk", partOfDisk = !p.Told.empty();
      script.Reset();
      core::ReadIncomplete[31] = false;   // a new run of the program
      for (const auto& e : std::filesystem::directory_iterator(Pc())) std::filesystem::remove(e);
      toDisk ? ShowRecorder(empty, 1, 1) : ShowPc(1);
      auto f = std::make_unique<faults::SectorFaults>();
      f->FailReadsWhere([&p](uint32_t s, int32_t n) { return s < p.Sector + p.Count && p.Sector < s + uint32_t(n); });
      if (op == "check") {
        // Read in full by the load, failing while the check reads (sector 0
        // now and then, or the link would be lost): named unreadable, the
        // disk refused, nothing below diagnosed as damage or lost.
        f.reset();
        ShowRecorder(model, 0, 0);
        f = std::make_unique<faults::SectorFaults>();
        f->FailReadsWhere([&p, failed = true](uint32_t s, int32_t n) mutable {
          if (p.Sector != 0 || s != 0) return s < p.Sector + p.Count && p.Sector < s + uint32_t(n);
          return failed = n > 1 || !failed;   // a sector read alone fails every other time
        });
        core::InvalidateSideCache(0);
        core::ResetFsckState();
        EXPECT_EQ(core::FSCK(0), !partOfDisk);
        std::string found;
        for (int step = 1; step <= 5; ++step) found += core::FsckResults[step].Text + "|";
        EXPECT_EQ(found.find("Unreadable") != std::string::npos, partOfDisk) << found;
        for (const char* damage : {"Lost", "Invalid", "Broken", "Magic", "Copy", "Empty"})
          EXPECT_EQ(found.find(damage), std::string::npos) << found;
        // What lies below is still walked, through the copies the disk holds.
        EXPECT_EQ(std::count_if(core::FsckFiles.begin(), core::FsckFiles.begin() + core::FsckFileCount,
                                [](const core::FileRec& r) { return !r.IsDir; }),
                  p.Sector == 0 ? 0 : p.Sector == films ? 5 : 6);
        continue;
      }

      // Shown: every folder and recording that could be read; told: what could not.
      if (partOfDisk) script.ExpectMsgBox(p.Told, ui::Answer::OK);
      ShowRecorder(model, 0, 0);
      f->OnlyHandle(core::Disk[0].Handle);
      for (int k = 1; k <= 5; ++k) EXPECT_GE(IndexOf(0, "\\DataFiles\\" + name(k)), 0) << k;
      EXPECT_EQ(IndexOf(0, "\\DataFiles\\Films\\film.rec") >= 0, p.Sector != films);
      EXPECT_EQ(core::DiskWriteRefused(0), partOfDisk);

      if (op[0] == 's') {
        const std::string before = ib::ReadWholeFile(DrivePath(0));
        const bool system = p.Sector < kSpc;
        if (system) script.ExpectMsgBox("the system cluster could not be read", ui::Answer::OK);
        const bool folderLeftOut = p.Sector == films || p.Sector == kSpc;
        if (folderLeftOut)
          script.ExpectMsgBox(p.Sector == films ? "\\DataFiles\\Films\\ (cluster" : ": \\ (cluster 0)", ui::Answer::OK);
        EXPECT_EQ(core::SaveTopfSystemClusters(0, Pc() + "dump.scc"), !system);
        f.reset();   // the drive has since remapped the sector
        if (!system) {   // the dump holds what was read; its restore writes nothing else
          EXPECT_EQ(ib::ReadWholeFile(Pc() + "dump.scd").size(),
                    (model.FolderWalkOrder().size() - folderLeftOut) * (kCluster + 4));
          script.ExpectMsgBox("The program will close now.", ui::Answer::OK);
          EXPECT_THROW(core::RestoreTopfSystemClusters(0, Pc() + "dump.scc"), ui::ProgramEnded);
          EXPECT_EQ(script.EndedWith(), ui::kExitNormal);
        }
        EXPECT_TRUE(ib::ReadWholeFile(DrivePath(0)) == before);
        EXPECT_TRUE(script.AllAnswered());
        continue;
      }
      if (op == "load") continue;

      for (int k = 1; k <= 5; ++k) host.Check(0, "\\DataFiles\\" + name(k));
      const bool rec3Whole = p.Rec3Cluster < 0, rec3None = p.Rec3Cluster == 9;
      const uint64_t lost = uint64_t(p.Rec3Cluster) * kCluster + 7 * 512;
      const uint64_t from = rec3None ? 0 : lost, bytes = rec3None ? kCluster : 512;
      const std::string range = std::to_string(bytes) + " bytes could not be read (bytes " +
                                std::to_string(from) + "-" + std::to_string(from + bytes - 1) + ")";
      const std::string told = "\\DataFiles\\Rec3.rec: " +
          (toDisk ? range + "; onto a recorder disk only a file read in full is copied"
                  : rec3None ? "no part of it could be read; not copied" : range + ", which are zeros in the copy");
      if (!rec3Whole || (move && partOfDisk))
        script.ExpectMsgBox("These files were not copied or moved as asked:", ui::Answer::OK);
      transfer::DoCopy(0, move);
      EXPECT_TRUE(script.AllAnswered());
      const std::string all = script.MsgBoxTexts().empty() ? "" : script.MsgBoxTexts().back();
      EXPECT_EQ(all.find(told) != std::string::npos, !rec3Whole) << all;
      ib::ImageFile source(DrivePath(0));
      for (int k = 1; k <= 5; ++k) {
        // Readable bytes equal, unreadable sectors zero, full size; onto a disk only whole files.
        std::string want = PatternBytes(uint32_t(k), size(k));
        const bool whole = k != 3 || rec3Whole;
        if (!whole && !rec3None) want.replace(lost, 512, 512, '\0');
        ib::DecodedEntry e;
        if (toDisk) {
          const ib::ImageFile copies(DrivePath(1));
          ASSERT_EQ(FindEntry(copies, empty.FolderIndex("\\DataFiles"), name(k), e), whole) << k;
          if (whole) EXPECT_TRUE(SameBytes(ImageFileBytes(copies, e.StartCluster, size(k)), want)) << k;
        } else if (k == 3 && rec3None) {
          EXPECT_LT(platform::FileLength(Pc() + name(k)), 0);
        } else {
          EXPECT_TRUE(SameBytes(ib::ReadWholeFile(Pc() + name(k)), want)) << k;
        }
        // A move erases a source only with a whole copy, never on a disk not read in full.
        EXPECT_EQ(FindEntry(source, dataFiles, name(k), e), !move || partOfDisk || !whole) << k;
      }
      if (partOfDisk) EXPECT_TRUE(f->Writes().empty());   // nothing written to the failing disk
      transfer::UnloadProgressWindow();
    }
}

}  // namespace
}  // namespace jobtest
