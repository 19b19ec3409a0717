#pragma once

#include <atomic>
#include <cstdint>
#include <exception>
#include <memory>
#include <stop_token>
#include <string>
#include <thread>

#include "source/path_queue.h"

namespace quillfen {

// A folder walk on a thread of its own, into a growing queue, so that a
// conversion that needs nothing of the walk's end starts on the first
// folders while the walk goes on. The queue's order is the walker's.
class BackgroundWalk {
 public:
  // Starts walking root. The walk goes on when the conversion is stopped,
  // so that its totals are known (it is quick beside the conversion), and
  // ends early only when this object is destroyed. Throws std::system_error
  // when no thread can be started: the caller then walks the tree itself.
  explicit BackgroundWalk(std::string root);
  // Stops the walk and waits for its thread.
  ~BackgroundWalk();
  BackgroundWalk(const BackgroundWalk&) = delete;
  BackgroundWalk& operator=(const BackgroundWalk&) = delete;

  // The queue, growing until the walk is over.
  const PathQueueRef& queue() const { return queue_; }

  // Once the walk is over: whether it walked the whole tree, and then its
  // files and those of them that are messages. Never waits.
  bool Whole(std::int32_t& files, std::int32_t& messages) const;
  // Waits until the walk is over. Throws what ended it early:
  // FileSystemError for a folder that could not be listed, and whatever
  // else the walk threw.
  void Finish();

 private:
  PathQueueRef queue_;
  std::stop_source ownStop_;
  std::exception_ptr failure_;
  std::atomic<bool> whole_{false};
  std::int32_t files_ = 0;
  std::int32_t messages_ = 0;
  std::thread thread_;
};

}  // namespace quillfen
