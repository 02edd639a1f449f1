// FAT text export and import through the Expert menu, on builder images.
#include <gtest/gtest.h>

#include "commands/fat_text.h"
#include "core/disk_model.h"
#include "tests/mainwindow/form1_pane_fixture.h"

namespace {

namespace ib = imagebuilder;
using commands::FatTextLine;
using form1test::PaneTest;

std::vector<FatTextLine> Parse(const std::string& text, int32_t last, std::string* error = nullptr) {
  std::vector<FatTextLine> lines;
  std::string why;
  const bool ok = commands::ParseClusterChainText(text, last, lines, why);
  if (error) *error = why;
  if (!ok) lines.clear();
  return lines;
}

bool Refused(const std::string& text, int32_t last = 100) {
  std::vector<FatTextLine> lines;
  std::string why;
  return !commands::ParseClusterChainText(text, last, lines, why) && !why.empty();
}

// The same in every locale.
using FatTextForms = testenv::InEachLocale;
INSTANTIATE_IN_EACH_LOCALE(FatTextForms);

TEST_P(FatTextForms, AreAccepted) {
  const auto lines = Parse(
      "000010 => eof\r\n000011 => -\r\n000012 => 11\r\n12 => 13\r\n\r\nEOF\r\n  14 => EoF  \n"
      "15 13\n16 => 11.6\n17 => 0\n",
      100);
  ASSERT_EQ(lines.size(), 8u);
  EXPECT_EQ(lines[0].Index, 10);
  EXPECT_EQ(lines[0].Next, -1);
  EXPECT_EQ(lines[1].Index, 11);
  EXPECT_EQ(lines[1].Next, 0);
  EXPECT_EQ(lines[2].Next, 11);
  EXPECT_EQ(lines[3].Index, 12);   // no leading zeros
  EXPECT_EQ(lines[3].Next, 13);
  EXPECT_EQ(lines[4].Index, 14);
  EXPECT_EQ(lines[4].Next, -1);
  EXPECT_EQ(lines[5].Index, 15);   // no arrow: first and last word
  EXPECT_EQ(lines[5].Next, 13);
  EXPECT_EQ(lines[6].Next, 12);    // a fraction is rounded
  EXPECT_EQ(lines[7].Next, 0);     // 0 is a free entry, as "-" is
  // A byte-order mark in front of the first line is no part of it.
  EXPECT_EQ(Parse("\xEF\xBB\xBF" "000001 => 2\n", 100).size(), 1u);
}

TEST(FatTextParse, RefusesEveryBadLineAndValue) {
  EXPECT_TRUE(Refused("131072 => 5\r\n", 0x1FFFF));   // beyond the FAT
  EXPECT_TRUE(Refused("131072 => 5\r\n"));
  EXPECT_TRUE(Refused("000005 => 101\r\n"));          // link beyond LastCluster
  EXPECT_TRUE(Refused("000101 => 131072\r\n"));       // link beyond the FAT
  // Lines beyond LastCluster (a dump's export) are taken, links there too.
  EXPECT_EQ(Parse("000101 => 5\r\n131071 => 131070\r\n", 100).size(), 2u);
  EXPECT_TRUE(Refused("000005 => -1\r\n"));
  EXPECT_TRUE(Refused("000005 => 3x\r\n"));
  EXPECT_TRUE(Refused("abc => 5\r\n"));
  EXPECT_TRUE(Refused("-5 => 5\r\n"));
  EXPECT_TRUE(Refused("000005 => END\r\n"));
  EXPECT_TRUE(Refused("Hello big world\r\n"));
  EXPECT_TRUE(Refused("99999999999999999999 => 5\r\n"));
  EXPECT_TRUE(Refused(""));                            // no FAT line at all
  EXPECT_TRUE(Refused("EOF\r\n\r\n"));
  // One bad line anywhere refuses the whole file.
  std::string error;
  EXPECT_TRUE(Parse("000001 => 2\r\n000002 => EOF\r\n000003 => x\r\n", 100, &error).empty());
  EXPECT_NE(error.find("line 3"), std::string::npos) << error;
}

class FatTextTest : public PaneTest {
 protected:
  void SetUp() override {
    PaneTest::SetUp();
    image = form1test::StandardImage();
    StandardPanes(image);
    ASSERT_GE(core::Disk[0].LastCluster, 60);
  }
  std::vector<uint8_t> SystemClusterRaw() {
    ib::ImageFile f(DrivePath(1));
    return f.ReadClusterRaw(0);
  }
  std::string TextPath(const std::string& name) { return pc_ + "/" + name; }

