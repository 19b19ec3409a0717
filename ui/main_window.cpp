#include "ui/main_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCursor>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QFontMetrics>
#include <QLabel>
#include <QMimeData>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QUrl>
#include <cstdlib>

#include "conversion/plan_questions.h"
#include "os/paths.h"
#include "ui/conversion_messages.h"
#include "ui/fractional_progress_bar.h"
#include "ui/link_label.h"
#include "ui/window_texts.h"

#ifndef QUILLFEN_HELP_INSTALLED
#define QUILLFEN_HELP_INSTALLED "share/quillfen/help/index.html"
#endif
#ifndef QUILLFEN_HELP_SOURCE
#define QUILLFEN_HELP_SOURCE ""
#endif

// Pictures compiled into a static library are registered by hand: nothing
// else would pull their object file into the program. This must sit outside
// any namespace.
static void InitQuillfenResources() {
  Q_INIT_RESOURCE(quillfen);
}

namespace quillfen {
namespace {

// The one folder or export archive among dropped data, as a local path; the
// empty string when the data is anything else.
QString DroppedSource(const QMimeData* data) {
  if (data == nullptr || !data->hasUrls() || data->urls().size() != 1) return {};
  const QUrl url = data->urls().constFirst();
  if (!url.isLocalFile()) return {};
  const QFileInfo info(url.toLocalFile());
  if (info.isDir() || (info.isFile() && IsArchivePath(ToCore(info.filePath()))))
    return QDir::toNativeSeparators(info.filePath());
  return {};
}

}  // namespace

MainWindow::MainWindow(ShellServices& shell, FolderWalker::FileSystemFactory fileSystems,
                       QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint),
      shell_(shell),
      goneWatch_(*this, [this] { WindowGone(); }),
      fileSystems_(std::move(fileSystems)),
      endProgram_([] { std::_Exit(EXIT_SUCCESS); }) {
  // The standard controls draw in the platform's own style, which is Qt's
  // default; the window sets no style of its own. The pictures must be
  // registered before the elements that show them exist.
  InitQuillfenResources();
  controls_ = LayOutWindow(*this);
  // A folder or an export archive dropped anywhere on the window is taken in
  // as if it had been chosen.
  setAcceptDrops(true);
  connect(controls_.chooseSourceButton, &QPushButton::clicked, this,
          &MainWindow::onChooseSourceClicked);
  connect(controls_.convertButton, &QPushButton::clicked, this, &MainWindow::onConvertClicked);
  connect(controls_.helpButton, &QPushButton::clicked, this, &MainWindow::onHelpClicked);
  connect(controls_.howToLink, &LinkLabel::clicked, this, &MainWindow::onHowToClicked);
  connect(controls_.exitButton, &QPushButton::clicked, this, &MainWindow::onExitClicked);
  QCoreApplication::instance()->installNativeEventFilter(&goneWatch_);
  CentreOnScreen();
}

MainWindow::~MainWindow() {
  QCoreApplication::instance()->removeNativeEventFilter(&goneWatch_);
  // A scan or a conversion still running stops between two files or
  // records first.
  scan_.reset();
  conversion_.reset();
  HideBusyCursor();
}

QString MainWindow::HelpFile() {
  // Installed, the page lies in the data folder beside the program's
  // folder; run from the build tree, in the source tree.
  const QString installed = QDir::cleanPath(QCoreApplication::applicationDirPath() +
                                            QStringLiteral("/../" QUILLFEN_HELP_INSTALLED));
  if (QFileInfo::exists(installed) || QStringLiteral(QUILLFEN_HELP_SOURCE).isEmpty())
    return QDir::toNativeSeparators(installed);
  return QDir::toNativeSeparators(QStringLiteral(QUILLFEN_HELP_SOURCE));
}

QString MainWindow::HelpPageUrl(const QString& section) {
  QUrl url = QUrl::fromLocalFile(QDir::fromNativeSeparators(HelpFile()));
  if (!section.isEmpty()) url.setFragment(section);
  return url.toString();
}

void MainWindow::CentreOnScreen() {
  QScreen* screen = this->screen();
  if (screen == nullptr) screen = QGuiApplication::primaryScreen();
  if (screen == nullptr) return;
  setGeometry(
      QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, size(), screen->availableGeometry()));
}

// The busy state.

void MainWindow::BeginBusy() {
  busyFocus_ = focusWidget();
  // A command disabled under the focus would pass it on down the window, as
  // far as Exit, where a second Enter would ask to quit: the window itself
  // holds it instead, where Enter does nothing.
  if (busyFocus_ == controls_.chooseSourceButton || busyFocus_ == controls_.convertButton)
    setFocus(Qt::OtherFocusReason);
  busy_ = true;
  UpdateCommands();
}

void MainWindow::EndBusy() {
  HideBusyCursor();
  busy_ = false;
  UpdateCommands();
  // Disabling the focused command moved the focus on; a keyboard user
  // finds it back where the command was started.
  if (busyFocus_ && busyFocus_->isEnabled() && focusWidget() != busyFocus_) busyFocus_->setFocus();
  busyFocus_.clear();
}

