// End to end: the real Quenbrix program, headless under a script, copies a
// recording from a demo image to a PC folder and the copy back onto the
// image; the bytes are compared afterwards.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "core/disk_init.h"
#include "core/disk_io.h"
#include "core/disk_load.h"
#include "core/disk_model.h"
#include "core/settings.h"
#include "platform/platform.h"
#include "tests/support/image_builder.h"

namespace {

namespace ib = imagebuilder;

std::string RunCommand(const std::string& command, int& status) {
  std::string out;
  FILE* p = popen(command.c_str(), "r");
  if (!p) return out;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  const int rc = pclose(p);
  status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  return out;
}

std::string AppFile(const std::string& name) { return std::string(QUENBRIX_APPDIR) + "/" + name; }

bool ProgramsBuilt() {
  return platform::FileLength(AppFile("Quenbrix")) >= 0 && platform::FileLength(AppFile("MakeDemoImage")) >= 0;
}

// Opens and loads PhysicalDrive0 of QUENBRIX_DEVICES afresh as drive 0.
void LoadDrive0() {
  core::ResetState();
  core::DiskId[0] = 0;
  ASSERT_TRUE(core::InitTopf(0, "PhysicalDrive0", false));
  ASSERT_TRUE(core::LoadTopf(0, true));
}

// Makes a demo image in `devices` (with the maker's `options`) and loads it.
void MakeAndLoadDemo(const ib::TempDir& devices, const std::string& options) {
  int status = 0;
  RunCommand("'" + AppFile("MakeDemoImage") + "' " + options + "'" + devices.Path() + "'", status);
  ASSERT_EQ(status, 0);
  setenv("QUENBRIX_DEVICES", devices.Path().c_str(), 1);
  LoadDrive0();
}

// Runs Quenbrix headless under the script appdir/run.txt on the images of
// `devices`; returns all it printed.
std::string RunQuenbrix(const ib::TempDir& appdir, const ib::TempDir& devices, int& status) {
  return RunCommand("QT_QPA_PLATFORM=offscreen QUENBRIX_UI_SCRIPT='" + appdir / "run.txt" +
                        "' QUENBRIX_DEVICES='" + devices.Path() + "' QUENBRIX_APPDIR='" + appdir.Path() + "' '" +
                        AppFile("Quenbrix") + "' 2>&1",
                    status);
}

TEST(CopyEndToEnd, RecordingToPcAndBackKeepsItsBytes) {
  if (!ProgramsBuilt()) GTEST_SKIP() << "Quenbrix or MakeDemoImage not built";
  ib::TempDir devices("e2edev"), appdir("e2eapp"), pc("e2epc");
  int status = 0;
  ASSERT_NO_FATAL_FAILURE(MakeAndLoadDemo(devices, ""));
  const std::string image = devices / "PhysicalDrive0";

  // What the image holds: the smallest recording of \DataFiles and a folder
  // to copy it back into.
  int rec = -1;
  std::string backFolder;
  const core::DiskRec& d = core::Disk[0];
  for (int i = 0; i < d.FileCount; ++i) {
    const core::FileRec& r = d.Files[size_t(i)];
    const std::string& n = r.Name;
    const bool inDataFiles = n.rfind("\\DataFiles\\", 0) == 0 && n.find('\\', 11) == std::string::npos;
    if (!r.IsDir && inDataFiles && r.HasRecHeader && (rec < 0 || r.Size < d.Files[size_t(rec)].Size)) rec = i;
    if (r.IsDir && n.rfind("\\DataFiles\\", 0) == 0 && backFolder.empty()) backFolder = n + "\\";
  }
  ASSERT_GE(rec, 0);
  ASSERT_FALSE(backFolder.empty());
  const std::string recName = d.Files[size_t(rec)].Name.substr(11);
  const double recSize = d.Files[size_t(rec)].Size;
  core::CloseDisk(d.Handle);
  core::ResetState();

  ib::WriteWholeFile(appdir / "Quenbrix.ini",
                     "[View]\r\nWriteMode=1\r\nWriteModeDisclaimer=1\r\n[Copy]\r\nDestination=" +
                         pc.Path() + "/\r\n");
  const std::string script =
      "# copy the recording to the PC folder, then back into another folder\n"
      "node TV1_0 \\DataFiles\\\n"
      "check LV1_0 i" + std::to_string(rec) + "\n"
      "click Command1_1\n"
      "print LV1_1\n"
      "node TV1_0 " + backFolder + "\n"
      "check LV1_1 i0\n"
      "click Command1_3\n"
      "print LV1_0\n";
  ib::WriteWholeFile(appdir / "run.txt", script);
  const std::string out = RunQuenbrix(appdir, devices, status);
  EXPECT_EQ(status, 0) << out;
  EXPECT_EQ(out.find("UNANSWERED"), std::string::npos) << out;

  // The PC copy has the recording's size, and the copy on the image the
  // same bytes as the PC copy.
  std::string pcName;
  for (char c : recName) pcName += c;   // demo names are plain ASCII
  const std::string pcPath = pc / pcName;
  ASSERT_EQ(platform::FileLength(pcPath), int64_t(recSize)) << out;
  ASSERT_NO_FATAL_FAILURE(LoadDrive0());
  int back = -1;
  for (int i = 0; i < core::Disk[0].FileCount; ++i)
    if (core::Disk[0].Files[size_t(i)].Name == backFolder + recName) back = i;
  ASSERT_GE(back, 0) << out;
  const core::FileRec& b = core::Disk[0].Files[size_t(back)];
  EXPECT_EQ(b.Size, recSize);
  ib::ImageFile img(image);
  std::string bytes;
  for (uint32_t c = uint32_t(b.StartCluster), k = 0; k < uint32_t(b.ClusterCount); ++k) {
    std::vector<uint8_t> raw = img.ReadClusterRaw(c + 1);
    ib::SwapWords(raw.data(), raw.size());
    bytes.append(reinterpret_cast<const char*>(raw.data()), raw.size());
    c = img.FatEntry(c);
  }
  bytes.resize(size_t(recSize));
  EXPECT_TRUE(bytes == ib::ReadWholeFile(pcPath));
  core::CloseDisk(core::Disk[0].Handle);
  core::ResetState();
}

}  // namespace

