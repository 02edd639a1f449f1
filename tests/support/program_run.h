// End-to-end runs of the real programs: a demo disk image of their own, a
// program folder with settings and a PC folder, the program driven headless
// by a script, and what the disk and the PC folder hold afterwards.
//
//   programrun::Bench bench;                 // demo image, write mode on
//   auto run = bench.Quenbrix("node TV1_0 \\DataFiles\\\n...");
//   EXPECT_EQ(bench.Recordings(), before);   // every recording, whole
//   EXPECT_EQ(bench.CheckFindings(), "");    // the disk passes the check
//
// Header only: the program folder comes from the test's QUENBRIX_APPDIR.
#pragma once

#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>

#include "core/disk_init.h"
#include "core/disk_io.h"
#include "core/disk_load.h"
#include "core/disk_model.h"
#include "core/fsck.h"
#include "platform/platform.h"
#include "tests/support/image_builder.h"
#include "ui/scripted_ui.h"

namespace programrun {

namespace ib = imagebuilder;

struct Result {
  int Status = -1;    // exit status; -1 when the program died of a signal
  std::string Out;    // standard output and standard error
};

inline Result RunCommand(const std::string& command) {
  Result result;
  FILE* p = popen(command.c_str(), "r");
  if (!p) return result;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) result.Out.append(buf, n);
  const int rc = pclose(p);
  result.Status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  return result;
}

// "" when a scripted run ended as a sound run ends: status 0, every prompt
// answered, every step carried out, the disk's link never lost; else what
// went wrong.
inline std::string RunFaults(const Result& run) {
  std::string faults;
  if (run.Status != 0) faults += "status " + std::to_string(run.Status) + "; ";
  for (const char* text : {"UNANSWERED", "SCRIPT ERROR", "lost the link"})
    if (run.Out.find(text) != std::string::npos) faults += std::string(text) + "; ";
  return faults;
}

// The name of a table row (run, act, event processings before the act):
// "CopyToPc" "CancelYes" "After2"; a delay below 0 (one the test works out
// itself) is "AtEnd".
template <class Runs, class Acts>
auto RowName(const Runs& runs, const Acts& acts) {
  return [&runs, &acts](const auto& info) {
    const auto& [run, act, delay] = info.param;
    return std::string(runs[run].Name) + acts[act].Name +
           (delay < 0 ? std::string("AtEnd") : "After" + std::to_string(delay));
  };
}

inline std::string AppFile(const std::string& name) {
  return std::string(QUENBRIX_APPDIR) + "/" + name;
}

inline bool ProgramsBuilt() {
  return platform::FileLength(AppFile("Quenbrix")) >= 0 &&
         platform::FileLength(AppFile("Morvessantix")) >= 0 &&
         platform::FileLength(AppFile("MakeDemoImage")) >= 0;
}

// 64-bit FNV-1a over 8-byte words, then the last bytes: enough to tell
// whether bytes changed, and quick in a sanitizer build.
inline uint64_t Fingerprint(const std::string& bytes) {
  uint64_t hash = 1469598103934665603ull;
  size_t k = 0;
  for (uint64_t word; k + 8 <= bytes.size(); k += 8) {
    std::memcpy(&word, bytes.data() + k, 8);
    hash = (hash ^ word) * 1099511628211ull;
  }
  for (; k < bytes.size(); ++k) hash = (hash ^ uint8_t(bytes[k])) * 1099511628211ull;
  return hash;
}

// A file of a disk or of the PC folder: its size and its bytes' fingerprint.
struct FileState {
  int64_t Size = 0;
  uint64_t Bytes = 0;
  bool operator==(const FileState&) const = default;
};
using Files = std::map<std::string, FileState>;

// What a run may do beyond adding whole copies (Faults below).
struct Allowance {
  bool Remove = false;  // a recording may be gone (an erase)
  bool Move = false;    // a recording may be gone from its name when it is whole under another
};

