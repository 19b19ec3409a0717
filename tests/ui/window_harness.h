#pragma once

#include <QEventLoop>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QtTest>
#include <filesystem>
#include <functional>
#include <memory>

#include "scripted_shell_services.h"
#include "source/file_system.h"
#include "ui/fractional_progress_bar.h"
#include "ui/main_window.h"

namespace quillfen::test {

// The native spelling of a folder path with its trailing separator.
inline QString Folder(const std::filesystem::path& path) {
  QString text = QString::fromStdString(path.string());
  if (!text.endsWith(QLatin1Char('/'))) text += QLatin1Char('/');
  return text;
}

// Runs the event loop until done() holds or the time is up. A plain event
// loop wakes for every queued signal of the conversion at once (a polling
// wait would sleep through part of a run), so what a test does in answer to
// the window's progress happens while the conversion is where it was shown.
inline bool WaitUntil(const std::function<bool()>& done, int timeoutMs = 60000) {
  if (done()) return true;
  QEventLoop loop;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
    if (done()) loop.quit();
  });
  poll.start(1);
  QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
  loop.exec();
  return done();
}

// One window wired to scripted shell services, with ending the program
// replaced by a counter.
struct WindowHarness {
  ScriptedShellServices shell;
  int programEnds = 0;
  bool busyWhenEnded = false;
  std::unique_ptr<MainWindow> window;

  explicit WindowHarness(FolderWalker::FileSystemFactory fileSystems = MakeDefaultFileSystem)
      : window(std::make_unique<MainWindow>(shell, std::move(fileSystems))) {
    window->SetEndProgram([this] {
      ++programEnds;
      busyWhenEnded = window->busy();
    });
  }

  template <typename T = QWidget>
  T* element(const char* name) const {
    return window->findChild<T*>(QString::fromLatin1(name));
  }
  QPushButton* button(const char* name) const { return element<QPushButton>(name); }
  QString text(const char* name) const { return element<QLabel>(name)->text(); }
  // Whether the count line reads caption, " from " and source: the path may
  // be shortened in the middle to fit, and is whole in the tool tip.
  bool countLineShows(const QString& caption, const QString& source) const {
    const auto* line = element<QLabel>("countLabel");
    return line->text().startsWith(caption + QStringLiteral(" from ")) && line->toolTip() == source;
  }
  FractionalProgressBar* bar() const { return element<FractionalProgressBar>("progressBar"); }

  const MessageBoxRequest& lastBox() const { return shell.messageBoxes().last().request; }

  // Takes in path through the choose command, answering its chooser, and
  // waits for the scan to end.
  void Choose(const QString& path) {
    shell.QueueFolder(path);
    button("chooseSourceButton")->click();
    QVERIFY(WaitUntil([this] { return !window->busy(); }));
  }
  // Takes in path as if opened or dropped, and waits for the scan to end.
  void Open(const QString& path) {
    window->OpenSource(path);
    QVERIFY(WaitUntil([this] { return !window->busy(); }));
  }
  // Clicks convert, answers its chooser with destination and waits for the
  // conversion to end. False when it did not end in time.
  [[nodiscard]] bool ConvertInto(const std::filesystem::path& destination) {
    shell.QueueFolder(Folder(destination));
    button("convertButton")->click();
    return WaitUntil([this] { return !window->busy(); });
  }
};

}  // namespace quillfen::test
