// Start-up of the main program: single instance, settings, command line,
// write-mode disclaimer, both panes, the disk probe and the three start-up
// modes (normal, disaster, file mode), placement and sorting.
#include <QComboBox>
#include <QGuiApplication>
#include <QScreen>
#include <QCryptographicHash>
#include <QLabel>
#include <QLocalServer>
#include <QLocalSocket>
#include <QAction>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <unistd.h>

#include "core/cluster_io.h"
#include "core/disk_init.h"
#include "core/disk_io.h"
#include "core/disk_model.h"
#include "core/disk_probe.h"
#include "core/error_handler.h"
#include "core/number_format.h"
#include "core/iodebug.h"
#include "core/pc_helpers.h"
#include "core/settings.h"
#include "core/smart.h"
#include "mainwindow/form1.h"
#include "mainwindow/qt_ui.h"
#include "widgets/window_fit.h"
#include "mainwindow/source_disk_dialog.h"
#include "platform/platform.h"
#include "transfer/transfer_buffer.h"
#include "ui/ui.h"

namespace mainwindow {

namespace {

QString g_instanceName;

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::string Trim(const std::string& text) {
  const size_t first = text.find_first_not_of(' ');
  if (first == std::string::npos) return std::string();
  const size_t last = text.find_last_not_of(' ');
  return text.substr(first, last - first + 1);
}

// Why the probe found no recorder disk: no drive at all (the designed
// text), drives it could not open or read (each named with its reason), or
// only drives that are not recorder disks.
std::string NoRecorderDiskText() {
  std::string text = "i didn't find a Topfield PVR5000 hard drive.\r\n\r\n";
  if (core::UnopenedDrives.empty() && core::ForeignDrives.empty())
    return text + "Is the HD visible in the device manager?\r\n"
                  "Did you start Veldranoth/Write as administrator?";
  bool denied = false;
  for (const core::UnopenedDrive& d : core::UnopenedDrives) {
    text += "The disk PhysicalDrive" + std::to_string(d.Number) +
            (d.Path.empty() ? std::string() : " (" + d.Path + ")");
    if (d.Error == 0) {
      text += " could not be read.\r\n";
      continue;
    }
    text += std::string(" could not be opened: ") + std::strerror(d.Error) + ".\r\n";
    denied = denied || d.Error == EACCES || d.Error == EPERM;
  }
  if (denied)
    text += "\r\nStart the program as root, or add yourself to the disk group, and try again.\r\n";
  if (!core::ForeignDrives.empty()) {
    std::string names;
    for (const int n : core::ForeignDrives)
      names += (names.empty() ? "" : ", ") + std::string("PhysicalDrive") + std::to_string(n);
    text += std::string(core::UnopenedDrives.empty() ? "" : "\r\n") +
            (core::UnopenedDrives.empty() ? "The drives found (" : "The other drives found (") +
            names + ") do not look like Topfield PVR5000 hard drives.\r\n"
                    "Is the HD connected? If it is damaged, start the program with /disaster: it "
                    "offers every drive.\r\n";
  }
  text.erase(text.size() - 2);   // the last line break
  return text;
}

// A whole-number setting of "View"; values outside [low, high] read as 0, as
// a missing one does.
int32_t WholeSetting(const std::string& key, int32_t low = INT32_MIN, int32_t high = INT32_MAX) {
  return core::WholeValueInRange(core::GetSetting("View", key), low, high, 0);
}

// Stored placement values beyond this (twips; 100000 pixels, more than any
// desktop spans) read as missing.
constexpr int32_t kMaxPlacementTwips = 1500000;

// The geometry of one physical drive as the probe of disaster mode saw it.
struct ProbedDrive {
  double Cylinders = 0;
  int32_t Tracks = 0;
  int32_t Sectors = 0;
  int32_t Bytes = 0;
};

bool BytesAre(const uint8_t* p, const char* text, size_t n) {
  return std::memcmp(p, text, n) == 0;
}

}  // namespace

// ------------------------------------------------------- single instance

QString Form1::InstanceName() {
  // The socket goes where only this user can make entries: in a shared
  // folder another user could hold the name first and be "activated" in
  // place of a running instance.
  const std::string folder = platform::PrivateRuntimeFolder("quenbrix");
  if (folder.empty()) return QString();
  QString leaf = g_instanceName;
  if (leaf.isEmpty()) {
    const QByteArray hash = QCryptographicHash::hash(QByteArray::fromStdString(core::AppDir()),
                                                     QCryptographicHash::Sha1);
    leaf = "Quenbrix-" + QString::fromLatin1(hash.toHex().left(12));
  }
  return QString::fromStdString(folder) + "/" + leaf;
}

void Form1::SetInstanceName(const QString& name) { g_instanceName = name; }

bool Form1::StartSingleInstance() {
  const QString name = InstanceName();
  if (name.isEmpty()) {
    // Without a folder of its own the program cannot tell a running instance
    // from another user's socket: it runs unguarded rather than end.
    std::fprintf(stderr, "%s: second-instance check off, no private folder for its socket: %s\n",
                 core::Program().Title.c_str(), std::strerror(platform::LastError()));
    return true;
  }
  {
    QLocalSocket probe;
    probe.connectToServer(name);
    // Only an instance of the same user is brought forward.
    if (probe.waitForConnected(500) &&
        platform::PeerUserId(static_cast<int>(probe.socketDescriptor())) ==
            static_cast<int64_t>(geteuid())) {
      // Another instance runs: bring it forward and end.
      const QString title = windowTitle();
      setWindowTitle("%&irgendwas");
      probe.write("activate " + title.toUtf8() + "\n");
      probe.flush();
      probe.waitForBytesWritten(1000);
      probe.disconnectFromServer();
      return false;
    }
  }
  instanceServer_ = new QLocalServer(this);
  instanceServer_->setSocketOptions(QLocalServer::UserAccessOption);
  if (!instanceServer_->listen(name)) {
    // A socket left behind by an instance that did not end normally.
    QLocalServer::removeServer(name);
    instanceServer_->listen(name);
  }
  // The socket file goes at every end of the program: the unload handler
  // closes the server, and an end without unload removes the file.
  const std::string socketFile = instanceServer_->fullServerName().toStdString();
  SetProgramEndStep([socketFile] {
    if (!socketFile.empty()) unlink(socketFile.c_str());
  });
  connect(instanceServer_, &QLocalServer::newConnection, this, [this] {
    while (QLocalSocket* socket = instanceServer_->nextPendingConnection()) {
      connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
      if (isMinimized()) showNormal();
      show();
      raise();
      activateWindow();
    }
  });
  return true;
}

// ---------------------------------------------------------- command line

int32_t Form1::ApplyCommandLine(const std::string& text, int32_t flags, bool& saveSystemClusters,
                                bool& ioDebug) {
  std::string t = text;
  while (!t.empty()) {
    size_t p = t.find(' ');
    if (p == std::string::npos) p = t.size();
    const std::string word = Lower(t.substr(0, p));
    if (word == "/disaster") flags |= core::FlagDisasterMode;
    if (word == "/filemode") flags |= core::FlagFileMode;
    if (word == "/savesystemclusters") saveSystemClusters = true;
    if (word == "/iodebug") ioDebug = true;
    t = p < t.size() ? Trim(t.substr(p + 1)) : std::string();
  }
  return flags;
}

// -------------------------------------------------------------- Form_Load

void Form1::Form_Load() {
  loading_ = true;
  struct Done {
    bool& flag;
    ~Done() { flag = false; }
  } done{loading_};
  core::TrapProcedure("Form_Load", [&] {
    // 1. One instance only.
    if (!StartSingleInstance()) ui::Current().EndProgram(ui::kExitNormal);

    // 2. No disk chosen yet.
    core::DiskId[0] = core::kNoDisk;
    core::DiskId[1] = core::kNoDisk;

    // 3. The program folder (core::AppDir, always with its trailing "/").
    const std::string appDir = core::AppDir();

    // 4. Version label.
    const core::ProgramIdentity& id = core::Program();
    Label2->setText(QString("V%1.%2.%3").arg(id.Major).arg(id.Minor).arg(id.Revision));
    Label2->resize(std::max(Label2->width(), widgets::TextWidth(Label2, Label2->text()) + 4), Label2->height());

    // 5. Settings migration, once.
    const std::string oldIni = appDir + "Veldranoth.ini";
    const std::string newIni = appDir + "Quenbrix.ini";
    std::string settings;
    if (platform::PcFileRead(oldIni, settings) &&
        !platform::PcFileWriteNew(newIni, settings.data(), settings.size()) &&
        platform::LastError() != EEXIST)
      core::RaisePcFileError(newIni);

    // 6. Size limits.
    Size4GB = 4294967296.0;
    Size2GB = Size4GB / 2;

    // 7. The model of both sides at its start sizes.
    core::ResetState();
    core::DiskId[0] = core::kNoDisk;
    core::DiskId[1] = core::kNoDisk;

    // 8. Mode and switches.
    core::Flags = core::FlagNormal;
    SaveSystemClustersSwitch = false;
    Extras = false;
    transfer::BadlyInterleavedFiles = false;
    core::IODebug = false;

    // 9. Command line.
    bool save = false;
    bool ioDebug = false;
    core::Flags = ApplyCommandLine(commandLine_, core::Flags, save, ioDebug);
    SaveSystemClustersSwitch = save;
    core::IODebug = ioDebug;

    // 10. Settings.
    if (core::GetSettingOn("View", "WriteMode")) core::Flags |= core::FlagWriteMode;
    Extras = core::GetSettingOn("View", "Extras");
    core::ShowGB = core::GetSettingOn("View", "ShowGB");
    IgnoreRec = core::GetSettingOn("View", "IgnoreRec");
    Menu_View_ShowGB->setChecked(core::ShowGB);
    transfer::BadlyInterleavedFiles = core::GetSettingOn("View", "BadlyInterleavedFiles");

    // 11. File mode wins over disaster mode; both switch write mode off.
    if (core::Flags & core::FlagFileMode) core::Flags &= 0xF4;
    if (core::Flags & core::FlagDisasterMode) core::Flags &= 0xF2;

    // 12. The write-mode disclaimer.
    if (core::Flags & core::FlagWriteMode) {
      if (!RWDisclaimer()) core::Flags &= 7;
    }

    // 13. Lists and trees.
    SetupLV();
    SetupTV();

    // 14. Disk probe. In disaster mode the left chooser holds only the
    // disaster entry added below, so the probe's recorder disks are not
    // offered (nor opened) there.
    core::FSShowDisks();
    const bool disaster = (core::Flags & 7) == core::FlagDisasterMode;
    for (int side = 0; side < 2; ++side) {
      QSignalBlocker block(Combo1[side]);
      Combo1[side]->clear();
      if (side == 0 && disaster) continue;
      for (const core::ChooserEntry& e : core::ChooserEntries[side])
        AddChooserEntry(side, RecorderToDisplay(e.Text), e.DiskId);
      Combo1[side]->setCurrentIndex(-1);
    }
    if (Combo1[0]->count() > 0) SelectChooserEntry(0, 0);

    // 15. The right pane on the stored PC folder.
    SetDefaultPCDir();

    // 16. The mode.
    switch (core::Flags & 7) {
      case core::FlagNormal:
        if (Combo1[0]->count() == 0 && !core::InUseRecorderDrives.empty()) {
          // The recorder disks there are belong to the system or another program.
          ui::Current().MsgBox(core::DiskInUseText("PhysicalDrive" +
                                                   std::to_string(core::InUseRecorderDrives[0])),
                               ui::Buttons::OK, ui::Icon::Critical);
          ui::Current().EndProgram(ui::kExitAbort);
        }
        if (Combo1[0]->count() == 0) {
          ui::Current().MsgBox(NoRecorderDiskText(), ui::Buttons::OK);
          ui::Current().EndProgram(ui::kExitAbort);
        }
        break;
      case core::FlagDisasterMode:
        StartDisasterMode();
        break;
      case core::FlagFileMode:
        StartFileMode();
        break;
      default:
        break;
    }

    // 17. ETA display.
    if (WholeSetting("RelativeETA") != 0)
      Menu_View_RelativeETA->setChecked(true);
    else
      Menu_View_AbsoluteETA->setChecked(true);

    // 18. Chooser labels and menu state.
    UpdateComboBoxes();
    EnableMenus();

    // 19. Placement.
    LoadPlacement();

    // 20. Sorting.
    BuildSort(0);
    BuildSort(1);
  });
}

void Form1::LoadPlacement() {
  // The designed placement, or the stored one when it has a size and the
  // window does not start maximised.
  const bool maximised = WholeSetting("WindowState") == 2;
  QRect frame(pos(), size() + QSize(kFrameWidth, kFrameHeight));
  const int height = WholeSetting("WindowHeight", 1, kMaxPlacementTwips);
  const int width = WholeSetting("WindowWidth", 1, kMaxPlacementTwips);
  if (!maximised && height != 0 && width != 0) {
    // The exact inverse of what Form_Unload saves (OuterWidthTwips and
    // OuterHeightTwips), whatever frame the window manager draws.
    frame = QRect(TwipsToPixels(WholeSetting("WindowLeft", -kMaxPlacementTwips, kMaxPlacementTwips)),
                  TwipsToPixels(WholeSetting("WindowTop", -kMaxPlacementTwips, kMaxPlacementTwips)),
                  TwipsToPixels(width), TwipsToPixels(height));
  }
  // A placement saved on a screen that is gone (or edited by hand) would
  // leave the window out of sight or too small to use: it comes back on a
  // screen, at least as wide as the panes need to follow the width.
  frame = widgets::FitOnScreen(frame, QSize(TwipsToPixels(kMinUsableWidth), TwipsToPixels(kDesignHeight / 2)));
  move(frame.topLeft());
  resize(std::max(1, frame.width() - kFrameWidth), std::max(1, frame.height() - kFrameHeight));
  if (maximised) setWindowState(windowState() | Qt::WindowMaximized);
}

// ---------------------------------------------------------- disaster mode

void Form1::StartDisasterMode() {
  core::ProcScope scope("Form_Load");
  core::DiskRec& d = core::Disk[0];
  d.SectorsPerCluster = 1;
  std::vector<std::pair<std::string, int>> entries;
  std::vector<ProbedDrive> probed(platform::kMaxDrives);
  for (int n = 0; n < platform::kMaxDrives; ++n) {
    const std::string name = "PhysicalDrive" + std::to_string(n);
    d.Handle = core::OpenDisk(name, true);
    // A drive the system or another program holds is listed as in use,
    // from a read-only look; choosing it says so and opens nothing.
    const bool inUse = d.Handle <= 0 && core::DiskInUse();
    if (inUse) d.Handle = core::OpenDisk(name, false);
    if (d.Handle <= 0) {
      d.Handle = 0;
      continue;
    }
    core::DeviceSectors[0] = -1;
    std::string remark;
    std::string model;
    std::vector<uint8_t> attributes;
    int32_t count = 0;
    core::Smart(d.Handle, model, attributes, count);
    if (count > 0) remark = "  (" + model + ")";

    ProbedDrive& g = probed[n];
    core::DiskGeometry(d.Handle, g.Cylinders, g.Tracks, g.Sectors, g.Bytes);
    core::InvalidateSideCache(0);

    bool topfield = false;
    core::ReadTopfSector(0, 0);
    if (BytesAre(core::SectorBuffer.data() + 4, "TOPF", 4)) topfield = true;
    if (!topfield) {
      core::ReadTopfSector(0, 1);
      if (BytesAre(core::SectorBuffer.data() + 4, "TOPF", 4)) topfield = true;
    }
    if (!topfield) {
      core::ReadTopfSector(0, 2);
      if (core::SectorBuffer[0] == 0xF1 && BytesAre(core::SectorBuffer.data() + 22, "ROOT_", 5))
        topfield = true;
    }
    core::InvalidateSideCache(0);
    if (topfield) remark += " (this seems to be a TF disk)";
    if (inUse) remark += core::kInUseRemark;

    const double bytes = g.Cylinders * g.Tracks * g.Sectors * g.Bytes;
    entries.emplace_back("Disk " + std::to_string(n) + ": \t" +
                             platform::Cp1252ToUtf8(core::FileSizeToString(bytes, 1, false)) +
                             "\t" + platform::Cp1252ToUtf8(remark),
                         n);
    core::CloseDisk(d.Handle);
    d.Handle = 0;
  }

  SelectedDisk = -1;
  const int chosen = RunForm6(entries, this);
  SelectedDisk = chosen;
  if (SelectedDisk < 0 || SelectedDisk >= platform::kMaxDrives)
    ui::Current().EndProgram(ui::kExitNormal);

  core::DiskId[0] = -SelectedDisk;
  const std::string name = "PhysicalDrive" + std::to_string(SelectedDisk);
  if (!core::InitTopf(0, name, true)) {
    // The chosen drive cannot be opened (any more), or is in use: nothing to work on.
    core::EmergencyStop(
        core::OpenFailureText(name, "Unable to initialze the selected disk! Bailing out!"),
        ui::Icon::Critical);
  }
  int32_t spc = core::GuessClusterSize(0);
  if (spc <= 0) spc = 4512;
  d.SectorsPerCluster = spc;
  // LastCluster from the chosen drive's own geometry.
  const ProbedDrive& g = probed[SelectedDisk];
  const double sectors = g.Cylinders * g.Tracks * g.Sectors;
  double last = std::nearbyint(sectors / spc);
  if (last > 0x1FFFF) last = 0x1FFFF;
  if (last < 0) last = 0;
  d.LastCluster = static_cast<int32_t>(last);
  core::ClusterBuffer.assign(static_cast<size_t>(spc) * 512, 0);
  core::ReadTopfCluster(0, 0);
  d.CrcId = core::Hex32(core::GetTopfLong(48));

  AddChooserEntry(0, "Topfield: Disaster Mode", -SelectedDisk);
  SelectChooserEntry(0, Combo1[0]->count() - 1);
}

// -------------------------------------------------------------- file mode

void Form1::StartFileMode() {
  core::ProcScope scope("Form_Load");
  const std::string path = ui::Current().OpenFileDialog(
      "", "Topfield System Cluster (*.scc)|*.scc|All files|*.*", "", "");
  if (path.empty()) ui::Current().EndProgram(ui::kExitNormal);
  if (chdir(core::AppDir().c_str()) != 0) {
    // The current folder only matters for relative names; go on.
  }
  std::string folder, base, ext;
  core::SeparatePathComponents(path, folder, base, ext, core::kPcSeparator);
  core::Disk[0].Name = folder + base;
  AddChooserEntry(0, QString::fromStdString("FileMode: " + path), 0);
  SelectChooserEntry(0, 0);
}

}  // namespace mainwindow
