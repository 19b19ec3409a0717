#include "ui/shape_rect.h"

#include <QPainter>

namespace quillfen {

ShapeRect::ShapeRect(QColor fill, QColor border, QWidget* parent)
    : QWidget(parent), fill_(fill), border_(border) {
  setAttribute(Qt::WA_TransparentForMouseEvents);
  setFocusPolicy(Qt::NoFocus);
}

QColor ShapeRect::borderColor() const {
  return border_.isValid() ? border_ : palette().color(QPalette::WindowText);
}

void ShapeRect::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), fill_);
  // The border is one screen pixel wide, on the outermost screen pixels of
  // the shape, at any scale factor. A one-unit pen at a factor such as 1.25
  // (a 120 DPI desktop) would come out one or two pixels wide by turns, and
  // an element lying next to the border could cover half of it.
  const qreal pixel = 1.0 / devicePixelRatioF();
  const qreal w = width();
  const qreal h = height();
  const QColor border = borderColor();
  painter.fillRect(QRectF(0, 0, w, pixel), border);
  painter.fillRect(QRectF(0, h - pixel, w, pixel), border);
  painter.fillRect(QRectF(0, 0, pixel, h), border);
  painter.fillRect(QRectF(w - pixel, 0, pixel, h), border);
}

}  // namespace quillfen
