// Sizes taken from the font in use, so that the texts a window was designed
// to show fit on a Linux desktop whatever font it has: a window at least as
// wide as its title, and a label that gives way by cutting its text from the
// left end (a path keeps its last folders in view). And windows fitted whole
// into the screen they are on.
//
// Header only: the windows of every folder use it.
#pragma once

#include <QApplication>
#include <QEvent>
#include <QFont>
#include <QFontMetrics>
#include <QGridLayout>
#include <QGuiApplication>
#include <QRect>
#include <QScreen>
#include <QSpacerItem>
#include <QVBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QStyle>
#include <QWidget>
#include <algorithm>

namespace widgets {

// The width a window needs to show `title` whole in its title bar: the
// title in the bold application font, and room for the title bar's icon and
// its three buttons.
inline int TitleWidth(const QString& title) {
  QFont font = QApplication::font();
  font.setBold(true);
  return QFontMetrics(font).horizontalAdvance(title) + 4 * 32;
}

// Makes `window` at least as wide as its title needs: a fixed-size window
// stays fixed at the wider size; a window with a layout gets a blank row of
// that width, so the layout keeps it (with whatever else it needs); any other
// one opens wider.
inline void FitTitle(QWidget* window) {
  const int need = TitleWidth(window->windowTitle());
  if (window->minimumWidth() == window->maximumWidth()) {
    if (window->width() < need) window->setFixedWidth(need);
    return;
  }
  if (QLayout* layout = window->layout()) {
    const QMargins m = layout->contentsMargins();
    auto* blank = new QSpacerItem(need - m.left() - m.right(), 0, QSizePolicy::Minimum,
                                  QSizePolicy::Fixed);
    if (auto* grid = qobject_cast<QGridLayout*>(layout))
      grid->addItem(blank, grid->rowCount(), 0, 1, std::max(1, grid->columnCount()));
    else if (auto* box = qobject_cast<QVBoxLayout*>(layout))
      box->addSpacerItem(blank);
    else
      delete blank;
  }
  if (window->width() < need) window->resize(need, window->height());
}

// The width a one-line text needs in `widget`'s font.
inline int TextWidth(const QWidget* widget, const QString& text) {
  return widget->fontMetrics().horizontalAdvance(text);
}

// Makes a button of fixed design size at least as wide as its caption needs.
inline void FitButton(QWidget* button, const QString& caption) {
  const int need = TextWidth(button, caption) +
                   2 * button->style()->pixelMetric(QStyle::PM_ButtonMargin, nullptr, button) + 4;
  if (button->width() < need) button->resize(need, button->height());
}

// The frame a desktop draws around a window (title bar and borders), as
// far as it is counted before the window manager has told it: the frame of
// Windows, which most desktops do not exceed.
constexpr int kFrameWidth = 8;
constexpr int kFrameHeight = 31;

// The available area of the screen `frame` overlaps most, else of the
// primary screen; empty when there is no screen.
inline QRect ScreenAreaOf(const QRect& frame) {
  const QScreen* primary = QGuiApplication::primaryScreen();
  if (primary == nullptr) return QRect();
  QRect area = primary->availableGeometry();
  int64_t most = 0;
  for (const QScreen* screen : QGuiApplication::screens()) {
    const QRect common = screen->availableGeometry().intersected(frame);
    const int64_t overlap = int64_t(common.width()) * common.height();
    if (overlap > most) {
      most = overlap;
      area = screen->availableGeometry();
    }
  }
  return area;
}

// `frame` moved, and resized where it must be, so that it lies whole in
// `area`: at least `minimum` in size, as far as the area allows, and no
// larger than the area.
inline QRect FitInto(const QRect& area, const QRect& frame, const QSize& minimum) {
  const int width = std::clamp(frame.width(), std::min(minimum.width(), area.width()), area.width());
  const int height =
      std::clamp(frame.height(), std::min(minimum.height(), area.height()), area.height());
  const int left = std::clamp(frame.left(), area.left(), area.left() + area.width() - width);
  const int top = std::clamp(frame.top(), area.top(), area.top() + area.height() - height);
  return QRect(left, top, width, height);
}

// `frame` fitted as above into the screen it overlaps most.
inline QRect FitOnScreen(const QRect& frame, const QSize& minimum) {
  const QRect area = ScreenAreaOf(frame);
  return area.isEmpty() ? frame : FitInto(area, frame, minimum);
}

inline void PlaceOnScreen(QWidget* window);

// Places a window again, once, as soon as the desktop has told the frame it
// draws around it (a window manager frames a window some time after it is
// shown); it then goes.
class PlaceWhenFramed : public QObject {
 public:
  // Found among the window's children by this name (the class has no
  // meta-object of its own, so findChild cannot tell it by its type).
  static constexpr const char* kName = "PlaceWhenFramed";
  explicit PlaceWhenFramed(QWidget* window) : QObject(window), window_(window) {
    setObjectName(kName);
    window->installEventFilter(this);
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    const QEvent::Type type = event->type();
    if (watched == window_ && (type == QEvent::Move || type == QEvent::Resize) &&
        window_->frameGeometry() != window_->geometry()) {
      window_->removeEventFilter(this);
      deleteLater();
      PlaceOnScreen(window_);
    }
    return false;
  }

 private:
  QWidget* window_;
};

// Fits a shown window whole into its screen as FitOnScreen does, its frame
// at the top edge of the screen's available area. Until the desktop has
// told the frame it draws, the frame above is counted, so that the bottom of
// the window does not end below the screen once the title bar is there, and
// the window is placed again when the frame is known.
inline void PlaceOnScreen(QWidget* window) {
  if (window == nullptr) return;
  const QRect inner = window->geometry();
  const QRect outer = window->frameGeometry();
  const bool framed = outer != inner;
  const QSize extra = framed ? outer.size() - inner.size() : QSize(kFrameWidth, kFrameHeight);
  const QRect area = ScreenAreaOf(QRect(outer.topLeft(), inner.size() + extra));
  if (area.isEmpty()) return;
  const QSize least = window->minimumSizeHint().expandedTo(window->minimumSize()) + extra;
  const QRect frame = FitInto(area, QRect(QPoint(outer.left(), area.top()), inner.size() + extra), least);
  if (frame.size() != inner.size() + extra) window->resize(frame.size() - extra);
  // For a window, move() places its frame.
  window->move(frame.topLeft());
  if (!framed && !window->findChild<QObject*>(PlaceWhenFramed::kName, Qt::FindDirectChildrenOnly))
    new PlaceWhenFramed(window);
}

// A label that, when its text is wider than itself, shows the end of the
// text with "…" in front (or, made with Qt::ElideMiddle, both ends with "…"
// between, as a file manager shortens a long path). text() stays the whole
// text, and a long text never widens its window.
class ElidedLabel : public QLabel {
 public:
  explicit ElidedLabel(QWidget* parent = nullptr, Qt::TextElideMode mode = Qt::ElideLeft)
      : QLabel(parent), mode_(mode) {}
  ElidedLabel(const QString& text, QWidget* parent, Qt::TextElideMode mode = Qt::ElideLeft)
      : QLabel(text, parent), mode_(mode) {}
  QString ShownText() const {
    return fontMetrics().elidedText(text(), mode_, contentsRect().width());
  }
  QSize minimumSizeHint() const override { return {0, QLabel::minimumSizeHint().height()}; }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    style()->drawItemText(&painter, contentsRect(), static_cast<int>(alignment()), palette(),
                          isEnabled(), ShownText(), foregroundRole());
  }

 private:
  Qt::TextElideMode mode_;
};

}  // namespace widgets
