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

// Every mailbox the destination knows of, and what each one holds.
//
// A mailbox starts as what the index said of it. Before anything is
// written the destination settles the mailboxes an interrupted conversion
// left open (CutBackInterrupted); then each mailbox is learned once, when
// it is first asked about, as one of:
//   Empty     missing or empty: it holds nothing;
//   Trusted   its length and time are those the index knows: it holds the
//             records the index lists;
//   ReadBack  anything else: its records are read from the mailbox (after
//             cutting back what an interrupted conversion appended there,
//             when power was lost).
// What the index must learn from this is added to the pending lines.
class MailboxLedger {
 public:
  MailboxLedger(const std::string& root, IndexLines& pending);

  // Takes the mailboxes the index names, in its order.
  void Load(std::vector<IndexedMailbox> mailboxes);
  // Cuts back what an interrupted conversion appended after its last mark
  // to every mailbox it left open. Throws DestinationError.
  void CutBackInterrupted();

  // The mailbox at mailboxPath, known from now on if it was not. Throws
  // MessageFailure when it lies outside the destination.
  MailboxState& StateFor(const std::string& mailboxPath);
  // Whether learning the mailbox means reading it back.
  bool NeedsReadingBack(const MailboxState& state) const;
  // Learns what the mailbox holds, once. Throws DestinationError when it
  // cannot be read or cut back.
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

  std::string root_;
  IndexLines& pending_;
  std::unordered_map<std::string, int> idByRelative_;
  std::unordered_map<int, std::unique_ptr<MailboxState>> states_;
  int nextId_ = 1;
};

}  // namespace quillfen