// What a run in the middle of which the user acted has left: "" when it is
// sound, else each fault on a line of its own. Every recording that was
// there before is still there with its bytes, or gone as `allow` lets it;
// every file of the disk and of the PC folder is either as it was or a
// whole copy of a file that was there (no partial file under a final name).
inline std::string Faults(const Files& before, const Files& after, const Files& pcBefore,
                          const Files& pcAfter, Allowance allow) {
  std::string faults;
  auto wholeCopy = [&](const FileState& state) {
    for (const Files* files : {&before, &pcBefore})
      for (const auto& [name, was] : *files)
        if (was == state) return true;
    return false;
  };
  auto movedAway = [&](const FileState& state) {
    for (const auto& [name, now] : after)
      if (!before.count(name) && now == state) return true;
    return false;
  };
  for (const auto& [name, was] : before) {
    const auto now = after.find(name);
    if (now == after.end() ? !allow.Remove && !(allow.Move && movedAway(was)) : !(now->second == was))
      faults += name + (now == after.end() ? ": gone\n" : ": changed\n");
  }
  for (const Files* files : {&after, &pcAfter})
    for (const auto& [name, state] : *files) {
      const Files& was = files == &after ? before : pcBefore;
      const auto old = was.find(name);
      if ((old == was.end() || !(old->second == state)) && !wholeCopy(state))
        faults += name + ": not a whole copy (" + std::to_string(state.Size) + " bytes)\n";
    }
  return faults;
}
inline std::string Faults(const Files& before, const Files& after, const Files& pcBefore,
                          const Files& pcAfter, bool mayRemove = false) {
  return Faults(before, after, pcBefore, pcAfter, Allowance{mayRemove});
}

// The demo image of this build's MakeDemoImage with `makerOptions`, made
// once for all the tests (a folder of the system's temporary folder named
// by the maker's size and time and the options): each bench takes a sparse
// copy, which is quicker than making it anew.
inline std::string DemoTemplate(const std::string& makerOptions) {
  const std::string maker = AppFile("MakeDemoImage");
  struct stat info {};
  if (stat(maker.c_str(), &info) != 0) return "";
  const std::string key = std::to_string(info.st_size) + "-" + std::to_string(info.st_mtime) +
                          "-" + std::to_string(Fingerprint(makerOptions + maker));
  const std::string folder = std::filesystem::temp_directory_path() / ("quenbrix-demo-" + key);
  const std::string image = folder + "/PhysicalDrive0";
  if (platform::FileLength(image) > 0) return image;
  // Made aside and renamed in whole: tests running side by side never see
  // half an image; the one that comes second drops its own.
  std::string made = folder + ".XXXXXX";
  if (mkdtemp(made.data()) == nullptr) return "";
  if (RunCommand("'" + maker + "' " + makerOptions + "'" + made + "' 2>&1").Status != 0 ||
      rename(made.c_str(), folder.c_str()) != 0)
    RunCommand("rm -rf '" + made + "'");
  return platform::FileLength(image) > 0 ? image : "";
}

class Bench {
 public:
  // `makerOptions`: options of MakeDemoImage ("--no-hint "); `settings`:
  // extra lines of Quenbrix.ini after the write-mode and PC-folder ones.
  explicit Bench(const std::string& makerOptions = "", const std::string& settings = "")
      : devices_("e2edev"), app_("e2eapp"), pc_("e2epc") {
    const std::string demo = DemoTemplate(makerOptions);
    made_ = !demo.empty() &&
            RunCommand("cp --sparse=always '" + demo + "' '" + Image() + "' 2>&1").Status == 0;
    ib::WriteWholeFile(app_ / "Quenbrix.ini",
                       "[View]\r\nWriteMode=1\r\nWriteModeDisclaimer=1\r\n[Copy]\r\nDestination=" +
                           pc_.Path() + "/\r\n" + settings);
  }

  bool Made() const { return made_; }
  const ib::TempDir& Devices() const { return devices_; }
  const ib::TempDir& App() const { return app_; }
  const ib::TempDir& Pc() const { return pc_; }
  std::string Image() const { return devices_ / "PhysicalDrive0"; }

  // Runs a program of the program folder headless under `script`.
  Result Run(const std::string& program, const std::string& script,
             const std::string& arguments = "") const {
    ib::WriteWholeFile(app_ / "run.txt", script);
    // In a sanitizer build the program's memory faults end it; its leaks at
    // the end are not looked for: which of Qt's timers are still pending
    // when the program quits depends on the machine's load.
    return RunCommand("cd '" + app_.Path() + "' && ASAN_OPTIONS=\"${ASAN_OPTIONS:+$ASAN_OPTIONS:}"
                      "detect_leaks=0\" QT_QPA_PLATFORM=offscreen QUENBRIX_UI_SCRIPT='" +
                      app_ / "run.txt" + "' QUENBRIX_DEVICES='" + devices_.Path() +
                      "' QUENBRIX_APPDIR='" + app_.Path() + "' timeout -s KILL 300 '" +
                      AppFile(program) + "' " + arguments + " 2>&1");
  }
  Result Quenbrix(const std::string& script) const { return Run("Quenbrix", script); }

