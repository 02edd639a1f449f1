#include "mainwindow/script_runner.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QTabBar>
#include <QTabWidget>
#include <QTextEdit>
#include <QThread>
#include <QTimer>
#include <QWidget>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "mainwindow/list_view.h"
#include "mainwindow/tree_view.h"
#include "ui/runs.h"

namespace mainwindow {

// ------------------------------------------------------------------ parsing

const char* ToString(StepKind kind) {
  switch (kind) {
    case StepKind::Click: return "click";
    case StepKind::Choose: return "choose";
    case StepKind::Tab: return "tab";
    case StepKind::Node: return "node";
    case StepKind::Select: return "select";
    case StepKind::Check: return "check";
    case StepKind::Uncheck: return "uncheck";
    case StepKind::DblClick: return "dblclick";
    case StepKind::Rename: return "rename";
    case StepKind::Answer: return "answer";
    case StepKind::Input: return "input";
    case StepKind::File: return "file";
    case StepKind::Print: return "print";
    case StepKind::Close: return "close";
    case StepKind::Wait: return "wait";
    case StepKind::Await: return "await";
    case StepKind::Anytime: return "anytime";
  }
  return "?";
}

namespace {

// Splits off the first word: `head` up to the first blank, `rest` behind it
// (nullopt when there is no blank).
void SplitWord(const std::string& text, std::string& head, std::optional<std::string>& rest) {
  const size_t blank = text.find(' ');
  if (blank == std::string::npos) {
    head = text;
    rest.reset();
  } else {
    head = text.substr(0, blank);
    rest = text.substr(blank + 1);
  }
}

std::string TrimRight(std::string text) {
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.pop_back();
  return text;
}

}  // namespace

bool ParseScript(const std::string& text, std::vector<ScriptStep>& steps, std::string& error) {
  steps.clear();
  std::istringstream in(text);
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const size_t first = line.find_first_not_of(" \t");
    if (first == std::string::npos || line[first] == '#') continue;
    line.erase(0, first);

    auto fail = [&](const std::string& why) {
      error = "line " + std::to_string(number) + ": " + why;
      steps.clear();
      return false;
    };
    std::string command;
    std::optional<std::string> rest;
    SplitWord(line, command, rest);
    ScriptStep step;
    step.Line = number;

    // NAME alone, to the end of the line.
    auto oneName = [&]() -> bool {
      step.Name = TrimRight(rest.value_or(std::string()));
      return !step.Name.empty();
    };
    // NAME, then the last argument to the end of the line.
    auto nameAndRest = [&](std::string& last, bool lastRequired) -> bool {
      if (!rest) return false;
      std::optional<std::string> tail;
      SplitWord(*rest, step.Name, tail);
      if (step.Name.empty()) return false;
      last = tail.value_or(std::string());
      return !lastRequired || !last.empty();
    };

    if (command == "click" || command == "print") {
      step.Kind = command == "click" ? StepKind::Click : StepKind::Print;
      if (!oneName()) return fail(command + " needs a control name");
    } else if (command == "choose") {
      step.Kind = StepKind::Choose;
      if (!nameAndRest(step.Text, false)) return fail("choose needs a control name and a text");
    } else if (command == "tab") {
      step.Kind = StepKind::Tab;
      if (!nameAndRest(step.Key, true)) return fail("tab needs a control name and a number");
      const std::string digits = TrimRight(step.Key);
      if (digits.empty() || digits.size() > 4 ||
          digits.find_first_not_of("0123456789") != std::string::npos || std::stoi(digits) < 1)
        return fail("tab number must be 1 or more: \"" + step.Key + "\"");
      step.TabNumber = std::stoi(digits);
    } else if (command == "node" || command == "select" || command == "check" ||
               command == "uncheck" || command == "dblclick") {
      step.Kind = command == "node"     ? StepKind::Node
                  : command == "select" ? StepKind::Select
                  : command == "check"  ? StepKind::Check
                  : command == "uncheck" ? StepKind::Uncheck
                                          : StepKind::DblClick;
      if (!nameAndRest(step.Key, true)) return fail(command + " needs a control name and a key");
    } else if (command == "rename") {
      step.Kind = StepKind::Rename;
      std::string keyAndText;
      if (!nameAndRest(keyAndText, true)) return fail("rename needs a control name, a key and a text");
      std::optional<std::string> newText;
      SplitWord(keyAndText, step.Key, newText);
      if (step.Key.empty()) return fail("rename needs a key");
      step.Text = newText.value_or(std::string());
    } else if (command == "answer") {
      step.Kind = StepKind::Answer;
      const std::string button = TrimRight(rest.value_or(std::string()));
      const std::optional<ui::Answer> answer = ui::AnswerFromString(button);
      if (!answer) return fail("answer needs OK, Cancel, Yes, No, Abort, Retry or Ignore, not \"" +
                               button + "\"");
      step.AnswerValue = *answer;
    } else if (command == "input" || command == "file") {
      step.Kind = command == "input" ? StepKind::Input : StepKind::File;
      step.Text = rest.value_or(std::string());
      step.Cancel = step.Text.empty();
    } else if (command == "close") {
      step.Kind = StepKind::Close;
      step.Name = TrimRight(rest.value_or(std::string()));
    } else if (command == "await") {
      step.Kind = StepKind::Await;
      step.Text = TrimRight(rest.value_or(std::string()));
      if (step.Text.empty()) return fail("await needs a file path");
    } else if (command == "wait" || command == "anytime") {
      step.Kind = command == "wait" ? StepKind::Wait : StepKind::Anytime;
      if (!TrimRight(rest.value_or(std::string())).empty()) return fail(command + " takes no argument");
    } else {
      return fail("unknown step \"" + command + "\"");
    }
    steps.push_back(std::move(step));
  }
  error.clear();
  return true;
}

