#include "ui/shell_services.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QPushButton>
#include <QUrl>

namespace quillfen {

QString PlatformShellServices::BrowseForFolder(QWidget* owner, const QString& title) {
  const QString chosen =
      QFileDialog::getExistingDirectory(owner, title, QString(), QFileDialog::ShowDirsOnly);
  // Qt hands back "/" separators on every platform; the core expects the
  // platform's own separator.
  return QDir::toNativeSeparators(chosen);
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
  if (!request.details.isEmpty()) box.setDetailedText(request.details);
  if (request.selectableText)
    box.setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  const int answer = box.exec();
  return static_cast<QMessageBox::StandardButton>(answer);
}

}  // namespace quillfen
