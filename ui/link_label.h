#pragma once

#include <QLabel>

namespace quillfen {

// A label that acts as a link: it reports a click (left button pressed and
// released over it) and shows the hand cursor. It is also a tab stop: with
// the focus it shows a focus frame, and Enter or Space opens it.
class LinkLabel : public QLabel {
  Q_OBJECT

 public:
  explicit LinkLabel(QWidget* parent);

 signals:
  void clicked();

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  bool pressed_ = false;
};

}  // namespace quillfen
