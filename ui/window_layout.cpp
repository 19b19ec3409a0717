#include "ui/window_layout.h"

#include <QFont>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QIcon>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QWidget>

#include "ui/focus_frame.h"
#include "ui/fractional_progress_bar.h"
#include "ui/link_label.h"
#include "ui/shape_rect.h"
#include "ui/window_texts.h"

namespace quillfen {
namespace {

// Window geometry is laid out in twips; fifteen make one pixel at 96 dots
// per inch.
constexpr int Px(int twips) {
  return twips / 15;
}

void Place(QWidget* widget, const char* name, int left, int top, int width, int height) {
  widget->setObjectName(QString::fromLatin1(name));
  widget->setGeometry(Px(left), Px(top), Px(width), Px(height));
}

// The window's typeface: Tahoma where it is installed, else the desktop's
// sans serif, at the same size and weight.
QFont WindowFont(double points, bool bold) {
  QFont font;
  if (QFontDatabase::hasFamily(QStringLiteral("Tahoma"))) {
    font.setFamily(QStringLiteral("Tahoma"));
  } else {
    font.setFamily(QStringLiteral("Sans Serif"));
    font.setStyleHint(QFont::SansSerif);
  }
  font.setPointSizeF(points);
  font.setBold(bold);
  return font;
}

// The fallback sans serif runs wider than Tahoma, so a label whose fixed
// text no longer fits on one line of width pixels gets a slightly smaller
// size (never below 6.75 pt) instead of losing its end. Text that fits keeps
// its size, so with Tahoma nothing changes. Trailing spaces are not drawn
// and do not count.
void FitFont(QLabel* label, int width) {
  QFont font = label->font();
  const QString text = label->text().trimmed();
  while (font.pointSizeF() > 6.75 && QFontMetrics(font).horizontalAdvance(text) > width) {
    font.setPointSizeF(font.pointSizeF() - 0.25);
  }
  label->setFont(font);
}

// A plain-text label with its text at the top left (plain, so that a path
// holding "<" shows as it is). background, when valid, is painted behind the
// text; otherwise the label is transparent. Only labels two or more lines
// high wrap at word boundaries: a one-line label in a wider fallback font is
// cut at its right edge rather than showing the top of a second line.
QLabel* MakeLabel(QLabel* label, const QString& text, QColor foreground, QColor background,
                  bool wrap = false) {
  label->setTextFormat(Qt::PlainText);
  label->setText(text);
  label->setWordWrap(wrap);
  label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  QPalette palette = label->palette();
  palette.setColor(QPalette::WindowText,
                   foreground.isValid() ? foreground : palette.color(QPalette::ButtonText));
  if (background.isValid()) {
    palette.setColor(QPalette::Window, background);
    label->setAutoFillBackground(true);
  }
  label->setPalette(palette);
  return label;
}

QLabel* MakePicture(QWidget* parent, const QString& resource) {
  auto* picture = new QLabel(parent);
  picture->setPixmap(QPixmap(resource));
  picture->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  return picture;
}

}  // namespace

// The elements are created from the bottom of the stack to the top, so each
// one lies above those created before it.
WindowControls LayOutWindow(QWidget& window) {
  window.setObjectName(QStringLiteral("mainWindow"));
  window.setWindowTitle(QStringLiteral("Quillfen v2.0"));
  QIcon icon;
  for (int size : {16, 24, 32, 48})
    icon.addFile(QStringLiteral(":/quillfen/icons/quillfen-%1.png").arg(size), QSize(size, size));
  window.setWindowIcon(icon);
  window.setFont(WindowFont(8.25, false));
  // The elements keep their places at any size, so a larger window would
  // only show empty space: the size is fixed.
  window.setFixedSize(Px(8970), Px(5775));

  const QColor white(255, 255, 255);
  const QColor pale(255, 255, 192);
  const QColor darkRed(192, 0, 0);
  const QColor blue(0, 0, 255);
  const QColor silver(192, 192, 192);
  const QColor face = window.palette().color(QPalette::Window);
  const QColor none;
  WindowControls controls;

  // The white band across the top, with the product's name and copyright.
  auto* headerBand = new ShapeRect(white, silver, &window);
  Place(headerBand, "headerBand", 0, 0, 9015, 945);

  QLabel* title = MakeLabel(new QLabel(&window), kAppTitle, darkRed, white);
  title->setFont(WindowFont(14.25, true));
  Place(title, "titleLabel", 240, 165, 6255, 375);

  QLabel* copyright = MakeLabel(
      new QLabel(&window), QStringLiteral("Copyright \u00A9 2026 Quillfen. All rights reserved."),
      QColor(0, 0, 0), white);
  Place(copyright, "copyrightLabel", 240, 525, 6135, 255);

  controls.countLabel = MakeLabel(new QLabel(&window), QStringLiteral("0 files"), none, face);
  Place(controls.countLabel, "countLabel", 270, 2760, 8535, 255);

  // The white band across the bottom; the footer box lies on it.
  auto* footerBand = new ShapeRect(white, silver, &window);
  Place(footerBand, "footerBand", 0, 5160, 9015, 855);

  // One line each: a long path is shortened in its middle, never wrapped
  // into the line below.
  controls.statusLabel = MakeLabel(new QLabel(&window), kStatusAtRest, none, none);
  Place(controls.statusLabel, "statusLabel", 240, 3120, 8535, 615);

  controls.progressLabel = MakeLabel(new QLabel(&window), kProgressAtRest, QColor(0, 0, 0), none);
  Place(controls.progressLabel, "progressLabel", 720, 3720, 8055, 255);

  QLabel* progressPicture =
      MakePicture(&window, QStringLiteral(":/quillfen/icons/progress-picture.png"));
  Place(progressPicture, "progressPicture", 240, 3675, 330, 330);

  // The pale box with the first step: how to export the mail. The archive
  // is read as it is, so nothing needs extracting.
  auto* instructionsBox = new ShapeRect(pale, QColor(), &window);
  Place(instructionsBox, "instructionsBox", 240, 1080, 8535, 615);

  QLabel* exportInstruction =
      MakeLabel(new QLabel(&window),
                QStringLiteral("First export all your mail from Zimbra Desktop as a .tgz file:"),
                none, pale, true);
  Place(exportInstruction, "exportInstructionLabel", 840, 1200, 5655, 465);

  // The red band behind the link.
  auto* howToBand = new ShapeRect(darkRed, QColor(128, 128, 128), &window);
  Place(howToBand, "howToBand", 5760, 1200, 2895, 375);

  controls.howToLink = new LinkLabel(&window);
  MakeLabel(controls.howToLink, QStringLiteral("How to Export Zimbra Mails"), white, darkRed);
  controls.howToLink->setAlignment(Qt::AlignCenter);
  controls.howToLink->setFont(WindowFont(9, true));
  // It fills the band but for the band's border and a pixel beside it, so
  // that its focus frame, drawn on its edge, is as bold as the buttons' and
  // clear of its text.
  Place(controls.howToLink, "howToLink", 5790, 1230, 2835, 315);

  QLabel* extractHint = MakeLabel(
      new QLabel(&window),
      QStringLiteral("(no need to extract it: Quillfen reads the .tgz itself)"), blue, pale);
  Place(extractHint, "extractHintLabel", 840, 1425, 4815, 255);

  QLabel* bullet = MakePicture(&window, QStringLiteral(":/quillfen/icons/instruction-bullet.png"));
  Place(bullet, "instructionsBullet", 390, 1260, 240, 240);

  QLabel* chooseHint = MakeLabel(
      new QLabel(&window),
      QStringLiteral("Then choose or drop the export (.tgz) or its extracted folder:"), blue, face);
  Place(chooseHint, "chooseHintLabel", 240, 1920, 6375, 255);

  for (QLabel* label :
       {title, copyright, static_cast<QLabel*>(controls.howToLink), extractHint, chooseHint})
    FitFont(label, label->width());
  // The export sentence shows on one line, left of the red band with a small
  // gap before it: the band lies over the label's right end, and the extract
  // hint over its lower half.
  FitFont(exportInstruction, howToBand->x() - exportInstruction->x() - 4);

  // Above every label, picture and rectangle: the bar, the buttons and the
  // box that holds the bottom two.
  controls.progressBar = new FractionalProgressBar(&window);
  Place(controls.progressBar, "progressBar", 240, 4080, 8535, 255);

  controls.chooseSourceButton = new FocusButton(QStringLiteral("&") + kChooseSourceTitle, &window);
  Place(controls.chooseSourceButton, "chooseSourceButton", 240, 2280, 2775, 375);

  controls.convertButton =
      new FocusButton(QStringLiteral("Convert &Messages to Mac Mail"), &window);
  Place(controls.convertButton, "convertButton", 3120, 4560, 2775, 435);
  controls.convertButton->setEnabled(false);

  // Only holds the bottom two buttons; it takes no focus of its own.
  auto* footerBox = new QWidget(&window);
  footerBox->setAutoFillBackground(true);
  Place(footerBox, "footerBox", 240, 5280, 8655, 495);
  QPalette boxPalette = footerBox->palette();
  boxPalette.setColor(QPalette::Window, white);
  footerBox->setPalette(boxPalette);

  controls.helpButton = new FocusButton(QStringLiteral("&Help Manual"), footerBox);
  Place(controls.helpButton, "helpButton", 0, 0, 1695, 375);

  controls.exitButton = new FocusButton(QStringLiteral("E&xit"), footerBox);
  Place(controls.exitButton, "exitButton", 7200, 0, 1335, 375);

  for (QPushButton* button : {controls.chooseSourceButton, controls.convertButton,
                              controls.helpButton, controls.exitButton}) {
    button->setFocusPolicy(Qt::StrongFocus);
    // Enter and keypad Enter press the focused button, as in a dialog; a
    // plain window would ignore them.
    button->setAutoDefault(true);
  }

  // Keyboard focus goes as the face reads, top to bottom and left to right:
  // the link, the two steps' commands, then Help Manual and Exit; the other
  // labels, the bar and the footer box take no focus. The focus starts on
  // the first step's command, the one a new user needs first.
  QWidget::setTabOrder(controls.howToLink, controls.chooseSourceButton);
  QWidget::setTabOrder(controls.chooseSourceButton, controls.convertButton);
  QWidget::setTabOrder(controls.convertButton, controls.helpButton);
  QWidget::setTabOrder(controls.helpButton, controls.exitButton);
  controls.chooseSourceButton->setFocus();
  return controls;
}

}  // namespace quillfen
