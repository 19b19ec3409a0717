// The window as it first appears: every element's kind, text, place, font,
// colours and state, the stacking and the keyboard order.

#include <QFontDatabase>
#include <QGuiApplication>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QtTest>

#include "ui/shape_rect.h"
#include "window_harness.h"

using quillfen::ShapeRect;
using quillfen::test::WindowHarness;

namespace {

// Twips as the window's layout gives them, in pixels at 96 dots per inch.
QRect Twips(int left, int top, int width, int height) {
  return QRect(left / 15, top / 15, width / 15, height / 15);
}

QColor Rgb(int r, int g, int b) {
  return QColor(r, g, b);
}

}  // namespace

class WindowLayoutTest : public QObject {
  Q_OBJECT

 private slots:
  void elements_data();
  void elements();
  void fontsAndColours();
  void stackingOrder();
  void startState();
  void keyboardOrderAndAccelerators();
  void enterPressesButtonsAndOpensTheLink();
  void captionsFitAndFramesAreWhole();
  void webPages();
  void progressBarKeepsFractions();
};

void WindowLayoutTest::elements_data() {
  QTest::addColumn<QString>("kind");
  QTest::addColumn<QString>("text");
  QTest::addColumn<QRect>("geometry");

  const auto row = [](const char* name, const char* kind, const QString& text, QRect geometry) {
    QTest::newRow(name) << QString::fromLatin1(kind) << text << geometry;
  };
  row("Shape4", "shape", {}, Twips(0, 0, 9015, 945));
  row("lblTitle", "label", "Quillfen", Twips(240, 165, 6255, 375));
  row("lblCopyright", "label",
      QStringLiteral("Copyright \u00A9 2026 Quillfen. All rights reserved."),
      Twips(240, 525, 6135, 255));
  row("Shape2", "shape", {}, Twips(240, 1080, 8535, 615));
  row("Image3", "picture", {}, Twips(390, 1260, 240, 240));
  row("Label1", "label", "First Export all your Zimbra Mails from Zimbra Desktop as .tgz file  : ",
      Twips(840, 1200, 5655, 465));
  row("Label3", "label", "(Extract exported .tgz file with the help of WinZip or WinRAR)",
      Twips(840, 1425, 4815, 255));
  row("Shape3", "shape", {}, Twips(5760, 1200, 2895, 375));
  row("Label2", "label", "How to Export Zimbra Mails", Twips(5880, 1275, 2655, 255));
  row("Label5", "label",
      "Once you have extracted .tgz file, now choose extracted folder using below button",
      Twips(240, 1920, 6375, 255));
  row("CmdAddFolder", "button", "Choose Zimbra Mail Folder...", Twips(240, 2280, 2775, 375));
  row("lblCount1", "label", "0 files", Twips(270, 2760, 8535, 255));
  row("LblUpdate", "label", "Converting Messages...", Twips(240, 3120, 8535, 615));
  row("Image1", "picture", {}, Twips(240, 3675, 330, 330));
  row("LblProgessCurrent", "label", "Message 0 (of 0)", Twips(720, 3720, 8055, 255));
  row("ProgressBar1", "bar", {}, Twips(240, 4080, 8535, 255));
  row("CmdConvert2PDF", "button", "Convert Messages to Mac Mail", Twips(3120, 4560, 2775, 435));
  row("Shape1", "shape", {}, Twips(0, 5160, 9015, 855));
  row("Picture3", "box", {}, Twips(240, 5280, 8655, 495));
  row("CmdHelp", "button", "&Help Manual", Twips(0, 0, 1695, 375));
  row("cmdEnd", "button", "E&xit", Twips(7200, 0, 1335, 375));
}

