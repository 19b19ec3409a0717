#include "destination/index_file.h"

#include <string_view>

#include "destination/destination_errors.h"
#include "destination/destination_lock.h"
#include "os/folders.h"

namespace quillfen {

IndexFile::IndexFile(const std::string& root) : folder_(root + kHiddenFolder) {
  const std::string index = InHiddenFolder("index");
  if (const os::Status opened = file_.OpenForAppendingBelow(root, index); !opened.ok())
    throw DestinationError("cannot write into the destination folder " + root + ": " +
                           ReasonBelow(root + index, opened));
}

IndexContents IndexFile::Read(std::size_t piece) {
  IndexReader reader;
  std::string buffer(piece, '\0');
  for (std::int64_t offset = 0;;) {
    std::size_t got = 0;
    if (const os::Status status = file_.ReadAt(offset, buffer.data(), piece, got); !status.ok())
      throw DestinationError("cannot read the index in " + folder_ + ": " + status.reason());
    if (got == 0) break;
    reader.Feed(std::string_view(buffer.data(), got));
    offset += static_cast<std::int64_t>(got);
  }
  IndexContents contents = reader.Finish();
  // An index that cannot be trusted is begun afresh: what is learned now
  // must not follow lines that may say otherwise.
  hasFirstLine_ = reader.current() && contents.trusted;
  goodLength_ = hasFirstLine_ ? reader.wholeLength() : 0;
  lines_ = hasFirstLine_ ? reader.lines() : 0;
  return contents;
}

void IndexFile::Append(IndexLines& lines, bool flush) {
  const std::string& text = lines.text();
  if (text.empty() && !flush) return;
  std::string out;
  std::int64_t number = lines_;
  if (!hasFirstLine_) {
    out = kIndexFirstLine;
    goodLength_ = 0;
    number = 0;
  }
  out.reserve(out.size() + text.size() + text.size() / 16);
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t end = text.find('\n', at);
    const std::string_view line(text.data() + at, end - at);
    out.append(line);
    out += LineCheck(line, ++number);
    out += '\n';
    at = end + 1;
  }
  // What follows the last whole line was cut short by an ended process, or
  // is an index begun afresh.
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
  lines_ = number;
  if (flush) {
    if (const os::Status status = file_.Flush(); !status.ok())
      throw DestinationError("cannot write the index in " + folder_ + ": " + status.reason());
    // A new index's name must survive a power cut too.
    if (created) (void)os::FlushFolder(folder_);
  }
  lines.Clear();
}

void IndexFile::FlushFileSystem() {
  if (const os::Status status = file_.FlushFileSystem(); !status.ok())
    throw DestinationError("cannot make the mailboxes durable in " + folder_ + ": " +
                           status.reason());
}

}  // namespace quillfen
