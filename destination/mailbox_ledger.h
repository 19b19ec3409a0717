#pragma once

#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "destination/index_lines.h"
#include "destination/mailbox_state.h"
#include "mbox/content_hash.h"
#include "os/folders.h"

namespace quillfen {

// A torn tail that an interrupted conversion left in a mailbox, cut off
// it and kept in the hidden folder.
struct SetAsideTail {
  std::string mailbox;  // the mailbox's path
  std::string keptAs;   // the file that holds the bytes now
  std::int64_t bytes = 0;
};

// Every mailbox the destination knows of, and what each one holds.
//
// A mailbox starts as what the index said of it, and is learned once, when
// it is first asked about, as one of:
//   Empty        missing or empty: it holds nothing;
//   Trusted      its length and time are those the index knows: it holds
//                the records the index lists;
//   Interrupted  a conversion that did not end was appending to it: the
//                records its last mark vouched for are taken from the
//                index, the rest are read back, and a torn tail after them
//                is to be set aside;
//   ReadBack     anything else: its records are read from the mailbox, and
//                nothing of it is ever cut.
// Learning only reads: what the index must learn goes to the pending lines,
// and a torn tail is cut only once writing begins (StartWriting), after the
// user decided, its bytes kept in the hidden folder's "cut" folder.
class MailboxLedger {
 public:
  MailboxLedger(const std::string& root, IndexLines& pending);

  // Takes the mailboxes the index names, in its order. What an index that
  // is not trusted says of them is forgotten: each is read back.
  void Load(std::vector<IndexedMailbox> mailboxes, bool trusted);
  // Learns every mailbox that a conversion which did not end left open,
  // whichever source is converted now, then sets aside their torn tails;
  // from now on a tail is set aside as soon as it is learned. Throws
  // DestinationError.
  void StartWriting();
  // The tails set aside so far.
  const std::vector<SetAsideTail>& setAside() const { return setAside_; }

  // The mailbox at mailboxPath, known from now on if it was not. Throws
  // MessageFailure when it lies outside the destination.
  MailboxState& StateFor(const std::string& mailboxPath);
  // Whether learning the mailbox means reading it back.
  bool NeedsReadingBack(const MailboxState& state) const;
  // Learns what the mailbox holds, once. Throws DestinationError when it
  // cannot be read (or, once writing began, its torn tail set aside).
  void Learn(MailboxState& state);
  // Whether the learned mailbox holds a record with this hash that no
  // earlier call took; takes it if so.
  bool Take(MailboxState& state, const ContentHash& hash);
  // Names the mailbox in the pending lines, unless the index names it.
  void Declare(MailboxState& state);
  // Takes back what this conversion appended to the mailbox (its file
  // closed): a mailbox it created goes, any other is cut back to where the
  // conversion began. The lines for the index go to lines. Gives the reason
  // when that failed, else the empty string.
  std::string TakeBack(MailboxState& state, IndexLines& lines);

 private:
  enum class Verdict { Empty, Trusted, ReadBack };
  Verdict Judge(const MailboxState& state, const os::PathFacts* facts) const;
  // Whether a From line begins at offset in the mailbox, or what a crash
  // left of one.
  bool AtFromLine(const MailboxState& state, std::int64_t offset) const;
  void LearnInterrupted(MailboxState& state, std::vector<ContentHash>& logged, std::int64_t size);
  // The index learns what an interrupted conversion's mailbox holds now.
  void RecordSettled(MailboxState& state, std::int64_t length, std::int64_t time);
  void SetAside(MailboxState& state);
  // Counts the doubtful record as held after all: the mailbox was not
  // compared with the source.
  void KeepDoubtful(MailboxState& state);

  std::string root_;
  IndexLines& pending_;
  std::unordered_map<std::string, int> idByRelative_;
  std::unordered_map<int, std::unique_ptr<MailboxState>> states_;
  int nextId_ = 1;
  bool writing_ = false;
  std::vector<SetAsideTail> setAside_;
};

}  // namespace quillfen
