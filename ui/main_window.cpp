#include "ui/main_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCursor>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QFont>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QIcon>
#include <QLabel>
#include <QMimeData>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <cstdlib>
#include <exception>

#include <algorithm>

#include "conversion/plan_questions.h"
#include "conversion/report_text.h"
#include "destination/mirror_paths.h"
#include "mbox/message_failure.h"
#include "os/paths.h"
#include "source/archive_conversion.h"
#include "source/archive_entry_names.h"
#include "source/queue_messages.h"
#include "ui/focus_frame.h"
#include "ui/fractional_progress_bar.h"
#include "ui/link_label.h"
#include "ui/shape_rect.h"

#ifndef QUILLFEN_SITE_HOST
#define QUILLFEN_SITE_HOST "www.example.com"
#endif

// Pictures compiled into a static library are registered by hand: nothing
// else would pull their object file into the program. This must sit outside
// any namespace.
static void InitQuillfenResources() {
  Q_INIT_RESOURCE(quillfen);
}

namespace quillfen {
namespace {

const QString kAppTitle = QStringLiteral("Quillfen");

// Window geometry is laid out in twips; fifteen make one pixel at 96 dots
// per inch.
constexpr int Px(int twips) {
  return twips / 15;
}

void Place(QWidget* widget, const char* name, int left, int top, int width, int height) {
  widget->setObjectName(QString::fromLatin1(name));
  widget->setGeometry(Px(left), Px(top), Px(width), Px(height));
}

bool HasTahoma() {
  return QFontDatabase::hasFamily(QStringLiteral("Tahoma"));
}

// The window's typeface: Tahoma where it is installed, else the desktop's
// sans serif, at the same size and weight.
QFont WindowFont(double points, bool bold) {
  QFont font;
  if (HasTahoma()) {
    font.setFamily(QStringLiteral("Tahoma"));
  } else {
    font.setFamily(QStringLiteral("Sans Serif"));
    font.setStyleHint(QFont::SansSerif);
  }
  font.setPointSizeF(points);
  font.setBold(bold);
  return font;
}

// The fallback sans serif runs wider than Tahoma, so a label whose fixed
// text no longer fits on one line of width pixels gets a slightly smaller
// size (never below 6.75 pt) instead of losing its end. Text that fits keeps
// its size, so with Tahoma nothing changes. Trailing spaces are not drawn
// and do not count.
void FitFont(QLabel* label, int width) {
  QFont font = label->font();
  const QString text = label->text().trimmed();
  while (font.pointSizeF() > 6.75 && QFontMetrics(font).horizontalAdvance(text) > width) {
    font.setPointSizeF(font.pointSizeF() - 0.25);
  }
  label->setFont(font);
}

// Paths and texts from the core are in the platform's file-name encoding.
QString ToQt(const std::string& text) {
  return QFile::decodeName(QByteArray::fromStdString(text));
}
std::string FromQt(const QString& text) {
  return QFile::encodeName(text).toStdString();
}

// A plain-text label with its text at the top left (plain, so that a path
// holding "<" shows as it is). background, when valid, is painted behind the
// text; otherwise the label is transparent. Only labels two or more lines
// high wrap at word boundaries: a one-line label in a wider fallback font is
// cut at its right edge rather than showing the top of a second line.
QLabel* MakeLabel(QLabel* label, const QString& text, QColor foreground, QColor background,
                  bool wrap = false) {
  label->setTextFormat(Qt::PlainText);
  label->setText(text);
  label->setWordWrap(wrap);
  label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  QPalette palette = label->palette();
  palette.setColor(QPalette::WindowText,
                   foreground.isValid() ? foreground : palette.color(QPalette::ButtonText));
  if (background.isValid()) {
    palette.setColor(QPalette::Window, background);
    label->setAutoFillBackground(true);
  }
  label->setPalette(palette);
  return label;
}

QLabel* MakePicture(QWidget* parent, const QString& resource) {
  auto* picture = new QLabel(parent);
  picture->setPixmap(QPixmap(resource));
  picture->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  return picture;
}

// The one folder or export archive among dropped data, as a local path; the
// empty string when the data is anything else.
QString DroppedSource(const QMimeData* data) {
  if (data == nullptr || !data->hasUrls() || data->urls().size() != 1) return {};
  const QUrl url = data->urls().constFirst();
  if (!url.isLocalFile()) return {};
  const QFileInfo info(url.toLocalFile());
  if (info.isDir() || (info.isFile() && IsArchivePath(FromQt(info.filePath()))))
    return QDir::toNativeSeparators(info.filePath());
  return {};
}

QString CountCaption(std::int32_t files) {
  return QString::number(files) + QStringLiteral(" Files(s) Queued For Conversion");
}

// Why the other files of a source are not converted, once counted.
QString SkippedSentence(std::int32_t skipped) {
  if (skipped == 1)
    return QStringLiteral("1 other file is skipped: it is not a message (.eml file).");
  return QStringLiteral("%1 other files are skipped: they are not messages (.eml files).")
      .arg(skipped);
}

// Thrown from a yield once the user has confirmed closing the window during
// a scan or a run. It is not a std::exception, so that no handler of a
// failure takes it for one; the command that yielded lets it pass and the
// window closes when the command has ended.
struct StopForClosing {};

}  // namespace

// Marks the window busy for one command, from its chooser to its closing
// message: the two commands are disabled meanwhile, so they look as they
// behave. The busy cursor is shown separately, once the command's chooser
// has closed, and is taken away before its final message box or when the
// command ends, whichever comes first.
class frmStep1::BusyScope {
 public:
  explicit BusyScope(frmStep1& window) : window_(window) { window_.BeginBusy(); }
  ~BusyScope() { window_.EndBusy(); }
  BusyScope(const BusyScope&) = delete;
  BusyScope& operator=(const BusyScope&) = delete;

