#include "source/background_walk.h"

#include <utility>

#include "os/thread.h"
#include "source/folder_walker.h"
#include "source/message_name.h"
#include "source/scan_observer.h"

namespace quillfen {
namespace {

// What a stop makes the walk throw; it never leaves the walk's thread.
struct WalkStopped {};

// Ends the walk at its next yield once a stop is requested. The counts are
// for a front end that shows the scan; nobody reads them here.
class StopOnRequest : public ScanObserver {
 public:
  explicit StopOnRequest(std::stop_token stop) : stop_(std::move(stop)) {}
  void Queued(std::int32_t, std::int32_t) override {}
  void Yield() override {
    if (stop_.stop_requested()) throw WalkStopped{};
  }

 private:
  std::stop_token stop_;
};

}  // namespace

BackgroundWalk::BackgroundWalk(std::string root) {
  const auto queue = std::make_shared<PathQueue>(PathQueue::Growth::Growing);
  queue_ = queue;
  thread_ = os::StartThread([this, queue, root = std::move(root)] {
    try {
      StopOnRequest observer(ownStop_.get_token());
      FolderWalker walker(&observer);
      walker.Walk(root, queue);
      // Counted here, while the conversion has already started on the
      // first messages: it learns its totals without a pass of its own.
      // Read by count: the queue is still open, and reading it to its end
      // would wait for this very thread.
      const std::size_t files = queue->size();
      std::int32_t messages = 0;
      auto name = queue->begin();
      for (std::size_t k = 0; k < files; ++k, ++name)
        if (IsMessageName(*name)) ++messages;
      files_ = static_cast<std::int32_t>(files);
      messages_ = messages;
      whole_.store(true, std::memory_order_release);
    } catch (const WalkStopped&) {
    } catch (...) {
      failure_ = std::current_exception();
    }
    // Closed last: whoever sees the queue closed sees how the walk ended.
    queue->Close();
  });
}

BackgroundWalk::~BackgroundWalk() {
  ownStop_.request_stop();
  thread_.join();
}

bool BackgroundWalk::Whole(std::int32_t& files, std::int32_t& messages) const {
  if (!whole_.load(std::memory_order_acquire)) return false;
  files = files_;
  messages = messages_;
  return true;
}

void BackgroundWalk::Finish() {
  // Waiting for a path past any there can be is waiting for the close.
  queue_->WaitFor(static_cast<std::size_t>(-1));
  if (failure_) std::rethrow_exception(failure_);
}

}  // namespace quillfen
