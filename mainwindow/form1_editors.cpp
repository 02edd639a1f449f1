// The recording editors of the Disk menu and of the file lists' context
// menu: adding a recording header (and its undo), the crypt-flag setters,
// the event editor and the two file-date commands. Their work lives in
// commands/; here the panes' checked items are walked.
#include <QString>
#include <QStringList>
#include <string>

#include "commands/crypt_flags.h"
#include "commands/event_editor.h"
#include "commands/file_date.h"
#include "commands/rec_header.h"
#include "core/disk_load.h"
#include "core/disk_model.h"
#include "core/error_handler.h"
#include "core/side_file.h"
#include "mainwindow/form1.h"
#include "platform/platform.h"
#include "ui/ui.h"

namespace mainwindow {

namespace {

int Side() { return ActiveSide == 1 ? 1 : 0; }

// The busy pointer for the life of a command.
class BusyPointer {
 public:
  BusyPointer() { ui::Current().SetBusy(true); }
  ~BusyPointer() { ui::Current().SetBusy(false); }
  BusyPointer(const BusyPointer&) = delete;
  BusyPointer& operator=(const BusyPointer&) = delete;
};

bool RecorderSide(int side) {
  return core::DiskId[side] != core::kNoDisk && core::DiskId[side] < 1;
}

// Runs a header command on every checked item of the left pane (the file
// system held open meanwhile), unchecks it, and shows the lists again: read
// back from the disk first with `reload`, else as they stand in memory.
void ApplyToCheckedLeft(Form1& form, commands::RecHeaderResult (*command)(int, int),
                        bool reload) {
  BusyPointer busy;
  const bool opened = core::Disk[0].FileCount > 0;
  if (opened) core::FSOpenFile(0, 0, true);
  for (const QString& key : form.LV1[0]->Keys()) {
    if (!form.LV1[0]->Checked(key)) continue;
    const int index = Form1::IndexFromKey(key);
    if (index >= 0) command(0, index);
    form.LV1[0]->SetChecked(key, false);
  }
  if (opened) core::FSCloseFile(0);
  if (reload) core::LoadTopf(0, true);
  form.ShowFileList(0);
  if (core::DiskId[0] == core::DiskId[1]) {
    if (reload) core::LoadTopf(1, false);
    form.ShowFileList(1);
  }
  form.EnableMenus();
}

}  // namespace

// ------------------------------------------------------ recording header

void Form1::Menu_Disk_AddREC_Click() {
  core::ProcScope scope("Menu_Disk_AddREC_Click");
  // The header commands act on the left pane, a recorder disk in write mode.
  if (!RecorderSide(0) || !(core::Flags & core::FlagWriteMode)) return;
  ApplyToCheckedLeft(*this, &commands::FSAddRECHeader, /*reload=*/true);
}

void Form1::Menu_Disk_UndoAddREC_Click() {
  core::ProcScope scope("Menu_Disk_UndoAddREC_Click");
  if (!RecorderSide(0) || !(core::Flags & core::FlagWriteMode)) return;
  ApplyToCheckedLeft(*this, &commands::FSUndoAddRECHeader, /*reload=*/false);
}

// ------------------------------------------------------- crypt-flag setters

namespace {

// Walks the items of the pane once: each is shown bold while it is handled;
// checked recordings get the value; every item ends unchecked. Pending
// events are processed without user input, so that no command refills the
// list or the file list during the walk.
void SetCryptValueOfChecked(Form1& form, int side, uint8_t value) {
  ListView* lv = form.LV1[side];
  if (!RecorderSide(side)) return;
  if (form.CountSelected(side) == 0) {
    const QString selected = lv->SelectedKey();
    if (selected.isEmpty()) return;
    lv->SetChecked(selected, true);
  }
  const QStringList keys = lv->Keys();
  std::string failed;   // recordings whose value did not reach the disk
  for (const QString& key : keys) {
    lv->SetBold(key, true);
    ui::Current().DoEvents(false);
    const int index = lv->Checked(key) ? Form1::IndexFromKey(key) : -1;
    if (index >= 0 && !commands::SetRecordingCryptValue(side, index, value)) {
      const core::FileRec& f = core::Disk[side].Files[size_t(index)];
      if (!f.IsDir && commands::IsRecName(f.Name)) failed += "\r\n" + platform::Cp1252ToUtf8(f.Name);
    }
    lv->SetBold(key, false);
    lv->SetChecked(key, false);
  }
  form.ShowFileList(side);
  if (core::SameDisk()) form.ShowFileList(core::OtherSide(side));
  if (!failed.empty())
    ui::Current().MsgBox("The crypt value could not be written (to the directory entry, or to the "
                         "recording header) for:" + failed,
                         ui::Buttons::OK, ui::Icon::Exclamation);
}

}  // namespace

void Form1::Menu_LVContext_SetCrypted_Click() {
  core::ProcScope scope("Menu_LVContext_SetCrypted_Click");
  SetCryptValueOfChecked(*this, Side(), commands::kCryptCrypted);
}

void Form1::Menu_LVContext_SetPartiallyCrypted_Click() {
  core::ProcScope scope("Menu_LVContext_SetPartiallyCrypted_Click");
  SetCryptValueOfChecked(*this, Side(), commands::kCryptPartially);
}

void Form1::Menu_LVContext_SetUnCrypted_Click() {
  core::ProcScope scope("Menu_LVContext_SetUnCrypted_Click");
  SetCryptValueOfChecked(*this, Side(), commands::kCryptNotCrypted);
}

// ------------------------------------------------------------ event editor

void Form1::Menu_LVContext_EditEventDescriptions_Click() {
  core::ProcScope scope("Menu_LVContext_EditEventDescriptions_Click");
  const int s = Side();
  if (core::DiskId[s] == core::kNoDisk) return;
  const QString key = LV1[s]->SelectedKey();
  if (!key.startsWith('i')) return;
  const int index = IndexFromKey(key);
  if (index < 0) return;
  commands::RunEventEditor(s, index, this);
}

// -------------------------------------------------------------- file dates

void Form1::Menu_LVContext_AutoSetFileDate_Click() {
  core::ProcScope scope("Menu_LVContext_AutoSetFileDate_Click");
  const int s = Side();
  if (core::DiskId[s] == core::kNoDisk || !SideWritable(s)) return;
  ListView* lv = LV1[s];
  if (CountSelected(s) == 0) {
    const QString selected = lv->SelectedKey();
    if (selected.isEmpty()) return;
    lv->SetChecked(selected, true);
  }
  double d = commands::NowDateValue();
  const QStringList keys = lv->Keys();
  std::string notStorable, notWritten;   // the files that kept their dates
  double firstRefused = 0;
  for (int i = keys.size() - 1; i >= 0; --i) {
    const QString& key = keys[i];
    lv->SetBold(key, true);
    ui::Current().DoEvents(false);
    if (lv->Checked(key)) {
      const int index = IndexFromKey(key);
      if (index >= 0) {
        if (!commands::SetFileRecDate(s, index, d)) {
          const core::FileRec& f = core::Disk[s].Files[size_t(index)];
          const std::string name =
              "\r\n" + (core::IsPCSide(s) ? f.Name : platform::Cp1252ToUtf8(f.Name));
          if (!commands::DateStorable(s, d)) {
            if (notStorable.empty()) firstRefused = d;
            notStorable += name;
          } else {
            notWritten += name;
          }
        }
        d -= 1.0 / 1440.0;
      }
    }
    lv->SetBold(key, false);
    lv->SetChecked(key, false);
  }
  ShowFileList(s);
  // Nothing is stamped silently wrong, and nothing is left out unsaid.
  std::string message;
  if (!notStorable.empty())
    message += commands::DateNotStorableText(s, firstRefused) +
               " These files keep their dates:" + notStorable;
  if (!notWritten.empty())
    message += std::string(message.empty() ? "" : "\r\n\r\n") +
               "The date could not be written for:" + notWritten;
  if (!message.empty()) ui::Current().MsgBox(message, ui::Buttons::OK, ui::Icon::Exclamation);
}

void Form1::Menu_LVContext_EditFileDate_Click() {
  core::ProcScope scope("Menu_LVContext_EditFileDate_Click");
  const int s = Side();
  if (core::DiskId[s] == core::kNoDisk || !SideWritable(s)) return;
  const QString key = LV1[s]->SelectedKey();
  const int index = IndexFromKey(key);
  if (index < 0) return;
  commands::RunDateWindow(s, index, this);
  ShowFileList(s);
}

}  // namespace mainwindow