 private:
  frmStep1& window_;
};

// An archive's entries as they are counted, shown as a scan's running count.
class frmStep1::ArchiveCounter : public ArchiveProgress {
 public:
  explicit ArchiveCounter(frmStep1& window) : window_(window) {}
  void Counting(std::int32_t files) override { window_.SetCountLabel(FromQt(CountCaption(files))); }
  void Yield() override { window_.Yield(); }

 private:
  frmStep1& window_;
};

void frmStep1::BeginBusy() {
  busyFocus_ = focusWidget();
  busy_ = true;
  yieldClock_.invalidate();
  UpdateCommands();
}

void frmStep1::EndBusy() {
  ShowPending();
  HideBusyCursor();
  busy_ = false;
  UpdateCommands();
  // Disabling the focused command moved the focus on; a keyboard user
  // finds it back where the command was started.
  if (busyFocus_ && busyFocus_->isEnabled() && focusWidget() != busyFocus_) busyFocus_->setFocus();
  busyFocus_.clear();
}

frmStep1::frmStep1(ShellServices& shell, pathLogger::FileSystemFactory fileSystems, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint),
      shell_(shell),
      fileSystems_(std::move(fileSystems)),
      endProgram_([] { std::_Exit(EXIT_SUCCESS); }) {
  Form_Initialize();
  Load();
  CentreOnScreen();
}

frmStep1::~frmStep1() {
  // A conversion still running stops between two records first.
  conversion_.reset();
  HideBusyCursor();
}

QString frmStep1::ProductPageUrl() {
  return QStringLiteral("http://" QUILLFEN_SITE_HOST "/quillfen/");
}

QString frmStep1::HowToPageUrl() {
  return QStringLiteral("http://" QUILLFEN_SITE_HOST "/how-to-export-zimbra-contacts-to-tgz.html");
}

void frmStep1::Form_Initialize() {
  // The standard controls draw in the platform's own style, which is Qt's
  // default; the window sets no style of its own. What remains to prepare
  // before the elements exist is the pictures.
  InitQuillfenResources();
}

// Builds every element. They are created from the bottom of the stack to the
// top, so each one lies above those created before it.
void frmStep1::Load() {
  setObjectName(QStringLiteral("frmStep1"));
  setWindowTitle(QStringLiteral("Quillfen v2.0"));
  QIcon icon;
  for (int size : {16, 24, 32, 48})
    icon.addFile(QStringLiteral(":/quillfen/icons/quillfen-%1.png").arg(size), QSize(size, size));
  setWindowIcon(icon);
  setFont(WindowFont(8.25, false));
  // A folder or an export archive dropped anywhere on the window is taken in
  // as if it had been chosen.
  setAcceptDrops(true);
  // The elements keep their places at any size, so a larger window would
  // only show empty space: the size is fixed.
  setFixedSize(Px(8970), Px(5775));

  const QColor white(255, 255, 255);
  const QColor pale(255, 255, 192);
  const QColor darkRed(192, 0, 0);
  const QColor blue(0, 0, 255);
  const QColor silver(192, 192, 192);
  const QColor face = palette().color(QPalette::Window);
  const QColor none;

  Shape4 = new ShapeRect(white, silver, this);
  Place(Shape4, "Shape4", 0, 0, 9015, 945);

  lblTitle = MakeLabel(new QLabel(this), kAppTitle, darkRed, white);
  lblTitle->setFont(WindowFont(14.25, true));
  Place(lblTitle, "lblTitle", 240, 165, 6255, 375);

  lblCopyright = MakeLabel(new QLabel(this),
                           QStringLiteral("Copyright \u00A9 2026 Quillfen. All rights reserved."),
                           QColor(0, 0, 0), white);
  Place(lblCopyright, "lblCopyright", 240, 525, 6135, 255);

  lblCount1 = MakeLabel(new QLabel(this), QStringLiteral("0 files"), none, face);
  Place(lblCount1, "lblCount1", 270, 2760, 8535, 255);

  Shape1 = new ShapeRect(white, silver, this);
  Place(Shape1, "Shape1", 0, 5160, 9015, 855);

  LblUpdate =
      MakeLabel(new QLabel(this), QStringLiteral("Converting Messages..."), none, none, true);
  Place(LblUpdate, "LblUpdate", 240, 3120, 8535, 615);

  LblProgessCurrent =
      MakeLabel(new QLabel(this), QStringLiteral("Message 0 (of 0)"), QColor(0, 0, 0), none);
  Place(LblProgessCurrent, "LblProgessCurrent", 720, 3720, 8055, 255);

  Image1 = MakePicture(this, QStringLiteral(":/quillfen/icons/progress-picture.png"));
  Place(Image1, "Image1", 240, 3675, 330, 330);

  Shape2 = new ShapeRect(pale, QColor(), this);
  Place(Shape2, "Shape2", 240, 1080, 8535, 615);

  Label1 = MakeLabel(
      new QLabel(this),
      QStringLiteral("First Export all your Zimbra Mails from Zimbra Desktop as .tgz file  : "),
      none, pale, true);
  Place(Label1, "Label1", 840, 1200, 5655, 465);

  Shape3 = new ShapeRect(darkRed, QColor(128, 128, 128), this);
  Place(Shape3, "Shape3", 5760, 1200, 2895, 375);

  Label2 = new LinkLabel(this);
  MakeLabel(Label2, QStringLiteral("How to Export Zimbra Mails"), white, darkRed);
  Label2->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
  Label2->setFont(WindowFont(9, true));
  Place(Label2, "Label2", 5880, 1275, 2655, 255);

  Label3 = MakeLabel(
      new QLabel(this),
      QStringLiteral("(Extract exported .tgz file with the help of WinZip or WinRAR)"), blue, pale);
  Place(Label3, "Label3", 840, 1425, 4815, 255);

  Image3 = MakePicture(this, QStringLiteral(":/quillfen/icons/instruction-bullet.png"));
  Place(Image3, "Image3", 390, 1260, 240, 240);

  Label5 = MakeLabel(new QLabel(this),
                     QStringLiteral("Once you have extracted .tgz file, now choose extracted "
                                    "folder using below button"),
                     blue, face);
  Place(Label5, "Label5", 240, 1920, 6375, 255);

  for (QLabel* label : {lblTitle, lblCopyright, static_cast<QLabel*>(Label2), Label3, Label5})
    FitFont(label, label->width());
  // Label1's sentence shows on one line, left of the red band with a small
  // gap before it: the band lies over the label's right end, and Label3 over
  // its lower half.
  FitFont(Label1, Shape3->x() - Label1->x() - 4);

  // Above every label, picture and rectangle: the bar, the buttons and the
  // box that holds the bottom two.
  ProgressBar1 = new FractionalProgressBar(this);
  Place(ProgressBar1, "ProgressBar1", 240, 4080, 8535, 255);

  CmdAddFolder = new FocusButton(QStringLiteral("Choose Zimbra Mail Folder..."), this);
  Place(CmdAddFolder, "CmdAddFolder", 240, 2280, 2775, 375);

  CmdConvert2PDF = new FocusButton(QStringLiteral("Convert Messages to Mac Mail"), this);
  Place(CmdConvert2PDF, "CmdConvert2PDF", 3120, 4560, 2775, 435);
  CmdConvert2PDF->setEnabled(false);

  // Only holds the bottom two buttons; it takes no focus of its own.
  Picture3 = new QWidget(this);
  Picture3->setAutoFillBackground(true);
  Place(Picture3, "Picture3", 240, 5280, 8655, 495);
  QPalette boxPalette = Picture3->palette();
  boxPalette.setColor(QPalette::Window, white);
  Picture3->setPalette(boxPalette);

  CmdHelp = new FocusButton(QStringLiteral("&Help Manual"), Picture3);
  Place(CmdHelp, "CmdHelp", 0, 0, 1695, 375);

  cmdEnd = new FocusButton(QStringLiteral("E&xit"), Picture3);
  Place(cmdEnd, "cmdEnd", 7200, 0, 1335, 375);

  for (QPushButton* button : {CmdAddFolder, CmdConvert2PDF, CmdHelp, cmdEnd}) {
    button->setFocusPolicy(Qt::StrongFocus);
    // Enter and keypad Enter press the focused button, as in a dialog; a
    // plain window would ignore them.
    button->setAutoDefault(true);
  }

  // Keyboard focus goes down the window: the link, the two steps' commands,
  // then Exit and Help Manual, as the elements' tab indexes order them; the
  // other labels, the bar and the bottom box take no focus. The focus
  // starts on the first step's command.
  setTabOrder(Label2, CmdAddFolder);
  setTabOrder(CmdAddFolder, CmdConvert2PDF);
  setTabOrder(CmdConvert2PDF, cmdEnd);
  setTabOrder(cmdEnd, CmdHelp);
  CmdAddFolder->setFocus();

  connect(CmdAddFolder, &QPushButton::clicked, this, &frmStep1::CmdAddFolder_Click);
  connect(CmdConvert2PDF, &QPushButton::clicked, this, &frmStep1::CmdConvert2PDF_Click);
  connect(CmdHelp, &QPushButton::clicked, this, &frmStep1::CmdHelp_Click);
  connect(Label2, &LinkLabel::clicked, this, &frmStep1::Label2_Click);
  connect(cmdEnd, &QPushButton::clicked, this, &frmStep1::cmdEnd_Click);
}

void frmStep1::CentreOnScreen() {
  QScreen* screen = this->screen();
  if (screen == nullptr) screen = QGuiApplication::primaryScreen();
  if (screen == nullptr) return;
  setGeometry(
      QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, size(), screen->availableGeometry()));
}

