// The window taking in a source: the choose command, a path opened or
// dropped, the scan of a folder and the count of an archive on a thread of
// their own, with the running count and the message that ends them.

#include <QDir>
#include <QFileInfo>
#include <QFontMetrics>
#include <QLabel>
#include <QStringList>

#include "os/paths.h"
#include "ui/main_window.h"
#include "ui/window_texts.h"

namespace quillfen {

void MainWindow::onChooseSourceClicked() {
  // A second scan or a run started meanwhile would replace the queue under
  // it; the commands are disabled while one runs, and a call that comes
  // anyway is refused.
  if (busy_) return;
  BeginBusy();
  const QString chosen = shell_.BrowseForSource(this, kChooseSourceTitle);
  // The user may have confirmed closing the window while the chooser was
  // open: nothing starts then.
  if (chosen.isEmpty() || closeRequested_) {
    EndBusy();
    if (closeRequested_) close();
    return;
  }
  TakeInChosen(chosen);
}

void MainWindow::OpenSource(const QString& path) {
  if (busy_) return;
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
  BeginBusy();
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
  EndBusy();
  if (closeRequested_) close();
}

void MainWindow::TakeInChosen(const QString& path) {
  ResetRunCaptions();
  ShowBusyCursor();
  const bool archive = QFileInfo(path).isFile() && IsArchivePath(ToCore(path));
  // An archive's name is shown as it is; a folder's ends with its separator.
  scanSource_ = archive ? path : FromCore(AddTrailingSeparator(ToCore(path)));
  scan_ = archive ? WindowScan::OfArchive(ToCore(scanSource_))
                  : WindowScan::OfFolder(ToCore(scanSource_), fileSystems_);
  connect(scan_.get(), &WindowScan::counted, this, [this](std::int32_t, std::int32_t messages) {
    controls_.countLabel->setText(CountCaption(messages));
    controls_.countLabel->setToolTip(QString());
  });
  connect(scan_.get(), &WindowScan::finished, this, &MainWindow::ScanFinished);
  scan_->Start();
}

void MainWindow::ScanFinished() {
  // The scan's thread has ended; the object goes once this signal has been
  // handled.
  std::unique_ptr<WindowScan> scan = std::move(scan_);
  WindowScan::Outcome outcome = scan->TakeOutcome();
  scan.release()->deleteLater();
  if (outcome.stopped) {
    // The user chose to quit: what was queued before stays as it was.
    EndBusy();
    if (closeRequested_) close();
    return;
  }
  // The new source takes the place of whatever was queued before, also when
  // it turns out unreadable: the user chose to convert it, not the earlier
  // one.
  sourceFolder_ = scanSource_;
  queue_ = std::move(outcome.queue);
  archive_ = std::move(outcome.archive);
  unreadableFolders_ = std::move(outcome.unreadableFolders);
  queuedCount_ = outcome.messages;
  skippedCount_ = outcome.files - outcome.messages;
  metaCount_ = outcome.meta;
  UpdateCommands();
  if (!closeRequested_) ShowCountMessage(outcome.failure);
  EndBusy();
  if (closeRequested_) close();
}

void MainWindow::ShowCountMessage(const QString& failure) {
  HideBusyCursor();

  // The running count showed what the walk had found; from now on the line
  // tells what is queued, whatever happened to the scan, and from where.
  const QString caption = CountCaption(queuedCount_);
  QString line = caption;
  QStringList notes;
  QStringList skipped;
  const std::int32_t other = skippedCount_ - metaCount_;
  if (metaCount_ == 1)
    skipped << QStringLiteral("1 .meta file");
  else if (metaCount_ > 1)
    skipped << QStringLiteral("%1 .meta files").arg(Number(metaCount_));
  if (other == 1)
    skipped << QStringLiteral("1 other file");
  else if (other > 1)
    skipped << QStringLiteral("%1 other files").arg(Number(other));
  if (!skipped.isEmpty())
    notes << skipped.join(QStringLiteral(" and ")) + QStringLiteral(" skipped");
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

}  // namespace quillfen
