#pragma once

#include <QColor>
#include <QWidget>

namespace quillfen {

// Draws the keyboard focus frame of a widget that has no frame of its own
// (the link label, the bottom box): a dotted line on its outermost pixels,
// clear of the text inside, in colour, so the user always sees where Enter
// or Space would act.
void DrawFocusFrame(QWidget& widget, QColor colour);

// A plain box that is a tab stop: it fills itself with its palette's window
// colour and shows the focus frame while it has the focus.
class FocusBox : public QWidget {
  Q_OBJECT

 public:
  explicit FocusBox(QWidget* parent);

 protected:
  void paintEvent(QPaintEvent* event) override;
};

}  // namespace quillfen