void frmStep1::ShowBusyCursor() {
  if (busyCursor_) return;
  QApplication::setOverrideCursor(Qt::WaitCursor);
  busyCursor_ = true;
}

void frmStep1::HideBusyCursor() {
  if (!busyCursor_) return;
  QApplication::restoreOverrideCursor();
  busyCursor_ = false;
}

void frmStep1::UpdateCommands() {
  CmdAddFolder->setEnabled(!busy_);
  CmdConvert2PDF->setEnabled(!busy_ && queuedCount_ >= 1);
}

void frmStep1::dragEnterEvent(QDragEnterEvent* event) {
  if (!busy_ && !DroppedSource(event->mimeData()).isEmpty()) event->acceptProposedAction();
}

void frmStep1::dragMoveEvent(QDragMoveEvent* event) {
  if (!busy_ && !DroppedSource(event->mimeData()).isEmpty()) event->acceptProposedAction();
}

void frmStep1::dropEvent(QDropEvent* event) {
  const QString source = DroppedSource(event->mimeData());
  if (busy_ || source.isEmpty()) return;
  event->acceptProposedAction();
  // The scan starts once the drop has been answered: the program the data
  // was dragged from waits for that answer, and a long scan would hold it.
  QMetaObject::invokeMethod(
      this, [this, source] { OpenSource(source); }, Qt::QueuedConnection);
}

