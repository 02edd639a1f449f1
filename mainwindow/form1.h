// The main window of Quenbrix: two explorer panes (disk chooser, tab strip,
// folder tree, file list, refresh button, summary and path labels), the
// transfer buttons between them, the menu bar and the file-list context menu.
//
// Controls are members named as designed and carry that name as their
// objectName ("Combo1_0", "LV1_1", "Command1_2", "Menu_Disk_FSCK"). Event
// handlers are member functions named as designed; every handler connected
// to a Qt signal runs under core::TrapProcedure, so no exception crosses the
// event loop. Programmatic changes of combo boxes, lists and trees raise no
// handler unless the design says the original control raised its event
// there (selecting a chooser entry in code runs Combo1_Click; selecting a tab
// in code runs TabStrip1_Click).
//
// Where the implementation lives:
//   form1.cpp            construction: controls, menus, icons, signal wiring,
//                        the window-state globals, the key preview
//   form1_startup.cpp    Form_Load and the start-up modes
//   form1_layout.cpp     Form_Resize, Form_Unload, closeEvent, twips helpers
//   form1_view.cpp       the View menu and TabStrip1_Click
//   form1_lists.cpp      SetupLV, SetupTV, ShowFileList, BuildSort,
//                        ResetSummary, CountSelected
//   form1_tree.cpp       ShowDirList, GetFiles, QuickSort, TV1_Expand,
//                        TV1_NodeClick, SelectDirectory, SetDefaultPCDir
//   form1_file.cpp       Menu_File_Exit_Click, Menu_File_ExportList_Click
//   form1_menustate.cpp  DisableMenus, EnableMenus
//   form1_chooser.cpp    Combo1_Click, UpdateComboBoxes, Command1_Click,
//                        Command2_Click, Form_KeyPress
//   form1_listevents.cpp LV1_* events
//   form1_writegate.cpp  RWDisclaimer, CheckWriteMode
//   form1_context.cpp    the Menu_LVContext_* selection, transfer, refresh,
//                        rename and new-folder commands
//   form1_pending.cpp    the Disk, Expert and recording-editor commands whose
//                        bodies come with their own modules (empty for now)
//
// Paths: a recorder pane's path label and tree keys are recorder paths
// ("\", "\DataFiles\"), kept as Windows-1252 bytes in the model and shown as
// UTF-8 (RecorderToDisplay / DisplayToRecorder). A PC pane shows native
// paths with a trailing "/" ("/home/", "/home/anna/Videos/"); its drives are
// the mounted file systems (core::DriveList) and its tree root is the mount
// point. PC names are the bytes the system gives: tree keys and the path
// label's path carry them exactly (PcToKey / KeyToPc), even where they are
// no UTF-8; only the texts shown are made readable (PcToDisplay).
#pragma once

#include <QMainWindow>
#include <QPoint>
#include <QString>
#include <cstdint>
#include <string>
#include <vector>

#include "mainwindow/list_view.h"
#include "mainwindow/tree_view.h"

class QAction;
class QComboBox;
class QLabel;
class QLocalServer;
class QMenu;
class QPushButton;
class QTabWidget;

namespace mainwindow {

// ------------------------------------------------------------------ state
//
// Window state shared with the jobs and commands. The disk model (Disk,
// DiskId, Flags, CheckState), ShowGB and IODebug live in core/;
// BadlyInterleavedFiles in transfer/; SelectedDisk in source_disk_dialog.h.

extern int ActiveSide;                 // the pane the context commands act on
extern int FocusSide;                  // the pane whose file list last got the focus
extern bool ShortcutsOff;              // while true the keyboard shortcuts do nothing
extern bool PopupPending;              // last mouse press on a list: plain right click
extern bool SaveSystemClustersSwitch;  // /savesystemclusters
extern bool Extras;                    // [View] Extras: the "First Cluster" column
extern bool IgnoreRec;                 // [View] IgnoreRec: no "Rec" icon
extern double Size4GB;                 // 4294967296
extern double Size2GB;                 // 2147483648
extern int32_t SortColumn[2];          // 0-based sort column of LV1(side)
extern int32_t SortOrder[2];           // 0 ascending, 1 descending

// Twips <-> pixels (15 twips a pixel).
constexpr int kTwipsPerPixel = 15;
inline int TwipsToPixels(double twips) {
  return static_cast<int>(twips >= 0 ? (twips / kTwipsPerPixel + 0.5)
                                     : (twips / kTwipsPerPixel - 0.5));
}
inline int PixelsToTwips(int pixels) { return pixels * kTwipsPerPixel; }

// Recorder text (Windows-1252 bytes) <-> display text.
QString RecorderToDisplay(const std::string& bytes);
std::string DisplayToRecorder(const QString& text);
// PC name or path bytes <-> a key that keeps every byte: UTF-8 is read as
// such, and each byte of what is no UTF-8 (a Latin-1 name: "\xE4") becomes
// one of the code units U+DC80 to U+DCFF, which no UTF-8 text can give.
QString PcToKey(const std::string& bytes);
std::string KeyToPc(const QString& key);
// PC bytes as shown: what is no UTF-8 shows as U+FFFD.
QString PcToDisplay(const std::string& bytes);

// True while the wait window is shown (a disk loads or is checked): the
// main window then takes no user input.
bool WaitWindowUp();

// Resets the window-state globals above to their start values (tests).
void ResetWindowState();

// The caption of the main window.
constexpr const char* kMainCaption = "Topfield TF5000PVR Zyphonel";

class Form1 : public QMainWindow {
  Q_OBJECT

