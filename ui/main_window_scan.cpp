// The window taking in a source: the choose command, a path opened or
// dropped, the scan of a folder and the count of an archive, with the
// running count and the message that ends them.

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QFontMetrics>
#include <QLabel>
#include <QStringList>
#include <exception>

#include "os/paths.h"
#include "source/message_name.h"
#include "ui/main_window.h"
#include "ui/window_texts.h"

namespace quillfen {
namespace {

// Thrown from a yield once the user has confirmed closing the window during
// a scan. It is not a std::exception, so that no handler of a failure takes
// it for one; the command that yielded lets it pass and the window closes
// when the command has ended.
struct StopForClosing {};

}  // namespace

// Marks the window busy for one scan, from its chooser to its closing
// message: the two commands are disabled meanwhile, so they look as they
// behave. The busy cursor is shown separately, once the command's chooser
// has closed, and is taken away before its final message box or when the
// command ends, whichever comes first.
class MainWindow::BusyScope {
 public:
  explicit BusyScope(MainWindow& window) : window_(window) { window_.BeginBusy(); }
  ~BusyScope() { window_.EndBusy(); }
  BusyScope(const BusyScope&) = delete;
  BusyScope& operator=(const BusyScope&) = delete;

 private:
  MainWindow& window_;
};

// An archive's entries as they are counted. Which of them are messages is
// known only at the end, so the running count says entries, not queued
// messages.
class MainWindow::ArchiveCounter : public ArchiveProgress {
 public:
  explicit ArchiveCounter(MainWindow& window) : window_(window) {}
  void Counting(std::int32_t files) override {
    window_.SetCountLabel(
        ToCore(QStringLiteral("Reading the archive: %1 entries").arg(Number(files))));
  }
  void Yield() override { window_.Yield(); }

