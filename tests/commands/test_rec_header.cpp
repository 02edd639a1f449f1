// Adding a recording header to a headerless recording and undoing it: the
// exact bytes written, the undo copy, and that nothing else changes.
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "commands/rec_header.h"
#include "tests/commands/commands_fixture.h"
#include "tests/mainwindow/form1_pane_fixture.h"

namespace {

using commands::RecHeaderResult;
using editortest::kClusterBytes;
namespace ib = imagebuilder;

bool Exists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

std::vector<uint8_t> FileBytes(const std::string& path) {
  const std::string s = ib::ReadWholeFile(path);
  return std::vector<uint8_t>(s.begin(), s.end());
}

class RecHeaderTest : public editortest::DataFilesTest {
 protected:
  std::string UndoOf(const std::string& name) {
    return commands::RECUndoFile(0, R(name).StartCluster);
  }
};

TEST_F(RecHeaderTest, UndoFileNameCarriesCrcIdAndSevenDigits) {
  core::Disk[0].CrcId = "0A1B2C3D";
  EXPECT_EQ(commands::RECUndoFile(0, 4711), core::AppDir() + "0A1B2C3D_Undo_0004711.bin");
}

TEST_F(RecHeaderTest, HeaderImageHoldsOnlyTheDesignedFields) {
  const std::vector<uint8_t> h = commands::BuildRECHeader(0x18123, 0x1000, 0x100, 0x1FF, 0x101);
  ASSERT_EQ(h.size(), 1656u);
  std::vector<uint8_t> expected(1656, 0);
  const uint8_t fields[] = {'T', 'F', 'r', 'c', 0x50};
  std::memcpy(expected.data(), fields, 5);
  const uint8_t pids[] = {0x81, 0x23, 0x10, 0x00, 0x01, 0x00, 0x01, 0xFF, 0x01, 0x01};
  std::memcpy(expected.data() + 18, pids, sizeof pids);
  std::memcpy(expected.data() + 28, "Recovered", 9);
  EXPECT_EQ(h, expected);
}

TEST_F(RecHeaderTest, AddWritesTheHeaderOverTheFirstClusterAndSavesItFirst) {
  const uint32_t c = FirstCluster("\\DataFiles\\bare.rec");
  const std::vector<uint8_t> original = ClusterView(c);
  const std::vector<uint8_t> before = Snapshot();

  EXPECT_EQ(commands::FSAddRECHeader(0, Index("bare.rec")), RecHeaderResult::Done);
  EXPECT_TRUE(R("bare.rec").HasRecHeader);

  // The undo copy is the exact cluster as read.
  ASSERT_TRUE(Exists(UndoOf("bare.rec")));
  EXPECT_EQ(FileBytes(UndoOf("bare.rec")), original);

  // The header: the stream's program 42, PMT 0x1000, PCR and video 0x100,
  // audio 0x101, "Recovered"; the stream data after it stays.
  const std::vector<uint8_t> now = ClusterView(c);
  std::vector<uint8_t> expected = original;
  const std::vector<uint8_t> h = commands::BuildRECHeader(42, 0x1000, 0x100, 0x100, 0x101);
  std::copy(h.begin(), h.end(), expected.begin());
  EXPECT_EQ(now, expected);

  std::set<uint64_t> allowed;
  Allow(allowed, c, 0, 1656);
  ExpectChangedOnly(before, Snapshot(), allowed);

  // The loader now sees a header.
  Reload();
  EXPECT_TRUE(R("bare.rec").HasRecHeader);
}

TEST_F(RecHeaderTest, UndoPutsTheSavedClusterBackByteForByte) {
  const std::vector<uint8_t> before = Snapshot();
  ASSERT_EQ(commands::FSAddRECHeader(0, Index("bare.rec")), RecHeaderResult::Done);
  EXPECT_EQ(commands::FSUndoAddRECHeader(0, Index("bare.rec")), RecHeaderResult::Done);
  EXPECT_FALSE(R("bare.rec").HasRecHeader);
  EXPECT_FALSE(Exists(UndoOf("bare.rec")));
  EXPECT_EQ(Snapshot(), before);
}

TEST_F(RecHeaderTest, EntriesThatDoNotQualifyAreLeftAlone) {
  const std::vector<uint8_t> before = Snapshot();
  for (const char* name : {"good.rec", "note.txt", "dir.rec"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(commands::FSAddRECHeader(0, Index(name)), RecHeaderResult::NotQualified);
  }
  // No PMT and no video in the first cluster: no header, no undo copy.
  EXPECT_EQ(commands::FSAddRECHeader(0, Index("zeros.rec")), RecHeaderResult::NoStream);
  EXPECT_FALSE(Exists(UndoOf("zeros.rec")));
  // Undo without an undo copy.
  EXPECT_EQ(commands::FSUndoAddRECHeader(0, Index("bare.rec")), RecHeaderResult::NotQualified);
  // Indexes outside the list.
  EXPECT_EQ(commands::FSAddRECHeader(0, -1), RecHeaderResult::NotQualified);
  EXPECT_EQ(commands::FSAddRECHeader(0, core::Disk[0].FileCount), RecHeaderResult::NotQualified);
  EXPECT_EQ(Snapshot(), before);
}

TEST_F(RecHeaderTest, UpperCaseExtensionQualifies) {
  EXPECT_EQ(commands::FSAddRECHeader(0, Index("UPPER.REC")), RecHeaderResult::Done);
  EXPECT_TRUE(Exists(UndoOf("UPPER.REC")));
}

TEST_F(RecHeaderTest, AHeaderThatIsAlreadyThereIsNeverOverwritten) {
  // The list says "no header", the disk has one (an out-of-date list).
  R("good.rec").HasRecHeader = false;
  const std::vector<uint8_t> before = Snapshot();
  EXPECT_EQ(commands::FSAddRECHeader(0, Index("good.rec")), RecHeaderResult::NotQualified);
  EXPECT_TRUE(R("good.rec").HasRecHeader);
  EXPECT_FALSE(Exists(UndoOf("good.rec")));
  EXPECT_EQ(Snapshot(), before);
}

TEST_F(RecHeaderTest, ASecondAddKeepsTheFirstUndoCopy) {
  const uint32_t c = FirstCluster("\\DataFiles\\bare.rec");
  const std::vector<uint8_t> original = ClusterView(c);
  ASSERT_EQ(commands::FSAddRECHeader(0, Index("bare.rec")), RecHeaderResult::Done);
  // Mark the undo copy (in its header part, so it still belongs), then
  // remove the header by other means and add again.
  std::vector<uint8_t> marked = original;
  marked[100] ^= 0x5A;
  ib::WriteWholeFile(UndoOf("bare.rec"), std::string(marked.begin(), marked.end()));
  Image().WriteClusterView(c, original);
  core::InvalidateSideCache(0);
  R("bare.rec").HasRecHeader = false;
  EXPECT_EQ(commands::FSAddRECHeader(0, Index("bare.rec")), RecHeaderResult::Done);
  EXPECT_EQ(FileBytes(UndoOf("bare.rec")), marked);
}

TEST_F(RecHeaderTest, AnUndoCopyOfAnotherClusterIsNeitherUsedNorReplaced) {
  const uint32_t c = FirstCluster("\\DataFiles\\bare.rec");
  // A stale copy under the recording's name: other stream data.
  std::vector<uint8_t> stale = ClusterView(FirstCluster("\\DataFiles\\note.txt"));
  stale[5000] ^= 1;
  ib::WriteWholeFile(UndoOf("bare.rec"), std::string(stale.begin(), stale.end()));
  const std::vector<uint8_t> before = Snapshot();
  script.ExpectMsgBox("does not belong", ui::Answer::OK);
  EXPECT_EQ(commands::FSAddRECHeader(0, Index("bare.rec")), RecHeaderResult::UndoMismatch);
  EXPECT_EQ(Snapshot(), before);
  EXPECT_EQ(FileBytes(UndoOf("bare.rec")), stale);

  // The undo does not write it either, and keeps it.
  script.ExpectMsgBox("does not belong", ui::Answer::OK);
  EXPECT_EQ(commands::FSUndoAddRECHeader(0, Index("bare.rec")), RecHeaderResult::UndoMismatch);
  EXPECT_EQ(Snapshot(), before);
  EXPECT_TRUE(Exists(UndoOf("bare.rec")));
  EXPECT_TRUE(script.AllAnswered());
  (void)c;
}

TEST_F(RecHeaderTest, AShortUndoCopyIsNotRestored) {
  ASSERT_EQ(commands::FSAddRECHeader(0, Index("bare.rec")), RecHeaderResult::Done);
  std::vector<uint8_t> saved = FileBytes(UndoOf("bare.rec"));
  saved.resize(saved.size() - 512);
  ib::WriteWholeFile(UndoOf("bare.rec"), std::string(saved.begin(), saved.end()));
  const std::vector<uint8_t> before = Snapshot();
  script.ExpectMsgBox("does not belong", ui::Answer::OK);
  EXPECT_EQ(commands::FSUndoAddRECHeader(0, Index("bare.rec")), RecHeaderResult::UndoMismatch);
  EXPECT_EQ(Snapshot(), before);
  EXPECT_TRUE(R("bare.rec").HasRecHeader);
}

TEST_F(RecHeaderTest, AFirstClusterThatIsNotTheRecordingsOwnIsNotTouched) {
  const std::vector<uint8_t> before = Snapshot();
  // Pointing at a folder's cluster.
  R("bare.rec").StartCluster = int32_t(Rec("\\DataFiles\\Sub").StartCluster);
  EXPECT_EQ(commands::FSAddRECHeader(0, Index("bare.rec")), RecHeaderResult::BadEntry);
  // An empty recording has no first cluster.
  R("UPPER.REC").ClusterCount = 0;
  R("UPPER.REC").StartCluster = 0;
  EXPECT_EQ(commands::FSAddRECHeader(0, Index("UPPER.REC")), RecHeaderResult::BadEntry);
  EXPECT_EQ(Snapshot(), before);
}

// A recording whose first cluster another entry's chain reaches (its entry
// starts inside bare.rec's chain, or on bare.rec's own first cluster) gets
// no header: the header would overwrite the other recording's data.
TEST_F(RecHeaderTest, NoHeaderOnAFirstClusterAnotherEntryReaches) {
  const core::FileRec bare = R("bare.rec");
  const int32_t second = core::Disk[0].FAT[size_t(bare.StartCluster)].Next;
  ASSERT_GT(second, 0);
  for (const int32_t start : {second, bare.StartCluster}) {
    const core::FileRec upper = R("UPPER.REC");
    std::vector<uint8_t> slot = Image().ReadSlot(uint32_t(upper.DirCluster), upper.Slot);
    ib::PutBE32(&slot[8], uint32_t(start));
    Image().WriteSlot(uint32_t(upper.DirCluster), upper.Slot, slot);
    Reload();
    const std::vector<uint8_t> before = Snapshot();
    for (const char* name : {"UPPER.REC", "bare.rec"}) {
      if (start == second && std::string(name) == "bare.rec") continue;   // its own chain
      EXPECT_EQ(commands::FSAddRECHeader(0, Index(name)), RecHeaderResult::BadEntry) << name;
      EXPECT_FALSE(Exists(UndoOf(name))) << name;
    }
    EXPECT_EQ(Snapshot(), before);
  }
}

TEST_F(RecHeaderTest, AFailedReadWritesNothing) {
  // The image ends before the recording's first cluster.
  const uint32_t c = FirstCluster("\\DataFiles\\UPPER.REC");
  ASSERT_EQ(::truncate(DrivePath(0).c_str(), off_t(uint64_t(c) * kClusterBytes)), 0);
  const std::vector<uint8_t> before = Snapshot();
  EXPECT_EQ(commands::FSAddRECHeader(0, Index("UPPER.REC")), RecHeaderResult::ReadFailed);
  EXPECT_FALSE(Exists(UndoOf("UPPER.REC")));
  EXPECT_EQ(Snapshot(), before);
}

// ---------------------------------------------------------- the menu commands

class RecHeaderMenuTest : public form1test::PaneTest {
 protected:
  // The standard disk plus \\DataFiles\\stream.rec, a recording without header.
  static ib::DiskImage ImageWithHeaderlessStream() {
    ib::DiskImage image = form1test::StandardImage();
    ib::FileSpec ts;
    ts.Path = "\\DataFiles\\stream.rec";
    ts.Data = ib::Content::SampleTs();
    ts.Size = 600000;
    image.AddFile(ts);
    return image;
  }
};

TEST_F(RecHeaderMenuTest, AddAndUndoThroughTheDiskMenu) {
  ib::DiskImage image = ImageWithHeaderlessStream();
  StandardPanes(image);
  Flags() |= core::FlagWriteMode | core::FlagSide0Writable;
  form->SelectDirectory(0, "\\DataFiles\\");
  const QString stream = KeyOf(0, "stream.rec");
  const QString good = KeyOf(0, "good.rec");
  ASSERT_FALSE(stream.isEmpty());
  form->LV1[0]->SetChecked(stream, true);
  form->LV1[0]->SetChecked(good, true);
  const std::string drive = DrivePath(1);
  const std::string before = ib::ReadWholeFile(drive);

  form->Menu_Disk_AddREC_Click();
  EXPECT_EQ(form->CountSelected(0), 0);
  EXPECT_FALSE(script.Busy());
  // Reloaded: the recording now has its header.
  int index = -1;
  for (int i = 0; i < core::Disk[0].FileCount; ++i)
    if (core::Disk[0].Files[size_t(i)].Name == "\\DataFiles\\stream.rec") index = i;
  ASSERT_GE(index, 0);
  EXPECT_TRUE(core::Disk[0].Files[size_t(index)].HasRecHeader);
  const std::string undo = commands::RECUndoFile(0, core::Disk[0].Files[size_t(index)].StartCluster);
  EXPECT_TRUE(Exists(undo));
  EXPECT_TRUE(form->Menu_Disk_UndoAddREC->isEnabled());
  EXPECT_NE(ib::ReadWholeFile(drive), before);

  form->LV1[0]->SetChecked(KeyOf(0, "stream.rec"), true);
  form->Menu_Disk_UndoAddREC_Click();
  EXPECT_FALSE(Exists(undo));
  EXPECT_FALSE(core::Disk[0].Files[size_t(index)].HasRecHeader);
  EXPECT_FALSE(form->Menu_Disk_UndoAddREC->isEnabled());
  EXPECT_EQ(ib::ReadWholeFile(drive), before);
  EXPECT_EQ(form->CountSelected(0), 0);
}

TEST_F(RecHeaderMenuTest, NothingHappensOutsideWriteMode) {
  ib::DiskImage image = ImageWithHeaderlessStream();
  StandardPanes(image);
  form->SelectDirectory(0, "\\DataFiles\\");
  form->LV1[0]->SetChecked(KeyOf(0, "stream.rec"), true);
  const std::string before = ib::ReadWholeFile(DrivePath(1));
  form->Menu_Disk_AddREC_Click();
  EXPECT_EQ(ib::ReadWholeFile(DrivePath(1)), before);
}

}  // namespace
