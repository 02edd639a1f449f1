#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QEventLoop>
#include <QLabel>
#include <QListWidget>
#include <QMainWindow>
#include <QMenuBar>
#include <QPushButton>
#include <QTabBar>
#include <QTimer>
#include <QVBoxLayout>
#include <memory>

#include "mainwindow/list_view.h"
#include "mainwindow/script_runner.h"
#include "mainwindow/tree_view.h"
#include "test_app.h"

using mainwindow::ListView;
using mainwindow::ScriptUi;
using mainwindow::TreeView;

namespace {

// A small main window with one control of every kind the steps address.
class TestWindow : public QMainWindow {
 public:
  TestWindow() {
    setObjectName("TestWindow");
    setWindowTitle("Test window");
    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    setCentralWidget(central);

    LV1 = new ListView(central);
    LV1->setObjectName("LV1_0");
    LV1->AddColumn("File name", 200);
    LV1->AddColumn("Size", 80, Qt::AlignRight);
    LV1->AddColumn("Type", 60);
    LV1->AddItem("D..", "..", "Directory");
    LV1->AddItem("D3", "Films", "Directory");
    LV1->AddItem("i5", "news.rec", "Rec");
    LV1->SetSubItem("i5", 1, "1.50 GB");
    LV1->SetSubItem("i5", 2, "TV");
    LV1->SetChecked("i5", true);
    LV1->SetBold("i5", true);
    layout->addWidget(LV1);
    connect(LV1, &ListView::ItemClick, [this](const QString& key) { Events.append("ItemClick " + key); });
    connect(LV1, &ListView::ItemCheck, [this](const QString& key, bool on) {
      Events.append("ItemCheck " + key + (on ? " 1" : " 0"));
    });
    connect(LV1, &ListView::DblClick, [this] { Events.append("DblClick " + LV1->SelectedKey()); });
    connect(LV1, &ListView::AfterLabelEdit, [this](const QString& key, const QString& text, bool*) {
      Events.append("AfterLabelEdit " + key + " " + text);
    });

    TV1 = new TreeView(central);
    TV1->setObjectName("TV1_0");
    TV1->AddNode("", "\\", "Topfield", "Topfield");
    TV1->AddNode("\\", "\\DataFiles\\", "DataFiles", "ExplorerClosed", "ExplorerOpen");
    layout->addWidget(TV1);
    connect(TV1, &TreeView::NodeClick, [this](const QString& key) { Events.append("NodeClick " + key); });

    Combo1 = new QComboBox(central);
    Combo1->setObjectName("Combo1_0");
    Combo1->addItems({"Topfield: Disk 0", "PC /", "PC /home"});
    layout->addWidget(Combo1);
    connect(Combo1, &QComboBox::activated, [this](int i) { Events.append("Combo " + QString::number(i)); });

    List2 = new QListWidget(central);
    List2->setObjectName("List2");
    List2->addItems({"one", "two"});
    layout->addWidget(List2);

    Tabs = new QTabBar(central);
    Tabs->setObjectName("TabStrip1_0");
    Tabs->addTab("Files");
    Tabs->addTab("Tree");
    layout->addWidget(Tabs);
    connect(Tabs, &QTabBar::currentChanged, [this](int i) { Events.append("Tab " + QString::number(i)); });

    Label = new QLabel("idle", central);
    Label->setObjectName("Label1_0");
    layout->addWidget(Label);

    auto button = [&](const char* name, const char* caption) {
      auto* b = new QPushButton(caption, central);
      b->setObjectName(name);
      layout->addWidget(b);
      return b;
    };
    connect(button("Command1_0", "Erase"), &QPushButton::clicked, [this] {
      const ui::Answer answer = ui::Current().MsgBox("Erase 1 file(s)?\r\nReally?",
                                                     ui::Buttons::YesNo, ui::Icon::Question, "Erase");
      Label->setText(answer == ui::Answer::Yes ? "erased" : "kept");
    });
    // A job with a window of its own (as the progress window): an after-job
    // choice and a Cancel button.
    JobWindow = new QWidget(this, Qt::Window);
    JobWindow->setObjectName("JobWindow");
    auto* after = new QComboBox(JobWindow);
    after->setObjectName("Combo1");
    after->addItems({"do nothing", "shut down"});
    auto* cancel = new QPushButton("Cancel", JobWindow);
    cancel->setObjectName("Command1");
    cancel->move(0, 40);
    connect(cancel, &QPushButton::clicked, [this] { Cancelled = true; });
    connect(button("Command2_0", "Busy"), &QPushButton::clicked, [this, after] {
      Cancelled = false;
      after->setCurrentIndex(0);
      JobWindow->show();
      int i = 0;
      for (; i < 20 && !Cancelled; ++i) {
        Label->setText("working " + QString::number(i));
        ui::Current().DoEvents(true);
      }
      JobWindow->hide();
      Label->setText(Cancelled ? "cancelled at " + QString::number(i)
                               : after->currentIndex() == 0 ? QString("done")
                                                            : "done, " + after->currentText());
    });
    connect(button("Command3_0", "Modal"), &QPushButton::clicked, [this] {
      QDialog dialog(this);
      dialog.setObjectName("Dialog1");
      auto* inner = new QPushButton("Inner OK", &dialog);
      inner->setObjectName("Command1_0");
      connect(inner, &QPushButton::clicked, &dialog, &QDialog::accept);
      const int result = ui::Current().RunModal("Dialog1", [&dialog] { return dialog.exec(); });
      Label->setText("modal " + QString::number(result));
    });
    QPushButton* off = button("Command4_0", "Off");
    off->setEnabled(false);
    connect(off, &QPushButton::clicked, [this] { Label->setText("clicked a disabled button"); });
    connect(button("Command5_0", "Ask"), &QPushButton::clicked, [this] {
      const std::optional<std::string> name = ui::Current().InputBoxEx("Name:", "Ask", "x");
      const std::string path = ui::Current().SaveFileDialog("", "Text|*.txt");
      Label->setText(QString::fromStdString((name ? "name " + *name : "no name") + " / " + path));
    });
    connect(button("Command6_0", "Rename"), &QPushButton::clicked, [this] { LV1->StartLabelEdit("i5"); });

    Check = new QCheckBox("Extras", central);
    Check->setObjectName("Check1");
    Check->setChecked(true);
    layout->addWidget(Check);

    QMenu* disk = menuBar()->addMenu("&Disk");
    disk->setObjectName("Menu_Disk");
    QAction* fsck = disk->addAction("&Check");
    fsck->setObjectName("Menu_Disk_FSCK");
    fsck->setCheckable(true);
    fsck->setChecked(true);
    connect(fsck, &QAction::triggered, [this] { Events.append("FSCK"); });
    QAction* hidden = disk->addAction("Hidden");
    hidden->setObjectName("Menu_Disk_Hidden");
    hidden->setVisible(false);
    connect(hidden, &QAction::triggered, [this] { Events.append("Hidden"); });
  }

