// Converts an export through the window, as a user would, and times it.
//
//   bench_window SOURCE DEST
//
// The window runs on Qt's offscreen platform (unless QT_QPA_PLATFORM says
// otherwise) and is shown, so labels and the bar really repaint. The folder
// chooser answers SOURCE for the scan and DEST for the conversion, and every
// message box takes its default button; a DEST that holds every message
// already is therefore left as it is, so give a new or empty one. Prints the
// scan and conversion times in milliseconds; the process's own start-up is
// not part of them. The conversion's time runs from the click to the moment
// the window has shown its end, as a user would see it.

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QPushButton>
#include <cstdio>
#include <cstdlib>

#include "tests/ui/scripted_shell_services.h"
#include "ui/main_window.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: bench_window SOURCE DEST\n");
    return 2;
  }
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);

  quillfen::ScriptedShellServices shell;
  quillfen::MainWindow window(shell);
  window.SetEndProgram([] {});
  window.show();
  QApplication::processEvents();

  auto* scan = window.findChild<QPushButton*>(QStringLiteral("chooseSourceButton"));
  auto* convert = window.findChild<QPushButton*>(QStringLiteral("convertButton"));
  if (scan == nullptr || convert == nullptr) {
    std::fprintf(stderr, "bench_window: the window has no scan or convert button\n");
    return 1;
  }

  // The chooser always answers with an absolute path.
  const auto absolute = [](const char* path) {
    return QFileInfo(QFile::decodeName(path)).absoluteFilePath();
  };
  QElapsedTimer clock;
  shell.QueueFolder(absolute(argv[1]));
  clock.start();
  scan->click();
  // The scan runs on a thread of its own too, and ends with its count
  // message.
  while (window.busy()) QApplication::processEvents(QEventLoop::WaitForMoreEvents);
  const qint64 scanMs = clock.elapsed();

  if (!convert->isEnabled()) {
    std::fprintf(stderr, "bench_window: the scan queued nothing\n");
    return 1;
  }
  shell.QueueFolder(absolute(argv[2]));
  clock.start();
  convert->click();
  // The conversion runs on a thread of its own; the window handles its
  // progress and its end as they arrive, and is no longer busy once its
  // final message has been shown.
  while (window.busy()) QApplication::processEvents(QEventLoop::WaitForMoreEvents);
  const qint64 convertMs = clock.elapsed();

  // The last box is the run's final message; a warning means failures.
  const auto& boxes = shell.messageBoxes();
  if (boxes.isEmpty() || boxes.last().request.icon != QMessageBox::Information) {
    std::fprintf(stderr,
                 "bench_window: the conversion did not end with its usual message (does DEST "
                 "hold the messages already?)\n");
    return 1;
  }
  std::printf("queued %d files; scan %lld ms, conversion %lld ms, together %lld ms\n",
              window.queuedCount(), static_cast<long long>(scanMs),
              static_cast<long long>(convertMs), static_cast<long long>(scanMs + convertMs));
  return 0;
}
