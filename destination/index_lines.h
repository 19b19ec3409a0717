#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "mbox/content_hash.h"
#include "mbox/mailbox_records.h"

namespace quillfen {

// The index's text. It begins with kIndexFirstLine; every later line is a
// keyword and its fields, each after one space: a number in decimal, a
// hash as 32 hexadecimal digits, a text as its length, a colon and its
// bytes. Lines are only ever appended, and a reader replays them in order:
//
//   mailbox ID PATH           the mailbox at PATH (relative) is ID from here on
//   held ID COUNT {HASH END}  it holds COUNT more records: each one's hash
//                             and where it ends
//   length ID LENGTH TIME     its length and modification time now
//   reset ID                  forget what it held and its length
//   truncate ID COUNT         it holds only its first COUNT records
//   open ID LENGTH            a conversion begins to append at LENGTH
//   closed ID                 that conversion's appending is settled
//   name WANTED CHOSEN        the mirror folder WANTED is written as CHOSEN
//   begin, end                a conversion begins to write, ends
inline constexpr std::string_view kIndexFirstLine = "quillfen-index 1\n";

// Lines gathered to be appended to the index together.
class IndexLines {
 public:
  void Mailbox(int id, const std::string& relative);
  // As many "held" lines as records needs, a few hundred records to a line,
  // so that a reader never needs much of the index at once.
  void Held(int id, const std::vector<HeldRecord>& records);
  void Length(int id, std::int64_t length, std::int64_t time);
  void Reset(int id);
  void Truncate(int id, std::int64_t count);
  void Open(int id, std::int64_t length);
  void Closed(int id);
  void Name(const std::string& wanted, const std::string& chosen);
  void Begin();
  void End();

  const std::string& text() const { return text_; }
  void Clear() { text_.clear(); }

 private:
  std::string text_;
};

// What the index says of one mailbox once its lines are replayed.
struct IndexedMailbox {
  int id = 0;
  std::string relative;
  // The hashes of the records it holds, in the order they were written.
  std::vector<ContentHash> held;
  // Whether the length and time it had when they were written are known.
  bool known = false;
  std::int64_t length = 0;
  std::int64_t time = 0;
  // Where a conversion that was interrupted began appending to it; -1 when
  // none did.
  std::int64_t openLength = -1;
};

struct IndexContents {
  // In the order the index first named them.
  std::vector<IndexedMailbox> mailboxes;
  // The names chosen for mirror folders: wanted to chosen.
  std::unordered_map<std::string, std::string> names;
};

// Replays the index's lines after its first one, one line at a time.
class IndexReplay {
 public:
  enum class Line {
    Whole,    // replayed
    Short,    // the text ends inside the line: more may follow
    Damaged,  // not a line of the index, or one that contradicts the others
  };
  // Replays the line at the start of text; used receives its length, line
  // end included, when it is whole. Nothing of a line that is not whole is
  // taken.
  Line Next(std::string_view text, std::size_t& used);
  // What the lines replayed so far say.
  IndexContents Take();

 private:
  IndexedMailbox* Find(int id);

  IndexContents contents_;
  std::unordered_map<int, std::size_t> placeOf_;  // id to place in contents_
  std::unordered_set<std::string> relatives_;
  // The mailboxes opened since the last "begin" or "end".
  std::vector<int> openedByRun_;
};

}  // namespace quillfen
