#include "mbox/mailbox_records.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <string_view>

#include "os/file.h"

namespace quillfen {

namespace {

constexpr std::string_view kFrom = "From ";
constexpr std::size_t kPieceSize = std::size_t{1} << 20;
// Zero bytes in a row that no message holds, but a file system that lost
// writes in a power cut leaves (a block at least).
constexpr std::size_t kZeroRun = 256;

// Splits the bytes of a mailbox into records and unquotes their lines, piece
// by piece. The start of a line is held back, as counts, until it is known
// whether it is a separator, a quoted separator look-alike, or plain text.
class RecordSplitter {
 public:
  // Bytes are fed from offset from on, where a line starts.
  RecordSplitter(std::vector<HeldRecord>& records, std::int64_t from, bool findTorn)
      : records_(records), findTorn_(findTorn), lineStart_(from) {}

  void Feed(const char* data, std::size_t size, std::int64_t offset) {
    if (findTorn_ && size > 0) {
      if (head_.size() < 2) head_.append(data, std::min<std::size_t>(size, 2 - head_.size()));
      LookForZeros(data, size, offset);
      lastByte_ = data[size - 1];
    }
    std::size_t at = 0;
    while (at < size) {
      if (skippingFromLine_) {
        const void* end = std::memchr(data + at, '\n', size - at);
        if (end == nullptr) return;
        at = static_cast<std::size_t>(static_cast<const char*>(end) - data) + 1;
        skippingFromLine_ = false;
        StartLine(offset + static_cast<std::int64_t>(at));
        continue;
      }
      if (atLineStart_) {
        const char c = data[at];
        if (fromMatched_ == 0 && c == '>') {
          ++greaters_;
          ++at;
          continue;
        }
        if (c == kFrom[fromMatched_]) {
          ++at;
          if (++fromMatched_ < kFrom.size()) continue;
          atLineStart_ = false;
          if (greaters_ == 0) {
            // A separator: the record before it ends where this line starts.
            EndRecord(lineStart_);
            inRecord_ = true;
            if (findTorn_) starts_.push_back(lineStart_);
            skippingFromLine_ = true;
          } else {
            Emit(std::string(greaters_ - 1, '>'));
            Emit(kFrom);
          }
          continue;
        }
        ReleaseHeld();
        atLineStart_ = false;
      }
      const void* end = std::memchr(data + at, '\n', size - at);
      const std::size_t lineEnd =
          end == nullptr ? size
                         : static_cast<std::size_t>(static_cast<const char*>(end) - data) + 1;
      Emit(std::string_view(data + at, lineEnd - at));
      at = lineEnd;
      if (end != nullptr) StartLine(offset + static_cast<std::int64_t>(at));
    }
  }

  void Finish(std::int64_t length) {
    if (atLineStart_) ReleaseHeld();
    if (findTorn_ && inRecord_ && lastByte_ != '\n') recordTorn_ = true;
    EndRecord(length);
  }

  // Where the first torn record of those fed from from on begins, or -1.
  std::int64_t Torn(std::int64_t from, std::int64_t length) const {
    const std::int64_t firstStart = starts_.empty() ? length : starts_.front();
    // Before the first record only the line end that closed another
    // program's last line may come; anything else is what is left of a
    // record cut short.
    const std::int64_t leading = firstStart - from;
    const bool lineEnd =
        (leading == 1 && head_.starts_with('\n')) || (leading == 2 && head_.starts_with("\r\n"));
    if ((leading > 0 && !lineEnd) || (zeroAt_ >= 0 && zeroAt_ < firstStart)) return from;
    std::int64_t torn = torn_;
    if (zeroAt_ >= 0) {
      // The record that holds the run: the last one to begin before it.
      const auto after = std::upper_bound(starts_.begin(), starts_.end(), zeroAt_);
      const std::int64_t holder = *(after - 1);
      torn = torn < 0 ? holder : std::min(torn, holder);
    }
    return torn;
  }

