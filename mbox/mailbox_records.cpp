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

// Splits the bytes of a mailbox into records and unquotes their lines, piece
// by piece. The start of a line is held back, as counts, until it is known
// whether it is a separator, a quoted separator look-alike, or plain text.
class RecordSplitter {
 public:
  explicit RecordSplitter(std::vector<HeldRecord>& records) : records_(records) {}

  void Feed(const char* data, std::size_t size, std::int64_t offset) {
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
    EndRecord(length);
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
    inRecord_ = false;
  }

  std::vector<HeldRecord>& records_;
  ContentHasher hasher_;
  bool inRecord_ = false;
  bool skippingFromLine_ = false;
  bool atLineStart_ = true;
  std::size_t greaters_ = 0;
  std::size_t fromMatched_ = 0;
  std::int64_t lineStart_ = 0;
};

}  // namespace

os::Status ReadMailboxRecords(const std::string& root, const std::string& relative,
                              std::int64_t length, std::vector<HeldRecord>& records) {
  os::File file;
  if (os::Status status = file.OpenForReadingBelow(root, relative); !status.ok()) return status;
  const auto piece = std::make_unique_for_overwrite<char[]>(kPieceSize);
  RecordSplitter splitter(records);
  std::int64_t offset = 0;
  while (offset < length) {
    std::size_t got = 0;
    const auto wanted =
        static_cast<std::size_t>(std::min<std::int64_t>(length - offset, kPieceSize));
    if (os::Status status = file.Read(piece.get(), wanted, got); !status.ok()) return status;
    if (got == 0) break;
    splitter.Feed(piece.get(), got, offset);
    offset += static_cast<std::int64_t>(got);
  }
  splitter.Finish(offset);
  return {};
}

}  // namespace quillfen