void WindowLayoutTest::elements() {
  QFETCH(QString, kind);
  QFETCH(QString, text);
  QFETCH(QRect, geometry);
  WindowHarness h;
  QWidget* element = h.element(QTest::currentDataTag());
  QVERIFY2(element != nullptr, QTest::currentDataTag());
  QCOMPARE(element->geometry(), geometry);

  if (kind == "label") {
    auto* label = qobject_cast<QLabel*>(element);
    QVERIFY(label);
    QCOMPARE(label->text(), text);
    QCOMPARE(label->textFormat(), Qt::PlainText);
  } else if (kind == "button") {
    auto* button = qobject_cast<QPushButton*>(element);
    QVERIFY(button);
    QCOMPARE(button->text(), text);
  } else if (kind == "picture") {
    auto* picture = qobject_cast<QLabel*>(element);
    QVERIFY(picture);
    QCOMPARE(picture->pixmap().size(), geometry.size());
  } else if (kind == "shape") {
    QVERIFY(qobject_cast<ShapeRect*>(element));
  } else if (kind == "bar") {
    QVERIFY(qobject_cast<QProgressBar*>(element));
  }

  // The help and exit buttons live inside the bottom box; everything else
  // sits directly on the window.
  const bool inBox = text == "&Help Manual" || text == "E&xit";
  QCOMPARE(element->parentWidget(), inBox ? h.element("Picture3") : h.window.get());
}

void WindowLayoutTest::fontsAndColours() {
  WindowHarness h;
  const bool tahoma = QFontDatabase::hasFamily("Tahoma");
  // Labels with fixed texts may shrink a little to fit a wider fallback
  // font (captionsFitAndFramesAreWhole checks that they then fit).
  const QStringList fitted = {"lblTitle", "lblCopyright", "Label1", "Label2", "Label3", "Label5"};
  const auto checkFont = [&](const char* name, double points, bool bold) {
    const QFont font = h.element(name)->font();
    if (fitted.contains(name)) {
      QVERIFY2(font.pointSizeF() <= points && font.pointSizeF() >= 6.75, name);
    } else {
      QVERIFY2(qFuzzyCompare(font.pointSizeF(), points), name);
    }
    QVERIFY2(font.bold() == bold, name);
    if (tahoma) QCOMPARE(font.family(), QStringLiteral("Tahoma"));
  };
  checkFont("lblTitle", 14.25, true);
  checkFont("Label2", 9.0, true);
  for (const char* name :
       {"lblCopyright", "Label1", "Label3", "Label5", "lblCount1", "LblUpdate", "LblProgessCurrent",
        "CmdAddFolder", "CmdConvert2PDF", "CmdHelp", "cmdEnd"})
    checkFont(name, 8.25, false);

  // Text colour, and the background a label paints (invalid: transparent).
  const auto checkLabel = [&](const char* name, QColor text, QColor background) {
    auto* label = h.element<QLabel>(name);
    if (text.isValid()) QCOMPARE(label->palette().color(QPalette::WindowText), text);
    QCOMPARE(label->autoFillBackground(), background.isValid());
    if (background.isValid()) QCOMPARE(label->palette().color(QPalette::Window), background);
  };
  const QColor face = h.window->palette().color(QPalette::Window);
  checkLabel("lblTitle", Rgb(192, 0, 0), Qt::white);
  checkLabel("lblCopyright", Qt::black, Qt::white);
  checkLabel("Label1", {}, Rgb(255, 255, 192));
  checkLabel("Label3", Rgb(0, 0, 255), Rgb(255, 255, 192));
  checkLabel("Label2", Qt::white, Rgb(192, 0, 0));
  checkLabel("Label5", Rgb(0, 0, 255), face);
  checkLabel("lblCount1", {}, face);
  checkLabel("LblUpdate", {}, {});
  checkLabel("LblProgessCurrent", Qt::black, {});
  QVERIFY(h.element<QLabel>("Label2")->alignment() & Qt::AlignHCenter);

  const auto checkShape = [&](const char* name, QColor fill, QColor border) {
    auto* shape = h.element<ShapeRect>(name);
    QCOMPARE(shape->fillColor(), fill);
    QCOMPARE(shape->borderColor(), border);
  };
  checkShape("Shape4", Qt::white, Rgb(192, 192, 192));
  checkShape("Shape1", Qt::white, Rgb(192, 192, 192));
  checkShape("Shape2", Rgb(255, 255, 192), h.window->palette().color(QPalette::WindowText));
  checkShape("Shape3", Rgb(192, 0, 0), Rgb(128, 128, 128));
  QCOMPARE(h.element("Picture3")->palette().color(QPalette::Window), QColor(Qt::white));
  QVERIFY(h.element("Picture3")->autoFillBackground());

  // Drawn, the yellow box shows its fill and the red link band its colour.
  h.window->show();
  const QImage image = h.window->grab().toImage();
  QCOMPARE(image.pixelColor(QPoint(387, 103)), Rgb(192, 0, 0));
  QCOMPARE(image.pixelColor(QPoint(20, 108)), Rgb(255, 255, 192));
  QCOMPARE(image.pixelColor(QPoint(300, 5)), QColor(Qt::white));
}

