#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "destination/destination_errors.h"
#include "destination/destination_lock.h"
#include "destination/index_file.h"
#include "destination/index_lines.h"
#include "destination/mailbox_file.h"
#include "destination/mailbox_ledger.h"
#include "destination/mailbox_pool.h"
#include "mbox/content_hash.h"

namespace quillfen {

// A destination folder, held by one conversion at a time, that knows every
// message it holds. For each mailbox below it, an index in the hidden folder
// ".quillfen" lists the records the mailbox holds (the hash of each one's
// text and where it ends) with the mailbox's length and modification time.
//
// The mailboxes are the truth and the index is a cache of them: a mailbox
// whose length or time disagrees with the index (the index or the hidden
// folder was lost, the user edited the mailbox, another program wrote it),
// and every mailbox of an index that is damaged, is read back to learn its
// records. The one exception is the tail that an interrupted conversion
// appended after its last mark: its records are read back too, and a last
// one left torn (cut short, or zeros where a power cut lost writes) is cut
// off and kept in the hidden folder, once the user decided to convert.
// Whatever else a mailbox holds is never cut or rewritten.
//
// Records are written in batches; the index learns of a record only after
// it reached its mailbox, and marks (written once every few thousand
// messages, after the mailboxes and then the index are flushed to disk)
// vouch for what is durable: a few flushes per thousand messages rather
// than one per mailbox.
//
// Its parts, each in its own file: DestinationLock (the lock and the hidden
// folder), IndexFile and IndexLines (the index on disk and its lines),
// MailboxLedger (what each mailbox holds, and settling it when the index
// and the mailbox disagree) and MailboxPool (the mailboxes open for
// writing). This class ties them to a conversion's steps.
class Destination {
 public:
  // Creates root (ending with the separator) when missing, takes its lock
  // and reads its index. Throws DestinationBusy while another conversion
  // holds the lock, DestinationError when the destination cannot be made
  // or written. A damaged index is read as far as it is whole.
  explicit Destination(std::string root);
  // Closes the mailboxes and gives up the lock.
  ~Destination();
  Destination(const Destination&) = delete;
  // A mark is made after this many messages: it waits until what was
  // written is on the disk, so it costs what the disk still has to write.
  // A run cut off between marks loses nothing by it: what it wrote after
  // its last mark is read back and kept as far as it is whole.
  static constexpr std::int32_t kMessagesPerMark = 4096;
  // Tests make marks more often (0: kMessagesPerMark again), so that a
  // small conversion reaches every kind of state a crash can leave.
  static void SetMessagesPerMarkForTests(std::int32_t count);
  Destination& operator=(const Destination&) = delete;

  const std::string& root() const { return root_; }

  // What a mailbox holds, learned before anything is written.
  //
  // Whether learning what mailboxPath holds means reading it back (the
  // index does not know it, or disagrees with it).
  bool NeedsReadingBack(const std::string& mailboxPath);
  // Learns what mailboxPath holds: from the index, or by reading it back
  // (an interrupted conversion's torn tail is cut back first). Throws
  // DestinationError when the mailbox cannot be read or cut back.
  void Learn(const std::string& mailboxPath);
  // Whether the learned mailbox holds any record.
  bool HoldsAny(const std::string& mailboxPath);
  // Whether the learned mailbox holds a record with this hash that no
  // earlier call took; takes it if so. Equal messages are counted: two
  // equal records answer two calls.
  bool Take(const std::string& mailboxPath, const ContentHash& hash);

  // The names earlier conversions chose for mirror folders (both relative,
  // ending with the separator): the folder's own name to the one written.
  const std::unordered_map<std::string, std::string>& ChosenNames() const { return names_; }
  // Keeps a choice of name for later conversions (written with the index).
  void RememberName(const std::string& wanted, const std::string& chosen);

  // Writing.
  //
  // Starts writing, once the user decided: the torn tails that interrupted
  // conversions left are set aside, and the index learns what was learned
  // of the mailboxes, so that the next run need not read them back again.
  // Until then nothing below the destination is changed. Throws
  // DestinationError.
  void Begin();
  // The torn tails set aside since the destination was taken.
  const std::vector<SetAsideTail>& SetAside() const { return ledger_.setAside(); }
  // The open mailbox at mailboxPath, opened (and learned, when it was not)
  // before its first record. Throws MessageFailure.
  MailboxFile& Mailbox(const std::string& mailboxPath);
  // A message was dealt with; once every few thousand, the records written
  // since the last mark go into the index. Throws DestinationError.
  void Settled();
  // Records whose batch could not be written (a full disk), since the last
  // call.
  std::vector<LateFailure> TakeLateFailures();
  // Ends the writing: closes every mailbox and writes the index. Gives the
  // mailboxes whose closing failed, each with its reason. Throws
  // DestinationError when the index cannot be written.
  std::vector<std::pair<std::string, std::string>> Finish();
  // Takes back every record written since Begin (the source turned out to
  // be damaged). Gives the mailboxes that could not be cut back.
  std::vector<std::pair<std::string, std::string>> Abandon();

  // The records written since Begin that reached their mailboxes.
  std::int32_t RecordsAdded() const { return pool_.recordsAdded(); }
  // The mailboxes that received a record since Begin, in the order they
  // were first opened.
  std::vector<std::string> MailboxesWritten() const;

 private:
  void WriteMark();

  // Destroyed in reverse: the mailboxes are closed, then the index, then
  // the lock is given up.
  std::string root_;
  DestinationLock lock_;
  IndexFile index_;
  // What the index is to learn when it is next written.
  IndexLines pending_;
  MailboxLedger ledger_;
  MailboxPool pool_;
  std::unordered_map<std::string, std::string> names_;
  bool writing_ = false;
  std::int32_t sinceMark_ = 0;
};

}  // namespace quillfen
