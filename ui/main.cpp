// The window program: the window is the whole program; it takes no
// arguments of its own and keeps no settings.

#include <QApplication>
#include <csignal>

#include "ui/main_window.h"
#include "ui/shell_services.h"

int main(int argc, char** argv) {
#ifdef SIGXFSZ
  // Past a file-size limit a write fails with EFBIG, which fails that record
  // alone and cuts it back; the signal would end the program mid-record.
  std::signal(SIGXFSZ, SIG_IGN);
#endif
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Quillfen"));
  QApplication::setApplicationVersion(QStringLiteral(QUILLFEN_VERSION));
  QGuiApplication::setDesktopFileName(QStringLiteral("quillfen"));

  quillfen::PlatformShellServices shell;
  quillfen::frmStep1 window(shell);
  QApplication::setWindowIcon(window.windowIcon());
  window.show();
  return QApplication::exec();
}
