#include "destination/index_lines.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <utility>

namespace quillfen {

namespace {

std::string Field(std::int64_t number) {
  return " " + std::to_string(number);
}

void AppendField(std::string& out, std::int64_t number) {
  char digits[24];
  char* end = std::to_chars(digits, digits + sizeof digits, number).ptr;
  out += ' ';
  out.append(digits, static_cast<std::size_t>(end - digits));
}

std::string Field(const std::string& text) {
  return " " + std::to_string(text.size()) + ":" + text;
}

// Reads the fields of one whole line, given without its check and line
// end: every read fails at the line's end or at a field that is not there.
class FieldReader {
 public:
  explicit FieldReader(std::string_view text) : text_(text) {}

  bool Keyword(std::string_view& word) {
    const std::size_t end = std::min(text_.find(' '), text_.size());
    if (end == 0) return false;
    word = text_.substr(0, end);
    at_ = end;
    return true;
  }
  bool Read(std::int64_t& value) {
    if (!Space()) return false;
    const char* first = text_.data() + at_;
    const char* last = text_.data() + text_.size();
    const auto [next, error] = std::from_chars(first, last, value);
    if (error != std::errc() || next == first) return false;
    at_ = static_cast<std::size_t>(next - text_.data());
    return true;
  }
  bool Read(int& value) {
    std::int64_t wide = 0;
    if (!Read(wide) || wide < 0 || wide > INT32_MAX) return false;
    value = static_cast<int>(wide);
    return true;
  }
  bool Read(ContentHash& hash) {
    if (!Space() || text_.size() - at_ < 32) return false;
    if (!ParseHashText(text_.substr(at_, 32), hash)) return false;
    at_ += 32;
    return true;
  }
  bool Read(std::string& value) {
    std::int64_t length = 0;
    if (!Read(length) || length < 0) return false;
    if (at_ >= text_.size() || text_[at_] != ':') return false;
    if (static_cast<std::int64_t>(text_.size() - at_ - 1) < length) return false;
    value.assign(text_.substr(at_ + 1, static_cast<std::size_t>(length)));
    at_ += 1 + static_cast<std::size_t>(length);
    return true;
  }
  bool LineEnd() const { return at_ == text_.size(); }

 private:
  bool Space() {
    if (at_ >= text_.size() || text_[at_] != ' ') return false;
    ++at_;
    return true;
  }

