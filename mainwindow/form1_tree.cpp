// The folder trees: a recorder disk's folders from its model, a PC drive's
// folders read on demand one level ahead; choosing a folder by node or path;
// the right pane's stored PC folder.
#include <QComboBox>
#include <QDir>
#include <QTabWidget>

#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

#include "core/disk_load.h"
#include "core/disk_model.h"
#include "core/error_handler.h"
#include "core/pc_helpers.h"
#include "core/settings.h"
#include "mainwindow/form1.h"
#include "platform/platform.h"

namespace mainwindow {

namespace {

// The user's home folder with a trailing "/": where the right pane opens
// when no copy destination is stored yet.
std::string HomeFolder() {
  const char* env = std::getenv("HOME");
  std::string home = env && *env == '/' ? std::string(env) : KeyToPc(QDir::homePath());
  if (home.empty()) home = "/";
  if (home.back() != '/') home += '/';
  return home;
}

// A real folder (not a link to one).
bool IsRealFolder(const QString& path) {
  struct stat st;
  return lstat(KeyToPc(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

void Form1::ShowDirList(int side) {
  core::ProcScope scope("ShowDirList");
  core::CheckSideIndex(side);
  TreeView* tv = TV1[side];
  tv->Clear();
  const int32_t id = SelectedDiskId(side);
  if (id == core::kNoDisk) return;

  if (id < 1) {
    if (core::Flags & core::FlagDisasterMode) {
      tv->AddNode("", "\\", "Topfield (Disaster Mode)", "Disaster", "Disaster");
      return;
    }
    if (core::Flags & core::FlagFileMode)
      tv->AddNode("", "\\", "FileMode", "Files", "Files");
    else
      tv->AddNode("", "\\", "Topfield", "Topfield", "Topfield");

    const core::DiskRec& d = core::Disk[side];
    const int32_t count = std::min<int32_t>(d.FileCount, static_cast<int32_t>(d.Files.size()));
    std::string folder, name, ext;
    for (int32_t i = 0; i < count; ++i) {
      const core::FileRec& f = d.Files[i];
      if (!f.IsDir || f.Name == core::kErasedName) continue;
      core::SeparatePathComponents(f.Name, folder, name, ext, core::kRecorderSeparator);
      const std::string full = ext.empty() ? name : name + "." + ext;
      const QString key = RecorderToDisplay(folder + full + "\\");
      // A damaged disk may list a folder twice or a folder whose parent is
      // missing: the first one wins, an orphan hangs under the root.
      if (tv->Contains(key)) continue;
      QString parent = RecorderToDisplay(folder);
      if (!tv->Contains(parent)) parent = "\\";
      if (!tv->AddNode(parent, key, RecorderToDisplay(full), "ExplorerClosed", "ExplorerOpen"))
        continue;
      tv->SetExpanded(key, true);
    }
    return;
  }

  const QString root = PcDriveRoot(id);
  if (root.isEmpty()) return;
  const std::string rootPath = KeyToPc(root);
  tv->AddNode("", root, "PC " + PcToDisplay(rootPath), "PC", "PC");
  tv->SetExpanded(root, true);
  std::vector<platform::FolderEntry> entries;
  if (platform::ListFolder(rootPath, entries)) {
    GetFiles(side, rootPath);
    TV1_Expand(side, root);
  }
}

void Form1::GetFiles(int side, const std::string& folder) {
  core::ProcScope scope("GetFiles");
  SubDirs.assign(1, SubDirEntry{});
  std::vector<platform::FolderEntry> entries;
  if (!platform::ListFolder(folder, entries)) return;
  for (const platform::FolderEntry& e : entries) {
    // Real folders only (a link never leads the tree out of its drive);
    // hidden folders stay hidden, as in the desktop's file manager.
    if (!e.IsDir || e.Hidden || e.Name == "." || e.Name == "..") continue;
    SubDirs.back() = SubDirEntry{e.Name, folder + e.Name + "/"};
    SubDirs.emplace_back();
  }
  const int count = static_cast<int>(SubDirs.size()) - 1;
  if (count < 1) return;
  QuickSort(0, count - 1);
  const QString parent = PcToKey(folder);
  for (int i = 0; i < count; ++i) {
    TV1[side]->AddNode(parent, PcToKey(SubDirs[i].Path), PcToDisplay(SubDirs[i].Name),
                       "ExplorerClosed", "ExplorerOpen");
  }
}

void Form1::QuickSort(int lo, int hi) {
  if (lo < 0 || hi >= static_cast<int>(SubDirs.size()) || lo >= hi) return;
  auto compare = [](const std::string& a, const std::string& b) {
    return PcToDisplay(a).compare(PcToDisplay(b), Qt::CaseInsensitive);
  };
  // The middle index, halves going to the even neighbour.
  const int sum = lo + hi;
  int mid = sum / 2;
  if (sum % 2 != 0 && mid % 2 != 0) ++mid;
  const std::string pivot = SubDirs[mid].Name;
  int i = lo;
  int j = hi;
  while (i <= j) {
    while (compare(SubDirs[i].Name, pivot) < 0) ++i;
    while (compare(SubDirs[j].Name, pivot) > 0) --j;
    if (i <= j) {
      std::swap(SubDirs[i], SubDirs[j]);
      ++i;
      --j;
    }
  }
  if (lo < j) QuickSort(lo, j);
  if (i < hi) QuickSort(i, hi);
}

void Form1::TV1_Expand(int side, const QString& key) {
  core::ProcScope scope("TV1_Expand");
  core::CheckSideIndex(side);
  if (core::DiskId[side] < 1) return;
  for (const QString& child : TV1[side]->ChildKeys(key)) {
    if (TV1[side]->Tag(child) != "*") {
      GetFiles(side, KeyToPc(child));
      TV1[side]->SetTag(child, "*");
    }
  }
}

void Form1::TV1_NodeClick(int side, const QString& key) {
  core::ProcScope scope("TV1_NodeClick");
  core::CheckSideIndex(side);
  // The node's own key (a script or a path may name it in another case).
  const QString nodeKey = TV1[side]->Contains(key) ? TV1[side]->KeyOf(TV1[side]->Find(key)) : key;
  SetPathLabel(side, nodeKey);
  if (core::DiskId[side] >= 1) {
    const std::string folder = KeyToPc(nodeKey);
    if (chdir(folder.c_str()) != 0) {
      // An unreadable folder lists as empty; the pane still shows it.
    }
    core::SetSetting("Copy", "Destination", folder);
    core::LoadTopf(side, false);
  }
  ShowFileList(side);
  if (TabStrip1[side]->currentIndex() == 0)
    TabStrip1_Click(side);
  else
    TabStrip1[side]->setCurrentIndex(0);
}

void Form1::SelectDirectory(int side, const QString& path) {
  core::ProcScope scope("SelectDirectory");
  core::CheckSideIndex(side);
  const QChar separator = core::DiskId[side] < 1 ? QChar('\\') : QChar('/');
  QString rest = path;
  if (!rest.endsWith(separator)) rest += separator;
  QString prefix;
  QString lastFound;
  bool lastWasFound = false;
  TreeView* tv = TV1[side];
  while (!rest.isEmpty()) {
    const int cut = rest.indexOf(separator);
    const int take = cut < 0 ? rest.size() : cut + 1;
    prefix += rest.left(take);
    rest.remove(0, take);
    QTreeWidgetItem* node = tv->Find(prefix);
    // A hidden folder is not in a PC tree until a path leads into it: it
    // gets its node then, so that the path label and the list show the same
    // folder (the stored copy destination may be such a folder).
    if (node == nullptr && separator == QChar('/') && lastWasFound && IsRealFolder(prefix)) {
      const QString name = PcToDisplay(KeyToPc(prefix.chopped(1).mid(lastFound.size())));
      if (tv->AddNode(lastFound, prefix, name, "ExplorerClosed", "ExplorerOpen"))
        node = tv->Find(prefix);
    }
    if (node != nullptr) {
      const QString key = tv->KeyOf(node);
      tv->SetExpanded(key, true);
      tv->SetSelectedKey(key);
      SetPathLabel(side, key);
      lastFound = key;
      lastWasFound = true;
    } else {
      lastWasFound = false;
    }
  }
  if (lastWasFound) TV1_NodeClick(side, lastFound);
}

void Form1::SetDefaultPCDir() {
  core::ProcScope scope("SetDefaultPCDir");
  std::string destination = core::GetSetting("Copy", "Destination");
  if (destination.empty()) destination = HomeFolder();
  if (destination.back() != '/') destination += '/';
  const int drive = core::DriveIdOf(destination);
  for (int i = 0; i < Combo1[1]->count(); ++i) {
    const int id = Combo1[1]->itemData(i).toInt();
    if (id >= 1 && id == drive) {
      if (Combo1[1]->currentIndex() != i) SelectChooserEntry(1, i);
      break;
    }
  }
  SelectDirectory(1, PcToKey(destination));
}

}  // namespace mainwindow
