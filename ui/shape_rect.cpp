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
  painter.setPen(QPen(borderColor(), 1));
  painter.setBrush(Qt::NoBrush);
  painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

}  // namespace quillfen
