#pragma once

#include <QColor>
#include <QWidget>

namespace quillfen {

// A filled rectangle with a one-pixel border drawn inside its bounds, used
// for the window's bands and boxes. It takes no input: clicks fall through
// to whatever lies beneath.
class ShapeRect : public QWidget {
  Q_OBJECT

 public:
  // An invalid border colour stands for the palette's window-text colour.
  ShapeRect(QColor fill, QColor border, QWidget* parent);

  QColor fillColor() const { return fill_; }
  QColor borderColor() const;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QColor fill_;
  QColor border_;
};

}  // namespace quillfen