 public:
  explicit Form1(QWidget* parent = nullptr);
  ~Form1() override;

  // ------------------------------------------------------------- controls
  QComboBox* Combo1[2] = {};          // disk choosers
  QTabWidget* TabStrip1[2] = {};      // "Files" / "Tree"
  TreeView* TV1[2] = {};              // folder trees
  ListView* LV1[2] = {};              // file lists
  QPushButton* Command2[2] = {};      // "Refresh"
  QLabel* Label1[4] = {};             // 0/1 summary, 2/3 path (right-aligned)
  QPushButton* Command1[4] = {};      // "Move", "Copy", "Move", "Copy"
  QLabel* Label2 = nullptr;           // version label

  // Menu bar. Menus are QMenu (their menuAction carries the same name);
  // items and separators are QAction.
  QMenu* Menu_File = nullptr;
  QAction* Menu_File_ExportList = nullptr;
  QAction* Menu_File_Sep1 = nullptr;
  QAction* Menu_File_Exit = nullptr;

  QMenu* Menu_View = nullptr;
  QAction* Menu_View_AbsoluteETA = nullptr;
  QAction* Menu_View_RelativeETA = nullptr;
  QAction* Menu_View_ShowGB = nullptr;

  QMenu* Menu_Disk = nullptr;
  QAction* Menu_Disk_FSCK = nullptr;
  QAction* Menu_Disk_EnableWriting = nullptr;
  QAction* Menu_Disk_Sep1 = nullptr;
  QAction* Menu_Disk_Scan = nullptr;
  QAction* Menu_Disk_WriteRecovered = nullptr;
  QAction* Menu_Disk_AddREC = nullptr;
  QAction* Menu_Disk_UndoAddREC = nullptr;
  QAction* Menu_Disk_Sep2 = nullptr;
  QAction* Menu_Disk_ChangeD0D1 = nullptr;

  QMenu* Menu_Expert = nullptr;
  QAction* Menu_Expert_ReadCluster = nullptr;
  QAction* Menu_Expert_WriteCluster = nullptr;
  QAction* Menu_Expert_Sep1 = nullptr;
  QAction* Menu_Expert_SaveSystemClusters = nullptr;
  QAction* Menu_Expert_RestoreSystemClusters = nullptr;
  QAction* Menu_Expert_Sep2 = nullptr;
  QAction* Menu_Expert_ExportClusterChain = nullptr;
  QAction* Menu_Expert_ImportFAT = nullptr;
  QAction* Menu_Expert_Defragment = nullptr;
  QAction* Menu_Expert_KillDisk = nullptr;

  // The file lists' context menu (not in the menu bar).
  QMenu* Menu_LVContext = nullptr;
  QAction* Menu_LVContext_Refresh = nullptr;
  QAction* Menu_LVContext_Copy = nullptr;
  QAction* Menu_LVContext_Move = nullptr;
  QAction* Menu_LVContext_Rename = nullptr;
  QAction* Menu_LVContext_Erase = nullptr;
  QAction* Menu_LVContext_CreateSubDir = nullptr;
  QAction* Menu_LVContext_Sep1 = nullptr;
  QAction* Menu_LVContext_SelectAll = nullptr;
  QAction* Menu_LVContext_SelectToggle = nullptr;
  QAction* Menu_LVContext_SelectNone = nullptr;
  QAction* Menu_LVContext_SelectUncrypted = nullptr;
  QAction* Menu_LVContext_Sep2 = nullptr;
  QAction* Menu_LVContext_SetUnCrypted = nullptr;
  QAction* Menu_LVContext_SetPartiallyCrypted = nullptr;
  QAction* Menu_LVContext_SetCrypted = nullptr;
  QAction* Menu_LVContext_ScanStream = nullptr;
  QAction* Menu_LVContext_Sep3 = nullptr;
  QAction* Menu_LVContext_EditEventDescriptions = nullptr;
  QAction* Menu_LVContext_EditFileDate = nullptr;
  QAction* Menu_LVContext_AutoSetFileDate = nullptr;

