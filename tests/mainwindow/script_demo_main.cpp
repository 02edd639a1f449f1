// A tiny windowed program driven by a script in the end-to-end test: it
// starts the way the real programs do (Ui installed, a prompt possible during
// start-up, main window, event loop).
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QMainWindow>
#include <QMenuBar>
#include <QPushButton>
#include <QVBoxLayout>
#include <cstring>

#include "mainwindow/source_disk_dialog.h"
#include "mainwindow/list_view.h"
#include "mainwindow/qt_ui.h"
#include "mainwindow/tree_view.h"
#include "ui/ui.h"

using namespace mainwindow;

namespace {

QString Q(const std::string& text) { return QString::fromUtf8(text.c_str()); }

class DemoWindow : public QMainWindow {
 public:
  DemoWindow() {
    setObjectName("DemoWindow");
    setWindowTitle("Script demo");
    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    setCentralWidget(central);

    Combo1 = new QComboBox(central);
    Combo1->setObjectName("Combo1_0");
    Combo1->addItems({"Topfield: Disk 0", "PC /"});
    layout->addWidget(Combo1);
    connect(Combo1, &QComboBox::activated, this,
            [this](int index) { Label2->setText("chose " + Combo1->itemText(index)); });

    TV1 = new TreeView(central);
    TV1->setObjectName("TV1_0");
    TV1->AddNode("", "\\", "Topfield", "Topfield");
    TV1->AddNode("\\", "\\DataFiles\\", "DataFiles", "ExplorerClosed", "ExplorerOpen");
    layout->addWidget(TV1);
    connect(TV1, &TreeView::NodeClick, this, [this](const QString& key) { Label2->setText(key); });

    LV1 = new ListView(central);
    LV1->setObjectName("LV1_0");
    LV1->AddColumn("File name", 200);
    LV1->AddColumn("Size", 80, Qt::AlignRight);
    LV1->AddItem("D..", "..", "Directory");
    LV1->AddItem("D3", "Films", "Directory");
    LV1->AddItem("i5", "news.rec", "Rec");
    LV1->SetSubItem("i5", 1, "1.50 GB");
    LV1->SetLabelEditAutomatic(true);
    layout->addWidget(LV1);
    connect(LV1, &ListView::ItemCheck, this, [this](const QString& key, bool checked) {
      if (key == "D.." && checked) LV1->SetChecked(key, false);
      int count = 0;
      for (const QString& k : LV1->Keys()) count += LV1->Checked(k) ? 1 : 0;
      Label1->setText(QString::number(count) + " file(s) selected");
    });
    connect(LV1, &ListView::BeforeLabelEdit, this, [](const QString& key, bool* cancel) {
      if (key == "D..") *cancel = true;
    });
    connect(LV1, &ListView::AfterLabelEdit, this,
            [](const QString&, const QString& text, bool* cancel) {
              if (text.isEmpty()) *cancel = true;
            });
    connect(LV1, &ListView::DblClick, this,
            [this] { Label2->setText("opened " + LV1->SelectedKey()); });

    Label1 = new QLabel("0 file(s) selected", central);
    Label1->setObjectName("Label1_0");
    layout->addWidget(Label1);
    Label2 = new QLabel("\\", central);
    Label2->setObjectName("Label1_2");
    layout->addWidget(Label2);

    Command1 = new QPushButton("Erase", central);
    Command1->setObjectName("Command1_0");
    layout->addWidget(Command1);
    connect(Command1, &QPushButton::clicked, this, [this] {
      const ui::Answer answer = ui::Current().MsgBox("Erase the checked files?\r\nThis cannot be undone.",
                                                     ui::Buttons::YesNo, ui::Icon::Question);
      Label2->setText(answer == ui::Answer::Yes ? "erased" : "kept");
    });

    QMenu* file = menuBar()->addMenu("&File");
    file->setObjectName("Menu_File");
    QAction* open = file->addAction("&Open dump...");
    open->setObjectName("Menu_File_Open");
    connect(open, &QAction::triggered, this, [this] {
      const std::string path = ui::Current().OpenFileDialog(
          "", "Topfield System Cluster (*.scc)|*.scc|All files|*.*");
      Label2->setText(path.empty() ? "no file" : Q(path));
    });
    QAction* name = file->addAction("&Name...");
    name->setObjectName("Menu_File_Name");
    connect(name, &QAction::triggered, this, [this] {
      const std::optional<std::string> text = ui::Current().InputBoxEx("New name:");
      Label2->setText(text ? Q("name " + *text) : "no name");
    });

    QMenu* disk = menuBar()->addMenu("&Disk");
    disk->setObjectName("Menu_Disk");
    QAction* select = disk->addAction("&Select source disk...");
    select->setObjectName("Menu_Disk_Select");
    connect(select, &QAction::triggered, this, [this] {
      const int chosen = RunForm6({{"Disk 0: \t10.0 GB\t", 0},
                                   {"Disk 1: \t160.0 GB\t (this seems to be a TF disk)", 1}},
                                  this);
      Label2->setText("SelectedDisk " + QString::number(chosen));
    });
    QAction* load = disk->addAction("&Load");
    load->setObjectName("Menu_Disk_Load");
    connect(load, &QAction::triggered, this, [this] {
      ui::Current().ShowWait("Loading Topfield Disk 0. Please stand by.");
      ui::Current().DoEvents(true);
      ui::Current().HideWait();
      Label2->setText("loaded");
    });
    QAction* fsck = disk->addAction("&Check");
    fsck->setObjectName("Menu_Disk_FSCK");
    fsck->setEnabled(false);
  }

  QComboBox* Combo1;
  TreeView* TV1;
  ListView* LV1;
  QLabel* Label1;
  QLabel* Label2;
  QPushButton* Command1;
};

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  ui::SetDefaultTitle("Script demo");
  InstallUi();
  DemoWindow window;
  SetMainWindow(&window);
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--ask") == 0 &&
        ui::Current().MsgBox("Start the demo?", ui::Buttons::OKCancel) != ui::Answer::OK)
      ui::Current().EndProgram(ui::kExitNormal);
    if (std::strcmp(argv[i], "--disaster") == 0 &&
        RunForm6({{"Disk 0: \t10.0 GB\t", 0}, {"Disk 2: \t80.0 GB\t", 2}}) == -1)
      ui::Current().EndProgram(ui::kExitNormal);
  }
  window.show();
  return app.exec();
}
