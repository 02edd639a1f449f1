// Construction of the main window: controls, menus, icon sets, signal
// wiring and the key preview; the window-state globals.
#include "mainwindow/form1.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLocalServer>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPushButton>
#include <QTabWidget>

#include "core/disk_model.h"
#include "core/error_handler.h"
#include "core/pc_helpers.h"
#include "mainwindow/icon_set.h"
#include "mainwindow/menu_build.h"
#include "mainwindow/qt_ui.h"
#include "widgets/owner.h"
#include "widgets/window_fit.h"
#include "ui/scripted_ui.h"
#include "platform/platform.h"

namespace mainwindow {

int ActiveSide = 0;
int FocusSide = 0;
bool ShortcutsOff = false;
bool PopupPending = false;
bool SaveSystemClustersSwitch = false;
bool Extras = false;
bool IgnoreRec = false;
double Size4GB = 4294967296.0;
double Size2GB = 2147483648.0;
int32_t SortColumn[2] = {0, 0};
int32_t SortOrder[2] = {0, 0};

namespace {
Form1* g_mainForm = nullptr;
}

Form1* MainForm() { return g_mainForm; }

void ResetWindowState() {
  ActiveSide = 0;
  FocusSide = 0;
  ShortcutsOff = false;
  PopupPending = false;
  SaveSystemClustersSwitch = false;
  Extras = false;
  IgnoreRec = false;
  Size4GB = 4294967296.0;
  Size2GB = 2147483648.0;
  SortColumn[0] = SortColumn[1] = 0;
  SortOrder[0] = SortOrder[1] = 0;
}

QString RecorderToDisplay(const std::string& bytes) {
  return QString::fromStdString(platform::Cp1252ToUtf8(bytes));
}

std::string DisplayToRecorder(const QString& text) {
  return platform::Utf8ToCp1252(text.toStdString());
}

namespace {
constexpr char16_t kEscapedByte = 0xDC00;   // + the byte (0x80 to 0xFF)

QString FromPcBytes(const std::string& bytes, bool keepBytes) {
  QString text;
  text.reserve(static_cast<qsizetype>(bytes.size()));
  for (size_t i = 0; i < bytes.size();) {
    char32_t code = 0;
    const size_t n = platform::DecodeUtf8(bytes, i, code);
    if (n == 0) {
      const unsigned char byte = static_cast<unsigned char>(bytes[i++]);
      text += keepBytes ? QChar(char16_t(kEscapedByte + byte)) : QChar(QChar::ReplacementCharacter);
      continue;
    }
    text += QString::fromUcs4(&code, 1);
    i += n;
  }
  return text;
}
}  // namespace

QString PcToKey(const std::string& bytes) { return FromPcBytes(bytes, true); }

QString PcToDisplay(const std::string& bytes) { return FromPcBytes(bytes, false); }

std::string KeyToPc(const QString& key) {
  std::string bytes;
  bytes.reserve(static_cast<size_t>(key.size()));
  qsizetype start = 0;
  // The runs between escaped bytes are ordinary text.
  const auto flush = [&](qsizetype end) {
    if (end > start) bytes += key.mid(start, end - start).toStdString();
  };
  for (qsizetype i = 0; i < key.size(); ++i) {
    const char16_t unit = key.at(i).unicode();
    if (unit >= kEscapedByte + 0x80 && unit <= kEscapedByte + 0xFF &&
        (i == 0 || !key.at(i - 1).isHighSurrogate())) {
      flush(i);
      bytes += static_cast<char>(unit - kEscapedByte);
      start = i + 1;
    }
  }
  flush(key.size());
  return bytes;
}

// ------------------------------------------------------------------ icons

namespace {

QPixmap Blank() {
  QPixmap pixmap(16, 16);
  pixmap.fill(Qt::transparent);
  return pixmap;
}

QIcon FolderIcon(bool open) {
  QPixmap pixmap = Blank();
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  const QColor edge(160, 120, 20);
  p.setPen(edge);
  p.setBrush(QColor(240, 200, 80));
  p.drawRoundedRect(QRectF(1.5, 3.5, 6, 3), 1, 1);        // the tab
  p.drawRect(QRectF(1.5, 5.5, 13, 8.5));                   // the back
  if (open) {
    QPainterPath front;
    front.moveTo(1.5, 14);
    front.lineTo(4.5, 8.5);
    front.lineTo(15.5, 8.5);
    front.lineTo(12.5, 14);
    front.closeSubpath();
    p.setBrush(QColor(252, 226, 130));
    p.drawPath(front);
  } else {
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(252, 222, 120));
    p.drawRect(QRectF(2, 7, 12, 6.5));
  }
  return QIcon(pixmap);
}

QIcon KeyIcon(const QColor& bow, const QColor& shaft) {
  QPixmap pixmap = Blank();
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(bow.darker(170), 1));
  p.setBrush(bow);
  p.drawEllipse(QRectF(1.5, 1.5, 7, 7));
  p.setBrush(Qt::white);
  p.drawEllipse(QRectF(3.8, 3.8, 2.4, 2.4));
  p.setPen(QPen(shaft.darker(170), 2.2, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(QPointF(7, 7), QPointF(14, 14));
  p.drawLine(QPointF(11.5, 11.5), QPointF(13.5, 9.5));
  p.drawLine(QPointF(13.3, 13.3), QPointF(15, 11.6));
  p.setPen(QPen(shaft, 1.0, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(QPointF(7, 7), QPointF(14, 14));
  return QIcon(pixmap);
}

QIcon RecIcon() {
  QPixmap pixmap = Blank();
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(QColor(120, 0, 0), 1));
  p.setBrush(QColor(220, 30, 30));
  p.drawEllipse(QRectF(2.5, 2.5, 11, 11));
  p.setPen(QPen(Qt::white, 1.6));
  p.drawLine(QPointF(8, 4.5), QPointF(8, 9));
  p.drawPoint(QPointF(8, 11.3));
  return QIcon(pixmap);
}

QIcon RecoveredIcon() {
  QPixmap pixmap = Blank();
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(QColor(150, 60, 0), 1));
  p.setBrush(QColor(255, 140, 40));
  p.drawEllipse(QRectF(1.5, 1.5, 13, 13));
  p.setBrush(Qt::white);
  p.drawEllipse(QRectF(5, 5, 6, 6));
  p.setPen(QPen(Qt::white, 2));
  p.drawLine(QPointF(8, 2), QPointF(8, 5));
  p.drawLine(QPointF(8, 11), QPointF(8, 14));
  p.drawLine(QPointF(2, 8), QPointF(5, 8));
  p.drawLine(QPointF(11, 8), QPointF(14, 8));
  return QIcon(pixmap);
}

QIcon DisasterIcon() {
  QPixmap pixmap = Blank();
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  QPainterPath tri;
  tri.moveTo(8, 1.5);
  tri.lineTo(15, 14.5);
  tri.lineTo(1, 14.5);
  tri.closeSubpath();
  p.setPen(QPen(QColor(140, 0, 0), 1));
  p.setBrush(QColor(230, 40, 30));
  p.drawPath(tri);
  p.setPen(QPen(Qt::white, 1.8));
  p.drawLine(QPointF(8, 6), QPointF(8, 10));
  p.drawPoint(QPointF(8, 12.5));
  return QIcon(pixmap);
}

QIcon FilesIcon() {
  QPixmap pixmap = Blank();
  QPainter p(&pixmap);
  p.setPen(QColor(90, 90, 110));
  p.setBrush(QColor(235, 235, 245));
  p.drawRect(QRectF(4.5, 1.5, 9, 11));
  p.setBrush(Qt::white);
  p.drawRect(QRectF(2.5, 3.5, 9, 11));
  p.setPen(QColor(80, 110, 200));
  for (int y = 6; y <= 12; y += 2) p.drawLine(4, y, 9, y);
  return QIcon(pixmap);
}

QIcon PcIcon() {
  QPixmap pixmap = Blank();
  QPainter p(&pixmap);
  p.setPen(QColor(60, 60, 70));
  p.setBrush(QColor(200, 200, 210));
  p.drawRect(QRectF(1.5, 1.5, 13, 9));
  p.setBrush(QColor(60, 120, 200));
  p.drawRect(QRectF(3.5, 3.5, 9, 5));
  p.setBrush(QColor(170, 170, 180));
  p.drawRect(QRectF(6.5, 10.5, 3, 2));
  p.drawRect(QRectF(3.5, 12.5, 9, 2));
  return QIcon(pixmap);
}

QIcon TopfieldIcon() {
  QPixmap pixmap = Blank();
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QColor(20, 20, 20));
  p.setBrush(QColor(70, 70, 80));
  p.drawRoundedRect(QRectF(0.5, 4.5, 15, 7), 1.5, 1.5);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(60, 220, 90));
  p.drawEllipse(QRectF(2.5, 7, 2.5, 2.5));
  p.setBrush(QColor(120, 200, 255));
  p.drawRect(QRectF(7, 6.8, 6.5, 3));
  return QIcon(pixmap);
}

