#include "mainwindow/qt_ui.h"

#include <QApplication>
#include <QCursor>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPalette>
#include <QPushButton>
#include <QThread>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "core/error_handler.h"
#include "core/power.h"
#include "mainwindow/wait_window.h"
#include "mainwindow/script_runner.h"
#include "widgets/window_fit.h"
#include "platform/platform.h"
#include "ui/runs.h"

namespace mainwindow {

namespace {

QString FromUtf8(const std::string& text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

std::string ToUtf8(const QString& text) { return text.toUtf8().toStdString(); }

std::vector<std::string> SplitBars(const std::string& text) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    size_t bar = text.find('|', start);
    parts.push_back(text.substr(start, bar == std::string::npos ? std::string::npos : bar - start));
    if (bar == std::string::npos) break;
    start = bar + 1;
  }
  return parts;
}

// Message box texts come with CR LF line ends.
QString BoxText(const std::string& text) {
  QString result = FromUtf8(text);
  result.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  result.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  return result;
}

}  // namespace

QString ConvertFilter(const std::string& filter) {
  if (filter.empty()) return QString();
  const std::vector<std::string> parts = SplitBars(filter);
  QStringList filters;
  for (size_t i = 0; i + 1 < parts.size(); i += 2) {
    const QString description = FromUtf8(parts[i]).trimmed();
    QString patterns = FromUtf8(parts[i + 1]).trimmed();
    patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
    patterns = patterns.simplified();
    if (patterns.isEmpty()) continue;
    const QString tail = QLatin1Char('(') + patterns + QLatin1Char(')');
    const QString tailBars = QLatin1Char('(') + FromUtf8(parts[i + 1]).trimmed() + QLatin1Char(')');
    if (description.endsWith(tail))
      filters.append(description);
    else if (description.endsWith(tailBars))
      filters.append(description.left(description.size() - tailBars.size()) + tail);
    else if (description.isEmpty())
      filters.append(tail);
    else
      filters.append(description + QLatin1Char(' ') + tail);
  }
  return filters.join(QStringLiteral(";;"));
}

std::string OneLine(const std::string& text) {
  std::string result;
  result.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\r') {
      result += "\\n";
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else if (c == '\n') {
      result += "\\n";
    } else {
      result.push_back(c);
    }
  }
  return result;
}

QtUi::QtUi() = default;

QtUi::~QtUi() {
  if (wait_) delete wait_.data();
}

QWidget* QtUi::DialogParent() const {
  if (QWidget* modal = QApplication::activeModalWidget()) return modal;
  if (mainWindow_ && mainWindow_->isVisible()) return mainWindow_;
  return nullptr;
}

namespace {
int g_processing = 0;   // event processings of the Ui running
}

bool EventLoopAtRest() { return g_processing == 0 && QThread::currentThread()->loopLevel() <= 1; }

namespace {
void CloseWhenAtRest(QWidget* window) {
  QTimer::singleShot(50, window, [window] {
    if (ui::RunInProgress() || !EventLoopAtRest()) return CloseWhenAtRest(window);
    ui::SetClosePending(false);
    window->close();
  });
}
}  // namespace

bool MayCloseNow(QWidget* window) {
  // Without a run, a close while a modal window or an event processing is
  // on is refused, as the window system refuses it.
  if (!ui::RunInProgress()) return EventLoopAtRest();
  if (ui::ClosePending()) return false;
  bool stopping = false;
  core::TrapProcedure("Form_QueryUnload", [&] { stopping = ui::AskRunsToStop(); });
  if (stopping) {
    ui::SetClosePending(true);
    CloseWhenAtRest(window);
  }
  return false;
}

void QtUi::ProcessPending(QEventLoop::ProcessEventsFlags flags) {
  ++g_processing;
  struct Done {
    ~Done() { --g_processing; }
  } done;
  QCoreApplication::processEvents(flags);
}

ui::Answer QtUi::DoMsgBox(const std::string& text, ui::Buttons buttons, ui::Icon icon,
                          const std::string& title) {
  return RunMessageBox(text, {}, buttons, icon, title);
}

ui::Answer QtUi::DoMsgBoxList(const std::string& text, const std::vector<std::string>& entries,
                              ui::Buttons buttons, ui::Icon icon, const std::string& title) {
  return RunMessageBox(text, entries, buttons, icon, title);
}