void WindowLayoutTest::stackingOrder() {
  WindowHarness h;
  // Bottom to top; the bar, the buttons and the bottom box lie above all.
  const QStringList bottomToTop = {
      "Shape4", "lblTitle", "lblCopyright", "lblCount1", "Shape1", "LblUpdate", "LblProgessCurrent",
      "Image1", "Shape2",   "Label1",       "Shape3",    "Label2", "Label3",    "Image3",
      "Label5"};
  const QStringList onTop = {"ProgressBar1", "CmdAddFolder", "CmdConvert2PDF", "Picture3"};
  QStringList order;
  for (QObject* child : h.window->children())
    if (child->isWidgetType()) order << child->objectName();
  QCOMPARE(order.mid(0, bottomToTop.size()), bottomToTop);
  QStringList rest = order.mid(bottomToTop.size());
  rest.sort();
  QStringList expectedRest = onTop;
  expectedRest.sort();
  QCOMPARE(rest, expectedRest);
}

void WindowLayoutTest::startState() {
  WindowHarness h;
  QWidget& w = *h.window;
  QCOMPARE(w.windowTitle(), QStringLiteral("Quillfen v2.0"));
  QCOMPARE(w.size(), QSize(598, 385));
  const Qt::WindowFlags flags = w.windowFlags();
  QVERIFY(flags & Qt::WindowMinimizeButtonHint);
  QVERIFY(flags & Qt::WindowCloseButtonHint);
  QVERIFY(!(flags & Qt::WindowMaximizeButtonHint));
  QCOMPARE(w.minimumSize(), w.maximumSize());  // the layout does not grow
  for (int size : {16, 24, 32, 48})
    QVERIFY2(w.windowIcon().availableSizes().contains(QSize(size, size)),
             qPrintable(QString::number(size)));

  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    const QPoint offset = w.geometry().center() - screen->availableGeometry().center();
    QVERIFY2(offset.manhattanLength() <= 2, "the window starts centred on the screen");
  }

  QVERIFY(!h.button("CmdConvert2PDF")->isEnabled());
  QVERIFY(h.button("CmdAddFolder")->isEnabled());
  QCOMPARE(h.element("Label2")->cursor().shape(), Qt::PointingHandCursor);
  QCOMPARE(h.window->queuedCount(), 0);
  QVERIFY(!h.window->queue());
  QCOMPARE(h.bar()->fractionalMinimum(), 0.0f);
  QCOMPARE(h.bar()->fractionalMaximum(), 100.0f);
  QCOMPARE(h.bar()->fractionalValue(), 0.0f);
}

