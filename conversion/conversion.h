#pragma once

#include <cstdint>
#include <functional>
#include <stop_token>
#include <string>
#include <vector>

#include "source/path_queue.h"

namespace quillfen {

class ExportArchive;

// What to convert, and where to.
struct ConversionRequest {
  // The extracted export folder or the export archive (.tgz, .tar.gz, .tar),
  // an absolute path.
  std::string source;
  // The destination folder, an absolute path; created when missing.
  std::string destination;
  // A folder's queue when the front end scanned the folder already (else
  // the conversion scans it).
  PathQueueRef scanned;
  // An archive the front end has opened (and counted) already, else null.
  ExportArchive* archive = nullptr;
};

// What the destination already holds of the source, told before anything
// is written.
struct ConversionPlan {
  std::string source;
  std::string destinationRoot;  // ends with the separator
  bool archive = false;
  // Queued files (a folder's) or entries other than folders (an archive's);
  // the progress counts them.
  std::int32_t files = 0;
  // The messages of the source, and how many of them the destination holds
  // already. An archive read in one pass into a destination that holds
  // nothing of it learns its number of messages only at its end: then
  // messagesKnown is false and messages is 0. So does a folder that no
  // front end scanned, converted while it is walked into a destination that
  // holds nothing of it.
  std::int32_t messages = 0;
  bool messagesKnown = true;
  std::int32_t held = 0;
};

// What the front end decides once it knows the plan.
enum class Decision {
  ConvertMissing,  // append the messages the destination does not hold yet
  SecondCopy,      // append every message, those held included
  Cancel,          // write nothing
};

// How far a conversion is.
struct ConversionProgress {
  // Messages dealt with (converted, failed or held already) of all of them
  // (0 when not known yet).
  std::int32_t messages = 0;
  std::int32_t messagesTotal = 0;
  // Of those, the ones this run writes (or fails on): the messages the
  // destination did not hold yet, every message for a second copy. Their
  // total is 0 while the number of messages is not known yet.
  std::int32_t fresh = 0;
  std::int32_t freshTotal = 0;
  // Queued files or archive entries dealt with, of all of them (0 when not
  // known yet), and the share of the source read (0 to 1).
  std::int32_t files = 0;
  std::int32_t filesTotal = 0;
  double fraction = 0.0;
  // The source folder of the message at hand (ending with the separator),
  // or null.
  const std::string* folder = nullptr;
  // The mailbox the run wrote to last, as it is written (renamed to stay
  // apart on a Mac, a batch folder's in its sibling's mailbox), or null
  // before the first.
  const std::string* mailbox = nullptr;
};

// What a conversion tells its front end while it works. Every call comes on
// the conversion's thread; none of them needs to be quick about returning,
// but whatever one throws stops the conversion between two records and
// passes through.
class ConversionSink {
 public:
  virtual ~ConversionSink() = default;
  // The scan of a folder: files queued so far, and the messages among them.
  virtual void Scanning(std::int32_t files, std::int32_t messages) {
    (void)files;
    (void)messages;
  }
  // The destination's mailboxes must be read back before the plan is known
  // (their index is missing or disagrees with them).
  virtual void ReadingDestination(std::int32_t mailboxes) { (void)mailboxes; }
  // Messages of the source compared with what the destination holds.
  virtual void Comparing(std::int32_t done, std::int32_t total) {
    (void)done;
    (void)total;
  }
  virtual void Converting(const ConversionProgress& progress) { (void)progress; }
};

struct FailedMessage {
  // The message's file (an archive's entry as the archive names it), or a
  // mailbox that failed as a whole.
  std::string file;
  std::string reason;
  // The mailbox the message was meant for, as it is written (a folder
  // renamed to stay apart on a Mac, a batch folder that joins its
  // sibling's mailbox); empty when none could be told, and when file is
  // the mailbox.
  std::string mailbox;
};

// How a conversion ended.
enum class Ending {
  Finished,           // every message was dealt with (some may have failed)
  NothingToDo,        // the destination held every message already
  Cancelled,          // the decision was Cancel
  Stopped,            // the stop token stopped it between two records
  Refused,            // it could not start; nothing was written
  SourceBroken,       // the archive broke while it was read: nothing of the run was kept
  DestinationFailed,  // what the destination holds could no longer be recorded
};

// Why a conversion could not start.
enum class Refusal {
  None,
  SourceMissing,     // the source does not exist
  NotASource,        // neither a folder nor an export archive
  SourceUnreadable,  // a folder of the source, or the archive, cannot be read
  DestinationNotAFolder,
  InsideSource,     // the mailboxes would land inside the source folder
  DestinationBusy,  // another conversion writes into the destination
  DestinationUnwritable,
};

struct ConversionReport {
  Ending ending = Ending::Finished;
  Refusal refusal = Refusal::None;
  std::string reason;  // for Refused, SourceBroken and DestinationFailed
  ConversionPlan plan;
  Decision decision = Decision::ConvertMissing;
  // Whether writing began (the decision was made and the destination taken).
  bool began = false;
  // Records this run appended.
  std::int32_t added = 0;
  // The source's messages that the destination holds now: those held
  // before and those added (for a second copy, the added ones).
  std::int32_t converted = 0;
  std::vector<std::string> mailboxes;  // .mbox files written, in first-written order
  // The folder below the destination that mirrors the source's top folder
  // (an archive's stands for its extracted folder), as it is written: the
  // mailboxes are in it and below it. Set once writing began.
  std::string mailboxesFolder;
  std::vector<FailedMessage> failures;
  // Mailboxes whose name was cut to fit the file system's limit of 255
  // bytes (the folder's name was too long to end in ".mbox").
  std::vector<std::string> shortenedMailboxes;
  // Mailboxes written under another folder name than the source folder's,
  // so that they stay apart on a Mac (names that fold together there, a
  // subfolder named like its folder's mailbox, a name that is not UTF-8):
  // the mailbox, and the folder it stands for.
  struct Renamed {
    std::string mailbox;
    std::string wanted;
  };
  std::vector<Renamed> renamedMailboxes;
  // Torn ends that interrupted conversions left in mailboxes, cut off them
  // before this run wrote, and kept in the destination's hidden folder.
  struct SetAside {
    std::string mailbox;
    std::string keptAs;
    std::int64_t bytes = 0;
  };
  std::vector<SetAside> setAside;
};

using DecideFunction = std::function<Decision(const ConversionPlan&)>;

// The whole conversion, for every front end: scans the source (when not
// scanned already), takes the destination (one conversion at a time), finds
// out what it holds of the source (the plan), asks decide, then appends
// every message that is missing (or, for a second copy, every message) to
// the mailbox of its folder, and reports. Exactly once by content: a
// message goes into its mailbox only when the mailbox does not hold a
// record with the same text already; equal messages of one folder stay as
// many records. So an interrupted run, a changed source, the archive
// against its extracted folder, a later export and a rerun after a failure
// all append what is missing and nothing else.
//
// Never throws for the source, the destination or a message: a failed
// message is in the report with its reason and the run goes on; what keeps
// the run from starting or going on is the report's ending and reason.
// What sink or decide throw passes through, the destination left whole.
ConversionReport Convert(const ConversionRequest& request, const DecideFunction& decide,
                         ConversionSink& sink, std::stop_token stop = {});

}  // namespace quillfen
