// Events of the two file lists: focus and clicks, the context menu's state
// per item, check marks, opening folders, sorting by a column and renaming
// in place.
#include <QAction>
#include <QHeaderView>
#include <QMenu>
#include <QPushButton>
#include <algorithm>
#include <string>

#include "core/disk_load.h"
#include "core/disk_model.h"
#include "core/error_handler.h"
#include "core/pc_helpers.h"
#include "core/settings.h"
#include "mainwindow/context_rules.h"
#include "mainwindow/form1.h"
#include "transfer/entry_edits.h"
#include "ui/runs.h"
#include "ui/ui.h"

namespace mainwindow {

namespace {

// Where the last mouse press on each list was (list coordinates).
QPoint g_lastPress[2];

bool IsParentKey(const QString& key) { return key.compare("D..", Qt::CaseInsensitive) == 0; }
bool IsFileKey(const QString& key) { return key.startsWith('i', Qt::CaseInsensitive); }
bool IsFolderKey(const QString& key) { return key.startsWith('D', Qt::CaseInsensitive); }

// The record a list key names, or nullptr when the key names none.
const core::FileRec* RecordOf(int side, const QString& key) {
  const int index = Form1::IndexFromKey(key);
  const core::DiskRec& d = core::Disk[side];
  if (index < 0 || index >= d.FileCount || size_t(index) >= d.Files.size()) return nullptr;
  const core::FileRec& r = d.Files[size_t(index)];
  return r.Name == core::kErasedName ? nullptr : &r;
}

// Why a new name cannot be used; "" when it can. Checks the text as typed;
// the rename itself checks the stored form again.
std::string NameProblem(int side, int index, const std::string& newName) {
  if (newName == "." || newName == "..") return "\".\" and \"..\" are not names";
  for (char ch : newName) {
    const unsigned char c = static_cast<unsigned char>(ch);
    if (c == '\\' || c == '/') return "a name cannot hold \"\\\" or \"/\"";
    if (c < 0x20 || c == 0x7F) return "a name cannot hold control characters";
  }
  // No other entry of the same folder may have that name already (case
  // ignored on a recorder disk).
  const core::DiskRec& d = core::Disk[side];
  const bool pc = core::IsPCSide(side);
  const char* separators = pc ? core::kPcSeparator : core::kRecorderSeparator;
  std::string folder, name, ext;
  core::SeparatePathComponents(d.Files[size_t(index)].Name, folder, name, ext, separators);
  std::string wanted = folder + newName;
  auto fold = [pc](std::string s) {
    if (!pc)
      for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    return s;
  };
  wanted = fold(wanted);
  const size_t count = std::min(size_t(std::max(d.FileCount, 0)), d.Files.size());
  for (size_t j = 0; j < count; ++j) {
    if (int(j) == index) continue;
    const core::FileRec& r = d.Files[j];
    if (r.Name == core::kErasedName) continue;
    std::string name = r.Name;
    if (pc && name.size() > 1 && name.back() == '/') name.pop_back();
    if (fold(name) == wanted) return "an entry of that name exists already in this folder";
  }
  return std::string();
}

}  // namespace

ContextRules ComputeContextRules(const Form1& form, int side, const QString& key) {
  ContextRules r;
  const int o = 1 - side;
  const bool rootHere = form.AtRecorderRoot(side);
  const bool rootThere = form.AtRecorderRoot(o);
  r.Copy = !rootThere;
  r.CreateSubDir = !rootHere;
  r.Erase = !rootHere;
  r.Move = !rootHere && !rootThere;
  r.Refresh = true;
  r.Rename = !rootHere;
  r.EditFileDate = true;
  r.AutoSetFileDate = true;
  r.CryptSetters = core::DiskId[side] < 1;
  r.ScanStream = core::DiskId[side] < 1;
  if (!Form1::SideWritable(side)) {
    r.CreateSubDir = r.Erase = r.Move = r.Rename = false;
    r.EditFileDate = r.AutoSetFileDate = false;
  }
  if (!Form1::SideWritable(o)) {
    r.Copy = r.Move = false;
    r.EditFileDate = r.AutoSetFileDate = false;
  }
  if (IsParentKey(key)) r.Rename = false;
  // The event editor reads and writes a recording's first cluster: only a
  // file with a valid recording header offers it.
  const core::FileRec* rec = IsFileKey(key) ? RecordOf(side, key) : nullptr;
  r.EditEventDescriptions = rec != nullptr && !rec->IsDir && rec->HasRecHeader;
  return r;
}

void Form1::LV1_MouseDown(int side, Qt::MouseButton button, Qt::KeyboardModifiers shift,
                          QPoint pos) {
  core::ProcScope scope("LV1_MouseDown");
  core::CheckSideIndex(side);
  const Qt::KeyboardModifiers held =
      shift & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier);
  PopupPending = button == Qt::RightButton && held == Qt::NoModifier;
  g_lastPress[side] = pos;
}

