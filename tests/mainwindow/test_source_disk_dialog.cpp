#include <gtest/gtest.h>

#include <QKeyEvent>
#include <QListWidget>
#include <QPushButton>
#include <memory>

#include "mainwindow/source_disk_dialog.h"
#include "widgets/window_fit.h"
#include "mainwindow/script_runner.h"
#include "test_app.h"

using mainwindow::Form6;
using mainwindow::RunForm6;
using mainwindow::SelectedDisk;

namespace {

const std::vector<std::pair<std::string, int>> kDrives = {
    {"Disk 0: \t10.0 GB\t", 0},
    {"Disk 1: \t160.0 GB\t  (ST3160023A) (this seems to be a TF disk)", 1},
    {"Disk 3: \t80.0 GB\t", 3}};

class Form6Test : public ::testing::Test {
 protected:
  // Runs the dialog with the entries under the script; returns SelectedDisk.
  int Run(const std::string& script, const std::vector<std::pair<std::string, int>>& entries = kDrives) {
    std::vector<mainwindow::ScriptStep> steps;
    std::string error;
    EXPECT_TRUE(mainwindow::ParseScript(script, steps, error)) << error;
    ui_ = std::make_unique<mainwindow::ScriptUi>(std::move(steps));
    ui_->SetOutput([this](const std::string& line) { out.push_back(line); });
    ui_->SetOnError([](const std::string& message) { ADD_FAILURE() << message; });
    ui_->SetOnFinished([this] {
      ranOut = true;
      if (QWidget* modal = QApplication::activeModalWidget()) modal->close();
    });
    ui::CurrentUiScope use(*ui_);
    SelectedDisk = 12345;   // RunForm6 resets it
    return RunForm6(entries);
  }
  QApplication& app_ = TestApp();
  std::unique_ptr<mainwindow::ScriptUi> ui_;
  std::vector<std::string> out;
  bool ranOut = false;
};

}  // namespace

TEST(Form6Design, CaptionsNamesAndGeometry) {
  TestApp();
  Form6 form;
  EXPECT_EQ(form.objectName(), "Form6");
  EXPECT_EQ(form.windowTitle(), "Topfield Zyphonel - Select the source disk");
  // The designed 340 x 238 pixels, wider where the title needs it; the list
  // fills the width and the button stays centred below it.
  const int width = form.width();
  EXPECT_GE(width, 340);
  EXPECT_GE(width, widgets::TitleWidth(form.windowTitle()));
  EXPECT_EQ(form.height(), 238);
  EXPECT_EQ(form.List1->objectName(), "List1");
  EXPECT_EQ(form.List1->geometry(), QRect(0, 0, width - 3, 199));
  EXPECT_EQ(form.Command1->objectName(), "Command1");
  EXPECT_EQ(form.Command1->text(), "Select");
  EXPECT_EQ(form.Command1->geometry(), QRect((width - 65) / 2, 208, 65, 25));
  form.AddEntry("Disk 2: \t1.0 GB\t", 2);
  ASSERT_EQ(form.List1->count(), 1);
  EXPECT_FALSE(form.List1->item(0)->text().contains('\t'));
  EXPECT_TRUE(form.List1->item(0)->text().startsWith("Disk 2:"));
}

TEST_F(Form6Test, LastClickedEntryIsChosen) {
  EXPECT_EQ(Run("choose List1 Disk 0\nchoose List1 Disk 3\nprint Form6.List1\nclick Command1\n"), 3);
  EXPECT_EQ(out, (std::vector<std::string>{"== Form6.List1", "Disk 0:    10.0 GB   ",
                                           "Disk 1:    160.0 GB     (ST3160023A) (this seems to be a TF disk)",
                                           "*Disk 3:    80.0 GB   "}));
  EXPECT_FALSE(ui_->StepsLeft());
  EXPECT_FALSE(ranOut);   // the dialog was gone when the steps ran out
}

TEST_F(Form6Test, DoubleClickClosesAtOnce) {
  EXPECT_EQ(Run("dblclick List1 Disk 1\nprint List1\n"), 1);
  // The dialog was gone before the next step: it ran in no window of its own.
  EXPECT_EQ(ui_->NextStepIndex(), 1u);
}

TEST_F(Form6Test, CloseBoxAfterAClickCancels) {
  EXPECT_EQ(Run("choose List1 Disk 1\nclose\n"), -1);
}

TEST_F(Form6Test, SelectWithoutAClickCancels) {
  EXPECT_EQ(Run("click Command1\n"), -1);
}

TEST_F(Form6Test, EmptyListSelectCancels) {
  EXPECT_EQ(Run("print List1\nclick Command1\n", {}), -1);
  EXPECT_EQ(out, (std::vector<std::string>{"== List1"}));
}

// Enter on the list or on the focused Select button chooses the selected entry.
TEST(Form6Keys, EnterChoosesFromListAndButton) {
  TestApp();
  for (const bool onButton : {false, true}) {
    Form6 form;
    for (const auto& [text, drive] : kDrives) form.AddEntry(text, drive);
    form.show();
    SelectedDisk = 12345;
    form.List1->setCurrentRow(2);
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(onButton ? static_cast<QWidget*>(form.Command1) : form.List1, &enter);
    EXPECT_EQ(form.result(), QDialog::Accepted) << onButton;
    EXPECT_EQ(SelectedDisk, 3);
  }
}
