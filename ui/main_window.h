#pragma once

#include <QElapsedTimer>
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
#include "source/scan_observer.h"
#include "ui/shell_services.h"
#include "ui/window_conversion.h"
#include "ui/window_layout.h"

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
// The window is the walker's observer: it shows the running count, and the
// walk yields by processing the window's pending events, so the window
// repaints and stays responsive. A conversion runs on a thread of its own
// (WindowConversion) and shows its progress through queued signals. While a
// scan or a conversion is in progress the two commands that start one are
// disabled and the busy cursor is shown. Exit and closing the window then
// ask first, and on Yes stop the scan or the conversion between two files or
// records (whatever is missing is added by the next conversion into the same
// folder) before the window closes.
class MainWindow : public QWidget, public ScanObserver {
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
  // entries counted. Anything else is refused with a message. Refused
  // without a word while a scan or a run is in progress.
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

  // The walker's observer.
  void SetCountLabel(const std::string& text) override;
  // The walker's yield: processes the pending window events.
  void Yield() override;

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
  class BusyScope;
  class ArchiveCounter;

  void CentreOnScreen();
  void ShowBusyCursor();
  void HideBusyCursor();
  void UpdateCommands();
  // Runs one command that starts a scan: the window is busy meanwhile, and
  // closes at its end when the user asked for that.
  void RunCommand(const std::function<void()>& command);
  // Marks the window busy (the commands disabled) until EndBusy.
  void BeginBusy();
  void EndBusy();
  // The exit question during a scan or a run, saying what runs and what Yes
  // does; on Yes the command stops and the window closes once it has.
  // True for Yes.
  bool ConfirmExit();
  // The user confirmed closing during a scan or a run: it stops at its next
  // yield, and the window closes once it has.
  void RequestCloseWhenStopped();

  // Taking in a source (main_window_scan.cpp).
  // Takes in a chosen path: an export archive file, else a folder.
  void TakeInChosen(const QString& path);
  // Scans sourceFolder_, and shows the count.
  void ScanFolder();
  // Counts the entries of the archive at path, and shows the count.
  void ScanArchive(const QString& path);
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
  FolderWalker::FileSystemFactory fileSystems_;
  std::function<void()> endProgram_;
  WindowControls controls_;

  QString sourceFolder_;
  std::unique_ptr<FolderWalker> walker_;
  std::int32_t queuedCount_ = 0;
  std::int32_t skippedCount_ = 0;
  PathQueueRef queue_;
  // The folders the scan of queue_ could not read. Kept with the queue, so
  // that the conversion of it never reads as complete.
  std::vector<FileSystemError> unreadableFolders_;
  // The archive taken in last; while it is set, it is what Convert converts.
  std::unique_ptr<ExportArchive> archive_;
  // The conversion in progress, if any.
  std::unique_ptr<WindowConversion> conversion_;

  bool busy_ = false;
  // The user confirmed closing the window during a scan or a run; the next
  // yield stops it.
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

  static constexpr qint64 kYieldIntervalMs = 10;
  QElapsedTimer yieldClock_;

  // The running count last set by the walker, held until the next yield
  // that processes events (or the command's end) puts it on the screen:
  // setting a label's text for every file, thousands of times between two
  // repaints, costs more than the work it reports.
  std::string pendingCount_;
  bool countPending_ = false;
  void ShowPendingCount();

  // The queue of the folder scan in progress, and how far its running count
  // has looked: the count shows messages, so each path is looked at once.
  std::shared_ptr<const PathQueue> countedQueue_;
  PathQueue::const_iterator countAt_;
  std::size_t countedFiles_ = 0;
  std::int32_t countedMessages_ = 0;
  std::int32_t countedMeta_ = 0;
  // The .meta files among the skipped ones of the last folder scan.
  std::int32_t metaCount_ = 0;
  void CountQueued();
};

}  // namespace quillfen
