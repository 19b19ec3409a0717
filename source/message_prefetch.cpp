#include "source/message_prefetch.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <utility>

#include "mbox/envelope_line.h"
#include "mbox/message_failure.h"
#include "mbox/record_bytes.h"
#include "os/read_ahead.h"
#include "os/thread.h"
#include "source/message_name.h"

namespace quillfen {

namespace {

// A message up to this size is read ahead whole; a larger one is read by the
// conversion itself, in pieces of the same size.
constexpr std::size_t kLargestHeld = std::size_t{1} << 20;
// How far the reading may run ahead. The ring holds the largest message
// read ahead (one byte more, to notice a file that grew) wherever the other
// half of it is taken.
constexpr std::size_t kMostMessagesAhead = 256;
constexpr std::size_t kRingBytes = 4 * kLargestHeld + std::size_t{64} * 1024;
// Each message is read with room before and after it, in which this thread
// turns it into its record when it is well ahead: the From line goes before
// the text, which grows by the ">" of its quoting and the final line end.
// A From line or a quoting that needs more is left to the conversion.
constexpr std::size_t kRecordHead = 256;
constexpr std::size_t kRecordTail = 64;
// How many messages read ahead, leaving out those whose record is written,
// let the reading parse header blocks and write records too.
constexpr std::size_t kAheadToParse = 32;
// How many messages read ahead wake a conversion that sleeps for want of
// them: woken for every message, it would sleep again at once, and the two
// threads would spend their time waking each other.
constexpr std::size_t kReadyToWake = 8;
// How many files are opened and announced to the system ahead of their
// reading, so that the disk fetches that many at once when they are not in
// memory. More than a few dozen gains nothing on a disk and only holds files
// open.
constexpr std::size_t kFilesHintedAhead = 32;
// The files the rest of the conversion may hold open at once, which the
// hinted files must leave room for under the process's limit: the
// destination's 64 mailboxes with their companions, and as many again for
// folders, the index, the log and the libraries.
constexpr std::size_t kFilesOpenElsewhere = std::size_t{3} * 64;
// How much of each file is announced: all of nearly every message, while a
// few dozen huge attachments do not fill the cache before their turn.
constexpr std::int64_t kBytesHinted = std::int64_t{4} << 20;
// How often the reading asks whether the disk was read lately, which decides
// whether the next files are announced.
constexpr std::size_t kFilesBetweenDiskChecks = 32;
// How much read from a disk since the last check means the files come from
// it: four of Linux's 512-byte blocks a file, while the few blocks of folders
// and allocation a conversion reads in memory now and then do not count.
constexpr std::int64_t kDiskReadForFiles = 4 * static_cast<std::int64_t>(kFilesBetweenDiskChecks);

}  // namespace

MessagePrefetch::MessagePrefetch(PathQueueRef queue)
    : queue_(std::move(queue)),
      ready_(std::make_unique<Entry[]>(kMostMessagesAhead)),
      ring_(std::make_unique_for_overwrite<char[]>(kRingBytes)) {
  thread_ = os::StartThread([this] {
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
    const std::size_t reserved = kRecordHead + wanted + kRecordTail;
    char* data = nullptr;
    {
      std::unique_lock lock(mutex_);
      // A record read ahead costs the conversion only its copy: what is
      // ahead of it is the messages it still has to parse and quote.
      ahead = readyCount_ - recordsReady_ >= kAheadToParse;
      data = Reserve(reserved, entry.ringEnd);
      if (data == nullptr) {
        // Full: the reading waits until the conversion has taken half, so
        // that the two threads wake each other seldom.
        readerNeeds_ = reserved;
        readerWaiting_ = true;
        if (takerWaiting_) takerWake_.notify_one();
        readerWake_.wait(lock, [this] { return stop_ || ReaderMayGoOn(); });
        readerWaiting_ = false;
        if (stop_) return entry;
        data = Reserve(reserved, entry.ringEnd);
      }
    }
    data += kRecordHead;
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
      entry.answers = HeaderAnswers{reader.MessageDate(), reader.SenderAddress()};
      // And the hash the destination knows the record by.
      const std::string_view bytes(entry.data, entry.size);
      entry.textHash = HashOfText(bytes.substr(EnvelopeLineLength(bytes)));
      WriteRecord(entry);
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

void MessagePrefetch::WriteRecord(Entry& entry) {
  const std::string_view bytes(entry.data, entry.size);
  const std::size_t envelope = EnvelopeLineLength(bytes);
  // The ring holds one byte more than the message after it, and the tail.
  // A record that does not fit, or a From line with a line break in it
  // (which the conversion refuses), is left to the conversion.
  const std::string_view record = WriteRecordInPlace(
      FromLine(entry.answers->sender, entry.answers->date), entry.data + envelope,
      entry.size - envelope, kRecordHead + envelope, kRecordTail + 1);
  if (record.empty()) return;
  entry.record = record.data();
  entry.recordSize = record.size();
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
  return readyCount_ <= kMostMessagesAhead / 2 && ringHead_ - ringTail_ <= kRingBytes / 2 &&
         CanReserve(readerNeeds_);
}

void MessagePrefetch::Release(const Entry& entry) {
  // Entries are let go in the order they were read, so the ring is free up
  // to the end of the last one let go that held any of it.
  if (entry.ringEnd > ringTail_) ringTail_ = entry.ringEnd;
}

void MessagePrefetch::PopFront() {
  if (Front().record != nullptr) --recordsReady_;
  readyFirst_ = (readyFirst_ + 1) % kMostMessagesAhead;
  --readyCount_;
}

MessagePrefetch::Entry MessagePrefetch::TakeFront() {
  if (Front().record != nullptr) --recordsReady_;
  Entry entry = std::move(Front());
  readyFirst_ = (readyFirst_ + 1) % kMostMessagesAhead;
  --readyCount_;
  return entry;
}

void MessagePrefetch::Run() {
  MessageFolder folder;
  MessageReader reader;
  os::ReadAheadWindow window(kFilesHintedAhead, kFilesOpenElsewhere);
  const PathQueue& queue = *queue_;
  // The next file to announce, and its position.
  auto hint = queue.begin();
  std::int32_t hintPosition = 1;
  std::int32_t position = 0;
  bool announce = true;
  std::size_t sinceDiskCheck = 0;
  for (const std::string& name : queue) {
    ++position;
    // A resumed conversion passes over what it converted before without
    // asking for it: those files are not read.
    const std::int32_t wanted = wanted_.load(std::memory_order_relaxed);
    if (position < wanted) continue;
    if (!IsMessageName(name)) continue;
    window.LetGoBefore(position);
    bool wellAhead = false;
    {
      std::unique_lock lock(mutex_);
      if (readyCount_ >= kMostMessagesAhead) {
        readerNeeds_ = 0;
        readerWaiting_ = true;
        if (takerWaiting_) takerWake_.notify_one();
        readerWake_.wait(lock, [this] { return stop_ || ReaderMayGoOn(); });
        readerWaiting_ = false;
      }
      if (stop_) break;
      wellAhead = readyCount_ >= kAheadToParse;
    }
    // Files are announced only while the disk is being read and the reading
    // is not well ahead of the conversion. Otherwise the files are in
    // memory, and announcing them would only cost the reading, which sets
    // the pace then, the opens it saves on a disk.
    if (window.capacity() > 0 && ++sinceDiskCheck == kFilesBetweenDiskChecks) {
      sinceDiskCheck = 0;
      announce = window.DiskReadSinceAsked() >= kDiskReadForFiles;
    }
    if (announce && !wellAhead && window.capacity() > 0) {
      if (hintPosition < position) {
        std::advance(hint, position - hintPosition);
        hintPosition = position;
      }
      // Only as far as the walk has queued: the reading does not wait for
      // a walk that is still going on to announce files.
      for (; !window.full() && static_cast<std::size_t>(hintPosition) <= queue.size();
           ++hint, ++hintPosition)
        if (hintPosition >= wanted && IsMessageName(*hint))
          window.Add(hintPosition, *hint, kBytesHinted);
    }
    Entry entry = ReadEntry(position, name, folder, reader);
    bool wake = false;
    {
      std::lock_guard lock(mutex_);
      if (stop_) break;
      if (entry.record != nullptr) ++recordsReady_;
      ready_[(readyFirst_ + readyCount_) % kMostMessagesAhead] = std::move(entry);
      ++readyCount_;
      wake = takerWaiting_ && readyCount_ >= kReadyToWake;
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
  {
    std::unique_lock lock(mutex_);
    Release(done);
    for (;;) {
      while (readyCount_ > 0 && Front().position < position) {
        Release(Front());
        PopFront();
      }
      if (readyCount_ > 0 || done_) break;
      // Nothing read yet: the reading must not wait for room either.
      if (readerWaiting_) readerWake_.notify_one();
      // Sleeping, not spinning: the conversion waits here when the reading
      // waits for the disk, which takes far longer than a wake-up, and a
      // thread that spins takes the core the reading may need.
      // It sleeps until a few messages are there, or the reading can go no
      // further (done, or out of room).
      takerWaiting_ = true;
      takerWake_.wait(lock, [this] {
        return readyCount_ >= kReadyToWake || done_ || (readyCount_ > 0 && readerWaiting_);
      });
      takerWaiting_ = false;
    }
    if (readyCount_ > 0 && Front().position == position) {
      found = TakeFront();
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
