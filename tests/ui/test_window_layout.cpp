// The window as it first appears, and how it answers the keyboard and the
// mouse: its texts, controls that lie apart and inside it, captions that
// fit, whole frames, the keyboard order and the web pages.

#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QUrl>
#include <QtTest>

#include "ui/shape_rect.h"
#include "window_harness.h"

using quillfen::MainWindow;
using quillfen::ShapeRect;
using quillfen::test::WindowHarness;

namespace {

QRect InWindow(const QWidget* widget) {
  return QRect(widget->mapTo(widget->window(), QPoint(0, 0)), widget->size());
}

}  // namespace

class WindowLayoutTest : public QObject {
  Q_OBJECT

 private slots:
  void startState();
  void controlsLieApartInsideTheWindow();
  void captionsFitAndFramesAreWhole();
  void keyboard();
  void webPages();
  void progressBarKeepsFractions();
};

void WindowLayoutTest::startState() {
  WindowHarness h;
  QWidget& w = *h.window;
  QCOMPARE(w.windowTitle(), QStringLiteral("Quillfen v2.0"));
  QCOMPARE(w.size(), QSize(598, 385));
  QCOMPARE(w.minimumSize(), w.maximumSize());  // the layout does not grow
  QVERIFY(w.windowFlags() & Qt::WindowMinimizeButtonHint);
  QVERIFY(!(w.windowFlags() & Qt::WindowMaximizeButtonHint));
  for (int size : {16, 24, 32, 48})
    QVERIFY2(w.windowIcon().availableSizes().contains(QSize(size, size)),
             qPrintable(QString::number(size)));
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    const QPoint offset = w.geometry().center() - screen->availableGeometry().center();
    QVERIFY2(offset.manhattanLength() <= 2, "the window starts centred on the screen");
  }

  // Plain text, so that a path holding "<" shows as it is.
  for (QLabel* label : w.findChildren<QLabel*>())
    QVERIFY2(label->pixmap().isNull() == (label->textFormat() == Qt::PlainText),
             qPrintable(label->objectName()));
  QVERIFY(!h.button("convertButton")->isEnabled());
  QVERIFY(h.button("chooseSourceButton")->isEnabled());
  QCOMPARE(h.element("howToLink")->cursor().shape(), Qt::PointingHandCursor);
  QVERIFY(!h.window->queue());
  QCOMPARE(h.bar()->fractionalMinimum(), 0.0f);
  QCOMPARE(h.bar()->fractionalMaximum(), 100.0f);
  QCOMPARE(h.bar()->fractionalValue(), 0.0f);

  // Drawn, the red band behind the link, the pale box of the first step and
  // the white band at the top show their colours.
  w.show();
  const QImage image = w.grab().toImage();
  QCOMPARE(image.pixelColor(QPoint(387, 103)), QColor(192, 0, 0));
  QCOMPARE(image.pixelColor(QPoint(20, 108)), QColor(255, 255, 192));
  QCOMPARE(image.pixelColor(QPoint(300, 5)), QColor(Qt::white));
}

// The controls (what takes the focus, and the bar) lie wholly inside the
// window, apart from each other, and nothing is stacked over them.
void WindowLayoutTest::controlsLieApartInsideTheWindow() {
  WindowHarness h;
  QList<QWidget*> controls;
  for (QWidget* widget : h.window->findChildren<QWidget*>())
    if (widget->focusPolicy() != Qt::NoFocus || qobject_cast<QProgressBar*>(widget))
      controls << widget;
  QCOMPARE(controls.size(), 6);  // four buttons, the link and the bar
  for (QWidget* control : controls) {
    const QByteArray name = control->objectName().toLatin1();
    QVERIFY2(h.window->rect().contains(InWindow(control)), name);
    for (QWidget* other : controls)
      if (other != control) QVERIFY2(!InWindow(other).intersects(InWindow(control)), name);
    const QList<QWidget*> siblings =
        control->parentWidget()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    for (QWidget* above : siblings.mid(siblings.indexOf(control) + 1))
      QVERIFY2(!above->geometry().intersects(control->geometry()), name);
  }
}

// On a machine without the window's own font, and at 120 DPI (a second run
// of this case has QT_FONT_DPI=120), every caption is wholly visible in the
// part of its element that nothing lies over, and every frame is whole.
void WindowLayoutTest::captionsFitAndFramesAreWhole() {
  WindowHarness h;
  h.window->show();
  QVERIFY(QTest::qWaitForWindowExposed(h.window.get()));
  const QList<QWidget*> stack = h.window->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);

  for (int at = 0; at < stack.size(); ++at) {
    auto* label = qobject_cast<QLabel*>(stack[at]);
    if (label == nullptr || label->text().isEmpty()) continue;
    QRegion seen = QRegion(label->geometry()).intersected(h.window->rect());
    for (QWidget* above : stack.mid(at + 1)) seen -= above->geometry();
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
    const QByteArray name = shape->objectName().toLatin1();
    for (int x = px.left() + depth; x <= px.right() - depth; ++x) {
      QVERIFY2(thickness({x, px.top()}, {0, 1}, depth) == 1, name);
      if (r.bottom() == shape->geometry().bottom())
        QVERIFY2(thickness({x, px.bottom()}, {0, -1}, depth) == 1, name);
    }
    for (int y = px.top() + depth; y <= px.bottom() - depth; ++y) {
      QVERIFY2(thickness({px.left(), y}, {1, 0}, depth) == 1, name);
      if (r.right() == shape->geometry().right())
        QVERIFY2(thickness({px.right(), y}, {-1, 0}, depth) == 1, name);
    }
  }
}