QIcon SortIcon(bool ascending) {
  QPixmap pixmap = Blank();
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  QPainterPath tri;
  if (ascending) {
    tri.moveTo(8, 4.5);
    tri.lineTo(12.5, 11);
    tri.lineTo(3.5, 11);
  } else {
    tri.moveTo(3.5, 5);
    tri.lineTo(12.5, 5);
    tri.lineTo(8, 11.5);
  }
  tri.closeSubpath();
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(90, 90, 100));
  p.drawPath(tri);
  return QIcon(pixmap);
}

}  // namespace

void Form1::RegisterIcons() {
  // Item icons (IL1), in their stored order.
  RegisterIcon("KeyBlue", KeyIcon(QColor(60, 110, 230), QColor(60, 110, 230)));
  RegisterIcon("Recovered", RecoveredIcon());
  RegisterIcon("KeyG", KeyIcon(QColor(40, 170, 60), QColor(40, 170, 60)));
  RegisterIcon("KeyY", KeyIcon(QColor(240, 200, 20), QColor(240, 200, 20)));
  RegisterIcon("KeyYG", KeyIcon(QColor(240, 200, 20), QColor(40, 170, 60)));
  RegisterIcon("Rec", RecIcon());
  RegisterIcon("Directory", FolderIcon(false));
  // Tree and header icons (IL2).
  RegisterIcon("ExplorerOpen", FolderIcon(true));
  RegisterIcon("Disaster", DisasterIcon());
  RegisterIcon("Files", FilesIcon());
  RegisterIcon("PC", PcIcon());
  RegisterIcon("Topfield", TopfieldIcon());
  RegisterIcon("ExplorerClosed", FolderIcon(false));
  RegisterIcon("SortEmpty", QIcon(Blank()));
  RegisterIcon("SortAsc", SortIcon(true));
  RegisterIcon("SortDesc", SortIcon(false));
}

