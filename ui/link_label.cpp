#include "ui/link_label.h"

#include <QKeyEvent>
#include <QMouseEvent>

#include "ui/focus_frame.h"

namespace quillfen {

LinkLabel::LinkLabel(QWidget* parent) : QLabel(parent) {
  // Reached with Tab only: a click opens the page and leaves the focus where
  // it was, as a link in a web page does.
  setFocusPolicy(Qt::TabFocus);
  setCursor(Qt::PointingHandCursor);
}

void LinkLabel::mousePressEvent(QMouseEvent* event) {
  pressed_ = event->button() == Qt::LeftButton;
  QLabel::mousePressEvent(event);
}

void LinkLabel::mouseReleaseEvent(QMouseEvent* event) {
  // Like a button, the click counts only when the press began here and the
  // button is let go over the label.
  const bool click =
      pressed_ && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint());
  pressed_ = false;
  QLabel::mouseReleaseEvent(event);
  if (click) emit clicked();
}

void LinkLabel::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Space:
      // A held key opens the page once, not once per repeat.
      if (!event->isAutoRepeat()) emit clicked();
      event->accept();
      return;
    default:
      QLabel::keyPressEvent(event);
  }
}

void LinkLabel::paintEvent(QPaintEvent* event) {
  QLabel::paintEvent(event);
  if (hasFocus()) DrawFocusFrame(*this, palette().color(QPalette::WindowText));
}

}  // namespace quillfen