namespace {

// The progress window in a scripted run: a copy cancelled there at once
// ("Yes" to the cancel question) leaves no part of the recording behind.
TEST(CopyEndToEnd, CancelInTheProgressWindowLeavesNoPartialFile) {
  if (!ProgramsBuilt()) GTEST_SKIP() << "Quenbrix or MakeDemoImage not built";
  ib::TempDir devices("e2edev"), appdir("e2eapp"), pc("e2epc");
  int status = 0;
  ASSERT_NO_FATAL_FAILURE(MakeAndLoadDemo(devices, "--no-hint "));

  // The largest recording of the image: many clusters, many chances to cancel.
  int rec = -1;
  const core::DiskRec& d = core::Disk[0];
  for (int i = 0; i < d.FileCount; ++i)
    if (!d.Files[size_t(i)].IsDir && (rec < 0 || d.Files[size_t(i)].Size > d.Files[size_t(rec)].Size))
      rec = i;
  ASSERT_GE(rec, 0);
  const std::string name = d.Files[size_t(rec)].Name;
  const int64_t size = int64_t(d.Files[size_t(rec)].Size);
  const std::string folder = name.substr(0, name.rfind('\\') + 1);
  core::CloseDisk(d.Handle);
  core::ResetState();

  ib::WriteWholeFile(appdir / "Quenbrix.ini", "[Copy]\r\nDestination=" + pc.Path() + "/\r\n");
  ib::WriteWholeFile(appdir / "run.txt",
                     "node TV1_0 " + folder + "\n"
                     "check LV1_0 i" + std::to_string(rec) + "\n"
                     "click Command1_1\n"
                     // One step at each event processing of the job: the
                     // cancel comes a few clusters into the recording.
                     "print Form2.Label1_0\n"
                     "print Form2.Label1_0\n"
                     "print Form2.Label1_0\n"
                     "print Form2.Label1_0\n"
                     "print Form2.PB1_0\n"
                     "print Form2.PB1_0\n"
                     "print Form2.PB1_0\n"
                     "click Form2.Command1\n"
                     "answer Yes\n"
                     "print LV1_1\n");
  const std::string out = RunQuenbrix(appdir, devices, status);
  EXPECT_EQ(status, 0) << out;
  EXPECT_NE(out.find("MSGBOX\tCancel copy process\t"), std::string::npos) << out;
  EXPECT_NE(out.find("== Form2.Label1_0"), std::string::npos) << out;
  // Whatever the cancel met, nothing but a whole copy may be left.
  std::vector<platform::FolderEntry> left;
  ASSERT_TRUE(platform::ListFolder(pc.Path(), left));
  for (const platform::FolderEntry& e : left)
    EXPECT_EQ(platform::FileLength(pc / e.Name), size) << e.Name << "\n" << out;
  core::ResetState();
}

}  // namespace