// ------------------------------------------------------------ construction

Form1::Form1(QWidget* parent) : QMainWindow(parent) {
  setObjectName("Form1");
  setWindowTitle(kMainCaption);
  g_mainForm = this;
  widgets::SetMainWindow(this);
  RegisterIcons();
  CreateControls();
  CreateMenus();
  ConnectSignals();
  // Designed placement (twips; the frame is outside the client size).
  move(TwipsToPixels(kDesignLeft), TwipsToPixels(kDesignTop));
  resize(TwipsToPixels(kDesignWidth) - kFrameWidth, TwipsToPixels(kDesignHeight) - kFrameHeight);
  qApp->installEventFilter(this);
}

Form1::~Form1() {
  if (qApp) qApp->removeEventFilter(this);
  if (g_mainForm == this) g_mainForm = nullptr;
}

namespace {

void Place(QWidget* w, int left, int top, int width, int height) {
  w->setGeometry(TwipsToPixels(left), TwipsToPixels(top), TwipsToPixels(width),
                 TwipsToPixels(height));
}

}  // namespace

void Form1::CreateControls() {
  auto* client = new QWidget(this);
  client->setObjectName("Form1_Client");
  setCentralWidget(client);

  const int paneLeft[2] = {0, 6960};
  for (int side = 0; side < 2; ++side) {
    const QString n = QString::number(side);
    Combo1[side] = new QComboBox(client);
    Combo1[side]->setObjectName("Combo1_" + n);
    Place(Combo1[side], paneLeft[side], 0, 6015, 315);

    Label1[side] = new QLabel(client);
    Label1[side]->setObjectName("Label1_" + n);
    Place(Label1[side], paneLeft[side], 360, 3900, 240);

    // The path label gives way to the summary: it shows the end of a long path.
    Label1[side + 2] = new widgets::ElidedLabel(client);
    Label1[side + 2]->setObjectName("Label1_" + QString::number(side + 2));
    Label1[side + 2]->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    Place(Label1[side + 2], paneLeft[side] + 6015 - 3000, 360, 3000, 240);

    TabStrip1[side] = new QTabWidget(client);
    TabStrip1[side]->setObjectName("TabStrip1_" + n);
    TabStrip1[side]->addTab(new QWidget(TabStrip1[side]), "Files");
    TabStrip1[side]->addTab(new QWidget(TabStrip1[side]), "Tree");
    TabStrip1[side]->setFocusPolicy(Qt::TabFocus);
    Place(TabStrip1[side], paneLeft[side], 600, 6015, 5400);

    TV1[side] = new TreeView(client);
    TV1[side]->setObjectName("TV1_" + n);
    Place(TV1[side], paneLeft[side] + 100, 1200, 5815, 4700);

    LV1[side] = new ListView(client);
    LV1[side]->setObjectName("LV1_" + n);
    Place(LV1[side], paneLeft[side] + 100, 1200, 5815, 4700);

    Command2[side] = new QPushButton("Refresh", client);
    Command2[side]->setAutoDefault(true);
    Command2[side]->setObjectName("Command2_" + n);
    Place(Command2[side], paneLeft[side] + 6015 - 1000 - 100, 630, 1000, 330);
  }
  const char* captions[4] = {"Move", "Copy", "Move", "Copy"};
  const int tops[4] = {2100, 2580, 3660, 4140};
  for (int i = 0; i < 4; ++i) {
    Command1[i] = new QPushButton(captions[i], client);
    Command1[i]->setObjectName("Command1_" + QString::number(i));
    Command1[i]->setToolTip(i < 2 ? "Left to right" : "Right to left");
    // Enter on a focused button presses it, as Space does.
    Command1[i]->setAutoDefault(true);
    Place(Command1[i], 6015 + (945 - 795) / 2, tops[i], 795, 390);
  }
  for (QPushButton* b : Command1) widgets::FitButton(b, b->text());
  for (QPushButton* b : Command2) widgets::FitButton(b, b->text());
  Label2 = new QLabel(client);
  Label2->setObjectName("Label2");
  Label2->setAlignment(Qt::AlignCenter);
  Place(Label2, 6115, 360, 745, 240);
  // The list is in front of the tree until a tab says otherwise.
  for (int side = 0; side < 2; ++side) {
    TV1[side]->hide();
    LV1[side]->raise();
    Command2[side]->raise();
  }
}

