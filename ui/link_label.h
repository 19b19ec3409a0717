#pragma once

#include <QLabel>

namespace quillfen {

// A label that acts as a link: it reports a click (left button pressed and
// released over it) and shows the hand cursor.
class LinkLabel : public QLabel {
  Q_OBJECT

 public:
  using QLabel::QLabel;

 signals:
  void clicked();

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  bool pressed_ = false;
};

}  // namespace quillfen