void WindowLayoutTest::keyboardOrderAndAccelerators() {
  WindowHarness h;
  h.window->show();
  h.window->activateWindow();
  QVERIFY(QTest::qWaitForWindowActive(h.window.get()));
  QCOMPARE(QApplication::focusWidget(), h.element("CmdAddFolder"));

  // The disabled convert button is passed over until a scan enables it, and
  // the bottom box, which does nothing, is no stop. Every tab stop shows
  // that it has the focus: its own drawing (without what lies inside it)
  // changes when the focus leaves it.
  const auto look = [](QWidget* widget) {
    QImage image(widget->size(), QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    widget->render(&image, {}, {}, QWidget::DrawWindowBackground);
    return image;
  };
  QStringList visited;
  QWidget* stop = QApplication::focusWidget();
  for (int i = 0; i < 5; ++i) {
    const QImage focused = look(stop);
    QTest::keyClick(stop, Qt::Key_Tab);
    QVERIFY2(look(stop) != focused, qPrintable(stop->objectName()));
    stop = QApplication::focusWidget();
    visited << stop->objectName();
  }
  QCOMPARE(visited, QStringList({"cmdEnd", "CmdHelp", "Label2", "CmdAddFolder", "cmdEnd"}));
  h.button("CmdConvert2PDF")->setEnabled(true);
  h.button("CmdAddFolder")->setFocus();
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
  QCOMPARE(QApplication::focusWidget()->objectName(), QStringLiteral("CmdConvert2PDF"));

  // Alt+H is the help command, Alt+X the exit command.
  // Sent through the window system, as shortcuts are matched there.
  QTest::keyClick(h.window->windowHandle(), Qt::Key_H, Qt::AltModifier);
  // A mnemonic presses its button visibly, so the click comes a moment later.
  QTRY_COMPARE(h.shell.openedUrls(), QStringList({quillfen::frmStep1::ProductPageUrl()}));
  h.shell.QueueAnswer(QMessageBox::No);
  QTest::keyClick(h.window->windowHandle(), Qt::Key_X, Qt::AltModifier);
  QTRY_COMPARE(h.shell.messageBoxes().size(), 1);
  QCOMPARE(h.lastBox().text, QStringLiteral("Are you sure you want to exit now?"));
}

void WindowLayoutTest::enterPressesButtonsAndOpensTheLink() {
  WindowHarness h;
  h.window->show();
  h.window->activateWindow();
  QVERIFY(QTest::qWaitForWindowActive(h.window.get()));
  h.element("CmdHelp")->setFocus();
  QTest::keyClick(h.element("CmdHelp"), Qt::Key_Return);
  h.shell.QueueAnswer(QMessageBox::No);
  h.element("cmdEnd")->setFocus();
  QTest::keyClick(h.element("cmdEnd"), Qt::Key_Enter, Qt::KeypadModifier);
  QCOMPARE(h.shell.messageBoxes().size(), 1);
  QCOMPARE(h.lastBox().text, QStringLiteral("Are you sure you want to exit now?"));

  QWidget* link = h.element("Label2");
  h.element("CmdHelp")->setFocus();
  QTest::keyClick(h.element("CmdHelp"), Qt::Key_Tab);
  QCOMPARE(QApplication::focusWidget(), link);
  QTest::keyClick(link, Qt::Key_Return);
  QTest::keyClick(link, Qt::Key_Enter, Qt::KeypadModifier);
  QTest::keyClick(link, Qt::Key_Space);
  const QString help = quillfen::frmStep1::ProductPageUrl();
  const QString howTo = quillfen::frmStep1::HowToPageUrl();
  QCOMPARE(h.shell.openedUrls(), QStringList({help, howTo, howTo, howTo}));
}

// On a machine without the window's own font, and at 120 DPI (a second run
// of this case has QT_FONT_DPI=120), every caption is wholly visible in the
// part of its element that nothing lies over, and every frame is whole.
void WindowLayoutTest::captionsFitAndFramesAreWhole() {
  WindowHarness h;
  h.window->show();
  QVERIFY(QTest::qWaitForWindowExposed(h.window.get()));
  const QList<QWidget*> stack = h.window->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);

  for (int i = 0; i < stack.size(); ++i) {
    auto* label = qobject_cast<QLabel*>(stack[i]);
    if (label == nullptr || label->text().isEmpty()) continue;
    QRegion seen = QRegion(label->geometry()).intersected(h.window->rect());
    for (QWidget* above : stack.mid(i + 1)) seen -= above->geometry();
    // Trailing spaces are not drawn.
    const int flags = int(label->alignment()) | (label->wordWrap() ? Qt::TextWordWrap : 0);
    const QRect text =
        QFontMetrics(label->font())
            .boundingRect(QRect(QPoint(0, 0), label->size()), flags, label->text().trimmed())
            .translated(label->pos());
    QVERIFY2(QRegion(text).subtracted(seen).isEmpty(), qPrintable(label->objectName()));
  }
  for (QPushButton* button : h.window->findChildren<QPushButton*>()) {
    const int margins = 2 * (button->style()->pixelMetric(QStyle::PM_ButtonMargin) +
                             button->style()->pixelMetric(QStyle::PM_DefaultFrameWidth));
    const QString caption = QString(button->text()).remove(QLatin1Char('&'));
    QVERIFY2(QFontMetrics(button->font()).horizontalAdvance(caption) + margins <= button->width(),
             qPrintable(button->objectName()));
  }

  // Each frame's border is drawn equally thick all along each edge, also
  // where a label lies next to it, at any scale factor.
  const QImage image = h.window->grab().toImage();
  const qreal scale = image.devicePixelRatio();
  for (ShapeRect* shape : h.window->findChildren<ShapeRect*>()) {
    const QRect r = shape->geometry().intersected(h.window->rect());
    // The screen pixels whose centres lie inside the shape.
    const auto first = [&](int at) { return qCeil(at * scale - 0.5); };
    const QRect px(QPoint(first(r.left()), first(r.top())),
                   QPoint(first(r.right() + 1) - 1, first(r.bottom() + 1) - 1));
    const auto thickness = [&](QPoint from, QPoint step, int steps) {
      int count = 0;
      for (QPoint p = from; steps-- > 0 && image.rect().contains(p); p += step)
        if (image.pixelColor(p) == shape->borderColor())
          ++count;
        else
          break;
      return count;
    };
    const int depth = qCeil(2 * scale);
    for (int x = px.left() + depth; x <= px.right() - depth; ++x) {
      QVERIFY2(thickness({x, px.top()}, {0, 1}, depth) == 1, qPrintable(shape->objectName()));
      if (r.bottom() == shape->geometry().bottom())
        QVERIFY2(thickness({x, px.bottom()}, {0, -1}, depth) == 1, qPrintable(shape->objectName()));
    }
    for (int y = px.top() + depth; y <= px.bottom() - depth; ++y) {
      QVERIFY2(thickness({px.left(), y}, {1, 0}, depth) == 1, qPrintable(shape->objectName()));
      if (r.right() == shape->geometry().right())
        QVERIFY2(thickness({px.right(), y}, {-1, 0}, depth) == 1, qPrintable(shape->objectName()));
    }
  }
}