bool LoadScript(const std::string& path, std::vector<ScriptStep>& steps, std::string& error) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    error = "cannot read the script " + path;
    return false;
  }
  std::ostringstream text;
  text << file.rdbuf();
  if (!ParseScript(text.str(), steps, error)) {
    error = path + ": " + error;
    return false;
  }
  return true;
}

// ------------------------------------------------------------------ helpers

namespace {

QString Q(const std::string& text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}
std::string S(const QString& text) { return OneLine(text.toUtf8().toStdString()); }
const char* Bit(bool value) { return value ? "1" : "0"; }

// The control's own enabled state (not that of its window).
bool OwnEnabled(const QWidget* widget) { return !widget->testAttribute(Qt::WA_ForceDisabled); }

bool IsButtonOf(ui::Answer answer, ui::Buttons buttons) {
  using ui::Answer;
  switch (buttons) {
    case ui::Buttons::OK: return answer == Answer::OK;
    case ui::Buttons::OKCancel: return answer == Answer::OK || answer == Answer::Cancel;
    case ui::Buttons::AbortRetryIgnore:
      return answer == Answer::Abort || answer == Answer::Retry || answer == Answer::Ignore;
    case ui::Buttons::YesNoCancel:
      return answer == Answer::Yes || answer == Answer::No || answer == Answer::Cancel;
    case ui::Buttons::YesNo:
    case ui::Buttons::YesNoDefaultNo: return answer == Answer::Yes || answer == Answer::No;
    case ui::Buttons::RetryCancel: return answer == Answer::Retry || answer == Answer::Cancel;
  }
  return false;
}

int FindEntry(const QStringList& entries, const QString& prefix) {
  for (int i = 0; i < entries.size(); ++i)
    if (entries[i].startsWith(prefix)) return i;
  return -1;
}

QStringList ListEntries(const QListWidget* list) {
  QStringList entries;
  for (int i = 0; i < list->count(); ++i) entries.append(list->item(i)->text());
  return entries;
}

// The rows of a list box that shows a model of its own (column 0).
QStringList ModelEntries(const QAbstractItemView* view) {
  QStringList entries;
  const QAbstractItemModel* model = view->model();
  if (!model) return entries;
  for (int i = 0, n = model->rowCount(view->rootIndex()); i < n; ++i)
    entries.append(model->index(i, 0, view->rootIndex()).data(Qt::DisplayRole).toString());
  return entries;
}

QStringList ComboEntries(const QComboBox* combo) {
  QStringList entries;
  for (int i = 0; i < combo->count(); ++i) entries.append(combo->itemText(i));
  return entries;
}

}  // namespace

