// Recording header add and undo.
#include "commands/rec_header.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "core/cluster_io.h"
#include "core/disk_format.h"
#include "core/disk_model.h"
#include "core/erase.h"
#include "core/error_handler.h"
#include "core/pc_helpers.h"
#include "core/settings.h"
#include "library/loader.h"
#include "platform/platform.h"
#include "ui/ui.h"

namespace commands {

namespace {

core::FileRec* Record(int side, int index) {
  core::CheckSideIndex(side);
  core::DiskRec& d = core::Disk[side];
  if (index < 0 || index >= d.FileCount || size_t(index) >= d.Files.size()) return nullptr;
  return &d.Files[size_t(index)];
}

// Reads a whole file when its length is exactly `expected` bytes.
enum class UndoRead { Ok, Missing, WrongSize, Failed };
UndoRead ReadExactFile(const std::string& path, size_t expected, std::vector<uint8_t>& bytes) {
  std::string data;
  if (!platform::PcFileRead(path, data, int64_t(expected))) {
    const int error = platform::LastError();
    return error == ENOENT ? UndoRead::Missing
           : error == EFBIG ? UndoRead::WrongSize
                            : UndoRead::Failed;
  }
  if (data.size() != expected) return UndoRead::WrongSize;
  bytes.assign(data.begin(), data.end());
  return UndoRead::Ok;
}

bool FileExists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

// The saved copy belongs to this first cluster: same length, same bytes
// behind the header.
bool SameStreamData(const std::vector<uint8_t>& saved, const std::vector<uint8_t>& cluster) {
  if (saved.size() != cluster.size() || saved.size() < size_t(kRecHeaderBytes)) return false;
  return std::equal(saved.begin() + kRecHeaderBytes, saved.end(),
                    cluster.begin() + kRecHeaderBytes);
}

// The other pane's record of the same entry, when both panes show this disk.
core::FileRec* SameEntryOnOtherSide(int side, const core::FileRec& rec) {
  if (!core::SameDisk()) return nullptr;
  core::DiskRec& o = core::Disk[core::OtherSide(side)];
  const int32_t n = std::min<int32_t>(o.FileCount, int32_t(o.Files.size()));
  for (int32_t j = 0; j < n; ++j) {
    core::FileRec& r = o.Files[size_t(j)];
    if (r.DirCluster == rec.DirCluster && r.Slot == rec.Slot &&
        r.StartCluster == rec.StartCluster && r.Name == rec.Name)
      return &r;
  }
  return nullptr;
}

}  // namespace

std::string RECUndoFile(int side, int32_t startCluster) {
  core::CheckSideIndex(side);
  char digits[16];
  std::snprintf(digits, sizeof digits, "%07d", startCluster);
  return core::AppDir() + core::Disk[side].CrcId + "_Undo_" + digits + ".bin";
}

std::vector<uint8_t> BuildRECHeader(int32_t serviceId, int32_t pmtPid, int32_t pcrPid,
                                    int32_t videoPid, int32_t audioPid) {
  std::vector<uint8_t> h(size_t(kRecHeaderBytes), 0);
  std::memcpy(h.data() + core::kRhMagic, "TFrc", 4);
  h[size_t(core::kRhVersion)] = 0x50;
  core::PutBE16(h.data() + core::kRhServiceId, uint16_t(serviceId & 0xFFFF));
  core::PutBE16(h.data() + core::kRhPmtPid, uint16_t(pmtPid & 0xFFFF));
  core::PutBE16(h.data() + core::kRhPcrPid, uint16_t(pcrPid & 0xFFFF));
  core::PutBE16(h.data() + core::kRhVideoPid, uint16_t(videoPid & 0xFFFF));
  core::PutBE16(h.data() + core::kRhAudioPid, uint16_t(audioPid & 0xFFFF));
  std::memcpy(h.data() + core::kRhServiceName, "Recovered", 9);
  return h;
}

bool OwnFirstCluster(int side, int index) {
  const core::FileRec* rec = Record(side, index);
  if (!rec || rec->IsDir || rec->ClusterCount < 1) return false;
  const core::DiskRec& d = core::Disk[side];
  const int32_t start = rec->StartCluster;
  const int32_t last = core::LastFatIndex(side);
  if (start < 1 || start > last || start > core::kMaxFatIndex) return false;
  if (d.FAT[size_t(start)].Next == 0) return false;   // free in the FAT
  const int32_t n = std::min<int32_t>(d.FileCount, int32_t(d.Files.size()));
  for (int32_t j = 0; j < n; ++j) {
    const core::FileRec& r = d.Files[size_t(j)];
    if (r.Name == core::kErasedName) continue;
    if ((r.IsDir && r.StartCluster == start) || r.DirCluster == start) return false;
  }
  // No other entry's chain may reach it: not another entry starting there,
  // and no FAT element linking to it (it would lie inside another chain).
  return !core::ChainReachedByOthers(side, index, {start});
}

RecHeaderResult FSAddRECHeader(int side, int index) {
  core::ProcScope scope("FSAddRECHeader");
  core::FileRec* f = Record(side, index);
  if (!f || core::IsPCSide(side) || f->IsDir || !IsRecName(f->Name) || f->HasRecHeader)
    return RecHeaderResult::NotQualified;
  if (!OwnFirstCluster(side, index)) return RecHeaderResult::BadEntry;
  const int32_t cluster = f->StartCluster + 1;
  if (!core::ReadTopfCluster(side, cluster)) return RecHeaderResult::ReadFailed;
  std::vector<uint8_t>& buf = core::ClusterBuffer;
  if (buf.size() < size_t(kRecHeaderBytes)) return RecHeaderResult::ReadFailed;
  // A header that is there already (the list was out of date) stays.
  if (core::IsRecHeader(buf.data())) {
    f->HasRecHeader = true;
    return RecHeaderResult::NotQualified;
  }

  int32_t program = 0, pmt = 0, video = 0, audio = 0, pcr = 0;
  qlib::FindPIDs(buf.data(), int32_t(buf.size()) - 1, &program, &pmt, &video, &audio, &pcr);
  if (pmt == 0 || video == 0) return RecHeaderResult::NoStream;

  // The undo copy first; an existing one is kept when it belongs to this
  // cluster, and without a usable undo copy nothing is written.
  const std::string undo = RECUndoFile(side, f->StartCluster);
  if (FileExists(undo)) {
    std::vector<uint8_t> saved;
    if (ReadExactFile(undo, buf.size(), saved) != UndoRead::Ok || !SameStreamData(saved, buf)) {
      ui::Current().MsgBox("The undo file " + undo +
                               " already exists and does not belong to the recording " +
                               platform::Cp1252ToUtf8(f->Name) +
                               ". No header was added.",
                           ui::Buttons::OK, ui::Icon::Exclamation);
      return RecHeaderResult::UndoMismatch;
    }
  } else if (!platform::PcFileWriteNew(undo, buf.data(), buf.size())) {
    ui::Current().MsgBox("Could not write the undo file " + undo + " (" +
                             platform::PcFileErrorText(platform::LastError()) +
                             "). No header was added to " +
                             platform::Cp1252ToUtf8(f->Name) + ".",
                         ui::Buttons::OK, ui::Icon::Exclamation);
    return RecHeaderResult::UndoFailed;
  }

  const std::vector<uint8_t> header = BuildRECHeader(program, pmt, pcr, video, audio);
  std::copy(header.begin(), header.end(), buf.begin());
  if (!core::WriteTopfCluster(side, cluster, false)) return RecHeaderResult::WriteFailed;
  f->HasRecHeader = true;
  return RecHeaderResult::Done;
}

RecHeaderResult FSUndoAddRECHeader(int side, int index) {
  core::ProcScope scope("FSUndoAddRECHeader");
  core::FileRec* f = Record(side, index);
  if (!f || core::IsPCSide(side) || f->IsDir || !IsRecName(f->Name))
    return RecHeaderResult::NotQualified;
  const std::string undo = RECUndoFile(side, f->StartCluster);
  if (!FileExists(undo)) return RecHeaderResult::NotQualified;
  if (!OwnFirstCluster(side, index)) return RecHeaderResult::BadEntry;
  const int32_t cluster = f->StartCluster + 1;
  if (!core::ReadTopfCluster(side, cluster)) return RecHeaderResult::ReadFailed;
  std::vector<uint8_t>& buf = core::ClusterBuffer;

  std::vector<uint8_t> saved;
  const UndoRead got = ReadExactFile(undo, buf.size(), saved);
  if (got != UndoRead::Ok || !SameStreamData(saved, buf)) {
    ui::Current().MsgBox("The undo file " + undo + " does not belong to the first cluster of " +
                             platform::Cp1252ToUtf8(f->Name) +
                             ". The cluster was not restored; the undo file is kept.",
                         ui::Buttons::OK, ui::Icon::Exclamation);
    return got == UndoRead::Failed ? RecHeaderResult::UndoFailed : RecHeaderResult::UndoMismatch;
  }
  buf = std::move(saved);
  if (!core::WriteTopfCluster(side, cluster, false)) return RecHeaderResult::WriteFailed;
  ::unlink(undo.c_str());
  f->HasRecHeader = false;
  if (core::FileRec* o = SameEntryOnOtherSide(side, *f)) o->HasRecHeader = false;
  return RecHeaderResult::Done;
}

bool IsRecName(const std::string& name) {
  std::string folder, base, ext;
  core::SeparatePathComponents(name, folder, base, ext, core::kRecorderSeparator);
  for (char& c : ext)
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  return ext == "rec";
}

}  // namespace commands
