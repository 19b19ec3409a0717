// quillfen-cli: converts a mail export (its archive or extracted folder) into
// one mailbox per mail folder, the same way the window does, for scripts and
// large exports.

#include <CLI/CLI.hpp>
#include <csignal>
#include <cstdio>
#include <exception>
#include <new>
#include <ostream>
#include <string>
#include <vector>

#include "cli/checked_output.h"
#include "cli/convert_command.h"
#include "cli/terminal_host.h"
#include "os/command_line.h"

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#define QUILLFEN_ISATTY(fd) _isatty(fd)
#else
#include <signal.h>
#include <unistd.h>
#define QUILLFEN_ISATTY(fd) isatty(fd)
#endif

namespace {

void OnStopSignal(int) {
  quillfen::cli::RequestStop();
}

// Ctrl-C, a terminal hang-up or a polite kill would otherwise end the
// process in the middle of writing a record, and the kernel may then have
// written only part of it. Instead the run stops at its next yield, which
// never falls inside a write. A second signal ends the process at once.
void StopCleanlyOnSignals() {
#ifdef _WIN32
  // Ctrl-Break, and a break event sent to the process group, stop the run
  // as Ctrl-C does; the C runtime resets each after its first signal.
  std::signal(SIGINT, OnStopSignal);
  std::signal(SIGBREAK, OnStopSignal);
  std::signal(SIGTERM, OnStopSignal);
#else
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  action.sa_flags = SA_RESETHAND | SA_RESTART;
  sigemptyset(&action.sa_mask);
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
  // Past a file-size limit a write fails with EFBIG, which fails that record
  // alone and cuts it back; the signal would end the process mid-record.
  std::signal(SIGXFSZ, SIG_IGN);
#endif
}

// Parses the arguments and runs the conversion, writing to out and err.
// Returns the exit status.
int Run(int argc, char** argv, std::ostream& out, std::ostream& err) {
  using namespace quillfen::cli;

  CLI::App app{
      "Converts a Zimbra Desktop mail export, its .tgz archive or the folder tree of .eml files "
      "extracted from it, into one .mbox file per mail folder, in a copy of the source folder "
      "tree below DEST.",
      "quillfen-cli"};
  ConvertOptions options;
  bool quiet = false;
  app.add_option("SOURCE", options.source,
                 "The extracted export folder, or the export archive (.tgz, .tar.gz, .tar)")
      ->required();
  app.add_option("DEST", options.destination, "The destination folder (created when missing)")
      ->required();
  app.add_flag("-q,--quiet", quiet, "Show no progress line");
  app.add_flag("--again", options.again,
               "Convert a source that was converted into DEST before once more (a second copy)");
  // The window program's --version says the same.
  app.set_version_flag("--version", "Quillfen " QUILLFEN_VERSION);

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    // Help and version are successes; every other parse error is bad usage.
    return app.exit(e, out, err) == 0 ? kExitConverted : kExitCannotStart;
  }

  options.showProgress = !quiet && QUILLFEN_ISATTY(fileno(stderr));
  StopCleanlyOnSignals();
  try {
    return Convert(options, out, err);
  } catch (const std::bad_alloc&) {
    err << "quillfen-cli: not enough memory to convert; nothing more was written\n";
    return kExitCannotStart;
  } catch (const std::exception& e) {
    err << "quillfen-cli: " << e.what() << '\n';
    return kExitCannotStart;
  }
}

#ifdef _WIN32
// The console shows the program's UTF-8 text as UTF-8 while it runs, and
// shows what it showed before once it ends: a console takes its code page
// from the system's locale, in which a name in another script would come
// out garbled. Output to a file or a pipe is bytes, and stays as it is.
class Utf8Console {
 public:
  Utf8Console() : before_(::GetConsoleOutputCP()) {
    DWORD mode = 0;
    const bool console = ::GetConsoleMode(::GetStdHandle(STD_OUTPUT_HANDLE), &mode) ||
                         ::GetConsoleMode(::GetStdHandle(STD_ERROR_HANDLE), &mode);
    changed_ = console && before_ != CP_UTF8 && ::SetConsoleOutputCP(CP_UTF8);
  }
  ~Utf8Console() {
    if (changed_) ::SetConsoleOutputCP(before_);
  }
  Utf8Console(const Utf8Console&) = delete;
  Utf8Console& operator=(const Utf8Console&) = delete;

 private:
  UINT before_;
  bool changed_ = false;
};
#endif

}  // namespace

int main(int argc, char** argv) {
  using namespace quillfen::cli;

  // The arguments in UTF-8 where argv holds them otherwise (Windows).
  std::vector<std::string> utf8 = quillfen::os::CommandLineArguments();
  std::vector<char*> pointers;
  pointers.reserve(utf8.size() + 1);
  for (std::string& arg : utf8) pointers.push_back(arg.data());
  pointers.push_back(nullptr);
  if (!utf8.empty()) {
    argc = static_cast<int>(utf8.size());
    argv = pointers.data();
  }
#ifdef _WIN32
  const Utf8Console console;
#endif

  CheckedOutput out(stdout);
  CheckedOutput err(stderr);
  const int status = Run(argc, argv, out.stream(), err.stream());

  // A summary or a reason the caller never got is no success: a script
  // reading the status would take the run as done and reported.
  const bool outWritten = out.Flush();
  if (!outWritten)
    err.stream() << "quillfen-cli: cannot write to standard output: " << out.failure() << '\n';
  const bool errWritten = err.Flush();
  if (outWritten && errWritten) return status;
  return status == kExitConverted ? kExitSomeFailed : status;
}