// Tab goes through the link and the commands, passing over a disabled
// convert command; every stop shows that it has the focus; Enter presses
// the focused button, Enter and Space open the link, and the mnemonics work.
void WindowLayoutTest::keyboard() {
  WindowHarness h;
  h.window->show();
  h.window->activateWindow();
  QVERIFY(QTest::qWaitForWindowActive(h.window.get()));
  QCOMPARE(QApplication::focusWidget(), h.element("chooseSourceButton"));

  // A stop's own drawing (without what lies inside it) changes when the
  // focus leaves it.
  const auto look = [](QWidget* widget) {
    QImage image(widget->size(), QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    widget->render(&image, {}, {}, QWidget::DrawWindowBackground);
    return image;
  };
  QStringList visited;
  QWidget* stop = QApplication::focusWidget();
  for (int step = 0; step < 5; ++step) {
    const QImage focused = look(stop);
    QTest::keyClick(stop, Qt::Key_Tab);
    QVERIFY2(look(stop) != focused, qPrintable(stop->objectName()));
    stop = QApplication::focusWidget();
    visited << stop->objectName();
  }
  QCOMPARE(visited, QStringList({"helpButton", "exitButton", "howToLink", "chooseSourceButton",
                                 "helpButton"}));
  h.button("convertButton")->setEnabled(true);
  h.button("chooseSourceButton")->setFocus();
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
  QCOMPARE(QApplication::focusWidget(), h.element("convertButton"));

  const QString help = MainWindow::HelpPageUrl({});
  const QString howTo = MainWindow::HelpPageUrl(QStringLiteral("export"));
  h.element("helpButton")->setFocus();
  QTest::keyClick(h.element("helpButton"), Qt::Key_Return);
  QWidget* link = h.element("howToLink");
  link->setFocus();
  QTest::keyClick(link, Qt::Key_Return);
  QTest::keyClick(link, Qt::Key_Enter, Qt::KeypadModifier);
  QTest::keyClick(link, Qt::Key_Space);
  QCOMPARE(h.shell.openedUrls(), QStringList({help, howTo, howTo, howTo}));
  // Idle, Exit closes at once: there is nothing to lose.
  h.element("exitButton")->setFocus();
  QTest::keyClick(h.element("exitButton"), Qt::Key_Enter, Qt::KeypadModifier);
  QVERIFY(h.shell.messageBoxes().isEmpty());
  QCOMPARE(h.programEnds, 1);

  // Alt+H is the help command, Alt+X the exit command, Alt+C the first
  // step's and Alt+M the second's, sent through the window system, as
  // shortcuts are matched there. A mnemonic presses its button visibly, so
  // the click comes a moment later.
  h.window->show();
  h.window->activateWindow();
  QVERIFY(QTest::qWaitForWindowActive(h.window.get()));
  QTest::keyClick(h.window->windowHandle(), Qt::Key_H, Qt::AltModifier);
  QTRY_COMPARE(h.shell.openedUrls().size(), 5);
  QCOMPARE(h.shell.openedUrls().last(), help);
  QTest::keyClick(h.window->windowHandle(), Qt::Key_X, Qt::AltModifier);
  QTRY_COMPARE(h.programEnds, 2);
  h.window->show();
  h.window->activateWindow();
  QVERIFY(QTest::qWaitForWindowActive(h.window.get()));
  QTest::keyClick(h.window->windowHandle(), Qt::Key_C, Qt::AltModifier);
  QTRY_COMPARE(h.shell.folderRequests().size(), 1);
  QCOMPARE(h.shell.folderRequests().last().title, QStringLiteral("Choose Zimbra Mail Folder..."));
  h.button("convertButton")->setEnabled(true);
  QTest::keyClick(h.window->windowHandle(), Qt::Key_M, Qt::AltModifier);
  QTRY_COMPARE(h.shell.folderRequests().size(), 2);
  QCOMPARE(h.shell.folderRequests().last().title, QStringLiteral("Choose Folder to Save..."));
}

void WindowLayoutTest::webPages() {
  WindowHarness h;
  h.window->show();
  QVERIFY(QTest::qWaitForWindowExposed(h.window.get()));
  h.button("helpButton")->click();
  QTest::mouseClick(h.element("howToLink"), Qt::LeftButton);
  // Both open the help page installed with the program, which exists; the
  // link opens it at how to export.
  QCOMPARE(h.shell.openedUrls().size(), 2);
  const QUrl help(h.shell.openedUrls()[0]);
  QVERIFY2(help.isLocalFile() && QFileInfo(help.toLocalFile()).isFile(),
           qPrintable(help.toString()));
  QCOMPARE(QUrl(h.shell.openedUrls()[1]).fragment(), QStringLiteral("export"));
  QCOMPARE(QUrl(h.shell.openedUrls()[1]).toLocalFile(), help.toLocalFile());
  // A press that leaves the link before it is let go is no click.
  QTest::mousePress(h.element("howToLink"), Qt::LeftButton);
  QTest::mouseRelease(h.element("howToLink"), Qt::LeftButton, {}, QPoint(-5, -5));
  QCOMPARE(h.shell.openedUrls().size(), 2);
  QVERIFY(h.shell.messageBoxes().isEmpty());

  // Without a web browser the user is told where the file is, to copy.
  h.shell.SetUrlsOpen(false);
  h.button("helpButton")->click();
  QTest::mouseClick(h.element("howToLink"), Qt::LeftButton);
  QCOMPARE(h.shell.messageBoxes().size(), 2);
  for (int box = 0; box < 2; ++box) {
    const quillfen::MessageBoxRequest& request = h.shell.messageBoxes()[box].request;
    QVERIFY2(request.text.contains(MainWindow::HelpFile()), qPrintable(request.text));
    QVERIFY(request.selectableText);
    QCOMPARE(request.title, QStringLiteral("Quillfen"));
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