void Form1::CreateMenus() {
  QMenuBar* bar = menuBar();
  bar->setObjectName("Form1_MenuBar");

  Menu_File = AddMenu(bar, "Menu_File", "&File");
  Menu_File_ExportList = AddItem(Menu_File, "Menu_File_ExportList", "Export &List");
  Menu_File_Sep1 = AddSeparator(Menu_File, "Menu_File_Sep1");
  Menu_File_Exit = AddItem(Menu_File, "Menu_File_Exit", "E&xit");

  Menu_View = AddMenu(bar, "Menu_View", "&View");
  Menu_View_AbsoluteETA = AddItem(Menu_View, "Menu_View_AbsoluteETA", "&Absolute ETA");
  Menu_View_RelativeETA = AddItem(Menu_View, "Menu_View_RelativeETA", "&Relative ETA");
  Menu_View_ShowGB = AddItem(Menu_View, "Menu_View_ShowGB", "Show GB");
  for (QAction* a : {Menu_View_AbsoluteETA, Menu_View_RelativeETA, Menu_View_ShowGB}) {
    a->setCheckable(true);
    a->setChecked(false);
  }

  Menu_Disk = AddMenu(bar, "Menu_Disk", "&Disk");
  // The second separator stays at the end of the menu outside write mode.
  Menu_Disk->setSeparatorsCollapsible(false);
  Menu_Disk_FSCK = AddItem(Menu_Disk, "Menu_Disk_FSCK", "&File system check");
  Menu_Disk_EnableWriting = AddItem(Menu_Disk, "Menu_Disk_EnableWriting", "Enable Write Mode");
  Menu_Disk_EnableWriting->setCheckable(true);
  Menu_Disk_Sep1 = AddSeparator(Menu_Disk, "Menu_Disk_Sep1");
  Menu_Disk_Scan = AddItem(Menu_Disk, "Menu_Disk_Scan", "&Scan / Match...");
  Menu_Disk_WriteRecovered = AddItem(Menu_Disk, "Menu_Disk_WriteRecovered", "&Write Recovered");
  Menu_Disk_AddREC = AddItem(Menu_Disk, "Menu_Disk_AddREC", "&Add REC Header");
  Menu_Disk_UndoAddREC = AddItem(Menu_Disk, "Menu_Disk_UndoAddREC", "&Undo Add REC Header");
  Menu_Disk_Sep2 = AddSeparator(Menu_Disk, "Menu_Disk_Sep2");
  Menu_Disk_ChangeD0D1 = AddItem(Menu_Disk, "Menu_Disk_ChangeD0D1", "Change D0 -> D1");

  Menu_Expert = AddMenu(bar, "Menu_Expert", "&Expert");
  Menu_Expert_ReadCluster = AddItem(Menu_Expert, "Menu_Expert_ReadCluster", "&Read Cluster...");
  Menu_Expert_WriteCluster = AddItem(Menu_Expert, "Menu_Expert_WriteCluster", "&Write Cluster...");
  Menu_Expert_Sep1 = AddSeparator(Menu_Expert, "Menu_Expert_Sep1");
  Menu_Expert_SaveSystemClusters =
      AddItem(Menu_Expert, "Menu_Expert_SaveSystemClusters", "&Save System Clusters...");
  Menu_Expert_RestoreSystemClusters =
      AddItem(Menu_Expert, "Menu_Expert_RestoreSystemClusters", "Res&tore System Clusters...");
  Menu_Expert_Sep2 = AddSeparator(Menu_Expert, "Menu_Expert_Sep2");
  Menu_Expert_ExportClusterChain =
      AddItem(Menu_Expert, "Menu_Expert_ExportClusterChain", "&Export FAT...");
  Menu_Expert_ImportFAT = AddItem(Menu_Expert, "Menu_Expert_ImportFAT", "&Import FAT...");
  Menu_Expert_Defragment = AddItem(Menu_Expert, "Menu_Expert_Defragment", "&Defragment disk...");
  Menu_Expert_KillDisk = AddItem(Menu_Expert, "Menu_Expert_KillDisk", "&Kill Disk...");

  // The context menu: its top entry "LV_Context" is not in the menu bar.
  Menu_LVContext = new QMenu("LV_Context", this);
  Menu_LVContext->setObjectName("Menu_LVContext");
  Menu_LVContext->menuAction()->setObjectName("Menu_LVContext");
  Menu_LVContext_Refresh = AddItem(Menu_LVContext, "Menu_LVContext_Refresh", "Re&fresh");
  Menu_LVContext_Copy = AddItem(Menu_LVContext, "Menu_LVContext_Copy", "&Copy");
  Menu_LVContext_Move = AddItem(Menu_LVContext, "Menu_LVContext_Move", "&Move");
  Menu_LVContext_Rename = AddItem(Menu_LVContext, "Menu_LVContext_Rename", "&Rename");
  Menu_LVContext_Erase = AddItem(Menu_LVContext, "Menu_LVContext_Erase", "&Erase");
  Menu_LVContext_CreateSubDir =
      AddItem(Menu_LVContext, "Menu_LVContext_CreateSubDir", "Create &SubDir");
  Menu_LVContext_Sep1 = AddSeparator(Menu_LVContext, "Menu_LVContext_Sep1");
  Menu_LVContext_SelectAll = AddItem(Menu_LVContext, "Menu_LVContext_SelectAll", "Select &All");
  Menu_LVContext_SelectToggle =
      AddItem(Menu_LVContext, "Menu_LVContext_SelectToggle", "Select &Toggle");
  Menu_LVContext_SelectNone = AddItem(Menu_LVContext, "Menu_LVContext_SelectNone", "Select &None");
  Menu_LVContext_SelectUncrypted =
      AddItem(Menu_LVContext, "Menu_LVContext_SelectUncrypted", "Select &Uncrypted");
  Menu_LVContext_Sep2 = AddSeparator(Menu_LVContext, "Menu_LVContext_Sep2");
  Menu_LVContext_SetUnCrypted =
      AddItem(Menu_LVContext, "Menu_LVContext_SetUnCrypted", "Set Uncrypted");
  Menu_LVContext_SetPartiallyCrypted =
      AddItem(Menu_LVContext, "Menu_LVContext_SetPartiallyCrypted", "Set Partially Crypted");
  Menu_LVContext_SetCrypted = AddItem(Menu_LVContext, "Menu_LVContext_SetCrypted", "Set Crypted");
  Menu_LVContext_ScanStream = AddItem(Menu_LVContext, "Menu_LVContext_ScanStream", "Scan Stream");
  Menu_LVContext_Sep3 = AddSeparator(Menu_LVContext, "Menu_LVContext_Sep3");
  Menu_LVContext_EditEventDescriptions = AddItem(
      Menu_LVContext, "Menu_LVContext_EditEventDescriptions", "Edit Event Descriptions...");
  Menu_LVContext_EditFileDate =
      AddItem(Menu_LVContext, "Menu_LVContext_EditFileDate", "Edit File Date...");
  Menu_LVContext_AutoSetFileDate =
      AddItem(Menu_LVContext, "Menu_LVContext_AutoSetFileDate", "Automatic File Date");
}

