#include "ui/focus_frame.h"

#include <QPainter>
#include <QPen>

namespace quillfen {

void DrawFocusFrame(QWidget& widget, QColor colour) {
  QPainter painter(&widget);
  // A cosmetic pen stays one screen pixel wide at any scale factor.
  QPen pen(colour, 0, Qt::DotLine);
  painter.setPen(pen);
  painter.setBrush(Qt::NoBrush);
  painter.drawRect(widget.rect().adjusted(0, 0, -1, -1));
}

FocusBox::FocusBox(QWidget* parent) : QWidget(parent) {
  setAutoFillBackground(true);
  setFocusPolicy(Qt::StrongFocus);
}

void FocusBox::paintEvent(QPaintEvent*) {
  if (hasFocus()) DrawFocusFrame(*this, palette().color(QPalette::WindowText));
}

}  // namespace quillfen