void frmStep1::RunCommand(const std::function<void()>& command) {
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

void frmStep1::CmdAddFolder_Click() {
  // A second scan or a run started during one of this command's yields would
  // replace the queue under it; the commands are disabled meanwhile, and a
  // call that comes anyway is refused.
  if (busy_) return;
  RunCommand([this] {
    const QString chosen =
        shell_.BrowseForSource(this, QStringLiteral("Choose Zimbra Mail Folder..."));
    if (chosen.isEmpty()) return;
    TakeInChosen(chosen);
  });
}

void frmStep1::TakeInChosen(const QString& path) {
  ResetRunCaptions();
  if (QFileInfo(path).isFile() && IsArchivePath(FromQt(path))) {
    ScanArchive(path);
  } else {
    sourceFolder_ = path;
    ScanFolder();
  }
}

void frmStep1::ResetRunCaptions() {
  LblUpdate->setText(QStringLiteral("Converting Messages..."));
  LblProgessCurrent->setText(QStringLiteral("Message 0 (of 0)"));
  ProgressBar1->setFractionalValue(0.0f);
}

void frmStep1::OpenSource(const QString& path) {
  if (busy_) return;
  RunCommand([this, path] {
    // A relative path is taken from the working folder; the mirror tree
    // repeats the path below the destination, so "." and ".." are resolved
    // by spelling, as quillfen-cli does.
    const QFileInfo info(path);
    const QString absolute = QDir::toNativeSeparators(QDir::cleanPath(info.absoluteFilePath()));
    const bool source = info.isDir() || (info.isFile() && IsArchivePath(FromQt(absolute)));
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

void frmStep1::ScanFolder() {
  sourceFolder_ = ToQt(AddTrailingSeparator(FromQt(sourceFolder_)));
  const std::string folder = FromQt(sourceFolder_);
  if (!walker_) walker_ = std::make_unique<pathLogger>(this, fileSystems_);
  ShowBusyCursor();
  // Repaint once now that the chooser has closed.
  QCoreApplication::processEvents();

  QString failure;
  try {
    walker_->PathLogInit();
    walker_->fullFileNamesOnly(true);
    walker_->LogPath(folder);
  } catch (const FileSystemError& error) {
    failure = QStringLiteral("The folder %1 could not be read: %2")
                  .arg(ToQt(error.folder()), ToQt(error.reason()));
  } catch (const std::exception& error) {
    failure = QStringLiteral("The scan of %1 stopped: %2").arg(ToQt(folder), ToQt(error.what()));
  }

  // After a failure the files queued before it stay queued, so the user can
  // still convert what was found.
  queue_ = walker_->fullFileNames();
  const QueueList& names = QueueOrEmpty(queue_);
  queuedCount_ =
      static_cast<std::int32_t>(std::count_if(names.begin(), names.end(), IsMessageName));
  skippedCount_ = names.Count() - queuedCount_;
  archive_.reset();
  walker_->Terminate();
  ShowCountMessage(failure);
}

void frmStep1::ScanArchive(const QString& path) {
  sourceFolder_ = path;
  ShowBusyCursor();
  QCoreApplication::processEvents();

  // The archive takes the place of whatever was queued before, also when it
  // turns out unreadable: the user chose to convert it, not the earlier one.
  queue_.reset();
  archive_.reset();
  queuedCount_ = 0;
  skippedCount_ = 0;
  QString failure;
  try {
    ArchiveCounter counter(*this);
    archive_ = std::make_unique<ArchiveConversion>(FromQt(path), &counter);
    archive_->SetProgress(nullptr);
    queuedCount_ = archive_->messages();
    skippedCount_ = archive_->entries() - queuedCount_;
  } catch (const ArchiveError& error) {
    failure = QStringLiteral("The archive %1 could not be read: %2")
                  .arg(ToQt(error.archivePath()), ToQt(error.reason()));
  } catch (const std::exception& error) {
    failure = QStringLiteral("The archive %1 could not be read: %2").arg(path, ToQt(error.what()));
  }
  ShowCountMessage(failure);
}

void frmStep1::ShowCountMessage(const QString& failure) {
  ShowPending();
  HideBusyCursor();

  // The running count showed what the walk had found; from now on the line
  // tells what is queued, whatever happened to the scan, and from where.
  const QString caption = CountCaption(queuedCount_);
  QString line = caption;
  if (skippedCount_ == 1)
    line += QStringLiteral(" (1 other file skipped)");
  else if (skippedCount_ > 1)
    line += QStringLiteral(" (%1 other files skipped)").arg(skippedCount_);
  line += QStringLiteral(" from ");
  const int room = lblCount1->width() - QFontMetrics(lblCount1->font()).horizontalAdvance(line);
  lblCount1->setText(
      line + QFontMetrics(lblCount1->font()).elidedText(sourceFolder_, Qt::ElideMiddle, room));
  lblCount1->setToolTip(sourceFolder_);

  QString counted = caption + QLatin1Char('.');
  if (skippedCount_ > 0) counted += QStringLiteral("\n\n") + SkippedSentence(skippedCount_);
  MessageBoxRequest request;
  request.title = kAppTitle;
  request.buttons = QMessageBox::Ok;
  if (failure.isEmpty()) {
    request.text = counted;
    request.icon = QMessageBox::NoIcon;
  } else {
    request.text = failure + QStringLiteral("\n\n") + counted;
    request.icon = QMessageBox::Warning;
  }
  shell_.ShowMessageBox(this, request);
}

void frmStep1::CmdConvert2PDF_Click() {
  // Enabled only while at least one message is queued: a queue without one
  // would convert nothing.
  if (busy_ || !CmdConvert2PDF->isEnabled()) return;
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
  ProgressBar1->setFractionalMinimum(0.0f);
  ProgressBar1->setFractionalMaximum(100.0f);

  ConversionRequest request;
  request.destination = AddTrailingSeparator(FromQt(chosen));
  if (archive_) {
    request.source = archive_->path();
    request.archive = archive_.get();
  } else {
    request.source = FromQt(sourceFolder_);
    request.scanned = queue_;
  }
  conversion_ = std::make_unique<WindowConversion>(
      std::move(request), [this](const ConversionPlan& plan) { return Decide(plan); });
  connect(conversion_.get(), &WindowConversion::progressChanged, this,
          &frmStep1::ShowConversionStatus);
  connect(conversion_.get(), &WindowConversion::finished, this, &frmStep1::ConversionFinished);
  conversion_->Start();
}

Decision frmStep1::Decide(const ConversionPlan& plan) {
  const PlanQuestion question = QuestionFor(plan);
  if (!question.asked) return Decision::ConvertMissing;
  ShowPending();
  HideBusyCursor();
  MessageBoxRequest request;
  request.title = kAppTitle;
  request.buttons = QMessageBox::Yes | QMessageBox::No;
  request.icon = QMessageBox::Question;
  request.text = ToQt(question.text);
  request.defaultButton = question.yesIsDefault ? QMessageBox::Yes : QMessageBox::No;
  const bool accepted = shell_.ShowMessageBox(this, request) == QMessageBox::Yes;
  if (!accepted) return Decision::Cancel;
  ShowBusyCursor();
  return question.yes;
}

void frmStep1::ShowConversionStatus(const WindowConversion::Status& status) {
  if (!status.update.isEmpty()) LblUpdate->setText(status.update);
  if (!status.progress.isEmpty()) LblProgessCurrent->setText(status.progress);
  if (status.hasPercent) ProgressBar1->setFractionalValue(status.percent);
}

namespace {

QString Escaped(const std::string& text) {
  return ToQt(EscapedForReport(text));
}

// The folder below the destination that mirrors the source's top folder
// (an archive's stands for its extracted folder): the mailboxes are there
// and below it.
QString MailboxesFolder(const ConversionPlan& plan) {
  const std::string top =
      plan.archive ? ArchiveExtractionFolder(plan.source) : AddTrailingSeparator(plan.source);
  try {
    return ToQt(MirrorFolderFor(top + "message.eml", plan.destinationRoot));
  } catch (const MessageFailure&) {
    return ToQt(plan.destinationRoot);
  }
}

// The mailbox a failed message was meant for; empty when file names no
// message (a mailbox failed as a whole) or no mailbox can be told.
std::string MailboxOf(const std::string& file, const ConversionPlan& plan) {
  if (!IsMessageName(file)) return {};
  std::string path = file;
  if (plan.archive) {
    // The failures of an archive name its entries as it stores them.
    const ArchiveEntryPath entry = ParseArchiveEntryName(file);
    if (!entry.problem.empty() || entry.relative.empty()) return {};
    path = ArchiveExtractionFolder(plan.source) + entry.relative;
  }
  try {
    return MboxFileFor(MirrorFolderFor(path, plan.destinationRoot));
  } catch (const MessageFailure&) {
    return {};
  }
}

// The destination's reasons read as the middle of a sentence ("cannot
// write into the destination folder D: Permission denied"); in a message
// box they begin with a capital and end with a full stop, followed by what
// it means for the user.
QString DestinationWarning(const std::string& reason, const QString& advice) {
  QString text = ToQt(reason);
  if (!text.isEmpty()) text[0] = text[0].toUpper();
  if (!text.endsWith(QLatin1Char('.'))) text += QLatin1Char('.');
  return text + QStringLiteral("\n\nNothing was converted. ") + advice;
}

}  // namespace

void frmStep1::ConversionFinished() {
  // The conversion's thread has ended; the object goes once this signal
  // has been handled.
  std::unique_ptr<WindowConversion> conversion = std::move(conversion_);
  const ConversionReport& report = conversion->report();
  switch (report.ending) {
    case Ending::Refused:
      if (report.refusal == Refusal::InsideSource)
        ShowRunMessage(QMessageBox::Warning,
                       QStringLiteral("The converted mailboxes would be written inside the folder "
                                      "being converted, %1. Choose a destination folder outside "
                                      "it.")
                           .arg(ToQt(report.plan.source)));
      else if (report.refusal == Refusal::DestinationBusy)
        ShowRunMessage(
            QMessageBox::Warning,
            DestinationWarning(report.reason, QStringLiteral("Try again when the other conversion "
                                                             "has ended.")));
      else
        ShowRunMessage(
            QMessageBox::Warning,
            DestinationWarning(report.reason, QStringLiteral("Choose a destination folder that can "
                                                             "be written.")));
      break;
    case Ending::SourceBroken:
      ShowRunMessage(QMessageBox::Warning,
                     QStringLiteral("The archive %1 could not be read to its end: %2. Nothing of "
                                    "this conversion was kept.")
                         .arg(ToQt(report.plan.source), ToQt(report.reason)));
      break;
    case Ending::DestinationFailed:
      ShowRunMessage(QMessageBox::Warning,
                     QStringLiteral("The conversion stopped: %1. Converting again into the same "
                                    "folder adds the messages that are missing.")
                         .arg(ToQt(report.reason)));
      break;
    case Ending::Finished:
      ShowFinished(report);
      break;
    case Ending::NothingToDo:
    case Ending::Cancelled:
    case Ending::Stopped:
      break;
  }
  conversion.release()->deleteLater();
  EndBusy();
  if (closeRequested_) close();
}

void frmStep1::ShowRunMessage(QMessageBox::Icon icon, const QString& text) {
  ShowPending();
  HideBusyCursor();
  MessageBoxRequest request;
  request.text = text;
  request.title = kAppTitle;
  request.buttons = QMessageBox::Ok;
  request.defaultButton = QMessageBox::Ok;
  request.icon = icon;
  shell_.ShowMessageBox(this, request);
}

void frmStep1::ShowFinished(const ConversionReport& report) {
  const ConversionPlan& plan = report.plan;
  QString details;
  for (const FailedMessage& failure : report.failures) {
    if (!details.isEmpty()) details += QLatin1Char('\n');
    // A name may hold a line feed; escaped, one line is always one message.
    details += Escaped(failure.file) + QStringLiteral(": ") + Escaped(failure.reason);
    const std::string mailbox = MailboxOf(failure.file, plan);
    if (!mailbox.empty()) details += QStringLiteral(" (mailbox ") + Escaped(mailbox) + ')';
  }
  for (const std::string& mailbox : report.shortenedMailboxes) {
    if (!details.isEmpty()) details += QLatin1Char('\n');
    details += Escaped(mailbox) + QStringLiteral(": name shortened to fit the file system's limit");
  }
  for (const ConversionReport::Renamed& renamed : report.renamedMailboxes) {
    if (!details.isEmpty()) details += QLatin1Char('\n');
    details += QStringLiteral("Mailbox renamed to stay apart on a Mac: ") +
               Escaped(renamed.mailbox) + QStringLiteral(" (for ") + Escaped(renamed.wanted) + ')';
  }

  MessageBoxRequest request;
  request.title = kAppTitle;
  request.buttons = QMessageBox::Ok;
  request.defaultButton = QMessageBox::Ok;
  request.details = details;
  if (report.failures.empty()) {
    request.icon = QMessageBox::Information;
    request.text = QStringLiteral(
        "Your data has been successfully exported to .mbox format (Compatible for Mac Mail).\n"
        "Move converted folders to Mac and import it into Apple Mac Mail by using the import "
        "option from File Menu.");
  } else {
    request.icon = QMessageBox::Warning;
    request.text = QStringLiteral("%1 of %2 messages could not be converted.")
                       .arg(report.failures.size())
                       .arg(plan.messages);
  }
  const std::int32_t skipped = plan.files - plan.messages;
  if (skipped > 0) request.text += QStringLiteral("\n\n") + SkippedSentence(skipped);
  // The mailboxes lie as deep below the destination as the source lies below
  // its root; the user is told the folder that holds them, and shown it.
  const QString folder = MailboxesFolder(plan);
  const bool anyMailbox = QFileInfo(folder).isDir();
  if (anyMailbox) {
    request.text += QStringLiteral("\n\nThe mailboxes are in this folder:\n") + folder;
    request.actionButton = QStringLiteral("Show Folder");
  }
  ShowPending();
  HideBusyCursor();
  if (shell_.ShowMessageBox(this, request) != QMessageBox::Open || !anyMailbox) return;
  if (shell_.ShellOpenFolder(folder)) return;
  ShowSelectableInformation(QStringLiteral("The folder could not be opened in a file manager.\n\n"
                                           "The converted mailboxes are in this folder:\n%1")
                                .arg(folder));
}

void frmStep1::CmdHelp_Click() {
  OpenWebPage(ProductPageUrl());
}

void frmStep1::Label2_Click() {
  OpenWebPage(HowToPageUrl());
}

void frmStep1::OpenWebPage(const QString& url) {
  if (shell_.ShellOpenUrl(url)) return;
  // Without a web browser nothing would happen at all; the user gets the
  // address instead, selectable so it can be copied to another machine.
  ShowSelectableInformation(QStringLiteral("The web page could not be opened in a web browser.\n\n"
                                           "You can open it on another device at this address:\n%1")
                                .arg(url));
}

void frmStep1::ShowSelectableInformation(const QString& text) {
  MessageBoxRequest request;
  request.text = text;
  request.title = kAppTitle;
  request.icon = QMessageBox::Information;
  request.selectableText = true;
  shell_.ShowMessageBox(this, request);
}

bool frmStep1::ConfirmExit() {
  MessageBoxRequest request;
  request.text = QStringLiteral("Are you sure you want to exit now?");
  request.title = kAppTitle;
  request.buttons = QMessageBox::Yes | QMessageBox::No;
  request.defaultButton = QMessageBox::Yes;
  request.icon = QMessageBox::Question;
  return shell_.ShowMessageBox(this, request) == QMessageBox::Yes;
}

void frmStep1::cmdEnd_Click() {
  if (!ConfirmExit()) return;
  // During a scan or a run the window closes once the command has stopped
  // at its next yield.
  if (busy_) {
    closeRequested_ = true;
    if (conversion_) conversion_->RequestStop();
  } else {
    close();
  }
}

void frmStep1::closeEvent(QCloseEvent* event) {
  if (busy_) {
    // A scan or a run is in progress: the window asks first, as Exit does.
    // On Yes the command stops at its next yield, between two files or
    // records, and closes the window when it has unwound; on No it goes on.
    event->ignore();
    if (!closeRequested_ && ConfirmExit()) {
      closeRequested_ = true;
      if (conversion_) conversion_->RequestStop();
    }
    return;
  }
  event->accept();
  Form_Unload();
}

void frmStep1::Form_Unload() {
  // The program ends here: no further event runs, and the system closes
  // every open file. A run that was in progress has stopped before, between
  // two records, with its journal saying how far it got.
  endProgram_();
}

void frmStep1::SetCountLabel(const std::string& text) {
  pendingCount_.text = text;
  pendingCount_.pending = true;
}

void frmStep1::ShowPending() {
  const auto show = [](PendingCaption& caption, QLabel* label) {
    if (!caption.pending) return;
    caption.pending = false;
    label->setText(ToQt(caption.text));
  };
  show(pendingCount_, lblCount1);
}

void frmStep1::Yield() {
  if (closeRequested_) throw StopForClosing{};
  // The walker and the run yield several times per file. Processing events
  // (and repainting the changed label) every single time would cost far more
  // than the work itself on a large export, so a yield that comes within
  // kYieldIntervalMs of the last one returns at once. Input and repaints are
  // still handled many times a second, and the first yield of every command
  // always processes.
  if (yieldClock_.isValid() && yieldClock_.elapsed() < kYieldIntervalMs) return;
  // Whatever handles the pending events (a repaint, a test's timer) sees the
  // latest captions.
  ShowPending();
  QCoreApplication::processEvents();
  yieldClock_.start();
  // The events may have held the user's confirmed close.
  if (closeRequested_) throw StopForClosing{};
}

}  // namespace quillfen
