#include "ui/focus_frame.h"

#include <QPainter>
#include <QPen>

namespace quillfen {

void DrawFocusFrame(QWidget& widget, QColor colour) {
  QPainter painter(&widget);
  // Two pixels wide, as bold as a button's frame.
  QPen pen(colour, 2, Qt::SolidLine);
  pen.setJoinStyle(Qt::MiterJoin);
  painter.setPen(pen);
  painter.setBrush(Qt::NoBrush);
  painter.drawRect(QRectF(widget.rect()).adjusted(1, 1, -1, -1));
}

FocusButton::FocusButton(const QString& text, QWidget* parent) : QPushButton(text, parent) {}

void FocusButton::paintEvent(QPaintEvent* event) {
  QPushButton::paintEvent(event);
  if (!hasFocus()) return;
  QPainter painter(this);
  // Two pixels wide, inside the style's bevel (about three pixels) so that
  // the frame neither covers the caption nor the button's own edge.
  QPen pen(palette().color(QPalette::Highlight), 2);
  pen.setJoinStyle(Qt::MiterJoin);
  painter.setPen(pen);
  painter.setBrush(Qt::NoBrush);
  painter.drawRect(QRectF(rect()).adjusted(3, 3, -3, -3));
}

}  // namespace quillfen