void MainWindow::ShowBusyCursor() {
  if (busyCursor_) return;
  QApplication::setOverrideCursor(Qt::WaitCursor);
  busyCursor_ = true;
}

void MainWindow::HideBusyCursor() {
  if (!busyCursor_) return;
  QApplication::restoreOverrideCursor();
  busyCursor_ = false;
}

void MainWindow::UpdateCommands() {
  controls_.chooseSourceButton->setEnabled(!busy_);
  controls_.convertButton->setEnabled(!busy_ && queuedCount_ >= 1);
}

// Dropping a source.

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
  if (!busy_ && !DroppedSource(event->mimeData()).isEmpty()) event->acceptProposedAction();
}

void MainWindow::dragMoveEvent(QDragMoveEvent* event) {
  if (!busy_ && !DroppedSource(event->mimeData()).isEmpty()) event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent* event) {
  const QString source = DroppedSource(event->mimeData());
  if (busy_ || source.isEmpty()) return;
  event->acceptProposedAction();
  // The scan starts once the drop has been answered: the program the data
  // was dragged from waits for that answer, and a long scan would hold it.
  QMetaObject::invokeMethod(
      this, [this, source] { OpenSource(source); }, Qt::QueuedConnection);
}

// The conversion.

void MainWindow::ResetRunCaptions() {
  controls_.statusLabel->setText(kStatusAtRest);
  controls_.progressLabel->setText(kProgressAtRest);
  controls_.progressBar->setFractionalValue(0.0f);
}

void MainWindow::onConvertClicked() {
  // Enabled only while at least one message is queued: a queue without one
  // would convert nothing.
  if (busy_ || !controls_.convertButton->isEnabled()) return;
  BeginBusy();
  const QString chosen = shell_.BrowseForFolder(this, QStringLiteral("Choose Folder to Save..."));
  // The user may have confirmed closing the window while the chooser was
  // open: nothing starts then.
  if (chosen.isEmpty() || closeRequested_) {
    EndBusy();
    if (closeRequested_) close();
    return;
  }
  ShowBusyCursor();
  // The last run's numbers would read as this one's until its first
  // progress arrives, and during its question.
  ResetRunCaptions();
  controls_.progressBar->setFractionalMinimum(0.0f);
  controls_.progressBar->setFractionalMaximum(100.0f);

  ConversionRequest request;
  request.destination = AddTrailingSeparator(ToCore(chosen));
  if (archive_) {
    request.source = archive_->path();
    request.archive = archive_.get();
  } else {
    request.source = ToCore(sourceFolder_);
    request.scanned = queue_;
  }
  conversion_ = std::make_unique<WindowConversion>(
      std::move(request), [this](const ConversionPlan& plan) { return Decide(plan); });
  connect(conversion_.get(), &WindowConversion::progressChanged, this,
          &MainWindow::ShowConversionStatus);
  connect(conversion_.get(), &WindowConversion::finished, this, &MainWindow::ConversionFinished);
  conversion_->Start();
}

Decision MainWindow::Decide(const ConversionPlan& plan) {
  const PlanQuestion question = QuestionFor(plan);
  if (!question.asked) return Decision::ConvertMissing;
  HideBusyCursor();
  MessageBoxRequest request;
  request.title = kAppTitle;
  request.buttons = QMessageBox::Yes | QMessageBox::No;
  request.icon = QMessageBox::Question;
  request.text = FromCore(question.text);
  request.defaultButton = question.yesIsDefault ? QMessageBox::Yes : QMessageBox::No;
  const bool accepted = shell_.ShowMessageBox(this, request) == QMessageBox::Yes;
  if (!accepted) return Decision::Cancel;
  ShowBusyCursor();
  return question.yes;
}

void MainWindow::ShowConversionStatus(const WindowConversion::Status& status) {
  if (!status.counts.isEmpty()) runCounts_ = status.counts;
  if (!status.update.isEmpty()) {
    // One line: the path is shortened in its middle to what room is left.
    QLabel* line = controls_.statusLabel;
    const QFontMetrics metrics(line->font());
    const int room = line->width() - metrics.horizontalAdvance(status.update);
    line->setText(status.update + metrics.elidedText(status.where, Qt::ElideMiddle, room));
    line->setToolTip(status.where);
  }
  if (!status.progress.isEmpty()) controls_.progressLabel->setText(status.progress);
  if (status.hasPercent) controls_.progressBar->setFractionalValue(status.percent);
}

