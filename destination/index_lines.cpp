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

// Reads one line's fields from a buffer that may end in the middle of it:
// every read fails once the buffer is used up, and short_read() then tells
// a line cut by the buffer's end from a damaged one.
class FieldReader {
 public:
  explicit FieldReader(std::string_view text) : text_(text) {}

  std::size_t position() const { return at_; }
  bool short_read() const { return short_; }

  bool Keyword(std::string_view& word) {
    const std::size_t end = text_.find_first_of(" \n", at_);
    if (end == std::string_view::npos) return Short();
    if (end == at_) return false;
    word = text_.substr(at_, end - at_);
    at_ = end;
    return true;
  }
  bool Read(std::int64_t& value) {
    if (!Space()) return false;
    const char* first = text_.data() + at_;
    const char* last = text_.data() + text_.size();
    const auto [next, error] = std::from_chars(first, last, value);
    if (error != std::errc() || next == first) return false;
    if (next == last) return Short();
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
    if (!Space()) return false;
    if (text_.size() - at_ < 32) return Short();
    if (!ParseHashText(text_.substr(at_, 32), hash)) return false;
    at_ += 32;
    return true;
  }
  bool Read(std::string& value) {
    std::int64_t length = 0;
    if (!Read(length) || length < 0) return false;
    if (text_[at_] != ':') return false;
    if (static_cast<std::int64_t>(text_.size() - at_ - 1) < length) return Short();
    value.assign(text_.substr(at_ + 1, static_cast<std::size_t>(length)));
    at_ += 1 + static_cast<std::size_t>(length);
    return true;
  }
  bool LineEnd() {
    if (at_ >= text_.size()) return Short();
    if (text_[at_] != '\n') return false;
    ++at_;
    return true;
  }

 private:
  bool Space() {
    if (at_ >= text_.size()) return Short();
    if (text_[at_] != ' ') return false;
    ++at_;
    return true;
  }
  bool Short() {
    short_ = true;
    return false;
  }

  std::string_view text_;
  std::size_t at_ = 0;
  bool short_ = false;
};

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

void IndexLines::Begin() {
  text_ += "begin\n";
}

void IndexLines::End() {
  text_ += "end\n";
}

IndexedMailbox* IndexReplay::Find(int id) {
  const auto found = placeOf_.find(id);
  return found == placeOf_.end() ? nullptr : &contents_.mailboxes[found->second];
}

IndexReplay::Line IndexReplay::Next(std::string_view text, std::size_t& used) {
  FieldReader reader(text);
  std::string_view word;
  bool ok = reader.Keyword(word);
  if (ok) {
    int id = 0;
    if (word == "mailbox") {
      IndexedMailbox made;
      ok = reader.Read(made.id) && reader.Read(made.relative) && reader.LineEnd() &&
           Find(made.id) == nullptr && relatives_.count(made.relative) == 0;
      if (ok) {
        placeOf_[made.id] = contents_.mailboxes.size();
        relatives_.insert(made.relative);
        contents_.mailboxes.push_back(std::move(made));
      }
    } else if (word == "name") {
      std::string wanted, chosen;
      ok = reader.Read(wanted) && reader.Read(chosen) && reader.LineEnd();
      if (ok) contents_.names[wanted] = chosen;
    } else if (word == "held") {
      std::int64_t count = 0;
      ok = reader.Read(id) && Find(id) != nullptr && reader.Read(count) && count >= 0;
      if (ok) {
        // Only the hashes are kept: where the records end matters to
        // other readers of the index, not to this one.
        std::vector<ContentHash>& held = Find(id)->held;
        const std::size_t before = held.size();
        for (std::int64_t i = 0; ok && i < count; ++i) {
          ContentHash hash;
          std::int64_t end = 0;
          ok = reader.Read(hash) && reader.Read(end);
          if (ok) held.push_back(hash);
        }
        ok = ok && reader.LineEnd();
        if (!ok) held.resize(before);
      }
    } else if (word == "length") {
      std::int64_t length = 0, time = 0;
      ok = reader.Read(id) && Find(id) != nullptr && reader.Read(length) && reader.Read(time) &&
           reader.LineEnd();
      if (ok) {
        IndexedMailbox& mailbox = *Find(id);
        mailbox.known = true;
        mailbox.length = length;
        mailbox.time = time;
      }
    } else if (word == "truncate") {
      std::int64_t count = 0;
      ok = reader.Read(id) && Find(id) != nullptr && reader.Read(count) && count >= 0 &&
           reader.LineEnd();
      // The records after the first count were taken back.
      if (ok && static_cast<std::size_t>(count) < Find(id)->held.size())
        Find(id)->held.resize(static_cast<std::size_t>(count));
    } else if (word == "reset") {
      ok = reader.Read(id) && Find(id) != nullptr && reader.LineEnd();
      if (ok) {
        Find(id)->held.clear();
        Find(id)->known = false;
      }
    } else if (word == "open") {
      std::int64_t length = 0;
      ok = reader.Read(id) && Find(id) != nullptr && reader.Read(length) && reader.LineEnd();
      if (ok) {
        Find(id)->openLength = length;
        openedByRun_.push_back(id);
      }
    } else if (word == "closed") {
      ok = reader.Read(id) && Find(id) != nullptr && reader.LineEnd();
      if (ok) Find(id)->openLength = -1;
    } else if (word == "begin" || word == "end") {
      ok = reader.LineEnd();
      // A conversion that ended closed every mailbox it opened; one that
      // was killed left its own open, whatever later conversions did.
      if (ok && word == "end")
        for (const int opened : openedByRun_) Find(opened)->openLength = -1;
      if (ok) openedByRun_.clear();
    } else {
      ok = false;
    }
  }
  if (ok) {
    used = reader.position();
    return Line::Whole;
  }
  return reader.short_read() ? Line::Short : Line::Damaged;
}

IndexContents IndexReplay::Take() {
  for (IndexedMailbox& mailbox : contents_.mailboxes) mailbox.held.shrink_to_fit();
  placeOf_.clear();
  relatives_.clear();
  openedByRun_.clear();
  return std::exchange(contents_, {});
}

}  // namespace quillfen
