// The File menu: Exit, and Export List (the left pane's list as a
// tab-separated text file named after the disk).
#include "core/disk_model.h"
#include "core/error_handler.h"
#include "core/pc_helpers.h"
#include "core/settings.h"
#include "mainwindow/form1.h"
#include "ui/ui.h"

namespace mainwindow {

void Form1::Menu_File_Exit_Click() {
  core::ProcScope scope("Menu_File_Exit_Click");
  // A close that is refused, or that waits for a run to unwind, does not
  // end the program here.
  if (close()) ui::Current().EndProgram(ui::kExitNormal);
}

std::string Form1::ExportListPath() const {
  return core::AppDir() + core::Disk[0].CrcId + "_FileList.txt";
}

void Form1::Menu_File_ExportList_Click() {
  core::ProcScope scope("Menu_File_ExportList_Click");
  const std::string path = ExportListPath();
  const bool extras = Extras && LV1[0]->ColumnCount() > 5;
  std::string text = "R\tFileName\tSize\tDate\tType\tDuration";
  if (extras) text += "\tFirst";
  text += "\r\n";
  ListView* lv = LV1[0];
  for (const QString& key : lv->Keys()) {
    QString line = lv->IconKey(key) == "Recovered" ? "R" : "";
    line += "\t" + lv->Text(key);
    for (int column = 1; column <= 4; ++column) line += "\t" + lv->SubItem(key, column);
    if (extras) line += "\t" + lv->SubItem(key, 5);
    text += line.toStdString();   // a PC file: UTF-8
    text += "\r\n";
  }
  core::Guard([&] { core::SavePcFile(path, text); });
  // Without a program to open it, the user is told where the list is.
  if (!core::Execute(path, false, "", 3))
    ui::Current().MsgBox("The list was written to " + path, ui::Buttons::OK,
                         ui::Icon::Information);
}

}  // namespace mainwindow