 private:
  MainWindow& window_;
};

void MainWindow::RunCommand(const std::function<void()>& command) {
  {
    BusyScope busy(*this);
    try {
      command();
    } catch (const StopForClosing&) {
      // The user confirmed closing the window: the scan has stopped between
      // two files.
    }
  }
  if (closeRequested_) close();
}

void MainWindow::onChooseSourceClicked() {
  // A second scan or a run started during one of this command's yields would
  // replace the queue under it; the commands are disabled meanwhile, and a
  // call that comes anyway is refused.
  if (busy_) return;
  RunCommand([this] {
    const QString chosen = shell_.BrowseForSource(this, kChooseSourceTitle);
    if (chosen.isEmpty()) return;
    TakeInChosen(chosen);
  });
}

void MainWindow::OpenSource(const QString& path) {
  if (busy_) return;
  RunCommand([this, path] {
    // A relative path is taken from the working folder; the mirror tree
    // repeats the path below the destination, so "." and ".." are resolved
    // by spelling, as quillfen-cli does.
    const QFileInfo info(path);
    const QString absolute = QDir::toNativeSeparators(QDir::cleanPath(info.absoluteFilePath()));
    const bool source = info.isDir() || (info.isFile() && IsArchivePath(ToCore(absolute)));
    QString refusal;
    if (!info.exists())
      refusal = QStringLiteral("%1 does not exist, so there is nothing to convert.");
    else if (source && !info.isReadable())
      refusal = QStringLiteral(
          "%1 cannot be read: permission denied. Nothing can be converted "
          "from it.");
    else if (!source)
      refusal = QStringLiteral(
          "%1 is neither a folder nor an export archive (.tgz, .tar.gz or .tar), so there is "
          "nothing to convert in it.");
    if (refusal.isEmpty()) {
      TakeInChosen(absolute);
      return;
    }
    // The source queued before, if any, stays queued.
    MessageBoxRequest request;
    request.text = refusal.arg(absolute);
    request.title = kAppTitle;
    request.icon = QMessageBox::Warning;
    shell_.ShowMessageBox(this, request);
  });
}

void MainWindow::TakeInChosen(const QString& path) {
  ResetRunCaptions();
  if (QFileInfo(path).isFile() && IsArchivePath(ToCore(path))) {
    ScanArchive(path);
  } else {
    sourceFolder_ = path;
    ScanFolder();
  }
}

void MainWindow::ScanFolder() {
  sourceFolder_ = FromCore(AddTrailingSeparator(ToCore(sourceFolder_)));
  const std::string folder = ToCore(sourceFolder_);
  if (!walker_) {
    walker_ = std::make_unique<FolderWalker>(this, fileSystems_);
    // One folder the user cannot read would otherwise keep every folder
    // walked after it out of the queue; each is named to the user instead,
    // and again when the queue is converted.
    walker_->SetGoOnPastUnreadableFolders(true);
  }
  ShowBusyCursor();
  // The running count counts the messages in the queue as it grows.
  auto queue = std::make_shared<PathQueue>();
  countedQueue_ = queue;
  countedFiles_ = 0;
  countedMessages_ = 0;
  countedMeta_ = 0;
  countAt_ = queue->begin();
  // Repaint once now that the chooser has closed.
  QCoreApplication::processEvents();

  QString failure;
  try {
    walker_->Walk(folder, queue);
  } catch (const std::exception& error) {
    failure =
        QStringLiteral("The scan of %1 stopped: %2").arg(FromCore(folder), FromCore(error.what()));
  }

  // After a failure the files queued before it stay queued, so the user can
  // still convert what was found.
  queue_ = walker_->queue();
  unreadableFolders_ = walker_->unreadableFolders();
  CountQueued();
  countedQueue_.reset();
  queuedCount_ = countedMessages_;
  skippedCount_ = static_cast<std::int32_t>(countedFiles_) - queuedCount_;
  metaCount_ = countedMeta_;
  archive_.reset();
  ShowCountMessage(failure);
}

void MainWindow::ScanArchive(const QString& path) {
  sourceFolder_ = path;
  ShowBusyCursor();
  QCoreApplication::processEvents();

  // The archive takes the place of whatever was queued before, also when it
  // turns out unreadable: the user chose to convert it, not the earlier one.
  queue_.reset();
  unreadableFolders_.clear();
  archive_.reset();
  queuedCount_ = 0;
  skippedCount_ = 0;
  metaCount_ = 0;
  QString failure;
  try {
    ArchiveCounter counter(*this);
    archive_ = std::make_unique<ExportArchive>(ToCore(path), &counter);
    archive_->SetProgress(nullptr);
    queuedCount_ = archive_->messages();
    skippedCount_ = archive_->entries() - queuedCount_;
  } catch (const ArchiveError& error) {
    failure = QStringLiteral("The archive %1 could not be read: %2")
                  .arg(FromCore(error.archivePath()), FromCore(error.reason()));
  } catch (const std::exception& error) {
    failure =
        QStringLiteral("The archive %1 could not be read: %2").arg(path, FromCore(error.what()));
  }
  ShowCountMessage(failure);
}

void MainWindow::ShowCountMessage(const QString& failure) {
  ShowPendingCount();
  HideBusyCursor();

  // The running count showed what the walk had found; from now on the line
  // tells what is queued, whatever happened to the scan, and from where.
  const QString caption = CountCaption(queuedCount_);
  QString line = caption;
  QStringList notes;
  if (skippedCount_ == 1)
    notes << QStringLiteral("1 other file skipped");
  else if (skippedCount_ > 1)
    notes << QStringLiteral("%1 other files skipped").arg(Number(skippedCount_));
  // The line stays after the message is gone: what could not be read must
  // not look like an empty folder.
  if (!unreadableFolders_.empty())
    notes << FoldersCount(unreadableFolders_.size()) + QStringLiteral(" not read");
  if (!notes.isEmpty()) line += QStringLiteral(" (") + notes.join(QStringLiteral(", ")) + ')';
  line += QStringLiteral(" from ");
  QLabel* countLabel = controls_.countLabel;
  const QFontMetrics metrics(countLabel->font());
  const int room = countLabel->width() - metrics.horizontalAdvance(line);
  countLabel->setText(line + metrics.elidedText(sourceFolder_, Qt::ElideMiddle, room));
  countLabel->setToolTip(sourceFolder_);

  QString counted = caption + QLatin1Char('.');
  if (skippedCount_ > 0)
    counted += QStringLiteral("\n\n") + SkippedSentence(metaCount_, skippedCount_ - metaCount_);
  QStringList paragraphs;
  if (!failure.isEmpty()) paragraphs << failure;
  // A source that holds no message at all is most likely the wrong folder
  // (a mail folder's parent, or a folder of something else).
  if (failure.isEmpty() && queuedCount_ == 0 && unreadableFolders_.empty())
    paragraphs << QStringLiteral(
        "No messages (.eml files) here: choose the export (.tgz) or the extracted export "
        "folder that holds Inbox, Sent and the other mail folders.");
  if (unreadableFolders_.size() == 1) {
    const FileSystemError& folder = unreadableFolders_.front();
    paragraphs << QStringLiteral(
                      "The folder %1 could not be read: %2. Its messages are not queued.")
                      .arg(FromCore(folder.folder()), FromCore(folder.reason()));
  } else if (!unreadableFolders_.empty()) {
    paragraphs << QStringLiteral(
                      "%1 could not be read, so their messages are not queued. The details "
                      "list each folder with the reason.")
                      .arg(FoldersCount(unreadableFolders_.size()));
  }
  MessageBoxRequest request;
  request.title = kAppTitle;
  request.buttons = QMessageBox::Ok;
  request.icon = paragraphs.isEmpty() ? QMessageBox::NoIcon : QMessageBox::Warning;
  request.details = UnreadableFolderLines(unreadableFolders_);
  paragraphs << counted;
  request.text = paragraphs.join(QStringLiteral("\n\n"));
  shell_.ShowMessageBox(this, request);
}

void MainWindow::SetCountLabel(const std::string& text) {
  pendingCount_ = text;
  countPending_ = true;
}

void MainWindow::CountQueued() {
  if (!countedQueue_) return;
  // Only the paths queued since the last count are looked at; stepping the
  // iterator never waits.
  const std::size_t queued = countedQueue_->size();
  for (; countedFiles_ < queued; ++countedFiles_, ++countAt_) {
    const std::string& name = *countAt_;
    if (IsMessageName(name))
      ++countedMessages_;
    else if (name.ends_with(".meta"))
      ++countedMeta_;
  }
}

void MainWindow::ShowPendingCount() {
  if (!countPending_) return;
  countPending_ = false;
  if (countedQueue_) {
    CountQueued();
    controls_.countLabel->setText(CountCaption(countedMessages_));
    return;
  }
  controls_.countLabel->setText(FromCore(pendingCount_));
}

void MainWindow::Yield() {
  if (closeRequested_) throw StopForClosing{};
  // The walker and the archive yield several times per file. Processing
  // events (and repainting the changed label) every single time would cost
  // far more than the work itself on a large export, so a yield that comes
  // within kYieldIntervalMs of the last one returns at once. Input and
  // repaints are still handled many times a second, and the first yield of
  // every command always processes.
  if (yieldClock_.isValid() && yieldClock_.elapsed() < kYieldIntervalMs) return;
  // Whatever handles the pending events (a repaint, a test's timer) sees the
  // latest count.
  ShowPendingCount();
  QCoreApplication::processEvents();
  yieldClock_.start();
  // The events may have held the user's confirmed close.
  if (closeRequested_) throw StopForClosing{};
}

}  // namespace quillfen
