#include "destination/index_file.h"

#include <string_view>

#include "destination/destination_errors.h"
#include "destination/destination_lock.h"
#include "os/folders.h"

namespace quillfen {

namespace {

constexpr std::size_t kReadPiece = std::size_t{1} << 20;

}  // namespace

IndexFile::IndexFile(const std::string& root) : folder_(root + kHiddenFolder) {
  const std::string index = InHiddenFolder("index");
  if (const os::Status opened = file_.OpenForAppendingBelow(root, index); !opened.ok())
    throw DestinationError("cannot write into the destination folder " + root + ": " +
                           ReasonBelow(root + index, opened));
}

IndexContents IndexFile::Read() {
  // The index is read a piece at a time; a line may straddle two pieces.
  std::string text;
  std::int64_t offset = 0;
  std::size_t consumed = 0;  // bytes of text already replayed
  bool atEnd = false;
  const auto more = [&]() {
    text.erase(0, consumed);
    consumed = 0;
    const std::size_t had = text.size();
    text.resize(had + kReadPiece);
    std::size_t got = 0;
    if (const os::Status status = file_.ReadAt(offset, text.data() + had, kReadPiece, got);
        !status.ok())
      throw DestinationError("cannot read the index in " + folder_ + ": " + status.reason());
    text.resize(had + got);
    offset += static_cast<std::int64_t>(got);
    atEnd = got == 0;
  };
  more();
  while (!atEnd && text.size() < kIndexFirstLine.size()) more();
  if (!std::string_view(text).starts_with(kIndexFirstLine)) {
    goodLength_ = 0;
    return {};
  }
  hasFirstLine_ = true;
  consumed = kIndexFirstLine.size();
  std::int64_t good = static_cast<std::int64_t>(kIndexFirstLine.size());
  IndexReplay replay;
  for (;;) {
    std::size_t used = 0;
    const IndexReplay::Line line = replay.Next(std::string_view(text).substr(consumed), used);
    if (line == IndexReplay::Line::Whole) {
      consumed += used;
      good += static_cast<std::int64_t>(used);
      continue;
    }
    if (line == IndexReplay::Line::Short && !atEnd) {
      more();
      continue;
    }
    // The end, or a line cut short by an ended process or damaged: the
    // index is taken as far as it is whole.
    break;
  }
  goodLength_ = good;
  return replay.Take();
}

void IndexFile::Append(IndexLines& lines, bool flush) {
  const std::string& text = lines.text();
  if (text.empty() && !flush) return;
  std::string out;
  if (!hasFirstLine_) {
    out = kIndexFirstLine;
    goodLength_ = 0;
  }
  out += text;
  // What follows the last whole line was cut short by an ended process.
  if (const os::Status status = file_.CutBack(goodLength_); !status.ok())
    throw DestinationError("cannot write the index in " + folder_ + ": " + status.reason());
  if (const os::Status status = file_.Append(out); !status.ok()) {
    // A line cut short is dropped by the next reader; the index still ends
    // on a whole line for whoever appends next.
    (void)file_.CutBack(goodLength_);
    throw DestinationError("cannot write the index in " + folder_ + ": " + status.reason());
  }
  const bool created = !hasFirstLine_;
  hasFirstLine_ = true;
  goodLength_ += static_cast<std::int64_t>(out.size());
  if (flush) {
    if (const os::Status status = file_.Flush(); !status.ok())
      throw DestinationError("cannot write the index in " + folder_ + ": " + status.reason());
    // A new index's name must survive a power cut too.
    if (created) (void)os::FlushFolder(folder_);
  }
  lines.Clear();
}

}  // namespace quillfen