// Marks a step or an event processing as running at the current event-loop
// level: the step timer does not start a step at that level, only in a
// (modal) event loop entered from within.
class ScriptUi::BusyScope {
 public:
  // userInput: an event processing that lets the user act (a job's, with
  // its progress window open).
  explicit BusyScope(ScriptUi& owner, bool userInput = false) : owner_(owner) {
    owner_.busyLevels_.push_back(QThread::currentThread()->loopLevel());
    owner_.userInput_.push_back(userInput);
  }
  ~BusyScope() {
    owner_.busyLevels_.pop_back();
    owner_.userInput_.pop_back();
  }
  BusyScope(const BusyScope&) = delete;
  BusyScope& operator=(const BusyScope&) = delete;

 private:
  ScriptUi& owner_;
};

// --------------------------------------------------------------- the runner

ScriptUi::ScriptUi(std::vector<ScriptStep> steps) : steps_(std::move(steps)) { Start(); }

ScriptUi::~ScriptUi() {
  if (context_) delete context_.data();
}

void ScriptUi::Start() {
  if (context_ || !QCoreApplication::instance()) return;
  context_ = new QObject(QCoreApplication::instance());
  ScheduleTick();
}

// Each tick is a new zero timer: a timer whose own timeout is running (the
// step that opened a modal window) would not fire in that window's loop.
void ScriptUi::ScheduleTick() {
  if (context_ && !finished_) QTimer::singleShot(0, context_, [this] { Tick(); });
}