  // Every file of the recorder disk (folders left out) by its full name;
  // bytes read along the FAT chain of the image itself.
  Files Recordings() const {
    Files files;
    Load([&](const core::DiskRec& d) {
      ib::ImageFile image(Image());
      for (int i = 0; i < d.FileCount; ++i) {
        const core::FileRec& r = d.Files[size_t(i)];
        if (r.IsDir) continue;
        std::string bytes;
        uint32_t cluster = uint32_t(r.StartCluster);
        for (int32_t k = 0; k < r.ClusterCount && bytes.size() < uint64_t(r.Size); ++k) {
          // The disk keeps 32-bit words byte-swapped.
          std::vector<uint8_t> raw = image.ReadClusterRaw(cluster + 1);
          for (size_t w = 0; w + 4 <= raw.size(); w += 4) {
            uint32_t word;
            std::memcpy(&word, raw.data() + w, 4);
            word = __builtin_bswap32(word);
            std::memcpy(raw.data() + w, &word, 4);
          }
          bytes.append(reinterpret_cast<const char*>(raw.data()), raw.size());
          cluster = image.FatEntry(cluster);
        }
        bytes.resize(size_t(r.Size));
        files[r.Name] = {int64_t(r.Size), Fingerprint(bytes)};
      }
    });
    return files;
  }

  // The key of a file or folder in a pane's list ("i" or "D" and its place
  // in the loaded disk); "" when the disk has no such entry.
  std::string ListKey(const std::string& name) const {
    std::string key;
    Load([&](const core::DiskRec& d) {
      for (int i = 0; i < d.FileCount; ++i)
        if (d.Files[size_t(i)].Name == name)
          key = (d.Files[size_t(i)].IsDir ? "D" : "i") + std::to_string(i);
    });
    return key;
  }

  // Every file of the PC folder and its subfolders, by its path under it.
  Files PcFiles() const {
    Files files;
    AddPcFiles(pc_.Path(), "", files);
    return files;
  }

  // "" when the disk passes the file-system check; else the findings.
  std::string CheckFindings() const {
    std::string findings;
    Load([&](const core::DiskRec&) {
      ui::ScriptedUi quiet;
      ui::CurrentUiScope use(quiet);
      if (core::FSCK(0)) return;
      for (int step = 1; step < core::kFsckSteps; ++step)
        if (core::FsckResults[step].Status == 2)
          findings += "step " + std::to_string(step) + ": " + core::FsckResults[step].Text + "; ";
      if (findings.empty()) findings = "check failed";
    });
    return findings;
  }

  // Runs `body` on the bench's disk as the program loads it.
  template <class Body>
  void Load(Body&& body) const {
    ui::ScriptedUi quiet;
    ui::CurrentUiScope use(quiet);
    setenv("QUENBRIX_DEVICES", devices_.Path().c_str(), 1);
    core::ResetState();
    core::DiskId[0] = 0;
    if (core::InitTopf(0, "PhysicalDrive0", false) && core::LoadTopf(0, true)) body(core::Disk[0]);
    if (core::Disk[0].Handle >= 1) core::CloseDisk(core::Disk[0].Handle);
    core::ResetState();
  }

 private:
  static void AddPcFiles(const std::string& folder, const std::string& prefix, Files& files) {
    std::vector<platform::FolderEntry> entries;
    if (!platform::ListFolder(folder, entries)) return;
    for (const platform::FolderEntry& e : entries) {
      const std::string path = folder + "/" + e.Name;
      if (e.IsDir) {
        AddPcFiles(path, prefix + e.Name + "/", files);
      } else {
        const std::string bytes = ib::ReadWholeFile(path);
        files[prefix + e.Name] = {int64_t(bytes.size()), Fingerprint(bytes)};
      }
    }
  }

  ib::TempDir devices_, app_, pc_;
  bool made_ = false;
};

}  // namespace programrun
