#pragma once

#include <QColor>
#include <QPushButton>
#include <QWidget>

namespace quillfen {

// Draws the keyboard focus frame of a widget that has no frame of its own
// (the link label): a solid line two pixels wide on its outermost pixels,
// clear of the text inside, in colour, so the user always sees where Enter
// or Space would act.
void DrawFocusFrame(QWidget& widget, QColor colour);

// A push button whose focus is plain to see: the style's own mark is a
// faint tint in some styles, so a solid frame in the highlight colour is
// drawn inside the button's edge while it has the focus.
class FocusButton : public QPushButton {
  Q_OBJECT

 public:
  FocusButton(const QString& text, QWidget* parent);

 protected:
  void paintEvent(QPaintEvent* event) override;
};

}  // namespace quillfen
