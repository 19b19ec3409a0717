// A conversion that kills itself right after it made its Nth change below
// the destination, as SIGKILL (TerminateProcess on Windows) would end it at
// that moment: the tests of interruption plant their cut here instead of
// racing a timer.
//
//   quillfen_killed_at_change SOURCE DEST N
//
// With N = 0 the conversion runs to its end and prints how many changes it
// made.

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>

#ifdef _WIN32
#include <windows.h>
#endif

#include "conversion/conversion.h"
#include "os/change_observer.h"

namespace {

// Ends the process at once: no destructor, no flush of the C library's
// buffers, no handler runs, as when the system kills it.
[[noreturn]] void KillNow() {
#ifdef _WIN32
  // The code the test runner's own kill gives (137, as a shell reports
  // SIGKILL).
  ::TerminateProcess(::GetCurrentProcess(), 137);
#else
  std::raise(SIGKILL);
#endif
  std::abort();
}

class KillAtChange : public quillfen::os::ChangeObserver {
 public:
  KillAtChange(std::string below, long at) : below_(std::move(below)), at_(at) {}
  void Changed(const quillfen::os::Change& change) override {
    if (change.kind != quillfen::os::Change::Kind::FlushAll &&
        change.path.substr(0, below_.size()) != below_)
      return;
    if (++made_ == at_) KillNow();
  }
  long made() const { return made_; }

 private:
  std::string below_;
  long at_;
  long made_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
  // Started as quillfen-cli is, with --quiet first, which changes nothing.
  if (argc > 1 && std::string(argv[1]) == "--quiet") {
    --argc;
    ++argv;
  }
  if (argc != 4) {
    std::fprintf(stderr, "usage: quillfen_killed_at_change SOURCE DEST N\n");
    return 2;
  }
  KillAtChange observer(argv[2], std::strtol(argv[3], nullptr, 10));
  quillfen::os::ObserveChanges(&observer);
  quillfen::ConversionSink sink;
  quillfen::ConversionRequest request;
  request.source = argv[1];
  request.destination = argv[2];
  const quillfen::ConversionReport report = quillfen::Convert(request, {}, sink);
  quillfen::os::ObserveChanges(nullptr);
  std::printf("%ld\n", observer.made());
  return report.ending == quillfen::Ending::Finished && report.failures.empty() ? 0 : 1;
}