  std::string_view text_;
  std::size_t at_ = 0;
};

// A line of the index is never longer than this: a "held" line of the most
// records with the widest numbers, or a "name" line of two long paths. The
// start of a longer one is damage, and is not kept in memory.
constexpr std::size_t kLongestLine = std::size_t{1} << 20;

// A line's check: a space and 16 hexadecimal digits.
constexpr std::size_t kCheckSize = 17;

}  // namespace

void IndexLines::Mailbox(int id, const std::string& relative) {
  text_ += "mailbox" + Field(id) + Field(relative) + "\n";
}

void IndexLines::Held(int id, const std::vector<HeldRecord>& records) {
  constexpr std::size_t kPerLine = 512;
  for (std::size_t first = 0; first < records.size(); first += kPerLine) {
    const std::size_t count = std::min(kPerLine, records.size() - first);
    text_ += "held" + Field(id) + Field(static_cast<std::int64_t>(count));
    for (std::size_t i = first; i < first + count; ++i) {
      // Appended piece by piece: a line holds hundreds of records, and a
      // string put together for each one would cost allocations.
      text_ += ' ';
      AppendHashText(records[i].hash, text_);
      AppendField(text_, records[i].end);
    }
    text_ += '\n';
  }
}

void IndexLines::Length(int id, std::int64_t length, std::int64_t time) {
  text_ += "length" + Field(id) + Field(length) + Field(time) + "\n";
}

void IndexLines::Reset(int id) {
  text_ += "reset" + Field(id) + "\n";
}

void IndexLines::Truncate(int id, std::int64_t count) {
  text_ += "truncate" + Field(id) + Field(count) + "\n";
}

void IndexLines::Open(int id, std::int64_t length) {
  text_ += "open" + Field(id) + Field(length) + "\n";
}

void IndexLines::Closed(int id) {
  text_ += "closed" + Field(id) + "\n";
}

void IndexLines::Name(const std::string& wanted, const std::string& chosen) {
  text_ += "name" + Field(wanted) + Field(chosen) + "\n";
}

void IndexLines::Mark() {
  text_ += "mark\n";
}

void IndexLines::Begin() {
  text_ += "begin\n";
}

void IndexLines::End() {
  text_ += "end\n";
}

std::string LineCheck(std::string_view line, std::int64_t number) {
  static constexpr char kDigits[] = "0123456789abcdef";
  const std::uint64_t check = CheckHash(line, static_cast<std::uint64_t>(number));
  std::string text(kCheckSize, ' ');
  for (std::size_t i = 0; i < 16; ++i) text[kCheckSize - 1 - i] = kDigits[(check >> (4 * i)) & 15];
  return text;
}

IndexedMailbox* IndexReader::Find(int id) {
  const auto found = placeOf_.find(id);
  return found == placeOf_.end() ? nullptr : &contents_.mailboxes[found->second];
}

void IndexReader::Feed(std::string_view piece) {
  while (!piece.empty() && stage_ != Stage::Stopped) {
    const std::size_t end = piece.find('\n');
    if (end == std::string_view::npos) {
      if (partial_.size() + piece.size() > kLongestLine) {
        // No line is this long: what is there is not the index's.
        if (stage_ == Stage::Lines) contents_.trusted = false;
        stage_ = Stage::Stopped;
        return;
      }
      partial_.append(piece);
      return;
    }
    std::string_view line = piece.substr(0, end + 1);
    piece.remove_prefix(end + 1);
    if (!partial_.empty()) {
      partial_.append(line);
      line = partial_;
    }
    TakeLine(line);
    partial_.clear();
  }
}

void IndexReader::TakeLine(std::string_view line) {
  if (stage_ == Stage::FirstLine) {
    if (line == kIndexFirstLine) {
      current_ = true;
    } else if (line == kOldIndexFirstLine) {
      checked_ = false;
    } else {
      // Not Quillfen's index: it says nothing, and is begun afresh.
      contents_.trusted = false;
      stage_ = Stage::Stopped;
      return;
    }
    // What an older index says of the mailboxes was never checked.
    contents_.trusted = current_;
    stage_ = Stage::Lines;
    whole_ = static_cast<std::int64_t>(line.size());
    return;
  }
  std::string_view body = line.substr(0, line.size() - 1);
  if (checked_) {
    if (body.size() < kCheckSize ||
        body.substr(body.size() - kCheckSize) !=
            LineCheck(body.substr(0, body.size() - kCheckSize), lines_ + 1)) {
      contents_.trusted = false;
      stage_ = Stage::Stopped;
      return;
    }
    body.remove_suffix(kCheckSize);
  }
  if (!Replay(body)) {
    contents_.trusted = false;
    stage_ = Stage::Stopped;
    return;
  }
  ++lines_;
  whole_ += static_cast<std::int64_t>(line.size());
}

bool IndexReader::Replay(std::string_view line) {
  FieldReader reader(line);
  std::string_view word;
  if (!reader.Keyword(word)) return false;
  int id = 0;
  if (word == "mailbox") {
    IndexedMailbox made;
    if (!reader.Read(made.id) || !reader.Read(made.relative) || !reader.LineEnd() ||
        Find(made.id) != nullptr || relatives_.count(made.relative) != 0)
      return false;
    placeOf_[made.id] = contents_.mailboxes.size();
    relatives_.insert(made.relative);
    contents_.mailboxes.push_back(std::move(made));
    return true;
  }
  if (word == "name") {
    std::string wanted, chosen;
    if (!reader.Read(wanted) || !reader.Read(chosen) || !reader.LineEnd()) return false;
    contents_.names[wanted] = chosen;
    return true;
  }
  if (word == "begin" || word == "end" || word == "mark") {
    if (!reader.LineEnd()) return false;
    if (word == "mark") {
      // What the conversion wrote so far is on the disk.
      for (const int opened : openedByRun_) {
        IndexedMailbox& mailbox = *Find(opened);
        if (mailbox.openLength < 0) continue;
        mailbox.durableCount = mailbox.held.size();
        mailbox.durableLength = mailbox.known ? mailbox.length : mailbox.openLength;
      }
      return true;
    }
    // A conversion that ended closed every mailbox it opened; one that
    // was killed left its own open, whatever later conversions did.
    if (word == "end")
      for (const int opened : openedByRun_) Find(opened)->openLength = -1;
    openedByRun_.clear();
    return true;
  }
  if (!reader.Read(id) || Find(id) == nullptr) return false;
  IndexedMailbox& mailbox = *Find(id);
  if (word == "held") {
    std::int64_t count = 0;
    if (!reader.Read(count) || count < 0) return false;
    // Only the hashes are kept: where the records end matters to other
    // readers of the index, not to this one.
    const std::size_t before = mailbox.held.size();
    for (std::int64_t i = 0; i < count; ++i) {
      ContentHash hash;
      std::int64_t end = 0;
      if (!reader.Read(hash) || !reader.Read(end)) {
        mailbox.held.resize(before);
        return false;
      }
      mailbox.held.push_back(hash);
    }
    if (reader.LineEnd()) return true;
    mailbox.held.resize(before);
    return false;
  }
  if (word == "length") {
    std::int64_t length = 0, time = 0;
    if (!reader.Read(length) || !reader.Read(time) || !reader.LineEnd() || length < 0) return false;
    mailbox.known = true;
    mailbox.length = length;
    mailbox.time = time;
    return true;
  }
  if (word == "truncate") {
    std::int64_t count = 0;
    if (!reader.Read(count) || count < 0 || !reader.LineEnd()) return false;
    // The records after the first count were taken back.
    if (static_cast<std::size_t>(count) < mailbox.held.size())
      mailbox.held.resize(static_cast<std::size_t>(count));
    mailbox.durableCount = std::min(mailbox.durableCount, mailbox.held.size());
    mailbox.openCount = std::min(mailbox.openCount, mailbox.held.size());
    return true;
  }
  if (word == "reset") {
    if (!reader.LineEnd()) return false;
    mailbox.held.clear();
    mailbox.known = false;
    mailbox.durableCount = mailbox.openCount = 0;
    return true;
  }
  if (word == "open") {
    std::int64_t length = 0;
    if (!reader.Read(length) || length < 0 || !reader.LineEnd()) return false;
    mailbox.openLength = length;
    mailbox.openCount = mailbox.held.size();
    mailbox.durableCount = mailbox.held.size();
    mailbox.durableLength = length;
    openedByRun_.push_back(id);
    return true;
  }
  if (word == "closed") {
    if (!reader.LineEnd()) return false;
    mailbox.openLength = -1;
    return true;
  }
  return false;
}

IndexContents IndexReader::Finish() {
  // A last line cut short (a process ended while appending it) is left
  // out; the index is trusted as far as it is whole.
  partial_.clear();
  for (IndexedMailbox& mailbox : contents_.mailboxes) mailbox.held.shrink_to_fit();
  if (!current_) whole_ = lines_ = 0;
  placeOf_.clear();
  relatives_.clear();
  openedByRun_.clear();
  stage_ = Stage::Stopped;
  return std::exchange(contents_, {});
}

}  // namespace quillfen