ui::Answer QtUi::RunMessageBox(const std::string& text, const std::vector<std::string>& entries,
                               ui::Buttons buttons, ui::Icon icon, const std::string& title) {
  QMessageBox::Icon boxIcon = QMessageBox::NoIcon;
  switch (icon) {
    case ui::Icon::None: boxIcon = QMessageBox::NoIcon; break;
    case ui::Icon::Critical: boxIcon = QMessageBox::Critical; break;
    case ui::Icon::Question: boxIcon = QMessageBox::Question; break;
    case ui::Icon::Exclamation: boxIcon = QMessageBox::Warning; break;
    case ui::Icon::Information: boxIcon = QMessageBox::Information; break;
  }
  struct Choice {
    QMessageBox::StandardButton Button;
    ui::Answer Answer;
  };
  std::vector<Choice> choices;
  switch (buttons) {
    case ui::Buttons::OK: choices = {{QMessageBox::Ok, ui::Answer::OK}}; break;
    case ui::Buttons::OKCancel:
      choices = {{QMessageBox::Ok, ui::Answer::OK}, {QMessageBox::Cancel, ui::Answer::Cancel}};
      break;
    case ui::Buttons::AbortRetryIgnore:
      choices = {{QMessageBox::Abort, ui::Answer::Abort},
                 {QMessageBox::Retry, ui::Answer::Retry},
                 {QMessageBox::Ignore, ui::Answer::Ignore}};
      break;
    case ui::Buttons::YesNoCancel:
      choices = {{QMessageBox::Yes, ui::Answer::Yes},
                 {QMessageBox::No, ui::Answer::No},
                 {QMessageBox::Cancel, ui::Answer::Cancel}};
      break;
    case ui::Buttons::YesNo:
    case ui::Buttons::YesNoDefaultNo:
      choices = {{QMessageBox::Yes, ui::Answer::Yes}, {QMessageBox::No, ui::Answer::No}};
      break;
    case ui::Buttons::RetryCancel:
      choices = {{QMessageBox::Retry, ui::Answer::Retry},
                 {QMessageBox::Cancel, ui::Answer::Cancel}};
      break;
  }
  QMessageBox box(boxIcon, FromUtf8(title), BoxText(text), QMessageBox::NoButton,
                  DialogParent());
  box.setTextFormat(Qt::PlainText);
  if (!entries.empty()) {
    // Every entry, in a list that scrolls: a box of any length still fits
    // on the screen. It goes below the text, above the buttons.
    auto* list = new QListWidget(&box);
    list->setObjectName("MsgBoxList");
    for (const std::string& entry : entries) list->addItem(FromUtf8(entry));
    list->setMinimumWidth(list->fontMetrics().averageCharWidth() * 60);
    list->setMaximumHeight(list->sizeHintForRow(0) * 15 + 2 * list->frameWidth());
    auto* grid = qobject_cast<QGridLayout*>(box.layout());
    auto* buttonRow = box.findChild<QDialogButtonBox*>();
    if (grid && buttonRow) {
      const int row = grid->rowCount();
      grid->removeWidget(buttonRow);
      grid->addWidget(list, row, 0, 1, grid->columnCount());
      grid->addWidget(buttonRow, row + 1, 0, 1, grid->columnCount());
    }
  }
  for (const Choice& choice : choices) box.addButton(choice.Button);
  // The first button is the default, as in the boxes the program was made for.
  box.setDefaultButton(buttons == ui::Buttons::YesNoDefaultNo ? QMessageBox::No : choices.front().Button);
  box.exec();
  QAbstractButton* clicked = box.clickedButton();
  for (const Choice& choice : choices)
    if (clicked && clicked == box.button(choice.Button)) return choice.Answer;
  return ui::DefaultAnswer(buttons);
}

std::optional<std::string> QtUi::DoInputBox(const std::string& prompt, const std::string& title,
                                            const std::string& defaultText) {
  QInputDialog dialog(DialogParent());
  dialog.setInputMode(QInputDialog::TextInput);
  dialog.setWindowTitle(FromUtf8(title));
  dialog.setLabelText(BoxText(prompt));
  dialog.setTextValue(FromUtf8(defaultText));
  // Room for the title, and for a line of text as long as a path (the
  // dialog's layout takes its width from the text field).
  if (auto* edit = dialog.findChild<QLineEdit*>())
    edit->setMinimumWidth(std::max(widgets::TitleWidth(dialog.windowTitle()),
                                   edit->fontMetrics().horizontalAdvance(QString(40, QLatin1Char('x')))));
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return ToUtf8(dialog.textValue());
}

std::string QtUi::DoFileDialog(const ui::FileDialogRequest& request) {
  QString start = FromUtf8(request.InitialFolder);
  if (!request.DefaultName.empty()) {
    if (!start.isEmpty() && !start.endsWith(QLatin1Char('/'))) start += QLatin1Char('/');
    start += FromUtf8(request.DefaultName);
  }
  const QString filter = ConvertFilter(request.Filter);
  const QString title = FromUtf8(request.Title);
  const QString path =
      request.Save ? QFileDialog::getSaveFileName(DialogParent(), title, start, filter)
                   : QFileDialog::getOpenFileName(DialogParent(), title, start, filter);
  return ToUtf8(path);
}

