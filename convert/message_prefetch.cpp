#include "convert/message_prefetch.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "convert/message_failure.h"
#include "convert/queue_messages.h"

namespace quillfen {

namespace {

// A message up to this size is read ahead whole; a larger one is read by the
// conversion itself, in pieces of the same size.
constexpr std::size_t kLargestHeld = 1024 * 1024;
// How far the reading may run ahead. The ring holds the largest message
// read ahead (one byte more, to notice a file that grew) wherever the other
// half of it is taken.
constexpr std::size_t kMostMessagesAhead = 256;
constexpr std::size_t kRingBytes = 4 * kLargestHeld + 64 * 1024;
constexpr int kSpinsBeforeSleeping = 64;
// How many messages read ahead let the reading parse header blocks too.
constexpr std::size_t kAheadToParse = 32;

}  // namespace

MessagePrefetch::MessagePrefetch(QueueListRef queue)
    : queue_(std::move(queue)), ring_(std::make_unique_for_overwrite<char[]>(kRingBytes)) {
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
                                                  MessageFolder& folder, MessageReader& reader) {
  Entry entry;
  entry.position = position;
  bool ahead = false;
  try {
    MessageFile file(name, &folder);
    entry.modificationTime = file.FallbackTime();
    const std::int64_t size = file.SizeHint();
    if (size < 0 || static_cast<std::uint64_t>(size) > kLargestHeld) return entry;
    // One byte more than announced: a file that grew since it was looked at
    // is then left to the conversion, which reads it to its end.
    const std::size_t wanted = static_cast<std::size_t>(size) + 1;
    char* data = nullptr;
    {
      std::unique_lock lock(mutex_);
      ahead = ready_.size() >= kAheadToParse;
      data = Reserve(wanted, entry.ringEnd);
      if (data == nullptr) {
        // Full: the reading waits until the conversion has taken half, so
        // that the two threads wake each other seldom.
        readerNeeds_ = wanted;
        readerWaiting_ = true;
        readerWake_.wait(lock, [this] { return stop_ || ReaderMayGoOn(); });
        readerWaiting_ = false;
        if (stop_) return entry;
        data = Reserve(wanted, entry.ringEnd);
      }
    }
    entry.data = data;
    while (entry.size < wanted) {
      const std::size_t got = file.Read(data + entry.size, wanted - entry.size);
      if (got == 0) break;
      entry.size += got;
      // Read to the size it announced, the file is done: that saves the
      // read that would only find its end.
      if (entry.size == static_cast<std::size_t>(size)) break;
    }
    entry.whole = entry.size <= static_cast<std::size_t>(size);
  } catch (const MessageFailure& failure) {
    entry.failure = failure.what();
  }
  if (entry.whole && ahead) {
    // Well ahead of the conversion, this thread parses the header block
    // too, which takes that work off the conversion's thread. When it is
    // not ahead, the reading is what the conversion waits for, and the
    // conversion parses the header block itself. The two threads never share
    // a GMime object, and GMime's utility functions are safe on any thread.
    try {
      reader.OpenMessageBytes(std::string_view(entry.data, entry.size), entry.modificationTime);
      entry.answers =
          HeaderAnswers{reader.MessageCharset(), reader.MessageDate(), reader.SenderAddress()};
    } catch (const std::bad_alloc&) {
      // The conversion then parses the header block itself.
    }
  }
  if (!entry.whole) {
    entry.data = nullptr;
    entry.size = 0;
  }
  return entry;
}

char* MessagePrefetch::Reserve(std::size_t size, std::uint64_t& end) {
  if (!CanReserve(size)) return nullptr;
  const std::size_t at = static_cast<std::size_t>(ringHead_ % kRingBytes);
  const std::size_t skipped = at + size > kRingBytes ? kRingBytes - at : 0;
  ringHead_ += skipped + size;
  end = ringHead_;
  return ring_.get() + (skipped != 0 ? 0 : at);
}

bool MessagePrefetch::CanReserve(std::size_t size) const {
  const std::size_t at = static_cast<std::size_t>(ringHead_ % kRingBytes);
  const std::size_t skipped = at + size > kRingBytes ? kRingBytes - at : 0;
  return ringHead_ - ringTail_ + skipped + size <= kRingBytes;
}

bool MessagePrefetch::ReaderMayGoOn() const {
  return ready_.size() <= kMostMessagesAhead / 2 && ringHead_ - ringTail_ <= kRingBytes / 2 &&
         CanReserve(readerNeeds_);
}

void MessagePrefetch::Release(const Entry& entry) {
  // Entries are let go in the order they were read, so the ring is free up
  // to the end of the last one let go that held any of it.
  if (entry.ringEnd > ringTail_) ringTail_ = entry.ringEnd;
}

void MessagePrefetch::Run() {
  MessageFolder folder;
  MessageReader reader;
  std::int32_t position = 0;
  for (const std::string& name : QueueOrEmpty(queue_)) {
    ++position;
    // A resumed conversion passes over what it converted before without
    // asking for it: those files are not read.
    if (position < wanted_.load(std::memory_order_relaxed)) continue;
    if (!IsMessageName(name)) continue;
    {
      std::unique_lock lock(mutex_);
      if (ready_.size() >= kMostMessagesAhead) {
        readerNeeds_ = 0;
        readerWaiting_ = true;
        readerWake_.wait(lock, [this] { return stop_ || ReaderMayGoOn(); });
        readerWaiting_ = false;
      }
      if (stop_) break;
    }
    Entry entry = ReadEntry(position, name, folder, reader);
    bool wake = false;
    {
      std::lock_guard lock(mutex_);
      if (stop_) break;
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

MessageSource& MessagePrefetch::Open(std::int32_t position, const std::string& name) {
  file_.reset();
  const Entry done = std::exchange(held_.entry, Entry{});
  held_.offset = 0;

  wanted_.store(position, std::memory_order_relaxed);
  std::optional<Entry> found;
  bool wake = false;
  int spins = 0;
  {
    std::unique_lock lock(mutex_);
    Release(done);
    for (;;) {
      while (!ready_.empty() && ready_.front().position < position) {
        Release(ready_.front());
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
      ready_.pop_front();
      // Only a message read whole keeps its bytes in the ring.
      if (!found->whole) Release(*found);
    }
    wake = readerWaiting_ && ReaderMayGoOn();
  }
  if (wake) readerWake_.notify_one();

  if (found && !found->failure.empty()) throw MessageFailure(found->failure);
  if (found && found->whole) {
    held_.entry = std::move(*found);
    return held_;
  }
  // Not read ahead (too large, or not a queued message): read here.
  file_.emplace(name, &folder_);
  return *file_;
}

std::size_t MessagePrefetch::HeldMessage::Read(char* buffer, std::size_t size) {
  const std::size_t count = std::min(size, entry.size - offset);
  if (count > 0) std::memcpy(buffer, entry.data + offset, count);
  offset += count;
  return count;
}

bool MessagePrefetch::HeldMessage::Whole(std::string_view& bytes) {
  if (offset != 0) return false;
  bytes = std::string_view(entry.data, entry.size);
  offset = entry.size;
  return true;
}

}  // namespace quillfen