  ListView* LV1;
  TreeView* TV1;
  QComboBox* Combo1;
  QListWidget* List2;
  QTabBar* Tabs;
  QLabel* Label;
  QCheckBox* Check;
  QWidget* JobWindow;
  bool Cancelled = false;
  QStringList Events;
};

class RunnerTest : public ::testing::Test {
 protected:
  void Script(const std::string& text) {
    std::vector<mainwindow::ScriptStep> steps;
    std::string error;
    ASSERT_TRUE(mainwindow::ParseScript(text, steps, error)) << error;
    ui_ = std::make_unique<ScriptUi>(std::move(steps));
    ui_->SetOutput([this](const std::string& line) { out.push_back(line); });
    ui_->SetOnError([this](const std::string& message) { errors.push_back(message); });
    ui_->SetOnFinished([this] {
      finished = true;
      if (loop_) loop_->quit();
    });
    ui_->SetMainWindow(&window);
    scope_ = std::make_unique<ui::CurrentUiScope>(*ui_);
  }
  // Runs the event loop until the script has run out.
  void Run() {
    QEventLoop loop;
    loop_ = &loop;
    QTimer::singleShot(10000, &loop, [&loop] {
      ADD_FAILURE() << "the script did not finish";
      loop.quit();
    });
    loop.exec();
    loop_ = nullptr;
    EXPECT_TRUE(finished);
  }
  void TearDown() override {
    scope_.reset();
    ui_.reset();
  }

  QApplication& app_ = TestApp();
  TestWindow window;
  std::vector<std::string> out;
  std::vector<std::string> errors;
  bool finished = false;
  std::unique_ptr<ScriptUi> ui_;
  std::unique_ptr<ui::CurrentUiScope> scope_;
  QEventLoop* loop_ = nullptr;

 public:
  RunnerTest() { window.show(); }
};

using Lines = std::vector<std::string>;

}  // namespace

