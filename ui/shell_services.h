#pragma once

#include <QMessageBox>
#include <QString>

class QWidget;

namespace quillfen {

// One message box as the window asks for it. details, when not empty, goes
// into the box's expandable detail area (the failed files of a run).
struct MessageBoxRequest {
  QString text;
  QString title;
  QMessageBox::StandardButtons buttons = QMessageBox::Ok;
  QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QString details;
  // The text can be selected and copied, for an address the user may need
  // to paste elsewhere.
  bool selectableText = false;
  // When not empty, one more button with this text beside the others;
  // choosing it answers QMessageBox::Open.
  QString actionButton;
};

// The services the window takes from the desktop: the choosers, opening
// a web page, and modal message boxes. The window only ever reaches them
// through this interface, so that tests can script every answer in advance
// and never block on a modal dialog.
class ShellServices {
 public:
  virtual ~ShellServices() = default;

  // Shows a modal chooser owned by owner that accepts folders only. Returns
  // the chosen folder's path as the platform spells it (no trailing separator
  // except for a root), or the empty string when the user cancels or closes
  // the chooser.
  virtual QString BrowseForFolder(QWidget* owner, const QString& title) = 0;

  // Shows a modal chooser owned by owner that accepts a folder or an export
  // archive file (.tgz, .tar.gz, .tar), and says so. Returns the chosen
  // path as BrowseForFolder does, or the empty string when cancelled.
  virtual QString BrowseForSource(QWidget* owner, const QString& title) = 0;

  // Opens url with the desktop's handler (the default browser for a web
  // address) without waiting. Returns false when no handler took it (no web
  // browser installed, or the empty string); the caller tells the user.
  virtual bool ShellOpenUrl(const QString& url) = 0;

  // Shows folder in the desktop's file manager without waiting. Returns
  // false when nothing could show it; the caller tells the user.
  virtual bool ShellOpenFolder(const QString& folder) = 0;

  // Shows a modal message box owned by owner and returns the button that
  // closed it.
  virtual QMessageBox::StandardButton ShowMessageBox(QWidget* owner,
                                                     const MessageBoxRequest& request) = 0;
};

// The real desktop: QFileDialog, QDesktopServices and QMessageBox.
class PlatformShellServices : public ShellServices {
 public:
  QString BrowseForFolder(QWidget* owner, const QString& title) override;
  QString BrowseForSource(QWidget* owner, const QString& title) override;
  bool ShellOpenUrl(const QString& url) override;
  bool ShellOpenFolder(const QString& folder) override;
  QMessageBox::StandardButton ShowMessageBox(QWidget* owner,
                                             const MessageBoxRequest& request) override;
};

}  // namespace quillfen