void WindowLayoutTest::webPages() {
  WindowHarness h;
  h.window->show();
  QVERIFY(QTest::qWaitForWindowExposed(h.window.get()));
  h.button("CmdHelp")->click();
  QTest::mouseClick(h.element("Label2"), Qt::LeftButton);
  QCOMPARE(h.shell.openedUrls(), QStringList({"http://" QUILLFEN_SITE_HOST "/quillfen/",
                                              "http://" QUILLFEN_SITE_HOST
                                              "/how-to-export-zimbra-contacts-to-tgz.html"}));
  // A press that leaves the link before it is let go is no click.
  QTest::mousePress(h.element("Label2"), Qt::LeftButton);
  QTest::mouseRelease(h.element("Label2"), Qt::LeftButton, {}, QPoint(-5, -5));
  QCOMPARE(h.shell.openedUrls().size(), 2);
  QVERIFY(h.shell.messageBoxes().isEmpty());

  // Without a web browser the user is given the address, to copy.
  h.shell.SetUrlsOpen(false);
  h.button("CmdHelp")->click();
  QTest::mouseClick(h.element("Label2"), Qt::LeftButton);
  QCOMPARE(h.shell.messageBoxes().size(), 2);
  for (int i = 0; i < 2; ++i) {
    const quillfen::MessageBoxRequest& box = h.shell.messageBoxes()[i].request;
    QVERIFY2(box.text.contains(h.shell.openedUrls()[2 + i]), qPrintable(box.text));
    QVERIFY(box.selectableText);
    QCOMPARE(box.title, QStringLiteral("Quillfen"));
  }
}

void WindowLayoutTest::progressBarKeepsFractions() {
  WindowHarness h;
  quillfen::FractionalProgressBar& bar = *h.bar();
  const float third = static_cast<float>(1.0 / 3.0 * 100.0);
  bar.setFractionalValue(third);
  QCOMPARE(bar.fractionalValue(), third);
  QCOMPARE(bar.value(), 3333);
  QCOMPARE(bar.maximum(), 100 * quillfen::FractionalProgressBar::kScale);

  // A new range keeps the value; a value beyond the range is kept exactly
  // while the bar shows the nearest end.
  bar.setFractionalMaximum(50.0f);
  QCOMPARE(bar.fractionalValue(), third);
  bar.setFractionalValue(1e30f);
  QCOMPARE(bar.fractionalValue(), 1e30f);
  QCOMPARE(bar.value(), bar.maximum());
  bar.setFractionalValue(std::numeric_limits<float>::quiet_NaN());
  QCOMPARE(bar.value(), 0);
}

QTEST_MAIN(WindowLayoutTest)
#include "test_window_layout.moc"
