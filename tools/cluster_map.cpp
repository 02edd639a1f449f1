#include "tools/cluster_map.h"

#include <QPaintEvent>
#include <QPainter>
#include <algorithm>

#include "core/cluster_io.h"
#include "core/disk_format.h"
#include "core/disk_model.h"
#include "tools/defrag_engine.h"
#include "ui/ui.h"

namespace tools {

namespace {
ClusterMap* g_map = nullptr;
}  // namespace

uint32_t MapColor(int code) {
  switch (code) {
    case kCodeFragmented: return 0xC02020;
    case kCodeFree: return 0x404040;
    case kCodeDefragmented: return 0x00F000;
    case kCodeNeedsMove: return 0xFF8000;
    case kCodeCleared: return 0x8080C0;
    case kCodeMoving: return 0xFFFFFF;
    case kCodeReserved: return 0x808080;
    default: return 0x000000;
  }
}

ClusterMap::ClusterMap(QWidget* parent)
    : QWidget(parent),
      image_(kMapWidth, kMapHeight, QImage::Format_RGB32),
      dirtyLeft_(kMapHeight / 2, kMapWidth),
      dirtyRight_(kMapHeight / 2, -1) {
  setObjectName("Picture1");
  setFixedSize(kMapWidth, kMapHeight);
  setAttribute(Qt::WA_OpaquePaintEvent);
  ClearMap();
}

void ClusterMap::SetPixel(int32_t index, int code) {
  if (index < 0 || index > core::kMaxFatIndex) return;
  const int x = int(index % kMapRowLength) * 2;
  const int y = int(index / kMapRowLength) * 2;
  const QRgb rgb = 0xFF000000u | MapColor(code);
  auto* row0 = reinterpret_cast<QRgb*>(image_.scanLine(y));
  auto* row1 = reinterpret_cast<QRgb*>(image_.scanLine(y + 1));
  row0[x] = row0[x + 1] = rgb;
  row1[x] = row1[x + 1] = rgb;
  MarkDirty(x, y);
}

void ClusterMap::MarkDirty(int x, int y) {
  const size_t row = size_t(y / 2);
  if (row >= dirtyLeft_.size()) return;
  dirtyLeft_[row] = std::min(dirtyLeft_[row], x);
  dirtyRight_[row] = std::max(dirtyRight_[row], x + 1);
  anyDirty_ = true;
}

void ClusterMap::ClearMap() {
  image_.fill(QColor(0, 0, 0));
  allDirty_ = true;
}

void ClusterMap::Refresh() {
  if (allDirty_) {
    update();
  } else if (anyDirty_) {
    // One strip per changed row of boxes; Qt joins them into one region.
    for (size_t row = 0; row < dirtyLeft_.size(); ++row) {
      if (dirtyLeft_[row] > dirtyRight_[row]) continue;
      update(dirtyLeft_[row], int(row) * 2, dirtyRight_[row] - dirtyLeft_[row] + 1, 2);
    }
  }
  if (!allDirty_ && !anyDirty_) return;
  std::fill(dirtyLeft_.begin(), dirtyLeft_.end(), kMapWidth);
  std::fill(dirtyRight_.begin(), dirtyRight_.end(), -1);
  anyDirty_ = allDirty_ = false;
}

uint32_t ClusterMap::PixelAt(int x, int y) const {
  if (x < 0 || y < 0 || x >= kMapWidth || y >= kMapHeight) return 0;
  return image_.pixel(x, y) & 0xFFFFFFu;
}

uint32_t ClusterMap::ColorOf(int32_t index) const {
  if (index < 0 || index > core::kMaxFatIndex) return 0;
  return PixelAt(int(index % kMapRowLength) * 2, int(index / kMapRowLength) * 2);
}

void ClusterMap::paintEvent(QPaintEvent* event) {
  // Only the strips that changed, not the rectangle around them all.
  QPainter painter(this);
  for (const QRect& r : event->region()) painter.drawImage(r, image_, r);
}

ClusterMap* CurrentMap() { return g_map; }
void SetCurrentMap(ClusterMap* map) { g_map = map; }

void SetPixelVB(int32_t index, int code) {
  if (g_map) g_map->SetPixel(index, code);
}

void RefreshMap() {
  if (g_map) g_map->Refresh();
}

void DrawGraphics() {
  core::DiskRec& d = core::Disk[0];
  const int32_t last = core::LastFatIndex(0);
  auto next = [&](int32_t c) { return (c >= 0 && c <= last) ? d.FAT[size_t(c)].Next : 0; };

  // An index whose cluster the device's end cuts is no free space.
  const int32_t lastData = core::InFileMode() ? last : std::min(core::LastDataIndex(0), last);
  for (int32_t c = 0; c <= lastData; ++c)
    if (d.FAT[size_t(c)].Next == 0) SetPixelVB(c, kCodeFree);
  RefreshMap();
  ui::Current().DoEvents();

  int32_t compactEnd = last + 1;
  for (int32_t c = 0; c <= last; ++c) {
    if (d.FAT[size_t(c)].Next == 0) {
      compactEnd = c;
      break;
    }
  }

  for (int32_t i = 0; i < d.FileCount && i < int32_t(d.Files.size()); ++i) {
    core::FileRec& r = d.Files[size_t(i)];
    r.Contiguous = true;
    SetPixelVB(r.StartCluster, kCodeFragmented);
    int32_t current = r.StartCluster, expected = r.StartCluster;
    for (int32_t steps = 0; steps <= last; ++steps) {
      const int32_t n = next(current);
      if (n < 1 || n > last) break;
      current = n;
      ++expected;
      SetPixelVB(current, kCodeFragmented);
      if (current != expected) {
        r.Contiguous = false;
        if (r.StartCluster < compactEnd) compactEnd = r.StartCluster;
      }
    }
    if (r.Contiguous) {
      const int32_t n = r.IsDir ? 1 : r.ClusterCount;
      for (int32_t k = 0; k < n && r.StartCluster + k <= last; ++k)
        SetPixelVB(r.StartCluster + k, kCodeNeedsMove);
      RefreshMap();
      ui::Current().DoEvents();
    }
  }

  for (int32_t i = 0; i < d.FileCount && i < int32_t(d.Files.size()); ++i) {
    const core::FileRec& r = d.Files[size_t(i)];
    if (!r.IsDir && BaseNameStartsWithUnderscore(r.Name) && r.StartCluster < compactEnd)
      compactEnd = r.StartCluster;
  }
  for (int32_t c = 0; c < compactEnd; ++c) SetPixelVB(c, kCodeDefragmented);
  RefreshMap();
}

}  // namespace tools
