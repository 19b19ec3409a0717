#include "scripted_shell_services.h"

namespace quillfen {

QString ScriptedShellServices::BrowseForFolder(QWidget* owner, const QString& title) {
  return NextChoice(owner, title, false);
}

QString ScriptedShellServices::BrowseForSource(QWidget* owner, const QString& title) {
  return NextChoice(owner, title, true);
}

QString ScriptedShellServices::NextChoice(QWidget* owner, const QString& title, bool archivesToo) {
  folderRequests_.append({owner, title, archivesToo});
  if (folders_.empty()) return QString();
  QString answer = folders_.front();
  folders_.pop_front();
  return answer;
}

bool ScriptedShellServices::ShellOpenUrl(const QString& url) {
  // Recorded even when empty, so that a test sees what the window asked for;
  // the real service opens nothing for the empty string.
  openedUrls_.append(url);
  return urlsOpen_ && !url.isEmpty();
}

bool ScriptedShellServices::ShellOpenFolder(const QString& folder) {
  openedFolders_.append(folder);
  return urlsOpen_ && !folder.isEmpty();
}

QMessageBox::StandardButton ScriptedShellServices::ShowMessageBox(
    QWidget* owner, const MessageBoxRequest& request) {
  messageBoxes_.append({owner, request});
  if (!boxActions_.empty()) {
    auto action = std::move(boxActions_.front());
    boxActions_.pop_front();
    if (action) action();
  }
  if (!answers_.empty()) {
    const auto answer = answers_.front();
    answers_.pop_front();
    return answer;
  }
  if (request.defaultButton != QMessageBox::NoButton) return request.defaultButton;
  // The lowest flag among the buttons stands in for "the first button".
  const auto buttons = static_cast<unsigned>(request.buttons.toInt());
  if (buttons == 0) return QMessageBox::Ok;
  return static_cast<QMessageBox::StandardButton>(buttons & (~buttons + 1u));
}

}  // namespace quillfen