 private:
  void StartLine(std::int64_t offset) {
    atLineStart_ = true;
    greaters_ = 0;
    fromMatched_ = 0;
    lineStart_ = offset;
  }
  void ReleaseHeld() {
    if (greaters_ > 0) Emit(std::string(greaters_, '>'));
    Emit(kFrom.substr(0, fromMatched_));
    greaters_ = 0;
    fromMatched_ = 0;
  }
  void Emit(std::string_view bytes) {
    if (inRecord_ && !bytes.empty()) hasher_.Feed(bytes);
  }
  void EndRecord(std::int64_t end) {
    if (inRecord_) records_.push_back({hasher_.Finish(), end});
    if (inRecord_ && recordTorn_ && torn_ < 0) torn_ = starts_.back();
    inRecord_ = false;
    recordTorn_ = false;
  }
  // Notes where the first long run of zero bytes begins.
  void LookForZeros(const char* data, std::size_t size, std::int64_t offset) {
    for (std::size_t at = 0; at < size && zeroAt_ < 0;) {
      if (zeros_ == 0) {
        const void* zero = std::memchr(data + at, 0, size - at);
        if (zero == nullptr) return;
        at = static_cast<std::size_t>(static_cast<const char*>(zero) - data);
      }
      if (data[at] != 0) {
        zeros_ = 0;
        continue;
      }
      ++at;
      if (++zeros_ == kZeroRun) zeroAt_ = offset + static_cast<std::int64_t>(at - kZeroRun);
    }
  }

  std::vector<HeldRecord>& records_;
  const bool findTorn_;
  std::vector<std::int64_t> starts_;  // where each record begins
  std::string head_;                  // the first bytes fed
  std::int64_t zeroAt_ = -1;
  std::int64_t torn_ = -1;
  bool recordTorn_ = false;
  std::size_t zeros_ = 0;
  char lastByte_ = '\n';
  ContentHasher hasher_;
  bool inRecord_ = false;
  bool skippingFromLine_ = false;
  bool atLineStart_ = true;
  std::size_t greaters_ = 0;
  std::size_t fromMatched_ = 0;
  std::int64_t lineStart_ = 0;
};

os::Status ReadRecords(const std::string& root, const std::string& relative, std::int64_t from,
                       std::int64_t length, RecordSplitter& splitter, std::int64_t& end) {
  os::File file;
  if (os::Status status = file.OpenForReadingBelow(root, relative); !status.ok()) return status;
  const auto piece = std::make_unique_for_overwrite<char[]>(kPieceSize);
  std::int64_t offset = from;
  while (offset < length) {
    std::size_t got = 0;
    const auto wanted =
        static_cast<std::size_t>(std::min<std::int64_t>(length - offset, kPieceSize));
    if (os::Status status = file.ReadAt(offset, piece.get(), wanted, got); !status.ok())
      return status;
    if (got == 0) break;
    splitter.Feed(piece.get(), got, offset);
    offset += static_cast<std::int64_t>(got);
  }
  splitter.Finish(offset);
  end = offset;
  return {};
}

}  // namespace

os::Status ReadMailboxRecords(const std::string& root, const std::string& relative,
                              std::int64_t length, std::vector<HeldRecord>& records) {
  RecordSplitter splitter(records, 0, false);
  std::int64_t end = 0;
  return ReadRecords(root, relative, 0, length, splitter, end);
}

os::Status ReadMailboxTail(const std::string& root, const std::string& relative, std::int64_t from,
                           std::int64_t length, std::vector<HeldRecord>& records,
                           std::int64_t& torn) {
  RecordSplitter splitter(records, from, true);
  std::int64_t end = from;
  torn = -1;
  if (os::Status status = ReadRecords(root, relative, from, length, splitter, end); !status.ok())
    return status;
  torn = end > from ? splitter.Torn(from, end) : -1;
  return {};
}

}  // namespace quillfen