void Form1::LV1_Click(int /*side*/) { ShortcutsOff = false; }

void Form1::LV1_GotFocus(int side) { FocusSide = side; }

void Form1::LV1_ItemClick(int side, const QString& key) {
  core::ProcScope scope("LV1_ItemClick");
  core::CheckSideIndex(side);
  ActiveSide = side;
  const ContextRules r = ComputeContextRules(*this, side, key);
  Menu_LVContext_Copy->setEnabled(r.Copy);
  Menu_LVContext_CreateSubDir->setEnabled(r.CreateSubDir);
  Menu_LVContext_Erase->setEnabled(r.Erase);
  Menu_LVContext_Move->setEnabled(r.Move);
  Menu_LVContext_Refresh->setEnabled(true);
  Command2[0]->setEnabled(true);
  Command2[1]->setEnabled(true);
  Menu_LVContext_Rename->setEnabled(r.Rename);
  Menu_LVContext_EditFileDate->setEnabled(r.EditFileDate);
  Menu_LVContext_AutoSetFileDate->setEnabled(r.AutoSetFileDate);
  Menu_LVContext_SetCrypted->setEnabled(r.CryptSetters);
  Menu_LVContext_SetPartiallyCrypted->setEnabled(r.CryptSetters);
  Menu_LVContext_SetUnCrypted->setEnabled(r.CryptSetters);
  Menu_LVContext_ScanStream->setEnabled(r.ScanStream);
  Menu_LVContext_EditEventDescriptions->setEnabled(r.EditEventDescriptions);
  if (PopupPending)
    Menu_LVContext->popup(LV1[side]->viewport()->mapToGlobal(g_lastPress[side]));
}

void Form1::LV1_ItemCheck(int side, const QString& key, bool checked) {
  core::ProcScope scope("LV1_ItemCheck");
  core::CheckSideIndex(side);
  if (IsParentKey(key) && checked) LV1[side]->SetChecked(key, false);
  ResetSummary(side);
}

void Form1::LV1_DblClick(int side) {
  core::ProcScope scope("LV1_DblClick");
  core::CheckSideIndex(side);
  ListView* list = LV1[side];
  if (list->ItemCount() == 0) return;
  const QString key = list->SelectedKey();
  if (key.isEmpty()) return;
  if (IsParentKey(key)) {
    // Up one level: drop the trailing separator, keep up to the one before.
    const QChar sep = core::DiskId[side] >= 1 ? QChar('/') : QChar('\\');
    QString path = PathLabel(side);
    path.chop(1);
    const int last = path.lastIndexOf(sep);
    if (last >= 0) SelectDirectory(side, path.left(last + 1));
  } else if (IsFolderKey(key)) {
    const core::FileRec* rec = RecordOf(side, key);
    if (rec != nullptr && rec->IsDir)
      SelectDirectory(side, core::DiskId[side] >= 1 ? PcToKey(rec->Name)
                                                    : RecorderToDisplay(rec->Name));
  }
  EnableMenus();
}

void Form1::LV1_ColumnClick(int side, int column) {
  core::ProcScope scope("LV1_ColumnClick");
  core::CheckSideIndex(side);
  ListView* list = LV1[side];
  if (column < 0 || column >= list->ColumnCount()) return;
  if (column != SortColumn[side]) {
    SortOrder[side] = 0;
    SortColumn[side] = column;
    for (int c = 0; c < list->ColumnCount(); ++c) list->SetColumnIcon(c, "SortEmpty");
    list->SetColumnIcon(column, "SortAsc");
  } else {
    SortOrder[side] = SortOrder[side] == 0 ? 1 : 0;
    list->SetColumnIcon(column, SortOrder[side] != 0 ? "SortDesc" : "SortAsc");
  }
  BuildSort(side);
  core::SetSetting("View", "SortColumn" + std::to_string(side), std::to_string(SortColumn[side]));
  core::SetSetting("View", "SortOrder" + std::to_string(side), std::to_string(SortOrder[side]));
}

