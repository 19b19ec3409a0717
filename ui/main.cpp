// The window program: the window is the whole program. Its one optional
// argument is a folder or an export archive to take in at start, as a file
// manager's "Open With" hands it over; it keeps no settings.

#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTimer>
#include <csignal>
#include <cstring>

#include "ui/main_window.h"
#include "ui/shell_services.h"

namespace {

void DescribeArguments(QCommandLineParser& parser) {
  parser.setApplicationDescription(
      QStringLiteral("Converts a Zimbra Desktop mail export into mbox files for Apple Mail."));
  parser.addHelpOption();
  parser.addVersionOption();
  parser.addPositionalArgument(
      QStringLiteral("path"),
      QStringLiteral("The extracted export folder, or the export archive (.tgz, .tar.gz, .tar), "
                     "to take in at start."),
      QStringLiteral("[path]"));
}

void NameApplication() {
  QCoreApplication::setApplicationName(QStringLiteral("Quillfen"));
  QCoreApplication::setApplicationVersion(QStringLiteral(QUILLFEN_VERSION));
}

// Whether the arguments ask for the help or the version: they are answered
// without a window, so without a display.
bool AsksForHelpOrVersion(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--") == 0) return false;
    for (const char* option : {"-h", "--help", "--help-all", "-?", "-v", "--version"})
      if (std::strcmp(argv[i], option) == 0) return true;
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
#ifdef SIGXFSZ
  // Past a file-size limit a write fails with EFBIG, which fails that record
  // alone and cuts it back; the signal would end the program mid-record.
  std::signal(SIGXFSZ, SIG_IGN);
#endif
  if (AsksForHelpOrVersion(argc, argv)) {
    QCoreApplication core(argc, argv);
    NameApplication();
    QCommandLineParser parser;
    DescribeArguments(parser);
    parser.process(core);  // prints the help or the version and exits
    return 0;
  }
  QApplication app(argc, argv);
  NameApplication();
  QGuiApplication::setDesktopFileName(QStringLiteral("quillfen"));

  QCommandLineParser parser;
  DescribeArguments(parser);
  parser.process(app);
  const QStringList paths = parser.positionalArguments();
  if (paths.size() > 1) {
    parser.showHelp(2);
  }

  quillfen::PlatformShellServices shell;
  quillfen::MainWindow window(shell);
  QApplication::setWindowIcon(window.windowIcon());
  window.show();
  if (!paths.isEmpty()) {
    // Taken in once the event loop runs, so that the window is on the
    // screen, showing the running count, while the source is read.
    const QString& path = paths.constFirst();
    QTimer::singleShot(0, &window, [&window, path] { window.OpenSource(path); });
  }
  return QApplication::exec();
}