  // --------------------------------------------------- start-up (Form_Load)
  // The whole start-up of the program. May end the program through the Ui
  // (another instance runs, no recorder disk, a start-up dialog cancelled).
  void Form_Load();
  // The command line (program arguments without the program name) that
  // Form_Load reads; main() sets it.
  void SetCommandLine(const std::string& arguments) { commandLine_ = arguments; }
  // Mode word from the command-line text (switches applied to `flags`).
  static int32_t ApplyCommandLine(const std::string& text, int32_t flags,
                                  bool& saveSystemClusters, bool& ioDebug);
  // The local socket of the single-instance guard: a name per program folder
  // in the user's private runtime folder (platform::PrivateRuntimeFolder);
  // empty when there is no such folder. SetInstanceName overrides the name
  // within that folder ("" goes back).
  static QString InstanceName();
  static void SetInstanceName(const QString& name);

  // ------------------------------------------------- layout and shutdown
  void Form_Resize();
  // Places pane `side`'s summary and path labels (after a resize and when
  // the summary changes).
  void PlaceLabels(int side);
  void Form_Unload();
  // Outer window size in twips: the client size plus a fixed frame
  // (kFrameWidth x kFrameHeight pixels). The frame a window manager really
  // draws differs between desktops and is known only once the window is
  // shown; a fixed one makes the saved size come back exactly at the next
  // start, and the layout the same on every desktop.
  static constexpr int kFrameWidth = 8;
  static constexpr int kFrameHeight = 31;
  int OuterWidthTwips() const;
  int OuterHeightTwips() const;

  // ------------------------------------------------ View menu and tabs
  void Menu_View_AbsoluteETA_Click();
  void Menu_View_RelativeETA_Click();
  void Menu_View_ShowGB_Click();
  // index = side; the tab now selected: 1 brings LV1 to the front, 2 TV1.
  void TabStrip1_Click(int index);
  // The control in front in pane `side`: LV1 (true) or TV1 (false).
  bool ListInFront(int side) const;

  // ------------------------------------------------ menu and button state
  void DisableMenus();
  void EnableMenus();

  // ------------------------------------------- disk chooser and buttons
  void Combo1_Click(int side);
  void UpdateComboBoxes();
  void Command1_Click(int index);
  void Command2_Click(int side);
  // keyCode: 1 Ctrl+A, 3 Ctrl+C, 13 Enter/Ctrl+M, other character codes;
  // set to 0 to consume the key.
  void Form_KeyPress(int& keyCode);

  // ------------------------------------------------------ file-list events
  void LV1_MouseDown(int side, Qt::MouseButton button, Qt::KeyboardModifiers shift, QPoint pos);
  void LV1_Click(int side);
  void LV1_GotFocus(int side);
  void LV1_ItemClick(int side, const QString& key);
  void LV1_ItemCheck(int side, const QString& key, bool checked);
  void LV1_DblClick(int side);
  void LV1_ColumnClick(int side, int column);
  void LV1_BeforeLabelEdit(int side, const QString& key, bool* cancel);
  void LV1_AfterLabelEdit(int side, const QString& key, const QString& newText, bool* cancel);
  // Cancels the in-place edits of both lists, as the Windows list view does
  // when its window goes: before the window closes, a disk is closed or
  // changed, write mode switches or a run takes the window's commands away.
  void EndLabelEdits();
  // An entry whose name may be edited in place now.
  bool LabelEditable(int side, const QString& key) const;

  // ------------------------------------------------- list and tree set-up
  void SetupLV();
  void SetupTV();

  // ------------------------------------------------------------ folder tree
  void ShowDirList(int side);
  // Adds the subfolders of PC folder `folder` (native, trailing "/") as
  // children of its node.
  void GetFiles(int side, const std::string& folder);
  // Sorts SubDirs[lo..hi] by Name, case-insensitively.
  void QuickSort(int lo, int hi);
  void TV1_Expand(int side, const QString& key);
  void TV1_NodeClick(int side, const QString& key);
  void SelectDirectory(int side, const QString& path);
  void SetDefaultPCDir();

  struct SubDirEntry {
    std::string Name;
    std::string Path;
  };
  std::vector<SubDirEntry> SubDirs;

  // ------------------------------------------------ file list and summary
  void ShowFileList(int side);
  void BuildSort(int side);
  void ResetSummary(int side);
  int32_t CountSelected(int side);

  // --------------------------------------------------------- write gate
  bool RWDisclaimer();
  void CheckWriteMode(int side);