void Form1::ConnectSignals() {
  for (int side = 0; side < 2; ++side) {
    connect(Combo1[side], &QComboBox::currentIndexChanged, this, [this, side](int) {
      core::TrapProcedure("Combo1_Click", [&] { Combo1_Click(side); });
    });
    connect(TabStrip1[side], &QTabWidget::currentChanged, this, [this, side](int) {
      core::TrapProcedure("TabStrip1_Click", [&] { TabStrip1_Click(side); });
    });
    // A click on the tab already selected brings its control to the front again.
    connect(TabStrip1[side], &QTabWidget::tabBarClicked, this, [this, side](int index) {
      if (index >= 0 && index == TabStrip1[side]->currentIndex())
        core::TrapProcedure("TabStrip1_Click", [&] { TabStrip1_Click(side); });
    });
    connect(Command2[side], &QPushButton::clicked, this, [this, side] {
      core::TrapProcedure("Command2_Click", [&] { Command2_Click(side); });
    });

    ListView* lv = LV1[side];
    connect(lv, &ListView::MouseDown, this,
            [this, side](Qt::MouseButton b, Qt::KeyboardModifiers m, QPoint p) {
              core::TrapProcedure("LV1_MouseDown", [&] { LV1_MouseDown(side, b, m, p); });
            });
    connect(lv, &ListView::Click, this, [this, side] {
      core::TrapProcedure("LV1_Click", [&] { LV1_Click(side); });
    });
    connect(lv, &ListView::GotFocus, this, [this, side] {
      core::TrapProcedure("LV1_GotFocus", [&] { LV1_GotFocus(side); });
    });
    connect(lv, &ListView::ItemClick, this, [this, side](const QString& key) {
      core::TrapProcedure("LV1_ItemClick", [&] { LV1_ItemClick(side, key); });
    });
    connect(lv, &ListView::ItemCheck, this, [this, side](const QString& key, bool checked) {
      core::TrapProcedure("LV1_ItemCheck", [&] { LV1_ItemCheck(side, key, checked); });
    });
    connect(lv, &ListView::DblClick, this, [this, side] {
      core::TrapProcedure("LV1_DblClick", [&] { LV1_DblClick(side); });
    });
    connect(lv, &ListView::ColumnClick, this, [this, side](int column) {
      core::TrapProcedure("LV1_ColumnClick", [&] { LV1_ColumnClick(side, column); });
    });
    connect(lv, &ListView::BeforeLabelEdit, this,
            [this, side](const QString& key, bool* cancel) {
              core::TrapProcedure("LV1_BeforeLabelEdit",
                                  [&] { LV1_BeforeLabelEdit(side, key, cancel); });
            });
    connect(lv, &ListView::AfterLabelEdit, this,
            [this, side](const QString& key, const QString& text, bool* cancel) {
              core::TrapProcedure("LV1_AfterLabelEdit",
                                  [&] { LV1_AfterLabelEdit(side, key, text, cancel); });
            });

    TreeView* tv = TV1[side];
    connect(tv, &TreeView::NodeClick, this, [this, side](const QString& key) {
      core::TrapProcedure("TV1_NodeClick", [&] { TV1_NodeClick(side, key); });
    });
    connect(tv, &TreeView::Expand, this, [this, side](const QString& key) {
      core::TrapProcedure("TV1_Expand", [&] { TV1_Expand(side, key); });
    });
  }
  for (int i = 0; i < 4; ++i) {
    connect(Command1[i], &QPushButton::clicked, this, [this, i] {
      core::TrapProcedure("Command1_Click", [&] { Command1_Click(i); });
    });
  }

  struct Wire {
    QAction* Action;
    const char* Name;
    void (Form1::*Handler)();
  };
  const Wire wires[] = {
      {Menu_File_ExportList, "Menu_File_ExportList_Click", &Form1::Menu_File_ExportList_Click},
      {Menu_File_Exit, "Menu_File_Exit_Click", &Form1::Menu_File_Exit_Click},
      {Menu_View_AbsoluteETA, "Menu_View_AbsoluteETA_Click", &Form1::Menu_View_AbsoluteETA_Click},
      {Menu_View_RelativeETA, "Menu_View_RelativeETA_Click", &Form1::Menu_View_RelativeETA_Click},
      {Menu_View_ShowGB, "Menu_View_ShowGB_Click", &Form1::Menu_View_ShowGB_Click},
      {Menu_Disk_FSCK, "Menu_Disk_FSCK_Click", &Form1::Menu_Disk_FSCK_Click},
      {Menu_Disk_EnableWriting, "Menu_Disk_EnableWriting_Click",
       &Form1::Menu_Disk_EnableWriting_Click},
      {Menu_Disk_Scan, "Menu_Disk_Scan_Click", &Form1::Menu_Disk_Scan_Click},
      {Menu_Disk_WriteRecovered, "Menu_Disk_WriteRecovered_Click",
       &Form1::Menu_Disk_WriteRecovered_Click},
      {Menu_Disk_AddREC, "Menu_Disk_AddREC_Click", &Form1::Menu_Disk_AddREC_Click},
      {Menu_Disk_UndoAddREC, "Menu_Disk_UndoAddREC_Click", &Form1::Menu_Disk_UndoAddREC_Click},
      {Menu_Disk_ChangeD0D1, "Menu_Disk_ChangeD0D1_Click", &Form1::Menu_Disk_ChangeD0D1_Click},
      {Menu_Expert_ReadCluster, "Menu_Expert_ReadCluster_Click",
       &Form1::Menu_Expert_ReadCluster_Click},
      {Menu_Expert_WriteCluster, "Menu_Expert_WriteCluster_Click",
       &Form1::Menu_Expert_WriteCluster_Click},
      {Menu_Expert_SaveSystemClusters, "Menu_Expert_SaveSystemClusters_Click",
       &Form1::Menu_Expert_SaveSystemClusters_Click},
      {Menu_Expert_RestoreSystemClusters, "Menu_Expert_RestoreSystemClusters_Click",
       &Form1::Menu_Expert_RestoreSystemClusters_Click},
      {Menu_Expert_ExportClusterChain, "Menu_Expert_ExportClusterChain_Click",
       &Form1::Menu_Expert_ExportClusterChain_Click},
      {Menu_Expert_ImportFAT, "Menu_Expert_ImportFAT_Click", &Form1::Menu_Expert_ImportFAT_Click},
      {Menu_Expert_Defragment, "Menu_Expert_Defragment_Click",
       &Form1::Menu_Expert_Defragment_Click},
      {Menu_Expert_KillDisk, "Menu_Expert_KillDisk_Click", &Form1::Menu_Expert_KillDisk_Click},
      {Menu_LVContext_Refresh, "Menu_LVContext_Refresh_Click",
       &Form1::Menu_LVContext_Refresh_Click},
      {Menu_LVContext_Copy, "Menu_LVContext_Copy_Click", &Form1::Menu_LVContext_Copy_Click},
      {Menu_LVContext_Move, "Menu_LVContext_Move_Click", &Form1::Menu_LVContext_Move_Click},
      {Menu_LVContext_Rename, "Menu_LVContext_Rename_Click", &Form1::Menu_LVContext_Rename_Click},
      {Menu_LVContext_Erase, "Menu_LVContext_Erase_Click", &Form1::Menu_LVContext_Erase_Click},
      {Menu_LVContext_CreateSubDir, "Menu_LVContext_CreateSubDir_Click",
       &Form1::Menu_LVContext_CreateSubDir_Click},
      {Menu_LVContext_SelectAll, "Menu_LVContext_SelectAll_Click",
       &Form1::Menu_LVContext_SelectAll_Click},
      {Menu_LVContext_SelectToggle, "Menu_LVContext_SelectToggle_Click",
       &Form1::Menu_LVContext_SelectToggle_Click},
      {Menu_LVContext_SelectNone, "Menu_LVContext_SelectNone_Click",
       &Form1::Menu_LVContext_SelectNone_Click},
      {Menu_LVContext_SelectUncrypted, "Menu_LVContext_SelectUncrypted_Click",
       &Form1::Menu_LVContext_SelectUncrypted_Click},
      {Menu_LVContext_SetUnCrypted, "Menu_LVContext_SetUnCrypted_Click",
       &Form1::Menu_LVContext_SetUnCrypted_Click},
      {Menu_LVContext_SetPartiallyCrypted, "Menu_LVContext_SetPartiallyCrypted_Click",
       &Form1::Menu_LVContext_SetPartiallyCrypted_Click},
      {Menu_LVContext_SetCrypted, "Menu_LVContext_SetCrypted_Click",
       &Form1::Menu_LVContext_SetCrypted_Click},
      {Menu_LVContext_ScanStream, "Menu_LVContext_ScanStream_Click",
       &Form1::Menu_LVContext_ScanStream_Click},
      {Menu_LVContext_EditEventDescriptions, "Menu_LVContext_EditEventDescriptions_Click",
       &Form1::Menu_LVContext_EditEventDescriptions_Click},
      {Menu_LVContext_EditFileDate, "Menu_LVContext_EditFileDate_Click",
       &Form1::Menu_LVContext_EditFileDate_Click},
      {Menu_LVContext_AutoSetFileDate, "Menu_LVContext_AutoSetFileDate_Click",
       &Form1::Menu_LVContext_AutoSetFileDate_Click},
  };
  for (const Wire& w : wires) {
    const char* name = w.Name;
    auto handler = w.Handler;
    connect(w.Action, &QAction::triggered, this, [this, name, handler] {
      core::TrapProcedure(name, [&] { (this->*handler)(); });
    });
  }
}

