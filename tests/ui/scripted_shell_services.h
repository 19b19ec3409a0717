#pragma once

#include <QList>
#include <QString>
#include <deque>
#include <functional>

#include "ui/shell_services.h"

namespace quillfen {

// Shell services for tests: every answer is scripted in advance and every
// call is recorded, so a test drives the window without a single real dialog.
class ScriptedShellServices : public ShellServices {
 public:
  struct FolderRequest {
    QWidget* owner;
    QString title;
    // Asked through BrowseForSource: an export archive may be chosen too.
    bool archivesToo = false;
  };
  struct MessageBoxCall {
    QWidget* owner;
    MessageBoxRequest request;
  };

  // The next answers of the choosers (folder or source), in order. With
  // none left, a chooser answers as if cancelled.
  void QueueFolder(const QString& path) { folders_.push_back(path); }
  // The next answers of the message boxes, in order. With none left, a box
  // answers with its default button, else with its only or first button.
  void QueueAnswer(QMessageBox::StandardButton answer) { answers_.push_back(answer); }
  // Runs while the next message box is "open" (as a modal box would run its
  // own event loop), before it answers; one action per box, in order.
  void QueueMessageBoxAction(std::function<void()> action) {
    boxActions_.push_back(std::move(action));
  }

  // Whether the desktop opens the web pages asked for (by default it does);
  // false stands for a machine without a web browser. The same goes for
  // folders and a file manager.
  void SetUrlsOpen(bool open) { urlsOpen_ = open; }

  const QList<FolderRequest>& folderRequests() const { return folderRequests_; }
  const QList<QString>& openedUrls() const { return openedUrls_; }
  const QList<QString>& openedFolders() const { return openedFolders_; }
  const QList<MessageBoxCall>& messageBoxes() const { return messageBoxes_; }

  QString BrowseForFolder(QWidget* owner, const QString& title) override;
  QString BrowseForSource(QWidget* owner, const QString& title) override;
  bool ShellOpenUrl(const QString& url) override;
  bool ShellOpenFolder(const QString& folder) override;
  QMessageBox::StandardButton ShowMessageBox(QWidget* owner,
                                             const MessageBoxRequest& request) override;

 private:
  QString NextChoice(QWidget* owner, const QString& title, bool archivesToo);

  bool urlsOpen_ = true;
  std::deque<QString> folders_;
  std::deque<QMessageBox::StandardButton> answers_;
  std::deque<std::function<void()>> boxActions_;
  QList<FolderRequest> folderRequests_;
  QList<QString> openedUrls_;
  QList<QString> openedFolders_;
  QList<MessageBoxCall> messageBoxes_;
};

}  // namespace quillfen
