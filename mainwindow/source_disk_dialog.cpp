#include "mainwindow/source_disk_dialog.h"
#include "widgets/window_fit.h"

#include <QListWidget>
#include <QPushButton>

#include "ui/ui.h"

namespace mainwindow {

int32_t SelectedDisk = -1;

namespace {
constexpr int Twips(int twips) { return twips / 15; }
constexpr int kDriveRole = Qt::UserRole;

// The list shows the tab-separated parts of an entry spaced apart.
QString DisplayText(const std::string& text) {
  QString display = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
  display.replace(QLatin1Char('\t'), QStringLiteral("   "));
  return display;
}
}  // namespace

Form6::Form6(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("Form6"));
  setWindowTitle(QStringLiteral("Topfield Zyphonel - Select the source disk"));
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint);
  // The designed size, wider where the title needs it; the list fills the
  // width and the button stays centred below it.
  const int width = std::max(Twips(5100), widgets::TitleWidth(windowTitle()));
  setFixedSize(width, Twips(3570));

  List1 = new QListWidget(this);
  List1->setObjectName(QStringLiteral("List1"));
  List1->setGeometry(0, 0, width - Twips(45), Twips(2985));
  List1->setSelectionMode(QAbstractItemView::SingleSelection);

  Command1 = new QPushButton(QStringLiteral("Select"), this);
  Command1->setObjectName(QStringLiteral("Command1"));
  Command1->setGeometry((width - Twips(975)) / 2, Twips(3120), Twips(975), Twips(375));
  widgets::FitButton(Command1, Command1->text());
  Command1->move((width - Command1->width()) / 2, Command1->y());
  // Enter presses a focused button, and Select from the list (which
  // leaves the key to the dialog).
  Command1->setDefault(true);

  // The selection, not the current row: the list moves its current row to
  // the first entry by itself when it gets the focus, which is no choice.
  connect(List1, &QListWidget::itemSelectionChanged, this, [this] { List1_Click(); });
  connect(List1, &QListWidget::itemClicked, this, [this](QListWidgetItem*) { List1_Click(); });
  connect(List1, &QListWidget::itemDoubleClicked, this,
          [this](QListWidgetItem*) { List1_DblClick(); });
  connect(Command1, &QPushButton::clicked, this, [this] { Command1_Click(); });
}

void Form6::AddEntry(const std::string& text, int driveNumber) {
  auto* item = new QListWidgetItem(DisplayText(text));
  item->setData(kDriveRole, driveNumber);
  List1->addItem(item);
}

void Form6::List1_Click() {
  const QList<QListWidgetItem*> selected = List1->selectedItems();
  if (!selected.isEmpty()) SelectedDisk = selected.first()->data(kDriveRole).toInt();
}

void Form6::List1_DblClick() {
  List1_Click();
  accept();
}

void Form6::Command1_Click() { accept(); }

void Form6::reject() {
  if (isVisible()) SelectedDisk = -1;
  QDialog::reject();
}

int RunForm6(const std::vector<std::pair<std::string, int>>& entries, QWidget* parent) {
  Form6 form(parent);
  for (const auto& [text, drive] : entries) form.AddEntry(text, drive);
  SelectedDisk = -1;
  ui::Current().RunModal("Form6", [&form] { return form.exec(); });
  return SelectedDisk;
}

}  // namespace mainwindow