// ------------------------------------------------------------ key preview

bool Form1::InMainWindow(QObject* object) const {
  auto* widget = qobject_cast<QWidget*>(object);
  return widget != nullptr && widget->window() == this;
}

namespace {

bool IsUserInput(QEvent::Type type) {
  switch (type) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::Wheel:
    case QEvent::ContextMenu:
    case QEvent::Shortcut:
    case QEvent::ShortcutOverride:
      return true;
    default:
      return false;
  }
}

}  // namespace

bool WaitWindowUp() {
  if (auto* scripted = dynamic_cast<ui::ScriptedUi*>(&ui::Current()))
    return scripted->WaitShown();
  QtUi* installed = InstalledUi();
  return installed != nullptr && &ui::Current() == installed && installed->WaitWindow() != nullptr;
}

bool Form1::eventFilter(QObject* watched, QEvent* event) {
  if (!IsUserInput(event->type()) || !InMainWindow(watched)) return false;
  // While a disk loads or is checked behind the wait window, the window
  // processes its repaints but takes no input: no handler may run in the
  // middle of that step.
  if (WaitWindowUp()) return true;
  if (event->type() != QEvent::KeyPress) return false;
  // A key travels up the parent chain; the window sees it once, at the
  // first receiver.
  auto* key = static_cast<QKeyEvent*>(event);
  if (key == lastKeyEvent_ && key->timestamp() == lastKeyTime_) return false;
  lastKeyEvent_ = key;
  lastKeyTime_ = key->timestamp();
  if (QApplication::activeModalWidget() != nullptr) return false;
  int code = 0;
  const bool ctrl = (key->modifiers() & Qt::ControlModifier) != 0;
  if (ctrl && key->key() >= Qt::Key_A && key->key() <= Qt::Key_Z) {
    code = key->key() - Qt::Key_A + 1;   // Ctrl+A = 1, Ctrl+C = 3, Ctrl+M = 13
  } else if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
    code = 13;
  } else if (!key->text().isEmpty()) {
    code = key->text().at(0).unicode();
  }
  if (code == 0) return false;
  bool consumed = false;
  core::TrapProcedure("Form_KeyPress", [&] {
    int k = code;
    Form_KeyPress(k);
    consumed = (k == 0);
  });
  return consumed;
}

