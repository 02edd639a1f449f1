// Sizes taken from the font in use, so that the texts a window was designed
// to show fit on a Linux desktop whatever font it has: a window at least as
// wide as its title, and a label that gives way by cutting its text from the
// left end (a path keeps its last folders in view).
//
// Header only: the windows of every folder use it.
#pragma once

#include <QApplication>
#include <QFont>
#include <QFontMetrics>
#include <QGridLayout>
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

// A label that, when its text is wider than itself, shows the end of the
// text with "…" in front. text() stays the whole text.
class ElidedLabel : public QLabel {
 public:
  using QLabel::QLabel;
  QString ShownText() const {
    return fontMetrics().elidedText(text(), Qt::ElideLeft, contentsRect().width());
  }
  QSize minimumSizeHint() const override { return {0, QLabel::minimumSizeHint().height()}; }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    style()->drawItemText(&painter, contentsRect(), static_cast<int>(alignment()), palette(),
                          isEnabled(), ShownText(), foregroundRole());
  }
};

}  // namespace widgets
