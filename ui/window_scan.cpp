#include "ui/window_scan.h"

#include <QMetaObject>
#include <chrono>
#include <exception>
#include <optional>
#include <utility>

#include "source/message_name.h"
#include "ui/window_texts.h"

namespace quillfen {
namespace {

// What a stop makes the scan throw; it never leaves the scan's thread.
struct ScanStopped {};

}  // namespace

// Hears the walk or the archive's count on the scan's thread, and stops it
// at its next yield once asked to.
class WindowScan::Observer : public ScanObserver, public ArchiveProgress {
 public:
  explicit Observer(WindowScan& scan) : scan_(scan), stop_(scan.stop_.get_token()) {}

  void Queued(std::int32_t files, std::int32_t messages) override { Count(files, messages); }
  void Counting(std::int32_t files, std::int32_t messages) override { Count(files, messages); }
  void Yield() override {
    if (stop_.stop_requested()) throw ScanStopped{};
  }

 private:
  using Clock = std::chrono::steady_clock;

  // A count for every file, hundreds of thousands of them: one in 16 ms
  // reaches the window.
  void Count(std::int32_t files, std::int32_t messages) {
    const Clock::time_point now = Clock::now();
    if (now - lastPost_ < std::chrono::milliseconds(16)) return;
    lastPost_ = now;
    scan_.Post(files, messages);
  }

  WindowScan& scan_;
  std::stop_token stop_;
  Clock::time_point lastPost_{};
};

std::unique_ptr<WindowScan> WindowScan::OfFolder(std::string folder,
                                                 FolderWalker::FileSystemFactory fileSystems) {
  return std::unique_ptr<WindowScan>(
      new WindowScan(std::move(folder), false, std::move(fileSystems)));
}

std::unique_ptr<WindowScan> WindowScan::OfArchive(std::string path) {
  return std::unique_ptr<WindowScan>(new WindowScan(std::move(path), true, {}));
}

WindowScan::WindowScan(std::string path, bool archive, FolderWalker::FileSystemFactory fileSystems)
    : path_(std::move(path)), archive_(archive), fileSystems_(std::move(fileSystems)) {}

WindowScan::~WindowScan() {
  stop_.request_stop();
  if (thread_.joinable()) thread_.join();
}

void WindowScan::Start() {
  thread_ = std::thread([this] {
    Run();
    QMetaObject::invokeMethod(
        this,
        [this] {
          if (thread_.joinable()) thread_.join();
          Deliver();
          emit finished();
        },
        Qt::QueuedConnection);
  });
}

void WindowScan::Run() {
  Observer observer(*this);
  Outcome& outcome = outcome_;
  try {
    if (archive_) {
      try {
        outcome.archive = std::make_unique<ExportArchive>(path_, &observer);
        outcome.archive->SetProgress(nullptr);
        outcome.messages = outcome.archive->messages();
        outcome.files = outcome.archive->entries();
        outcome.meta = outcome.archive->metaFiles();
      } catch (const ArchiveError& error) {
        outcome.failure = QStringLiteral("The archive %1 could not be read: %2")
                              .arg(FromCore(error.archivePath()), FromCore(error.reason()));
      } catch (const std::exception& error) {
        outcome.failure = QStringLiteral("The archive %1 could not be read: %2")
                              .arg(FromCore(path_), FromCore(error.what()));
      }
    } else {
      FolderWalker walker(&observer, fileSystems_);
      // One folder the user cannot read would otherwise keep every folder
      // walked after it out of the queue; each is named to the user
      // instead, and again when the queue is converted.
      walker.SetGoOnPastUnreadableFolders(true);
      auto queue = std::make_shared<PathQueue>();
      try {
        walker.Walk(path_, queue);
      } catch (const std::exception& error) {
        // The files queued before the failure stay queued, so the user can
        // still convert what was found.
        outcome.failure = QStringLiteral("The scan of %1 stopped: %2")
                              .arg(FromCore(path_), FromCore(error.what()));
      }
      outcome.unreadableFolders = walker.unreadableFolders();
      for (const std::string& name : *queue) {
        ++outcome.files;
        if (IsMessageName(name))
          ++outcome.messages;
        else if (name.ends_with(".meta"))
          ++outcome.meta;
      }
      outcome.queue = std::move(queue);
    }
  } catch (const ScanStopped&) {
    outcome = Outcome{};
    outcome.stopped = true;
  }
  Post(outcome.files, outcome.messages);
}

void WindowScan::Post(std::int32_t files, std::int32_t messages) {
  if (latest_.Put({files, messages}))
    QMetaObject::invokeMethod(this, &WindowScan::Deliver, Qt::QueuedConnection);
}

void WindowScan::Deliver() {
  if (const std::optional<Counts> counts = latest_.Take())
    emit counted(counts->first, counts->second);
}

}  // namespace quillfen
