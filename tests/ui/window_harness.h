#pragma once

#include <QLabel>
#include <QPushButton>
#include <filesystem>
#include <memory>

#include "source/file_system.h"
#include "ui/fractional_progress_bar.h"
#include "ui/main_window.h"
#include "ui/scripted_shell_services.h"

namespace quillfen::test {

// One window wired to scripted shell services, with ending the program
// replaced by a counter.
struct WindowHarness {
  ScriptedShellServices shell;
  int programEnds = 0;
  bool busyWhenEnded = false;
  std::unique_ptr<frmStep1> window;

  explicit WindowHarness(pathLogger::FileSystemFactory fileSystems = MakeDefaultFileSystem)
      : window(std::make_unique<frmStep1>(shell, std::move(fileSystems))) {
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
    const auto* line = element<QLabel>("lblCount1");
    return line->text().startsWith(caption + QStringLiteral(" from ")) && line->toolTip() == source;
  }
  FractionalProgressBar* bar() const { return element<FractionalProgressBar>("ProgressBar1"); }

  const MessageBoxRequest& lastBox() const { return shell.messageBoxes().last().request; }
};

// The native spelling of a folder path with its trailing separator.
inline QString Folder(const std::filesystem::path& path) {
  QString text = QString::fromStdString(path.string());
  if (!text.endsWith(QLatin1Char('/'))) text += QLatin1Char('/');
  return text;
}

}  // namespace quillfen::test
