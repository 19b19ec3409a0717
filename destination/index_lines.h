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
// bytes. Each line ends with a space and its check (16 hexadecimal digits:
// the XXH3 hash of the line before them, seeded with the line's number, the
// first line after kIndexFirstLine being 1), so that a line changed, lost or
// moved is noticed. Lines are only ever appended, and a reader replays them
// in order:
//
//   mailbox ID PATH           the mailbox at PATH (relative) is ID from here on
//   held ID COUNT {HASH END}  it holds COUNT more records: each one's hash
//                             and where it ends
//   length ID LENGTH TIME     its length and modification time now
//   reset ID                  forget what it held and its length
//   truncate ID COUNT         it holds only its first COUNT records
//   open ID LENGTH            a conversion begins to append at LENGTH
//   closed ID                 that conversion's appending is settled
//   mark                      what the lines before say of the mailboxes
//                             the conversion writes is on the disk
//   name WANTED CHOSEN        the mirror folder WANTED is written as CHOSEN
//   begin, end                a conversion begins to write, ends
inline constexpr std::string_view kIndexFirstLine = "quillfen-index 2\n";
// The first line of the index before lines had checks: such an index is
// read for its names, and its mailboxes are read back once.
inline constexpr std::string_view kOldIndexFirstLine = "quillfen-index 1\n";

// The check that ends line number number (without its line end).
std::string LineCheck(std::string_view line, std::int64_t number);

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
  void Mark();
  void Begin();
  void End();

  // The lines, each ending with its line end but without its check: the
  // index file adds the checks as it appends them.
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
  // Where a conversion that did not end began appending to it; -1 when
  // none did, and how many records it held then. Of what that conversion
  // wrote, only the first durableCount records, up to durableLength, were
  // on the disk at its last mark.
  std::int64_t openLength = -1;
  std::size_t openCount = 0;
  std::size_t durableCount = 0;
  std::int64_t durableLength = 0;
};

struct IndexContents {
  // Whether what the index says of the mailboxes can be believed: false
  // when it is of an older kind, not Quillfen's, or damaged (a line whose
  // check fails, or one that cannot be replayed), as a line may have gone
  // missing. Its names are still used.
  bool trusted = true;
  // In the order the index first named them.
  std::vector<IndexedMailbox> mailboxes;
  // The names chosen for mirror folders: wanted to chosen.
  std::unordered_map<std::string, std::string> names;
};

// Reads the index's bytes, given in pieces of any size: what it says does
// not depend on where the pieces end. Lines are replayed as they become
// whole; the first one that fails its check or cannot be replayed ends the
// reading, and the index is then not trusted.
class IndexReader {
 public:
  // Takes the next bytes of the index.
  void Feed(std::string_view piece);
  // What the index says, once every byte was fed.
  IndexContents Finish();
  // The length of the index up to its last whole line, and how many lines
  // there are after the first: where the next line goes and its number.
  // Zero when the index is to be begun afresh (it is empty, of another
  // kind, or its first line was cut short).
  std::int64_t wholeLength() const { return whole_; }
  std::int64_t lines() const { return lines_; }
  // Whether the index's first line is this kind's: lines can then be
  // appended to it.
  bool current() const { return current_; }

 private:
  void TakeLine(std::string_view line);
  bool Replay(std::string_view line);
  IndexedMailbox* Find(int id);

  enum class Stage { FirstLine, Lines, Stopped };
  Stage stage_ = Stage::FirstLine;
  bool current_ = false;
  bool checked_ = true;  // lines end with their checks
  std::string partial_;  // the start of a line not yet whole
  std::int64_t whole_ = 0;
  std::int64_t lines_ = 0;
  IndexContents contents_;
  std::unordered_map<int, std::size_t> placeOf_;  // id to place in contents_
  std::unordered_set<std::string> relatives_;
  // The mailboxes opened since the last "begin" or "end".
  std::vector<int> openedByRun_;
};

}  // namespace quillfen