void MainWindow::ConversionFinished() {
  // The conversion's thread has ended; the object goes once this signal
  // has been handled.
  std::unique_ptr<WindowConversion> conversion = std::move(conversion_);
  if (askingExit_) {
    // The exit question is open: the closing message must not come over
    // it. It comes once the question is answered No.
    finishPending_ = true;
    conversion_ = std::move(conversion);
    return;
  }
  const ConversionReport& report = conversion->report();
  runCounts_.clear();
  controls_.statusLabel->setText(OutcomeLine(report));
  controls_.statusLabel->setToolTip(QString());
  if (closeRequested_) {
    // The user chose to quit; the run stopped, or ended just before it could.
  } else if (report.ending == Ending::Finished) {
    ShowFinished(report);
  } else {
    const QString warning = EndingWarning(report);
    if (!warning.isEmpty()) ShowRunMessage(QMessageBox::Warning, warning);
  }
  conversion.release()->deleteLater();
  EndBusy();
  if (closeRequested_) close();
}

void MainWindow::ShowRunMessage(QMessageBox::Icon icon, const QString& text) {
  HideBusyCursor();
  MessageBoxRequest request;
  request.text = text;
  request.title = kAppTitle;
  request.buttons = QMessageBox::Ok;
  request.defaultButton = QMessageBox::Ok;
  request.icon = icon;
  shell_.ShowMessageBox(this, request);
}

void MainWindow::ShowFinished(const ConversionReport& report) {
  const FinishedMessage message = FinishedMessageFor(report, metaCount_, unreadableFolders_);
  HideBusyCursor();
  if (shell_.ShowMessageBox(this, message.request) != QMessageBox::Open ||
      message.mailboxesFolder.isEmpty())
    return;
  if (shell_.ShellOpenFolder(message.mailboxesFolder)) return;
  ShowSelectableInformation(QStringLiteral("The folder could not be opened in a file manager.\n\n"
                                           "The converted mailboxes are in this folder:\n%1")
                                .arg(message.mailboxesFolder));
}

// The web pages.

void MainWindow::onHelpClicked() {
  OpenHelp(QString());
}

void MainWindow::onHowToClicked() {
  OpenHelp(QStringLiteral("export"));
}

void MainWindow::OpenHelp(const QString& section) {
  if (shell_.ShellOpenUrl(HelpPageUrl(section))) return;
  // Without a web browser nothing would happen at all; the user gets the
  // file instead, selectable so it can be copied.
  ShowSelectableInformation(QStringLiteral("The help could not be opened in a web browser.\n\n"
                                           "It is in this file, which any web browser opens:\n%1")
                                .arg(HelpFile()));
}

void MainWindow::ShowSelectableInformation(const QString& text) {
  MessageBoxRequest request;
  request.text = text;
  request.title = kAppTitle;
  request.icon = QMessageBox::Information;
  request.selectableText = true;
  shell_.ShowMessageBox(this, request);
}

// Exit and closing.

bool MainWindow::ConfirmExit() {
  MessageBoxRequest request;
  if (conversion_) {
    request.text = runCounts_.isEmpty()
                       ? QStringLiteral("Stop converting and quit?")
                       : QStringLiteral("Stop converting (%1) and quit?").arg(runCounts_);
    request.text += QStringLiteral(" Converting again later into the same folder adds the rest.");
  } else {
    request.text =
        QStringLiteral("Stop reading the source and quit? Nothing has been converted from it yet.");
  }
  request.title = kAppTitle;
  request.buttons = QMessageBox::Yes | QMessageBox::No;
  // Work in progress is stopped only on purpose: a reflex Enter goes on.
  request.defaultButton = QMessageBox::No;
  request.icon = QMessageBox::Question;
  askingExit_ = true;
  const bool yes = shell_.ShowMessageBox(this, request) == QMessageBox::Yes;
  askingExit_ = false;
  if (yes) RequestCloseWhenStopped();
  if (finishPending_) {
    // The conversion ended while the question was open: its closing message
    // comes now, unless the user chose to quit.
    finishPending_ = false;
    QMetaObject::invokeMethod(this, &MainWindow::ConversionFinished, Qt::QueuedConnection);
  }
  return yes;
}

void MainWindow::RequestCloseWhenStopped() {
  closeRequested_ = true;
  if (scan_) scan_->RequestStop();
  if (conversion_) conversion_->RequestStop();
}

void MainWindow::WindowGone() {
  if (busy_)
    RequestCloseWhenStopped();
  else
    endProgram_();
}

void MainWindow::onExitClicked() {
  // Idle, there is nothing to lose: the window closes. During a scan or a
  // run it asks first, and closes once the command has stopped.
  if (!busy_)
    close();
  else if (!closeRequested_)
    ConfirmExit();
}

void MainWindow::closeEvent(QCloseEvent* event) {
  if (busy_) {
    // A scan or a run is in progress: the window asks first, as Exit does.
    // On Yes the command stops between two files or records, and closes
    // the window when it has; on No it goes on.
    event->ignore();
    if (!closeRequested_) ConfirmExit();
    return;
  }
  event->accept();
  // The program ends here: no further event runs, and the system closes
  // every open file. A run that was in progress has stopped before, between
  // two records, with its index saying what each mailbox holds.
  endProgram_();
}

}  // namespace quillfen