  // ------------------------------------------------- context commands
  void Menu_LVContext_Refresh_Click();
  void Menu_LVContext_Copy_Click();
  void Menu_LVContext_Move_Click();
  void Menu_LVContext_Rename_Click();
  void Menu_LVContext_Erase_Click();
  void Menu_LVContext_CreateSubDir_Click();
  void Menu_LVContext_SelectAll_Click();
  void Menu_LVContext_SelectToggle_Click();
  void Menu_LVContext_SelectNone_Click();
  void Menu_LVContext_SelectUncrypted_Click();
  void Menu_LVContext_ScanStream_Click();
  // Recording editors (their own module).
  void Menu_LVContext_SetUnCrypted_Click();
  void Menu_LVContext_SetPartiallyCrypted_Click();
  void Menu_LVContext_SetCrypted_Click();
  void Menu_LVContext_EditEventDescriptions_Click();
  void Menu_LVContext_EditFileDate_Click();
  void Menu_LVContext_AutoSetFileDate_Click();

  // -------------------------------------------------------------- File menu
  void Menu_File_Exit_Click();
  void Menu_File_ExportList_Click();
  // The export file of the left pane: AppDir + CrcId + "_FileList.txt".
  std::string ExportListPath() const;

  // ------------------------------------------- Disk and Expert commands
  void Menu_Disk_FSCK_Click();
  void Menu_Disk_EnableWriting_Click();
  void Menu_Disk_Scan_Click();
  void Menu_Disk_WriteRecovered_Click();
  void Menu_Disk_AddREC_Click();
  void Menu_Disk_UndoAddREC_Click();
  void Menu_Disk_ChangeD0D1_Click();
  void Menu_Expert_ReadCluster_Click();
  void Menu_Expert_WriteCluster_Click();
  void Menu_Expert_SaveSystemClusters_Click();
  void Menu_Expert_RestoreSystemClusters_Click();
  void Menu_Expert_ExportClusterChain_Click();
  void Menu_Expert_ImportFAT_Click();
  void Menu_Expert_Defragment_Click();
  void Menu_Expert_KillDisk_Click();

  // -------------------------------------------------------------- helpers
  // The path of pane `side` that its path label (Label1(side + 2)) shows:
  // a tree key (on a PC pane, PcToKey of the folder's bytes).
  QString PathLabel(int side) const;
  // Sets the path label to a tree key (shown readably); on a PC pane also
  // core::CurrentFolder[side], with the folder's exact bytes.
  void SetPathLabel(int side, const QString& path);
  // Gives the keyboard focus back to the list of pane `side` (after a job).
  void ReturnFocus(int side);
  // A pane is at a recorder root: recorder side and its path label is "\".
  bool AtRecorderRoot(int side) const;
  // A side's writable bit in core::Flags.
  static bool SideWritable(int side);
  // The disk id (item data) of the chooser's selected entry; kNoDisk when
  // none is selected.
  int32_t SelectedDiskId(int side) const;
  // Selects chooser entry `index` of pane `side` in code and runs
  // Combo1_Click (as the original control did); -1 clears the selection.
  void SelectChooserEntry(int side, int index);
  // Adds a chooser entry (UTF-8 text) with its disk id, raising no event.
  void AddChooserEntry(int side, const QString& text, int32_t diskId);
  // The entry index in `Disk(side).Files` carried by a list key ("D12", "i5"); -1 for "D.." and malformed keys.
  static int IndexFromKey(const QString& key);
  // The drive root (mount point with trailing "/") of PC drive `diskId`.
  static QString PcDriveRoot(int32_t diskId);
  // True while Form_Load runs.
  bool Loading() const { return loading_; }
  // The window's designed placement in twips (left, top, width, height).
  static constexpr int kDesignLeft = 1200;
  static constexpr int kDesignTop = 900;
  static constexpr int kDesignWidth = 13175;
  static constexpr int kDesignHeight = 8400;
  // The narrowest window whose panes still follow its width (two panes of
  // 3000 twips, the designed gap of 945 and the margins, Form_Resize).
  static constexpr int kMinUsableWidth = 2 * 3000 + 945 + 200;

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void CreateControls();
  void CreateMenus();
  void ConnectSignals();
  void RegisterIcons();
  bool StartSingleInstance();
  void StartDisasterMode();
  void StartFileMode();
  void LoadPlacement();
  bool InMainWindow(QObject* object) const;

  std::string commandLine_;
  QLocalServer* instanceServer_ = nullptr;
  bool loading_ = false;
  bool unloaded_ = false;
  // What an in-place edit of each list renames: taken when it starts, so
  // that an edit that ends after its disk, pane or entry changed renames
  // nothing.
  struct LabelEditStart {
    bool Valid = false;
    QString Key;
    int32_t DiskId = 0;
    int32_t Handle = 0;
    std::string Name;
  } labelEditStart_[2];
  const void* lastKeyEvent_ = nullptr;   // the key event the preview saw last
  quint64 lastKeyTime_ = 0;
};

// The running main window (nullptr when none); set by the constructor.
Form1* MainForm();

}  // namespace mainwindow
