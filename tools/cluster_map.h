// The cluster map of the defragmenter: every FAT index of the left pane's
// disk as a 2 x 2 pixel box on a black 952 x 554 picture, 475 indexes a row,
// coloured by what the cluster holds. Painting goes into an off-screen image
// and shows once the map is refreshed.
#pragma once

#include <QImage>
#include <QWidget>
#include <cstdint>
#include <vector>

namespace tools {

constexpr int kMapWidth = 952;
constexpr int kMapHeight = 554;
constexpr int32_t kMapRowLength = 475;

// Colour codes.
constexpr int kCodeFragmented = 0;
constexpr int kCodeFree = 1;
constexpr int kCodeDefragmented = 2;
constexpr int kCodeNeedsMove = 3;
constexpr int kCodeCleared = 4;
constexpr int kCodeMoving = 5;
constexpr int kCodeReserved = 6;

// The colour of a code (0x00RRGGBB); black for codes without a colour.
uint32_t MapColor(int code);

class ClusterMap : public QWidget {
  Q_OBJECT

 public:
  explicit ClusterMap(QWidget* parent = nullptr);

  // Paints FAT index `index` (0 .. 0x1FFFF; others ignored) with `code`.
  void SetPixel(int32_t index, int code);
  // Back to all black.
  void ClearMap();
  // Shows what was painted since the last refresh: only the boxes that
  // changed are repainted, so a refresh after every cluster costs little.
  void Refresh();
  // The colour painted at pixel (x, y) (0x00RRGGBB) and at an index.
  uint32_t PixelAt(int x, int y) const;
  uint32_t ColorOf(int32_t index) const;
  const QImage& Image() const { return image_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void MarkDirty(int x, int y);

  QImage image_;
  // Per row of boxes: the leftmost and rightmost painted x since the last
  // refresh (left > right: nothing), and whether the whole map changed.
  std::vector<int> dirtyLeft_, dirtyRight_;
  bool anyDirty_ = false;
  bool allDirty_ = false;
};

// The map the engine paints on (the open defragmenter window's); nullptr
// when none. Painting without a map does nothing.
ClusterMap* CurrentMap();
void SetCurrentMap(ClusterMap* map);

// Paints one index with one code on the current map, no refresh.
void SetPixelVB(int32_t index, int code);
// Refreshes the current map.
void RefreshMap();
// Repaints the whole map for side 0 and sets FileRec.Contiguous of every
// item of side 0 (also without a map).
void DrawGraphics();

}  // namespace tools