void ScriptUi::Output(const std::string& line) {
  if (output_) {
    output_(line);
    return;
  }
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

// A step waits while the main window closes (after a close during a run),
// and none runs once it has closed: the program is ending, and a user can
// no longer reach its menus and buttons.
bool ScriptUi::MayRunStep() const {
  if (ui::ClosePending()) return false;
  if (QWidget* main = MainWindow();
      main != nullptr && main->testAttribute(Qt::WA_WState_ExplicitShowHide) && main->isHidden())
    return false;
  const int level = QThread::currentThread()->loopLevel();
  if (busyLevels_.empty()) return level >= 1;
  return level > busyLevels_.back();
}

// A job's event processing lets the user act in the job's own windows (the
// progress window's Cancel button and lists, the countdown's Cancel): the
// next step runs there when it acts on a control of a window other than the
// main window. Every other step waits until the job is over.
bool ScriptUi::MayRunStepInJob() const {
  if (busyLevels_.empty() || !userInput_.back() || !StepsLeft() || ui::ClosePending())
    return false;
  if (busyLevels_.back() != QThread::currentThread()->loopLevel()) return false;
  const ScriptStep& step = steps_[next_];
  switch (step.Kind) {
    case StepKind::Answer:
    case StepKind::Input:
    case StepKind::File:
    case StepKind::Close:
      return false;
    default:
      break;
  }
  QWidget* window = WindowOf(FindControl(step.Name));
  return window != nullptr && window != MainWindow() && window->isVisible();
}

// After `anytime`: a step runs at any event processing that lets the user
// act, when a user could reach its control there.
bool ScriptUi::MayRunStepAnytime(const ScriptStep& step) const {
  if (busyLevels_.empty() || !userInput_.back() || ui::ClosePending()) return false;
  if (busyLevels_.back() != QThread::currentThread()->loopLevel()) return false;
  switch (step.Kind) {
    case StepKind::Answer:
    case StepKind::Input:
    case StepKind::File:
    case StepKind::Anytime:
      return true;
    case StepKind::Wait:
    case StepKind::Await:
      return false;
    case StepKind::Print:
      return FindControl(step.Name) != nullptr;
    case StepKind::Close:
      return Reachable(step.Name.empty() ? ActiveWindow() : WindowOf(FindControl(step.Name)));
    default:
      return Reachable(WindowOf(FindControl(step.Name)));
  }
}

QWidget* ScriptUi::WindowOf(QObject* control) const {
  if (auto* action = qobject_cast<QAction*>(control)) control = action->parent();
  QWidget* widget = qobject_cast<QWidget*>(control);
  // A menu's item is reached through the window that holds the menu bar.
  while (widget != nullptr && qobject_cast<QMenu*>(widget) != nullptr) widget = widget->parentWidget();
  return widget != nullptr ? widget->window() : nullptr;
}

bool ScriptUi::Reachable(QWidget* window) const {
  if (window == nullptr || !window->isVisible()) return false;
  QWidget* modal = QApplication::activeModalWidget();
  if (modal == nullptr) return true;
  // The modal window itself and the windows it owns take input.
  for (QWidget* owner = window; owner != nullptr; owner = owner->parentWidget())
    if (owner == modal) return true;
  if (modal->windowModality() != Qt::WindowModal) return false;
  // A window-modal window blocks only the windows that own it.
  for (QWidget* owner = modal->parentWidget(); owner != nullptr; owner = owner->parentWidget())
    if (owner->window() == window) return false;
  return true;
}

void ScriptUi::Tick() {
  if (finished_) return;
  ScheduleTick();
  if (StepsLeft()) {
    const ScriptStep& step = steps_[next_];
    const bool may = step.Kind == StepKind::Await ? MayRunStep() && std::ifstream(step.Text).good()
                     : step.Kind == StepKind::Wait ? MayRunStep()
                     : anytime_ ? MayRunStep() || MayRunStepAnytime(step)
                                : MayRunStep() || MayRunStepInJob();
    if (!may) return;
  } else if (!MayRunStep()) {
    return;
  }
  if (StepsLeft()) {
    RunNextStep();
    return;
  }
  // The script has run out while a window waits for the user.
  finished_ = true;
  if (onFinished_)
    onFinished_();
  else
    EndProgram(ui::kExitNormal);
}

bool ScriptUi::RunNextStep() {
  if (!StepsLeft()) return false;
  const ScriptStep step = steps_[next_++];
  BusyScope busy(*this);
  Execute(step);
  QCoreApplication::processEvents();
  return true;
}

void ScriptUi::Fail(const ScriptStep& step, const std::string& why) {
  std::string message = "line " + std::to_string(step.Line) + ": " + ToString(step.Kind);
  if (!step.Name.empty()) message += " " + step.Name;
  message += ": " + why;
  if (onError_) {
    onError_(message);
    return;
  }
  std::fflush(stdout);
  std::fprintf(stderr, "SCRIPT ERROR\t%s\n", message.c_str());
  EndProgram(kExitScriptError);
}

void ScriptUi::Unanswered(const std::string& kind, const std::string& title,
                          const std::string& text) {
  Output("UNANSWERED\t" + kind + "\t" + OneLine(title) + "\t" + OneLine(text));
  EndProgram(ui::kExitUnanswered);
}

std::vector<QWidget*> ScriptUi::SearchRoots() const {
  std::vector<QWidget*> roots;
  auto add = [&roots](QWidget* widget) {
    if (widget && std::find(roots.begin(), roots.end(), widget) == roots.end())
      roots.push_back(widget);
  };
  add(QApplication::activeModalWidget());
  add(MainWindow());
  const QWidgetList windows = QApplication::topLevelWidgets();
  for (QWidget* window : windows)
    if (window->isVisible()) add(window);
  for (QWidget* window : windows) add(window);
  return roots;
}

QObject* ScriptUi::FindControl(const std::string& name) const {
  const QString wanted = Q(name);
  const qsizetype dot = wanted.indexOf(QLatin1Char('.'));
  if (dot > 0) {
    const QString windowName = wanted.left(dot);
    const QString controlName = wanted.mid(dot + 1);
    for (QWidget* root : SearchRoots()) {
      QWidget* window = root->objectName() == windowName
                            ? root
                            : root->findChild<QWidget*>(windowName);
      if (!window) continue;
      if (controlName.isEmpty() || window->objectName() == controlName) return window;
      if (QObject* control = window->findChild<QObject*>(controlName)) return control;
    }
    return nullptr;
  }
  for (QWidget* root : SearchRoots()) {
    if (root->objectName() == wanted) return root;
    if (QObject* control = root->findChild<QObject*>(wanted)) return control;
  }
  return nullptr;
}

QWidget* ScriptUi::ActiveWindow() const {
  if (QWidget* modal = QApplication::activeModalWidget()) return modal;
  if (MainWindow() && MainWindow()->isVisible()) return MainWindow();
  if (QWidget* active = QApplication::activeWindow()) return active;
  for (QWidget* window : QApplication::topLevelWidgets())
    if (window->isVisible() && window->isWindow() && window->objectName() != "Form9")
      return window;
  return nullptr;
}

std::vector<std::string> ScriptUi::Describe(QObject* control) const {
  std::vector<std::string> lines;
  if (auto* list = qobject_cast<ListView*>(control)) {
    for (const QString& key : list->Keys()) {
      std::string line = S(key) + "\t" + Bit(list->Checked(key)) + "\t" + Bit(list->Bold(key)) +
                         "\t" + S(list->IconKey(key)) + "\t" + S(list->Text(key));
      for (int column = 1; column < list->ColumnCount(); ++column)
        line += "\t" + S(list->SubItem(key, column));
      lines.push_back(std::move(line));
    }
  } else if (auto* tree = qobject_cast<TreeView*>(control)) {
    for (const QString& key : tree->Keys())
      lines.push_back(S(key) + "\t" + S(tree->IconKey(key)) + "\t" + S(tree->Text(key)));
  } else if (auto* combo = qobject_cast<QComboBox*>(control)) {
    for (int i = 0; i < combo->count(); ++i)
      lines.push_back((i == combo->currentIndex() ? "*" : "") + S(combo->itemText(i)));
  } else if (auto* box = qobject_cast<QListWidget*>(control)) {
    for (int i = 0; i < box->count(); ++i)
      lines.push_back((box->item(i)->isSelected() ? "*" : "") + S(box->item(i)->text()));
  } else if (auto* view = qobject_cast<QAbstractItemView*>(control); view && view->model()) {
    const QStringList entries = ModelEntries(view);
    for (int i = 0; i < entries.size(); ++i) {
      const QModelIndex index = view->model()->index(i, 0, view->rootIndex());
      const bool selected = view->selectionModel() && view->selectionModel()->isSelected(index);
      lines.push_back((selected ? "*" : "") + S(entries[i]));
    }
  } else if (qobject_cast<QTabWidget*>(control) || qobject_cast<QTabBar*>(control)) {
    auto* tabs = qobject_cast<QTabWidget*>(control);
    QTabBar* bar = tabs ? tabs->tabBar() : qobject_cast<QTabBar*>(control);
    for (int i = 0; i < bar->count(); ++i)
      lines.push_back((i == bar->currentIndex() ? "*" : "") + S(bar->tabText(i)));
  } else if (qobject_cast<QAction*>(control) || qobject_cast<QMenu*>(control)) {
    auto* menu = qobject_cast<QMenu*>(control);
    QAction* action = menu ? menu->menuAction() : qobject_cast<QAction*>(control);
    lines.push_back(std::string(Bit(action->isEnabled())) + "\t" + Bit(action->isVisible()) +
                    "\t" + Bit(action->isChecked()));
  } else if (auto* button = qobject_cast<QAbstractButton*>(control)) {
    std::string line = S(button->text()) + "\t" + Bit(OwnEnabled(button));
    if (button->isCheckable()) line += std::string("\t") + Bit(button->isChecked());
    lines.push_back(std::move(line));
  } else if (auto* label = qobject_cast<QLabel*>(control)) {
    lines.push_back(S(label->text()) + "\t" + Bit(OwnEnabled(label)));
  } else if (auto* edit = qobject_cast<QLineEdit*>(control)) {
    lines.push_back(S(edit->text()) + "\t" + Bit(OwnEnabled(edit)));
  } else if (auto* plain = qobject_cast<QPlainTextEdit*>(control)) {
    lines.push_back(S(plain->toPlainText()) + "\t" + Bit(OwnEnabled(plain)));
  } else if (auto* rich = qobject_cast<QTextEdit*>(control)) {
    lines.push_back(S(rich->toPlainText()) + "\t" + Bit(OwnEnabled(rich)));
  } else if (auto* bar = qobject_cast<QProgressBar*>(control)) {
    lines.push_back(std::to_string(bar->value()) + "\t" + Bit(OwnEnabled(bar)));
  } else if (auto* widget = qobject_cast<QWidget*>(control)) {
    lines.push_back(S(widget->windowTitle()) + "\t" + Bit(OwnEnabled(widget)) + "\t" +
                    Bit(widget->isVisible()));
  }
  return lines;
}

void ScriptUi::Execute(const ScriptStep& step) {
  auto note = [&step](const char* what) {
    std::fprintf(stderr, "script line %d: %s %s: %s\n", step.Line, ToString(step.Kind),
                 step.Name.c_str(), what);
  };
  switch (step.Kind) {
    case StepKind::Answer:
      answers_.push_back(step.AnswerValue);
      return;
    case StepKind::Input:
      inputs_.push_back(step.Cancel ? std::nullopt : std::optional<std::string>(step.Text));
      return;
    case StepKind::File:
      files_.push_back(step.Cancel ? std::nullopt : std::optional<std::string>(step.Text));
      return;
    case StepKind::Close: {
      QWidget* window = step.Name.empty() ? ActiveWindow() : WindowOf(FindControl(step.Name));
      if (!window) return Fail(step, step.Name.empty() ? "no window is open" : "no such window");
      window->close();
      return;
    }
    case StepKind::Wait:
    case StepKind::Await:
      return;
    case StepKind::Anytime:
      anytime_ = true;
      return;
    default:
      break;
  }

  QObject* control = FindControl(step.Name);
  if (!control) return Fail(step, "no such control");
  const QString key = Q(step.Key);
  const QString text = Q(step.Text);
  auto* widget = qobject_cast<QWidget*>(control);
  const bool usable = !widget || widget->isEnabled();

  switch (step.Kind) {
    case StepKind::Print: {
      Output("== " + step.Name);
      for (const std::string& line : Describe(control)) Output(line);
      return;
    }
    case StepKind::Click: {
      if (auto* menu = qobject_cast<QMenu*>(control)) control = menu->menuAction();
      if (auto* action = qobject_cast<QAction*>(control)) {
        if (!action->isEnabled() || !action->isVisible()) return note("disabled or hidden, ignored");
        // A user reaches an item only through its menus.
        for (auto* menu = qobject_cast<QMenu*>(action->parent()); menu != nullptr;
             menu = qobject_cast<QMenu*>(menu->parent()))
          if (!menu->isEnabled() || !menu->menuAction()->isEnabled())
            return note("in a disabled menu, ignored");
        action->trigger();
      } else if (auto* button = qobject_cast<QAbstractButton*>(control)) {
        if (!button->isEnabled()) return note("disabled, ignored");
        button->click();
      } else {
        Fail(step, "is neither a button nor a menu item");
      }
      return;
    }
    case StepKind::Choose:
    case StepKind::Select:
    case StepKind::DblClick:
      if (auto* combo = qobject_cast<QComboBox*>(control); combo && step.Kind == StepKind::Choose) {
        if (!usable) return note("disabled, ignored");
        const int index = FindEntry(ComboEntries(combo), text);
        if (index < 0) return Fail(step, "no entry begins with \"" + step.Text + "\"");
        combo->setCurrentIndex(index);
        emit combo->activated(index);
        emit combo->textActivated(combo->itemText(index));
        return;
      }
      if (auto* box = qobject_cast<QListWidget*>(control)) {
        if (!usable) return note("disabled, ignored");
        const QString& prefix = step.Kind == StepKind::Choose ? text : key;
        const int index = FindEntry(ListEntries(box), prefix);
        if (index < 0) return Fail(step, "no entry begins with \"" + prefix.toStdString() + "\"");
        box->setCurrentRow(index);
        QListWidgetItem* item = box->item(index);
        emit box->itemClicked(item);
        if (step.Kind == StepKind::DblClick) emit box->itemDoubleClicked(item);
        return;
      }
      if (auto* view = qobject_cast<QAbstractItemView*>(control);
          view && view->model() && !qobject_cast<ListView*>(control) && !qobject_cast<TreeView*>(control)) {
        if (!usable) return note("disabled, ignored");
        const QString& prefix = step.Kind == StepKind::Choose ? text : key;
        const int index = FindEntry(ModelEntries(view), prefix);
        if (index < 0) return Fail(step, "no entry begins with \"" + prefix.toStdString() + "\"");
        const QModelIndex item = view->model()->index(index, 0, view->rootIndex());
        view->setCurrentIndex(item);
        emit view->clicked(item);
        if (step.Kind == StepKind::DblClick) emit view->doubleClicked(item);
        return;
      }
      if (auto* list = qobject_cast<ListView*>(control); list && step.Kind != StepKind::Choose) {
        if (!usable) return note("disabled, ignored");
        if (!list->Contains(key)) return Fail(step, "no item " + step.Key);
        if (step.Kind == StepKind::Select)
          list->UserClickItem(key);
        else
          list->UserDoubleClickItem(key);
        return;
      }
      return Fail(step, step.Kind == StepKind::Choose ? "is neither a combo box nor a list box"
                                                       : "is not a list");
    case StepKind::Tab: {
      auto* tabs = qobject_cast<QTabWidget*>(control);
      QTabBar* bar = tabs ? tabs->tabBar() : qobject_cast<QTabBar*>(control);
      if (!bar) return Fail(step, "is not a tab strip");
      if (step.TabNumber > bar->count()) return Fail(step, "has no tab " + step.Key);
      if (!usable) return note("disabled, ignored");
      emit bar->tabBarClicked(step.TabNumber - 1);
      bar->setCurrentIndex(step.TabNumber - 1);
      return;
    }
    case StepKind::Node: {
      auto* tree = qobject_cast<TreeView*>(control);
      if (!tree) return Fail(step, "is not a tree");
      if (!tree->Contains(key)) return Fail(step, "no node " + step.Key);
      if (!usable) return note("disabled, ignored");
      tree->UserClickNode(key);
      return;
    }
    case StepKind::Check:
    case StepKind::Uncheck: {
      auto* list = qobject_cast<ListView*>(control);
      if (!list) return Fail(step, "is not a list");
      if (!list->Contains(key)) return Fail(step, "no item " + step.Key);
      if (!usable) return note("disabled, ignored");
      list->UserSetChecked(key, step.Kind == StepKind::Check);
      return;
    }
    case StepKind::Rename: {
      auto* list = qobject_cast<ListView*>(control);
      if (!list) return Fail(step, "is not a list");
      if (!list->Contains(key)) return Fail(step, "no item " + step.Key);
      if (list->Editing() && list->EditingKey().compare(key, Qt::CaseInsensitive) == 0) {
        list->FinishLabelEdit(text);
        return;
      }
      if (!list->LabelEditAutomatic())
        return Fail(step, "no edit of " + step.Key + " is open and the list edits labels only "
                          "when the program starts it");
      if (!usable) return note("disabled, ignored");
      // A click on the item, a second slow click opens the editor.
      list->UserClickItem(key);
      if (list->Contains(key) && list->StartLabelEdit(key)) list->FinishLabelEdit(text);
      return;
    }
    default:
      return;
  }
}

// ------------------------------------------------------------------ prompts

template <class Queue>
void ScriptUi::RunStepsUntilAnswer(Queue& answers, const std::string& kind,
                                   const std::string& title, const std::string& text) {
  while (answers.empty()) {
    if (!StepsLeft() || steps_[next_].Kind == StepKind::Wait ||
        steps_[next_].Kind == StepKind::Await)
      Unanswered(kind, title, text);
    // No user reaches a control under a modal box: only the steps that
    // answer it, and print, run while it waits.
    switch (steps_[next_].Kind) {
      case StepKind::Answer:
      case StepKind::Input:
      case StepKind::File:
      case StepKind::Print:
        RunNextStep();
        break;
      default:
        Fail(steps_[next_++], "no user can do this while the " + kind + " \"" + OneLine(title) +
                                  "\" waits for its answer: " + OneLine(text));
        break;
    }
  }
}

ui::Answer ScriptUi::DoMsgBox(const std::string& text, ui::Buttons buttons, ui::Icon,
                              const std::string& title) {
  RunStepsUntilAnswer(answers_, "MSGBOX", title, text);
  const ui::Answer answer = answers_.front();
  answers_.pop_front();
  if (!IsButtonOf(answer, buttons)) {
    std::fprintf(stderr, "script: the answer %s is not a button of this %s box\n",
                 ui::ToString(answer), ui::ToString(buttons));
    Unanswered("MSGBOX", title, text);
  }
  Output("MSGBOX\t" + OneLine(title) + "\t" + OneLine(text) + "\t" + ui::ToString(answer));
  return answer;
}

std::optional<std::string> ScriptUi::DoInputBox(const std::string& prompt,
                                                const std::string& title,
                                                const std::string&) {
  RunStepsUntilAnswer(inputs_, "INPUTBOX", title, prompt);
  std::optional<std::string> answer = inputs_.front();
  inputs_.pop_front();
  Output("INPUTBOX\t" + OneLine(title) + "\t" + OneLine(prompt) + "\t" +
         OneLine(answer.value_or(std::string())));
  return answer;
}

std::string ScriptUi::DoFileDialog(const ui::FileDialogRequest& request) {
  const std::string title =
      !request.Title.empty() ? request.Title : (request.Save ? "Save As" : "Open");
  RunStepsUntilAnswer(files_, "FILEDIALOG", title, request.Filter);
  const std::string path = files_.front().value_or(std::string());
  files_.pop_front();
  Output("FILEDIALOG\t" + OneLine(title) + "\t" + OneLine(request.Filter) + "\t" + path);
  return path;
}

bool ScriptUi::DoOpenWithDesktop(const std::string& path, bool print) {
  Output(std::string(print ? "PRINT" : "OPEN") + "\t" + path);
  return true;
}

void ScriptUi::ProcessPending(QEventLoop::ProcessEventsFlags flags) {
  BusyScope busy(*this, !(flags & QEventLoop::ExcludeUserInputEvents));
  QtUi::ProcessPending(flags);
}

}  // namespace mainwindow
