#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "source/message_source.h"
#include "source/path_queue.h"

namespace quillfen {

// Reads the messages of a queue ahead of their conversion, on a thread of its
// own: opening and reading the files is half of a conversion's time, and the
// second core does it while the first one parses, quotes and writes. The
// next few dozen files are opened and announced to the system before their
// turn, so that a disk that has none of them in memory fetches them together
// instead of one after the other. Memory stays bounded: a few hundred
// messages or a few MiB are read ahead, and a message larger than a batch is
// not read ahead at all (the conversion reads it itself, piece by piece).
class MessagePrefetch {
 public:
  // Starts reading the queued names that pass the message filter, in queue
  // order. The queue may still grow while it is read (a walk that goes on). Throws
  // std::system_error when no thread can be started and std::bad_alloc
  // when the memory read ahead cannot be had: the caller then reads each
  // message itself.
  explicit MessagePrefetch(PathQueueRef queue);
  // Stops the reading thread.
  ~MessagePrefetch();
  MessagePrefetch(const MessagePrefetch&) = delete;
  MessagePrefetch& operator=(const MessagePrefetch&) = delete;

  // The message at queue position (from 1) named name; positions must be
  // asked for in increasing order, and any skipped ones are let go. The
  // source stays valid until the next call. Throws MessageFailure with the
  // reason the file could not be opened or read, as MessageFile does.
  MessageSource& Open(std::int32_t position, const std::string& name);

 private:
  struct Entry {
    std::int32_t position = 0;
    bool whole = false;  // the bytes are all of the file
    char* data = nullptr;
    std::size_t size = 0;
    // The ring's count of reserved bytes once this entry's were reserved:
    // letting the entry go frees the ring up to there.
    std::uint64_t ringEnd = 0;
    long long modificationTime = 0;
    std::string failure;  // why the file could not be read
    std::optional<HeaderAnswers> answers;
    std::optional<ContentHash> textHash;
    // The record's bytes, From line to final line end, when this thread
    // wrote them: they take the place of the message's bytes in the ring.
    const char* record = nullptr;
    std::size_t recordSize = 0;
  };
  // A message read whole, served from memory.
  class HeldMessage : public MessageSource {
   public:
    std::size_t Read(char* buffer, std::size_t size) override;
    long long FallbackTime() const override { return entry.modificationTime; }
    std::int64_t SizeHint() const override { return static_cast<std::int64_t>(entry.size); }
    bool Whole(std::string_view& bytes) override;
    const HeaderAnswers* KnownAnswers() const override {
      return entry.answers ? &*entry.answers : nullptr;
    }
    const ContentHash* KnownTextHash() const override {
      return entry.textHash ? &*entry.textHash : nullptr;
    }
    bool KnownRecord(std::string_view& bytes) const override {
      if (entry.record == nullptr) return false;
      bytes = std::string_view(entry.record, entry.recordSize);
      return true;
    }

    Entry entry;
    std::size_t offset = 0;
  };

  void Run();
  // Writes entry's record in the ring, over the message's bytes, when the
  // room around them allows.
  static void WriteRecord(Entry& entry);
  Entry ReadEntry(std::int32_t position, const std::string& name, MessageFolder& folder,
                  MessageReader& reader);
  // Room for size bytes in one piece of the ring; null when there is none
  // yet. Called with the mutex held.
  char* Reserve(std::size_t size, std::uint64_t& end);
  bool CanReserve(std::size_t size) const;
  // Whether the waiting reader may go on: the conversion has taken half of
  // what was read ahead, and the next file fits. Called with the mutex held.
  bool ReaderMayGoOn() const;
  void Release(const Entry& entry);
  // The oldest message read ahead; the queue of them must not be empty.
  Entry& Front() { return ready_[readyFirst_]; }
  void PopFront();
  Entry TakeFront();

  PathQueueRef queue_;
  std::mutex mutex_;
  std::condition_variable readerWake_;  // room for the reading thread
  std::condition_variable takerWake_;   // a message for the conversion
  bool readerWaiting_ = false;
  bool takerWaiting_ = false;
  // The messages read ahead and not yet taken, in a ring of
  // kMostMessagesAhead entries that is allocated once: a queue that grew and
  // shrank would allocate as it went.
  std::unique_ptr<Entry[]> ready_;
  std::size_t readyFirst_ = 0;
  std::size_t readyCount_ = 0;
  std::size_t recordsReady_ = 0;  // those of them whose record was written
  // The messages read ahead are laid one after the other in a ring, and let
  // go in the same order, so no message costs an allocation and the memory
  // read ahead is bounded by the ring's size. A message never wraps round:
  // one that does not fit before the ring's end starts at its beginning.
  std::unique_ptr<char[]> ring_;
  std::uint64_t ringHead_ = 0;  // bytes reserved since the start
  std::uint64_t ringTail_ = 0;  // bytes let go since the start
  std::size_t readerNeeds_ = 0;
  bool stop_ = false;
  bool done_ = false;
  // The position the conversion asked for last: the reading skips to it.
  std::atomic<std::int32_t> wanted_{0};
  std::thread thread_;

  HeldMessage held_;
  std::optional<MessageFile> file_;
  MessageFolder folder_;
};

}  // namespace quillfen
