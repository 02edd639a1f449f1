// Commands of the file lists' context menu on the pane in ActiveSide: the
// transfer jobs, refresh, rename, a new folder, and the four selection
// commands.
#include <QString>
#include <algorithm>
#include <string>

#include "core/disk_load.h"
#include "core/disk_model.h"
#include "core/erase.h"
#include "core/error_handler.h"
#include "core/pc_helpers.h"
#include "mainwindow/form1.h"
#include "mainwindow/jobs.h"
#include "transfer/file_create.h"

namespace mainwindow {

JobTable& Jobs() {
  static JobTable table;
  return table;
}

namespace {

bool IsParentKey(const QString& key) { return key.startsWith("D..", Qt::CaseInsensitive); }

int Side() { return ActiveSide == 1 ? 1 : 0; }

// The number a text begins with (0 when it begins with no digit); very long
// digit runs stop counting before they overflow.
int64_t LeadingNumber(const std::string& text) {
  int64_t n = 0;
  for (char c : text) {
    if (c < '0' || c > '9') break;
    if (n > 100000000) break;
    n = n * 10 + (c - '0');
  }
  return n;
}

// The number of the next "New folder NN" of a side: one above the highest
// number any "new folder..." entry carries (any case; a name without a
// number counts as 0).
int64_t NextNewFolderNumber(int side) {
  const core::DiskRec& d = core::Disk[side];
  const char* separators = core::IsPCSide(side) ? core::kPcSeparator : core::kRecorderSeparator;
  int64_t highest = 0;
  const size_t count = std::min(size_t(std::max(d.FileCount, 0)), d.Files.size());
  for (size_t i = 0; i < count; ++i) {
    const core::FileRec& r = d.Files[i];
    if (r.Name == core::kErasedName) continue;
    std::string path = r.Name;
    if (core::IsPCSide(side) && path.size() > 1 && path.back() == '/') path.pop_back();
    std::string folder, name, ext;
    core::SeparatePathComponents(path, folder, name, ext, separators);
    if (name.size() < 10) continue;
    std::string head = name.substr(0, 10);
    for (char& c : head)
      if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    if (head != "new folder") continue;
    highest = std::max(highest, name.size() > 11 ? LeadingNumber(name.substr(11)) : 0);
  }
  return highest + 1;
}

}  // namespace

void Form1::Menu_LVContext_Copy_Click() {
  core::ProcScope scope("Menu_LVContext_Copy_Click");
  Jobs().Copy(Side(), false);
  ReturnFocus(Side());
}

void Form1::Menu_LVContext_Move_Click() {
  core::ProcScope scope("Menu_LVContext_Move_Click");
  Jobs().Copy(Side(), true);
  ReturnFocus(Side());
}

void Form1::Menu_LVContext_Erase_Click() {
  core::ProcScope scope("Menu_LVContext_Erase_Click");
  Jobs().Erase(Side());
  ReturnFocus(Side());
}

void Form1::Menu_LVContext_ScanStream_Click() {
  core::ProcScope scope("Menu_LVContext_ScanStream_Click");
  Jobs().Scan(Side());
  ReturnFocus(Side());
}

void Form1::Menu_LVContext_Refresh_Click() {
  core::ProcScope scope("Menu_LVContext_Refresh_Click");
  const int s = Side();
  if (core::DiskId[s] == core::kNoDisk) return;
  core::LoadTopf(s, false);
  ShowDirList(s);
  SetDefaultPCDir();
  ShowFileList(s);
}

void Form1::Menu_LVContext_Rename_Click() {
  core::ProcScope scope("Menu_LVContext_Rename_Click");
  const int s = Side();
  const QString key = LV1[s]->SelectedKey();
  if (key.isEmpty()) return;
  LV1[s]->StartLabelEdit(key);
}

void Form1::Menu_LVContext_CreateSubDir_Click() {
  core::ProcScope scope("Menu_LVContext_CreateSubDir_Click");
  const int s = Side();
  // Nothing is created where nothing may be written.
  if (core::DiskId[s] == core::kNoDisk || !SideWritable(s) || AtRecorderRoot(s)) return;

  const int64_t n = NextNewFolderNumber(s);
  core::FSRecalculateDirSizes(s, core::kDirSizesClear, 0);
  const std::string number = n < 10 ? "0" + std::to_string(n) : std::to_string(n);
  const std::string newName = "New folder " + number;
  const QString label = PathLabel(s);
  const std::string folder = core::IsPCSide(s) ? KeyToPc(label) : DisplayToRecorder(label);
  transfer::FSCreateDir(s, folder + newName, folder);
  // A PC side is listed again once, with the new folder in it.
  if (core::IsPCSide(s)) core::LoadTopf(s, true);

  ShowDirList(s);
  ShowFileList(s);
  const QString shown = QString::fromStdString(newName);
  QString found;
  for (const QString& key : LV1[s]->Keys()) {
    if (LV1[s]->Text(key) == shown) {
      found = key;
      break;
    }
  }
  if (!found.isEmpty()) LV1[s]->SetSelectedKey(found);
  core::FSRecalculateDirSizes(s, core::kDirSizesRun, 0);
  // The other pane of the same disk takes the new folder and its cluster at
  // once: with its older FAT a copy through it would take that cluster.
  const int o = core::OtherSide(s);
  if (!core::IsPCSide(s) && core::SameDisk()) {
    core::LoadTopf(o, false);
    ShowDirList(o);
    if (PathLabel(0) == PathLabel(1)) ShowFileList(o);
  }
  // The user names the new folder at once; no other item is opened for
  // editing when it is not there.
  if (!found.isEmpty()) LV1[s]->StartLabelEdit(found);
}

void Form1::Menu_LVContext_SelectAll_Click() {
  core::ProcScope scope("Menu_LVContext_SelectAll_Click");
  const int s = Side();
  for (const QString& key : LV1[s]->Keys())
    if (!IsParentKey(key)) LV1[s]->SetChecked(key, true);
  ResetSummary(s);
}

void Form1::Menu_LVContext_SelectNone_Click() {
  core::ProcScope scope("Menu_LVContext_SelectNone_Click");
  const int s = Side();
  for (const QString& key : LV1[s]->Keys())
    if (!IsParentKey(key)) LV1[s]->SetChecked(key, false);
  ResetSummary(s);
}

void Form1::Menu_LVContext_SelectToggle_Click() {
  core::ProcScope scope("Menu_LVContext_SelectToggle_Click");
  const int s = Side();
  for (const QString& key : LV1[s]->Keys())
    if (!IsParentKey(key)) LV1[s]->SetChecked(key, !LV1[s]->Checked(key));
  ResetSummary(s);
}

void Form1::Menu_LVContext_SelectUncrypted_Click() {
  core::ProcScope scope("Menu_LVContext_SelectUncrypted_Click");
  const int s = Side();
  const core::DiskRec& d = core::Disk[s];
  for (const QString& key : LV1[s]->Keys()) {
    if (key.startsWith('D', Qt::CaseInsensitive)) continue;
    const int index = IndexFromKey(key);
    bool pick = false;
    if (index >= 0 && index < d.FileCount && size_t(index) < d.Files.size()) {
      const core::FileRec& r = d.Files[size_t(index)];
      const bool crypted = r.CryptValid && r.CryptFlags != 0 && r.CryptFlags != 2;
      pick = !crypted && r.ServiceType == 0;
    }
    LV1[s]->SetChecked(key, pick);
  }
  ResetSummary(s);
}

}  // namespace mainwindow
