#pragma once

#include <mutex>
#include <optional>
#include <utility>

namespace quillfen {

// The newest of a stream of values made on a worker thread, for the window's
// thread: Put keeps only the newest and tells when a delivery must be queued
// (none is pending), Take hands the value over once. However fast the values
// come, the window's event queue holds at most one delivery.
template <typename T>
class LatestValue {
 public:
  [[nodiscard]] bool Put(T value) {
    std::lock_guard lock(mutex_);
    latest_ = std::move(value);
    if (queued_) return false;
    queued_ = true;
    return true;
  }
  std::optional<T> Take() {
    std::lock_guard lock(mutex_);
    if (!queued_) return std::nullopt;
    queued_ = false;
    return latest_;
  }

 private:
  std::mutex mutex_;
  T latest_{};
  bool queued_ = false;
};

}  // namespace quillfen