void Form1::LV1_BeforeLabelEdit(int side, const QString& key, bool* cancel) {
  core::ProcScope scope("LV1_BeforeLabelEdit");
  core::CheckSideIndex(side);
  if (!LabelEditable(side, key)) {
    if (cancel) *cancel = true;
    return;
  }
  labelEditStart_[side] = {true, key, core::DiskId[side], core::Disk[side].Handle,
                           RecordOf(side, key)->Name};
  ShortcutsOff = true;
}

bool Form1::LabelEditable(int side, const QString& key) const {
  // Only a real entry of a writable pane that is not a recorder root.
  return !key.isEmpty() && !IsParentKey(key) && !AtRecorderRoot(side) && SideWritable(side) &&
         RecordOf(side, key) != nullptr;
}

void Form1::EndLabelEdits() {
  for (ListView* list : LV1)
    if (list) list->CancelLabelEdit();
}

void Form1::LV1_AfterLabelEdit(int side, const QString& key, const QString& newText,
                               bool* cancel) {
  core::ProcScope scope("LV1_AfterLabelEdit");
  core::CheckSideIndex(side);
  // The Enter that ended the edit must not start a move.
  ShortcutsOff = true;
  // An edit renames only the entry it was started on, on the disk that was
  // open then, while the pane may still be written and nothing else runs:
  // one that ends later (its window closing, a run starting) is cancelled.
  const LabelEditStart start = labelEditStart_[side];
  labelEditStart_[side].Valid = false;
  if (!start.Valid || start.Key != key || start.DiskId != core::DiskId[side] ||
      start.Handle != core::Disk[side].Handle || !LabelEditable(side, key) ||
      RecordOf(side, key)->Name != start.Name || unloaded_ || ui::RunInProgress()) {
    if (cancel) *cancel = true;
    return;
  }
  bool refused = true;
  bool reloaded = false;
  const int n = IndexFromKey(key);
  const bool pc = core::DiskId[side] >= 1;
  std::string name = pc ? newText.toStdString() : DisplayToRecorder(newText);
  if (pc && RecordOf(side, key) != nullptr) {
    // A name shown as it was is the name as it is: its bytes stay, also
    // where they are no UTF-8 and show as U+FFFD.
    const std::string& old = RecordOf(side, key)->Name;
    const std::string leaf = old.substr(old.find_last_of('/') + 1);
    if (newText == PcToDisplay(leaf)) name = leaf;
  }
  if (RecordOf(side, key) != nullptr && !name.empty()) {
    const std::string problem = NameProblem(side, n, name);
    if (!problem.empty()) {
      ui::Current().MsgBox("Unable to rename to \"" + newText.toStdString() + "\": " + problem +
                               ".",
                           ui::Buttons::OK, ui::Icon::Exclamation);
    } else {
      refused = !transfer::FSRenameFile(side, n, name);
      // A PC side is listed again by the rename, done or not.
      reloaded = pc;
    }
  }
  // A recorder name is shown as it was written (cut, or mended as the
  // loader would read it), not as it was typed.
  QString shownName = newText;
  if (!refused && !pc) {
    const std::string& written = core::Disk[side].Files[size_t(n)].Name;
    shownName = RecorderToDisplay(written.substr(written.rfind('\\') + 1));
    reloaded = shownName != newText;
  }
  if (cancel) *cancel = refused;

  if (!refused) {
    ShowDirList(side);
    const int o = 1 - side;
    if (core::DiskId[0] == core::DiskId[1]) {
      core::LoadTopf(o, false);
      if (PathLabel(0) == PathLabel(1)) {
        ShowDirList(o);
        ShowFileList(o);
      }
    }
  }
  if (reloaded) {
    // The list keys point into the side's old list: fill the list again and
    // select the item under its (new or kept) name.
    const QString shown = refused ? LV1[side]->Text(key) : shownName;
    ShowFileList(side);
    for (const QString& k : LV1[side]->Keys()) {
      if (LV1[side]->Text(k) == shown) {
        LV1[side]->SetSelectedKey(k);
        break;
      }
    }
  }
  ShortcutsOff = true;
}

}  // namespace mainwindow
