#pragma once

#include <QMessageBox>
#include <QPointer>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "conversion/conversion.h"
#include "source/export_archive.h"
#include "source/folder_walker.h"
#include "ui/shell_services.h"
#include "ui/window_conversion.h"
#include "ui/window_gone.h"
#include "ui/window_layout.h"
#include "ui/window_scan.h"

namespace quillfen {

// Quillfen's only window. It leads the user through the two steps written on
// its face: choose the export (its extracted folder or the archive itself)
// and scan it, then convert the queued messages into .mbox files. It owns
// the walker, the queue of the last scan and the archive taken in last.
//
// Its elements and their places are built by LayOutWindow
// (window_layout.cpp); this class is what they do. Taking in a source (the
// scan of a folder, the count of an archive) is in main_window_scan.cpp,
// the wording of a conversion's end in conversion_messages.cpp.
//
// A scan (WindowScan) and a conversion (WindowConversion) each run on a
// thread of their own and show their progress through queued signals, so
// the window only paints and answers the user. While one is in progress the
// two commands that start one are disabled and the busy cursor is shown.
// Exit and closing the window then ask first, and on Yes stop the scan or
// the conversion between two files or records (whatever is missing is added
// by the next conversion into the same folder) before the window closes.
class MainWindow : public QWidget {
  Q_OBJECT

 public:
  // shell provides the chooser, web pages and message boxes and must outlive
  // the window. fileSystems gives the walker its file-system service.
  explicit MainWindow(ShellServices& shell,
                      FolderWalker::FileSystemFactory fileSystems = MakeDefaultFileSystem,
                      QWidget* parent = nullptr);
  ~MainWindow() override;

  // The help page, installed with the program, and its address; section
  // names a part of it ("export" for the how-to link), or is empty.
  static QString HelpFile();
  static QString HelpPageUrl(const QString& section);

  // What ending the program means. By default the process ends at once,
  // without running any further event; tests put a recorder in its place.
  void SetEndProgram(std::function<void()> endProgram) { endProgram_ = std::move(endProgram); }

  // Takes in path as the source to convert, as if it had been chosen: a
  // folder is scanned, an export archive (.tgz, .tar.gz, .tar) has its
  // entries counted, and the window is busy until that has ended. Anything
  // else is refused with a message. Refused without a word while a scan or
  // a run is in progress.
  void OpenSource(const QString& path);

  // State for tests and front ends: the messages queued, and the other
  // files of the source, which are skipped.
  std::int32_t queuedCount() const { return queuedCount_; }
  std::int32_t skippedCount() const { return skippedCount_; }
  PathQueueRef queue() const { return queue_; }
  // The folders the last folder scan could not read, with their reasons:
  // their messages are not in the queue.
  const std::vector<FileSystemError>& unreadableFolders() const { return unreadableFolders_; }
  // The folder scanned last, or the archive taken in last.
  const QString& sourceFolder() const { return sourceFolder_; }
  bool busy() const { return busy_; }

 protected:
  void closeEvent(QCloseEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private slots:
  void onChooseSourceClicked();
  void onConvertClicked();
  void onHelpClicked();
  void onHowToClicked();
  void onExitClicked();

 private:
  void CentreOnScreen();
  void ShowBusyCursor();
  void HideBusyCursor();
  void UpdateCommands();
  // Marks the window busy (the commands disabled) until EndBusy.
  void BeginBusy();
  void EndBusy();
  // The exit question during a scan or a run, saying what runs and what Yes
  // does; on Yes the command stops and the window closes once it has.
  // True for Yes.
  bool ConfirmExit();
  // The user confirmed closing during a scan or a run: it stops between two
  // files or records, and the window closes once it has.
  void RequestCloseWhenStopped();
  // The native window was destroyed from outside: nobody can answer a
  // question any more, so a scan or a run stops as on a confirmed Exit and
  // the program ends once it has.
  void WindowGone();

  // Taking in a source (main_window_scan.cpp).
  // Starts taking in a chosen path, the window busy: an export archive
  // file has its entries counted, a folder is scanned.
  void TakeInChosen(const QString& path);
  // The scan has ended: what it found is queued, and the count shown.
  void ScanFinished();
  // The message that ends a scan: the count, after the failure and the
  // folders that could not be read, if any. The count's line then shows
  // what is queued now, and from where.
  void ShowCountMessage(const QString& failure);

  // A new source or a new run: the last run's captions and bar go.
  void ResetRunCaptions();
  // The question a conversion asks when the destination holds some of its
  // messages already.
  Decision Decide(const ConversionPlan& plan);
  void ShowConversionStatus(const WindowConversion::Status& status);
  void ConversionFinished();
  // A message box of the conversion, with its OK button; the busy cursor is
  // taken away first and the latest captions shown.
  void ShowRunMessage(QMessageBox::Icon icon, const QString& text);
  void ShowFinished(const ConversionReport& report);
  // Opens the help page at section, or says where it is.
  void OpenHelp(const QString& section);
  // An information message whose text can be selected and copied.
  void ShowSelectableInformation(const QString& text);

  ShellServices& shell_;
  WindowGoneWatch goneWatch_;
  FolderWalker::FileSystemFactory fileSystems_;
  std::function<void()> endProgram_;
  WindowControls controls_;

  QString sourceFolder_;
  std::int32_t queuedCount_ = 0;
  std::int32_t skippedCount_ = 0;
  PathQueueRef queue_;
  // The folders the scan of queue_ could not read. Kept with the queue, so
  // that the conversion of it never reads as complete.
  std::vector<FileSystemError> unreadableFolders_;
  // The archive taken in last; while it is set, it is what Convert converts.
  std::unique_ptr<ExportArchive> archive_;
  // The scan in progress and what it takes in, if any.
  std::unique_ptr<WindowScan> scan_;
  QString scanSource_;
  // The conversion in progress, if any.
  std::unique_ptr<WindowConversion> conversion_;

  bool busy_ = false;
  // The user confirmed closing the window during a scan or a run, which
  // stops.
  bool closeRequested_ = false;
  bool busyCursor_ = false;
  // The exit question is open; a conversion that ends meanwhile keeps its
  // closing message until it is answered.
  bool askingExit_ = false;
  bool finishPending_ = false;
  // How far the conversion in progress is ("58,880 of 100,000"), for the
  // exit question.
  QString runCounts_;
  // Where the focus was when the window became busy.
  QPointer<QWidget> busyFocus_;

  // The .meta files among the skipped ones of the last scan.
  std::int32_t metaCount_ = 0;
};

}  // namespace quillfen