  ib::DiskImage image;
};

TEST_F(FatTextTest, ExportWritesOneLinePerIndexAndOpensTheFile) {
  const std::string path = TextPath("fat.txt");
  script.ExpectFile(path);
  form->Menu_Expert_ExportClusterChain->trigger();
  EXPECT_TRUE(script.AllAnswered());
  ASSERT_EQ(script.Prompts().size(), 1u);
  EXPECT_EQ(script.Prompts()[0].Kind, ui::PromptKind::SaveFile);
  EXPECT_EQ(script.Prompts()[0].Text, "Text files (*.txt)|*.txt|All files|*.*");
  ASSERT_EQ(script.OpenedFiles().size(), 1u);
  EXPECT_EQ(script.OpenedFiles()[0], path);

  // The expected text from the builder's own FAT.
  std::string expected;
  const int32_t last = core::Disk[0].LastCluster;
  for (int32_t i = 0; i <= last; ++i) {
    char index[16];
    std::snprintf(index, sizeof index, "%06d", i);
    const uint32_t v = image.FatValue(uint32_t(i));
    expected += std::string(index) + " => " +
                (v == ib::kFatFree ? std::string("-")
                 : v == ib::kFatEnd ? std::string("EOF")
                                    : std::to_string(v)) +
                "\r\n";
  }
  EXPECT_EQ(ib::ReadWholeFile(path), expected);
}

TEST_F(FatTextTest, CancelledDialogsDoNothing) {
  const auto before = SystemClusterRaw();
  script.ExpectFile("");
  form->Menu_Expert_ExportClusterChain->trigger();
  script.ExpectFile("");
  form->Menu_Expert_ImportFAT->trigger();
  EXPECT_TRUE(script.AllAnswered());
  EXPECT_TRUE(script.OpenedFiles().empty());
  EXPECT_EQ(SystemClusterRaw(), before);
}

TEST_F(FatTextTest, ExportThenImportRewritesTheSameFat) {
  const std::string path = TextPath("fat.txt");
  script.ExpectFile(path);
  form->Menu_Expert_ExportClusterChain->trigger();
  ib::ImageFile f(DrivePath(1));
  const uint32_t crc = f.SuperU32(ib::kSbFatCrc);
  const auto before = SystemClusterRaw();
  const uint64_t writes = core::SectorWriteCalls;
  script.ExpectFile(path);
  form->Menu_Expert_ImportFAT->trigger();
  EXPECT_TRUE(script.AllAnswered());
  EXPECT_GT(core::SectorWriteCalls, writes);   // the FAT was written
  EXPECT_EQ(SystemClusterRaw(), before);
  EXPECT_EQ(f.SuperU32(ib::kSbFatCrc), crc);
}

TEST_F(FatTextTest, ImportTakesOverLinksAndWritesBothFats) {
  const int32_t last = core::Disk[0].LastCluster;
  ASSERT_FALSE(image.IndexUsed(50));
  ASSERT_FALSE(image.IndexUsed(51));
  ib::ImageFile f(DrivePath(1));
  const uint32_t used = f.SuperU32(ib::kSbUsedClusters);
  const std::string path = TextPath("links.txt");
  ib::WriteWholeFile(path, "000050 => 51\r\n000051 => eof\r\n");
  script.ExpectFile(path);
  form->Menu_Expert_ImportFAT->trigger();
  EXPECT_TRUE(script.AllAnswered());
  EXPECT_EQ(f.FatEntry(50, 1), 51u);
  EXPECT_EQ(f.FatEntry(50, 2), 51u);
  EXPECT_EQ(f.FatEntry(51, 1), ib::kFatEnd);
  EXPECT_EQ(f.FatEntry(51, 2), ib::kFatEnd);
  EXPECT_EQ(f.SuperU32(ib::kSbUsedClusters), used + 2);
  EXPECT_EQ(f.SuperU32(ib::kSbUsedClusters, true), used + 2);
  EXPECT_EQ(f.SuperU32(ib::kSbFatCrc), f.ComputeFatCrc(uint32_t(last)));
  EXPECT_EQ(core::Disk[0].FAT[50].Next, 51);
  EXPECT_EQ(core::Disk[0].FAT[51].Next, -1);
  EXPECT_EQ(core::Disk[0].FAT[51].Prev, 50);   // predecessors follow the links

  // Freeing them again.
  ib::WriteWholeFile(path, "000050 => -\r\n000051 => -\r\n");
  script.ExpectFile(path);
  form->Menu_Expert_ImportFAT->trigger();
  EXPECT_EQ(f.FatEntry(50, 1), ib::kFatFree);
  EXPECT_EQ(f.FatEntry(51, 2), ib::kFatFree);
  EXPECT_EQ(f.SuperU32(ib::kSbUsedClusters), used);
  EXPECT_EQ(core::Disk[0].FAT[51].Prev, 0);
}

TEST_F(FatTextTest, RefusedImportsChangeNothing) {
  const int32_t last = core::Disk[0].LastCluster;
  const auto before = SystemClusterRaw();
  const std::vector<core::FatLink> memory = core::Disk[0].FAT;
  const std::vector<std::string> bad = {
      "000050 => 51\r\n000051 => EOF\r\n131072 => 5\r\n",
      "000050 => 51\r\n000051 => " + std::to_string(last + 1) + "\r\n",
      "000050 => 51\r\n000051 => x\r\n",
      "000050 => 51\r\nthis is not a FAT\r\n",
      "no fat here",
  };
  for (const std::string& text : bad) {
    const std::string path = TextPath("bad.txt");
    ib::WriteWholeFile(path, text);
    const uint64_t writes = core::SectorWriteCalls;
    script.ExpectFile(path).ExpectMsgBox("The FAT was not imported", ui::Answer::OK);
    form->Menu_Expert_ImportFAT->trigger();
    EXPECT_TRUE(script.AllAnswered()) << text;
    EXPECT_EQ(core::SectorWriteCalls, writes) << text;
    EXPECT_EQ(SystemClusterRaw(), before) << text;
    bool same = true;
    for (size_t i = 0; i < memory.size(); ++i)
      same = same && memory[i].Next == core::Disk[0].FAT[i].Next &&
             memory[i].Prev == core::Disk[0].FAT[i].Prev;
    EXPECT_TRUE(same) << text;
  }
  // A file that is not there.
  script.ExpectFile(TextPath("missing.txt")).ExpectMsgBox("cannot be read", ui::Answer::OK);
  form->Menu_Expert_ImportFAT->trigger();
  EXPECT_TRUE(script.AllAnswered());
  EXPECT_EQ(SystemClusterRaw(), before);
}

TEST_F(FatTextTest, ADumpsExportImportsOntoItsDiskBeyondLastClusterInMemoryOnly) {
  const int32_t last = core::Disk[0].LastCluster;
  // The export of the disk's dump: all 0x20000 indexes.
  core::Disk[0].LastCluster = 0x1FFFF;
  std::string text = commands::BuildClusterChainText(0);
  core::Disk[0].LastCluster = last;
  // One link beyond the disk's last cluster, as a dump may hold.
  text += std::to_string(last + 1) + " => " + std::to_string(last + 2) + "\r\n";
  const std::string path = TextPath("dump.txt");
  ib::WriteWholeFile(path, text);
  const auto before = SystemClusterRaw();
  script.ExpectFile(path);
  form->Menu_Expert_ImportFAT->trigger();
  EXPECT_TRUE(script.AllAnswered());
  EXPECT_TRUE(script.Prompts().size() == 1) << script.Prompts().back().Text;
  EXPECT_EQ(SystemClusterRaw(), before);   // the same FAT; nothing beyond LastCluster
  EXPECT_EQ(core::Disk[0].FAT[size_t(last + 1)].Next, last + 2);
  EXPECT_EQ(core::Disk[0].FAT[size_t(last + 2)].Prev, last + 1);
}

TEST_F(FatTextTest, DumpWithFullFatExports131072Lines) {
  // A dump is a disk of 0x20000 FAT indexes.
  core::Disk[0].LastCluster = 0x1FFFF;
  const std::string text = commands::BuildClusterChainText(0);
  size_t lines = 0;
  for (char c : text) lines += c == '\n';
  EXPECT_EQ(lines, 131072u);
  EXPECT_EQ(text.substr(text.size() - 13), "131071 => -\r\n");
}

}  // namespace