// ---------------------------------------------------------------- helpers

namespace {
constexpr const char* kPathProperty = "path";
}

QString Form1::PathLabel(int side) const {
  return Label1[side + 2]->property(kPathProperty).toString();
}

void Form1::SetPathLabel(int side, const QString& path) {
  Label1[side + 2]->setProperty(kPathProperty, path);
  QString shown = path;
  if (core::DiskId[side] >= 1) {
    core::CurrentFolder[side] = KeyToPc(path);
    shown = PcToDisplay(core::CurrentFolder[side]);
  }
  Label1[side + 2]->setText(shown);
  Label1[side + 2]->setToolTip(shown);
}

bool Form1::AtRecorderRoot(int side) const {
  return core::DiskId[side] < 1 && PathLabel(side) == "\\";
}

bool Form1::SideWritable(int side) {
  return (core::Flags & (side == 0 ? core::FlagSide0Writable : core::FlagSide1Writable)) != 0;
}

int32_t Form1::SelectedDiskId(int side) const {
  const int index = Combo1[side]->currentIndex();
  if (index < 0) return core::kNoDisk;
  return Combo1[side]->itemData(index).toInt();
}

void Form1::SelectChooserEntry(int side, int index) {
  {
    QSignalBlocker block(Combo1[side]);
    Combo1[side]->setCurrentIndex(index);
  }
  if (index >= 0) Combo1_Click(side);
}

void Form1::AddChooserEntry(int side, const QString& text, int32_t diskId) {
  QSignalBlocker block(Combo1[side]);
  Combo1[side]->addItem(text, QVariant(static_cast<int>(diskId)));
}

int Form1::IndexFromKey(const QString& key) {
  if (key.size() < 2 || key.compare("D..", Qt::CaseInsensitive) == 0) return -1;
  bool ok = false;
  const int index = key.mid(1).toInt(&ok);
  return ok && index >= 0 ? index : -1;
}

QString Form1::PcDriveRoot(int32_t diskId) {
  return PcToKey(core::DriveRoot(diskId));
}

}  // namespace mainwindow