TEST_F(RunnerTest, PrintWritesEveryKindOfControl) {
  window.List2->setCurrentRow(1);
  Script(
      "print LV1_0\n"
      "print TV1_0\n"
      "print Combo1_0\n"
      "print List2\n"
      "print TabStrip1_0\n"
      "print Label1_0\n"
      "print Command4_0\n"
      "print Check1\n"
      "print Menu_Disk_FSCK\n"
      "print Menu_Disk_Hidden\n"
      "print TestWindow.Label1_0\n");
  Run();
  EXPECT_EQ(out, (Lines{"== LV1_0",
                        "D..\t0\t0\tDirectory\t..\t\t",
                        "D3\t0\t0\tDirectory\tFilms\t\t",
                        "i5\t1\t1\tRec\tnews.rec\t1.50 GB\tTV",
                        "== TV1_0",
                        "\\\tTopfield\tTopfield",
                        "\\DataFiles\\\tExplorerClosed\tDataFiles",
                        "== Combo1_0",
                        "*Topfield: Disk 0",
                        "PC /",
                        "PC /home",
                        "== List2",
                        "one",
                        "*two",
                        "== TabStrip1_0",
                        "*Files",
                        "Tree",
                        "== Label1_0",
                        "idle\t1",
                        "== Command4_0",
                        "Off\t0",
                        "== Check1",
                        "Extras\t1\t1",
                        "== Menu_Disk_FSCK",
                        "1\t1\t1",
                        "== Menu_Disk_Hidden",
                        "0\t0\t0",   // Qt disables a hidden action
                        "== TestWindow.Label1_0",
                        "idle\t1"}));
  EXPECT_TRUE(errors.empty());
}

TEST_F(RunnerTest, AnswerQueuedBeforeThePrompt) {
  Script("answer No\nclick Command1_0\nprint Label1_0\n");
  Run();
  EXPECT_EQ(out, (Lines{"MSGBOX\tErase\tErase 1 file(s)?\\nReally?\tNo", "== Label1_0", "kept\t1"}));
}

TEST_F(RunnerTest, StepsRunAtThePromptUntilOneAnswers) {
  Script("click Command1_0\nprint Label1_0\nanswer Yes\nprint Label1_0\n");
  Run();
  EXPECT_EQ(out, (Lines{"== Label1_0", "idle\t1", "MSGBOX\tErase\tErase 1 file(s)?\\nReally?\tYes",
                        "== Label1_0", "erased\t1"}));
}

TEST_F(RunnerTest, NoStepButAnAnswerOrPrintActsUnderAWaitingPrompt) {
  // The click and the close stand under the box: reported, not run.
  Script("click Command1_0\nclick Command3_0\nclose\nanswer Yes\nprint Label1_0\n");
  Run();
  ASSERT_EQ(errors.size(), 2u);
  EXPECT_EQ(errors[0], "line 2: click Command3_0: no user can do this while the MSGBOX \"Erase\" "
                       "waits for its answer: Erase 1 file(s)?\\nReally?");
  EXPECT_EQ(errors[1].rfind("line 3: close: no user can do this while the MSGBOX", 0), 0u);
  EXPECT_EQ(out, (Lines{"MSGBOX\tErase\tErase 1 file(s)?\\nReally?\tYes", "== Label1_0",
                        "erased\t1"}));
}

TEST_F(RunnerTest, InputAndFileAnswers) {
  Script("input\nfile /tmp/a b.txt\nclick Command5_0\nprint Label1_0\n"
         "click Command5_0\ninput Films 2\nfile\nprint Label1_0\n");
  Run();
  EXPECT_EQ(out, (Lines{"INPUTBOX\tAsk\tName:\t", "FILEDIALOG\tSave As\tText|*.txt\t/tmp/a b.txt",
                        "== Label1_0", "no name / /tmp/a b.txt\t1",
                        "INPUTBOX\tAsk\tName:\tFilms 2", "FILEDIALOG\tSave As\tText|*.txt\t",
                        "== Label1_0", "name Films 2 / \t1"}));
}

TEST_F(RunnerTest, ListTreeComboAndTabStepsActAsClicks) {
  Script("select LV1_0 D3\ncheck LV1_0 D..\nuncheck LV1_0 i5\nuncheck LV1_0 i5\n"
         "dblclick LV1_0 i5\nnode TV1_0 \\DataFiles\\\nchoose Combo1_0 PC /h\n"
         "tab TabStrip1_0 2\nchoose List2 tw\nclick Menu_Disk_FSCK\n");
  Run();
  EXPECT_EQ(window.Events,
            QStringList({"ItemClick D3", "ItemCheck D.. 1", "ItemCheck i5 0", "ItemClick i5",
                         "DblClick i5", "NodeClick \\DataFiles\\", "Combo 2", "Tab 1", "FSCK"}));
  EXPECT_EQ(window.LV1->SelectedKey(), "i5");
  EXPECT_EQ(window.TV1->SelectedKey(), "\\DataFiles\\");
  EXPECT_EQ(window.Combo1->currentIndex(), 2);
  EXPECT_EQ(window.List2->currentRow(), 1);
  EXPECT_TRUE(errors.empty());
}