int QtUi::DoRunModal(const std::string&, const std::function<int()>& run) {
  return run ? run() : 0;
}

void QtUi::DoShowWait(const std::string& text) {
  if (!wait_) {
    wait_ = new Form9(DialogParent());
    wait_->setAttribute(Qt::WA_DeleteOnClose, false);
  }
  wait_->Label1->setText(FromUtf8(text));
  wait_->show();
  wait_->raise();
  // Once, so that the notice is painted before the long step starts.
  ProcessPending(QEventLoop::ExcludeUserInputEvents);
}

void QtUi::DoHideWait() {
  if (!wait_) return;
  Form9* window = wait_;
  wait_ = nullptr;
  window->hide();
  delete window;
}

void QtUi::DoSetBusy(bool busy) {
  if (busy == busy_) return;
  busy_ = busy;
  if (busy)
    QApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
  else
    QApplication::restoreOverrideCursor();
}

void QtUi::DoDoEvents(bool allowUserInput) {
  ProcessPending(allowUserInput ? QEventLoop::AllEvents : QEventLoop::ExcludeUserInputEvents);
  pacer_.Processed();
}

void QtUi::DoStepEvents() {
  if (pacer_.Due()) ProcessPending(QEventLoop::AllEvents);
}

bool QtUi::DoOpenWithDesktop(const std::string& path, bool print) {
  if (print) return platform::StartProgram("lp", {path});
  return platform::ShellOpen(path);
}

namespace {
std::function<void()>& ProgramEndStep() {
  static std::function<void()> step;
  return step;
}
}  // namespace

void SetProgramEndStep(std::function<void()> step) { ProgramEndStep() = std::move(step); }

void QtUi::DoEndProgram(int exitStatus) {
  // At once: no window is unloaded, no close handler runs; only the
  // program's own traces outside its folder are removed.
  if (ProgramEndStep()) ProgramEndStep()();
  std::fflush(nullptr);
  std::_Exit(exitStatus);
}

// ------------------------------------------------------------ installation

namespace {
QtUi* g_installed = nullptr;

QColor FromRgb(int32_t rgb) { return QColor(rgb & 0xFF, (rgb >> 8) & 0xFF, (rgb >> 16) & 0xFF); }
}  // namespace

void InstallWindowHooks() {
  // A progress bar's colours: the bar is drawn in the Highlight colour, the
  // groove behind it in Base (and Window, for styles that use that).
  core::SetProgressColorHook([](core::WindowHandle handle, bool background, int32_t rgb) {
    auto* bar = static_cast<QWidget*>(handle);
    if (bar == nullptr) return;
    QPalette palette = bar->palette();
    if (background) {
      palette.setColor(QPalette::Base, FromRgb(rgb));
      palette.setColor(QPalette::Window, FromRgb(rgb));
    } else {
      palette.setColor(QPalette::Highlight, FromRgb(rgb));
    }
    bar->setPalette(palette);
  });
  core::SetWindowOnTopHook([](core::WindowHandle handle, bool onTop) {
    auto* window = static_cast<QWidget*>(handle);
    if (window == nullptr) return;
    window = window->window();
    if (((window->windowFlags() & Qt::WindowStaysOnTopHint) != 0) == onTop) return;
    const bool shown = window->isVisible();
    window->setWindowFlag(Qt::WindowStaysOnTopHint, onTop);
    if (shown) window->show();   // a changed flag hides the window
  });
}

QtUi& InstallUi() {
  if (g_installed) return *g_installed;
  InstallWindowHooks();
  const char* scriptPath = std::getenv("QUENBRIX_UI_SCRIPT");
  if (scriptPath && *scriptPath) {
    std::vector<ScriptStep> steps;
    std::string error;
    if (!LoadScript(scriptPath, steps, error)) {
      std::fprintf(stderr, "SCRIPT ERROR\t%s\n", error.c_str());
      std::fflush(nullptr);
      std::_Exit(kExitScriptError);
    }
    // Lives until the process ends.
    g_installed = new ScriptUi(std::move(steps));
  } else {
    g_installed = new QtUi();
  }
  ui::SetCurrent(g_installed);
  return *g_installed;
}

QtUi* InstalledUi() { return g_installed; }

void SetMainWindow(QWidget* window) {
  if (g_installed) g_installed->SetMainWindow(window);
}

}  // namespace mainwindow
