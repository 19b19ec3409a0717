#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "convert/mailbox_file.h"
#include "os/file.h"

namespace quillfen {

// Another conversion is writing into the destination right now.
class DestinationBusy : public std::runtime_error {
 public:
  explicit DestinationBusy(const std::string& destination)
      : std::runtime_error("another conversion is writing into " + destination) {}
};

// The destination cannot be written: its folder, or the small hidden folder
// that holds the lock and the journal, cannot be made or written. what()
// names the path and the system's reason.
class DestinationError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// What makes two conversions "the same": the source folder or archive and a
// fingerprint of it (a folder's message names in queue order; an archive's
// size and modification time), with the number of its messages.
struct SourceIdentity {
  std::string path;
  std::uint64_t fingerprint = 0;
  std::int32_t messages = 0;
};

// Builds a fingerprint from the messages of a source, one after the other.
class SourceFingerprint {
 public:
  void Add(std::string_view name, std::int64_t size, std::int64_t modificationTime);
  std::uint64_t value() const { return hash_; }

 private:
  void Mix(std::string_view bytes);
  std::uint64_t hash_ = 14695981039346656037ull;
};

// What the destination already holds of a source.
enum class EarlierConversion {
  None,           // nothing of it
  Interrupted,    // a conversion of it that did not finish (or left failures)
  Finished,       // a finished conversion of it
  ChangedSource,  // a conversion of the same folder or archive, since changed
};

// One conversion's hold on its destination: the destination's lock, and the
// journal that lets a later run continue exactly where an interrupted one
// stopped. Both live in the hidden folder ".quillfen" of the destination.
//
// The journal records, for each mailbox the conversion writes into, its
// length before the conversion's first record (written and flushed to disk
// before that record), and now and then a mark: how many messages of the
// queue were dealt with, and the length and record count of every mailbox
// at that moment. A mark costs one write for hundreds of messages; what
// came after the last mark is cut back and done again when the conversion
// is resumed, so every message arrives exactly once, whatever ended the
// process.
class DestinationJournal {
 public:
  // Creates destinationRoot (ending with the separator) when missing, takes
  // its lock and reads its journal. Throws DestinationBusy while another
  // conversion holds the lock, and DestinationError when the destination
  // cannot be made or written. Nothing is changed before Begin.
  DestinationJournal(std::string destinationRoot, SourceIdentity source);
  // Closes the mailboxes and gives up the lock; a conversion that was not
  // finished stays resumable.
  ~DestinationJournal();
  DestinationJournal(const DestinationJournal&) = delete;
  DestinationJournal& operator=(const DestinationJournal&) = delete;

  const std::string& destinationRoot() const { return root_; }
  EarlierConversion earlier() const { return earlier_; }
  // For an interrupted conversion: how many messages it converted already.
  std::int32_t alreadyConverted() const { return alreadyConverted_; }

  // Starts writing. resume continues the interrupted conversion of this
  // source (only when earlier() is Interrupted): its mailboxes are cut back
  // to their last whole record. Otherwise a new conversion begins; an
  // interrupted conversion of another source is closed first, its mailboxes
  // cut back to their last whole record. Throws DestinationError.
  void Begin(bool resume);

  // Whether message index (its position among the source's messages, from
  // 0) still has to be converted into mailboxPath: false only for messages
  // that the resumed conversion converted before.
  bool Needed(std::int32_t index, const std::string& mailboxPath) const;

  // The open mailbox at mailboxPath, opened and journalled before its first
  // record. Throws MessageFailure.
  MailboxFile& Mailbox(const std::string& mailboxPath);
  // A record of message index is in mailboxPath.
  void Converted(std::int32_t index, const std::string& mailboxPath);
  // Message index could not be converted; a resumed conversion tries again.
  void Failed(std::int32_t index);
  // Message index is dealt with, converted or failed; now and then this
  // writes a mark.
  void Settled(std::int32_t index);

  // The mailboxes of this conversion that hold at least one of its records,
  // in the order they were first written.
  std::vector<std::string> Mailboxes() const;
  // The number of records of this conversion, those of a resumed run
  // included.
  std::int32_t RecordCount() const;

  // Records whose batch could not be written (a full disk): each message's
  // name and the reason, since the last call. Such a message counts as
  // failed, and a resumed conversion tries it again.
  std::vector<std::pair<std::string, std::string>> TakeLateFailures();

  // Ends the conversion: closes every mailbox and records that it finished.
  // Gives the mailboxes whose closing failed, each with its reason.
  std::vector<std::pair<std::string, std::string>> Finish();
  // Records how far the conversion got; a later run resumes from there.
  void Stop();
  // Takes back every record of this conversion, as if it never ran (the
  // source turned out to be damaged). Gives the mailboxes that could not be
  // cut back, each with its reason; the conversion then stays recorded as
  // interrupted, so that its records are not taken for the user's own.
  std::vector<std::pair<std::string, std::string>> Abandon();

 private:
  struct MailboxEntry;
  struct Conversion;

  void Read();
  void Assess();
  void Append(const std::string& text, bool flush);
  void WriteMark();
  void CloseLeastRecentlyUsed();
  void Reconcile(MailboxEntry& mailbox);
  std::string Relative(const std::string& mailboxPath) const;

  std::string root_;
  SourceIdentity source_;
  std::string folder_;
  os::File lock_;
  os::File journal_;
  std::int64_t journalGoodLength_ = 0;
  bool journalHasHeader_ = false;

  std::vector<Conversion> conversions_;
  EarlierConversion earlier_ = EarlierConversion::None;
  std::int32_t alreadyConverted_ = 0;

  // The conversion being written, once Begin has run.
  Conversion* current_ = nullptr;
  std::map<std::string, int> idByRelative_;
  std::string pending_;
  std::int32_t sinceMark_ = 0;
  std::uint64_t useClock_ = 0;
  std::size_t openFiles_ = 0;
  std::vector<std::pair<std::string, std::string>> closeFailures_;
  std::vector<std::pair<std::string, std::string>> lateFailures_;
  // The mailbox of the last Mailbox call, the one whose batch is filling.
  MailboxEntry* active_ = nullptr;
};

}  // namespace quillfen