TEST_F(RunnerTest, DisabledAndHiddenControlsIgnoreClicks) {
  Script("click Command4_0\nclick Menu_Disk_Hidden\nprint Label1_0\n");
  Run();
  EXPECT_EQ(out, (Lines{"== Label1_0", "idle\t1"}));
  EXPECT_FALSE(window.Events.contains("Hidden"));
}

TEST_F(RunnerTest, NoStepRunsInsideAJobsEventProcessing) {
  Script("click Command2_0\nprint Label1_0\n");
  Run();
  EXPECT_EQ(out, (Lines{"== Label1_0", "done\t1"}));
}

TEST_F(RunnerTest, DuringAJobOnlyStepsInItsOwnWindowRun) {
  // The print waits for the job's end; the choice and the Cancel button are
  // the job window's, and act while it runs.
  Script("click Command2_0\nchoose JobWindow.Combo1 shut\nprint Label1_0\n"
         "click Command2_0\nclick JobWindow.Command1\nprint Label1_0\n");
  Run();
  ASSERT_EQ(out.size(), 4u);
  EXPECT_EQ(out[1], "done, shut down\t1");
  EXPECT_EQ(out[3].rfind("cancelled at ", 0), 0u) << out[3];
  EXPECT_NE(out[3], "cancelled at 20\t1");
}

TEST_F(RunnerTest, ModalWindowIsSearchedFirstAndDrivenByTheSteps) {
  Script("click Command3_0\nprint Command1_0\nclick Command1_0\nprint Command1_0\nprint Label1_0\n");
  Run();
  EXPECT_EQ(out, (Lines{"== Command1_0", "Inner OK\t1", "== Command1_0", "Erase\t1",
                        "== Label1_0", "modal 1\t1"}));
}

TEST_F(RunnerTest, CloseEndsTheModalWindowAsItsCloseBox) {
  Script("click Command3_0\nclose\nprint Label1_0\n");
  Run();
  EXPECT_EQ(out, (Lines{"== Label1_0", "modal 0\t1"}));
}

TEST_F(RunnerTest, RenameFinishesTheEditTheProgramStarted) {
  Script("click Command6_0\nrename LV1_0 i5 old news.rec\nprint LV1_0\n");
  Run();
  ASSERT_EQ(out.size(), 4u);
  EXPECT_EQ(out[3], "i5\t1\t1\tRec\told news.rec\t1.50 GB\tTV");
  EXPECT_TRUE(window.Events.contains("AfterLabelEdit i5 old news.rec"));
}

TEST_F(RunnerTest, FaultyStepsAreReported) {
  Script("click Nope\nselect LV1_0 i99\nchoose Combo1_0 Zzz\nrename LV1_0 i5 x\n"
         "node TV1_0 \\Nope\\\ntab TabStrip1_0 3\nclick Label1_0\nprint Label1_0\n");
  Run();
  ASSERT_EQ(errors.size(), 7u);
  EXPECT_EQ(errors[0], "line 1: click Nope: no such control");
  EXPECT_EQ(errors[1], "line 2: select LV1_0: no item i99");
  EXPECT_NE(errors[2].find("no entry begins with \"Zzz\""), std::string::npos);
  EXPECT_NE(errors[3].find("no edit of i5 is open"), std::string::npos);
  EXPECT_EQ(errors[4], "line 5: node TV1_0: no node \\Nope\\");
  EXPECT_EQ(errors[5], "line 6: tab TabStrip1_0: has no tab 3");
  EXPECT_EQ(errors[6], "line 7: click Label1_0: is neither a button nor a menu item");
  EXPECT_EQ(out, (Lines{"== Label1_0", "idle\t1"}));
}

TEST_F(RunnerTest, PromptBeforeTheEventLoopTakesTheNextSteps) {
  // As during start-up: no event loop runs yet.
  Script("print Label1_0\nanswer Cancel\nprint Combo1_0\n");
  const ui::Answer answer = ui::Current().MsgBox("Go on?", ui::Buttons::OKCancel);
  EXPECT_EQ(answer, ui::Answer::Cancel);
  EXPECT_EQ(ui_->NextStepIndex(), 2u);   // the step after the answer waits for the loop
  Run();
  EXPECT_EQ(out, (Lines{"== Label1_0", "idle\t1", "MSGBOX\tQuenbrix\tGo on?\tCancel",
                        "== Combo1_0", "*Topfield: Disk 0", "PC /", "PC /home"}));
}
