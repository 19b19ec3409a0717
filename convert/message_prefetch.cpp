#include "convert/message_prefetch.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "convert/conversion_run.h"
#include "convert/message_failure.h"
#include "convert/queue_conversion.h"

namespace quillfen {

namespace {

// A message up to this size is read ahead whole; a larger one is read by the
// conversion itself, in pieces of the same size.
constexpr std::size_t kLargestHeld = 1024 * 1024;
// How far the reading may run ahead.
constexpr std::size_t kMostMessagesAhead = 128;
constexpr std::size_t kMostBytesAhead = 2 * 1024 * 1024;
constexpr std::size_t kBufferUnit = 8 * 1024;
constexpr std::size_t kMostSpareBuffers = 8;
constexpr int kSpinsBeforeSleeping = 64;

}  // namespace

MessagePrefetch::MessagePrefetch(QueueListRef queue) : queue_(std::move(queue)) {
  thread_ = std::thread([this] {
    try {
      Run();
    } catch (...) {
      // Whatever stopped the reading (memory, most likely), the conversion
      // reads the remaining messages itself.
      {
        std::lock_guard lock(mutex_);
        done_ = true;
      }
      takerWake_.notify_one();
    }
  });
}

MessagePrefetch::~MessagePrefetch() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  readerWake_.notify_one();
  thread_.join();
}

MessagePrefetch::Entry MessagePrefetch::ReadEntry(std::int32_t position, const std::string& name,
                                                  MessageFolder& folder) {
  Entry entry;
  entry.position = position;
  try {
    MessageFile file(name, &folder);
    entry.modificationTime = file.FallbackTime();
    const std::int64_t size = file.SizeHint();
    if (size < 0 || static_cast<std::uint64_t>(size) > kLargestHeld) return entry;
    {
      std::lock_guard lock(mutex_);
      if (!spare_.empty()) {
        entry.buffer = std::move(spare_.back());
        spare_.pop_back();
      }
    }
    // One byte more than announced: a file that grew since it was looked at
    // is then left to the conversion, which reads it to its end.
    const std::size_t wanted = static_cast<std::size_t>(size) + 1;
    if (entry.buffer.capacity < wanted) {
      entry.buffer.data =
          std::make_unique_for_overwrite<char[]>(std::max(wanted, kLargestHeld / 4));
      entry.buffer.capacity = std::max(wanted, kLargestHeld / 4);
    }
    while (entry.size < wanted) {
      const std::size_t got = file.Read(entry.buffer.data.get() + entry.size, wanted - entry.size);
      if (got == 0) break;
      entry.size += got;
      // Read to the size it announced, the file is done: that saves the
      // read that would only find its end.
      if (entry.size == static_cast<std::size_t>(size)) break;
    }
    entry.whole = entry.size <= static_cast<std::size_t>(size);
  } catch (const MessageFailure& failure) {
    entry.failure = failure.what();
  } catch (const std::bad_alloc&) {
    // The conversion then reads the file itself.
    entry.buffer = Buffer{};
    entry.size = 0;
  }
  if (!entry.whole) {
    entry.size = 0;
    Recycle(std::move(entry.buffer));
    entry.buffer = Buffer{};
  }
  return entry;
}

void MessagePrefetch::Run() {
  MessageFolder folder;
  std::int32_t position = 0;
  for (const std::string& name : QueueOrEmpty(queue_)) {
    ++position;
    // A resumed conversion passes over what it converted before without
    // asking for it: those files are not read.
    if (position < wanted_.load(std::memory_order_relaxed)) continue;
    if (!IsMessageName(name)) continue;
    {
      std::unique_lock lock(mutex_);
      if (ready_.size() >= kMostMessagesAhead || readyBytes_ >= kMostBytesAhead) {
        // Full: the reading waits until the conversion has taken half, so
        // that the two threads wake each other seldom.
        readerWaiting_ = true;
        readerWake_.wait(lock, [this] {
          return stop_ ||
                 (ready_.size() <= kMostMessagesAhead / 2 && readyBytes_ <= kMostBytesAhead / 2);
        });
        readerWaiting_ = false;
      }
      if (stop_) break;
    }
    Entry entry = ReadEntry(position, name, folder);
    bool wake = false;
    {
      std::lock_guard lock(mutex_);
      readyBytes_ += entry.buffer.capacity;
      ready_.push_back(std::move(entry));
      wake = takerWaiting_;
    }
    if (wake) takerWake_.notify_one();
  }
  bool wake = false;
  {
    std::lock_guard lock(mutex_);
    done_ = true;
    wake = takerWaiting_;
  }
  if (wake) takerWake_.notify_one();
}

void MessagePrefetch::Recycle(Buffer buffer) {
  if (buffer.data == nullptr) return;
  std::lock_guard lock(mutex_);
  if (spare_.size() < kMostSpareBuffers) spare_.push_back(std::move(buffer));
}

MessageSource& MessagePrefetch::Open(std::int32_t position, const std::string& name) {
  file_.reset();
  Recycle(std::move(held_.entry.buffer));
  held_.entry = Entry{};
  held_.offset = 0;

  wanted_.store(position, std::memory_order_relaxed);
  std::optional<Entry> found;
  bool wake = false;
  int spins = 0;
  {
    std::unique_lock lock(mutex_);
    for (;;) {
      while (!ready_.empty() && ready_.front().position < position) {
        readyBytes_ -= ready_.front().buffer.capacity;
        if (ready_.front().buffer.data != nullptr && spare_.size() < kMostSpareBuffers)
          spare_.push_back(std::move(ready_.front().buffer));
        ready_.pop_front();
      }
      if (!ready_.empty() || done_) break;
      // Nothing read yet: the reading must not wait for room either.
      if (readerWaiting_) readerWake_.notify_one();
      // The next message is usually a few microseconds away: waiting for it
      // briefly on the core is cheaper than sleeping and being woken.
      if (spins < kSpinsBeforeSleeping) {
        ++spins;
        lock.unlock();
        std::this_thread::yield();
        lock.lock();
        continue;
      }
      takerWaiting_ = true;
      takerWake_.wait(lock, [this] { return !ready_.empty() || done_; });
      takerWaiting_ = false;
    }
    if (!ready_.empty() && ready_.front().position == position) {
      found = std::move(ready_.front());
      readyBytes_ -= found->buffer.capacity;
      ready_.pop_front();
    }
    wake = readerWaiting_ && ready_.size() <= kMostMessagesAhead / 2 &&
           readyBytes_ <= kMostBytesAhead / 2;
  }
  if (wake) readerWake_.notify_one();

  if (found && !found->failure.empty()) throw MessageFailure(found->failure);
  if (found && found->whole) {
    held_.entry = std::move(*found);
    return held_;
  }
  // Not read ahead (too large, or not a queued message): read here.
  if (found) Recycle(std::move(found->buffer));
  file_.emplace(name, &folder_);
  return *file_;
}

std::size_t MessagePrefetch::HeldMessage::Read(char* buffer, std::size_t size) {
  const std::size_t count = std::min(size, entry.size - offset);
  if (count > 0) std::memcpy(buffer, entry.buffer.data.get() + offset, count);
  offset += count;
  return count;
}

bool MessagePrefetch::HeldMessage::Whole(std::string_view& bytes) {
  if (offset != 0) return false;
  bytes = std::string_view(entry.buffer.data.get(), entry.size);
  offset = entry.size;
  return true;
}

}  // namespace quillfen
