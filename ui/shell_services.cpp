#include "ui/shell_services.h"

#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QDir>
#include <QEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontMetrics>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTextEdit>
#include <QUrl>
#include <algorithm>

#include "source/export_archive.h"

namespace quillfen {

namespace {

bool IsArchiveFile(const QString& path) {
  const QFileInfo info(path);
  // The core takes paths as UTF-8.
  return info.isFile() && IsArchivePath(info.filePath().toStdString());
}

// Qt's own file dialog in folder mode, with the export archives shown and
// chosen beside the folders. The platforms' dialogs choose either folders or
// files, never both, and folder mode alone keeps Choose disabled on a file.
// The destination chooser: a folder typed into it that does not exist yet
// is created, as the destination of a conversion often is a new folder.
class DestinationDialog : public QFileDialog {
 public:
  DestinationDialog(QWidget* owner, const QString& title) : QFileDialog(owner, title) {
    setOption(QFileDialog::DontUseNativeDialog);
    setOption(QFileDialog::ShowDirsOnly);
    setFileMode(QFileDialog::Directory);
  }

  void accept() override {
    const QStringList files = selectedFiles();
    // Where it cannot be created, the dialog's own accept says why.
    if (files.size() == 1 && !files.constFirst().isEmpty() &&
        !QFileInfo::exists(files.constFirst()))
      QDir().mkpath(files.constFirst());
    QFileDialog::accept();
  }
};

class SourceDialog : public QFileDialog {
 public:
  SourceDialog(QWidget* owner, const QString& title) : QFileDialog(owner, title) {
    setOption(QFileDialog::DontUseNativeDialog);
    setFileMode(QFileDialog::Directory);
    // The filter line is where the user learns that the archive is taken
    // as it is, without extracting it first.
    setNameFilter(QStringLiteral("Zimbra Mail Folder or Export Archive (*.tgz *.tar.gz *.tar)"));
    setLabelText(QFileDialog::FileName, QStringLiteral("Folder or archive:"));
    auto* name = findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    // Selecting an entry writes its name into the line; the dialog then
    // disables Choose for a file. Queued, this runs after that.
    if (name != nullptr)
      connect(name, &QLineEdit::textChanged, this, &SourceDialog::AllowArchive,
              Qt::QueuedConnection);
  }

  void accept() override {
    if (SelectedArchive()) {
      // QFileDialog's own accept takes only folders in this mode; the
      // archive chosen is taken as it is.
      QDialog::accept();  // NOLINT(bugprone-parent-virtual-call)
      return;
    }
    QFileDialog::accept();
  }

 private:
  bool SelectedArchive() const {
    const QStringList files = selectedFiles();
    return files.size() == 1 && IsArchiveFile(files.constFirst());
  }

  void AllowArchive() {
    auto* buttons = findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"));
    QPushButton* choose = buttons != nullptr ? buttons->button(QDialogButtonBox::Open) : nullptr;
    if (choose != nullptr && SelectedArchive()) choose->setEnabled(true);
  }
};

// Qt's detail area is narrow and wraps anywhere, breaking a file name in
// the middle. It is widened as far as the box may grow on the screen, and
// wraps only between words; a name longer than a line scrolls sideways.
void WidenDetails(QMessageBox& box, const QString& details) {
  auto* edit = box.findChild<QTextEdit*>();
  if (edit == nullptr) return;
  edit->setWordWrapMode(QTextOption::WordWrap);
  const QFontMetrics metrics(edit->font());
  int widest = 0;
  for (const QString& line : details.split(QLatin1Char('\n')))
    widest = std::max(widest, metrics.horizontalAdvance(line));
  // The text's margins, the frame and a vertical scroll bar.
  widest += 2 * edit->frameWidth() + 8 + 24;
  // The box never grows wider than the screen less 480 pixels (1,000 at
  // most; the whole screen on a small one); the detail area leaves room
  // for the box's margins within that.
  QScreen* screen = box.screen();
  const int screenWidth = screen != nullptr ? screen->availableGeometry().width() : 1024;
  const int boxLimit = screenWidth <= 1024 ? screenWidth : std::min(screenWidth - 480, 1000);
  edit->setMinimumWidth(std::min(widest, std::min(boxLimit, screenWidth * 3 / 4) - 48));
}

// Keeps a box on its screen: shown, the details make it grow to the right
// and down from where it was placed for its narrower self.
class KeepOnScreen : public QObject {
 public:
  using QObject::QObject;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    auto* widget = qobject_cast<QWidget*>(watched);
    if (widget != nullptr && event->type() == QEvent::Resize && widget->isVisible() &&
        widget->screen() != nullptr) {
      const QRect screen = widget->screen()->availableGeometry();
      QRect frame = widget->frameGeometry();
      if (frame.right() > screen.right()) frame.moveRight(screen.right());
      if (frame.bottom() > screen.bottom()) frame.moveBottom(screen.bottom());
      if (frame.left() < screen.left()) frame.moveLeft(screen.left());
      if (frame.top() < screen.top()) frame.moveTop(screen.top());
      if (frame.topLeft() != widget->frameGeometry().topLeft()) widget->move(frame.topLeft());
    }
    return QObject::eventFilter(watched, event);
  }
};

}  // namespace

QString PlatformShellServices::BrowseForFolder(QWidget* owner, const QString& title) {
  DestinationDialog dialog(owner, title);
  if (dialog.exec() != QDialog::Accepted) return QString();
  const QStringList files = dialog.selectedFiles();
  if (files.isEmpty()) return QString();
  const QString& chosen = files.constFirst();
  // Qt hands back "/" separators on every platform; the core expects the
  // platform's own separator.
  return QDir::toNativeSeparators(chosen);
}

QString PlatformShellServices::BrowseForSource(QWidget* owner, const QString& title) {
  SourceDialog dialog(owner, title);
  if (dialog.exec() != QDialog::Accepted) return QString();
  const QStringList chosen = dialog.selectedFiles();
  if (chosen.isEmpty()) return QString();
  return QDir::toNativeSeparators(chosen.constFirst());
}

bool PlatformShellServices::ShellOpenUrl(const QString& url) {
  if (url.isEmpty()) return false;
  return QDesktopServices::openUrl(QUrl(url));
}

bool PlatformShellServices::ShellOpenFolder(const QString& folder) {
  if (folder.isEmpty()) return false;
  // A file URL made from the path, so that characters such as "#" or "%" in
  // a folder's name stay part of the name.
  return QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
}

QMessageBox::StandardButton PlatformShellServices::ShowMessageBox(
    QWidget* owner, const MessageBoxRequest& request) {
  QMessageBox box(request.icon, request.title, request.text, request.buttons, owner);
  if (!request.actionButton.isEmpty()) {
    box.addButton(QMessageBox::Open)->setText(request.actionButton);
    // With two buttons that accept, Escape would otherwise do nothing; it
    // answers as the default button does.
    if (request.defaultButton != QMessageBox::NoButton)
      box.setEscapeButton(box.button(request.defaultButton));
  }
  if (request.defaultButton != QMessageBox::NoButton) box.setDefaultButton(request.defaultButton);
  if (!request.details.isEmpty()) {
    box.setDetailedText(request.details);
    WidenDetails(box, request.details);
    box.installEventFilter(new KeepOnScreen(&box));
  }
  if (request.selectableText)
    box.setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  const int answer = box.exec();
  return static_cast<QMessageBox::StandardButton>(answer);
}

}  // namespace quillfen
