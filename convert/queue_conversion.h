#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "convert/conversion_run.h"
#include "convert/destination_journal.h"
#include "convert/mbox_record.h"
#include "convert/message_readers.h"
#include "convert/path_helpers.h"
#include "scan/keyed_list.h"

namespace quillfen {

// The queue, or an empty one for a host that scanned nothing.
const QueueList& QueueOrEmpty(const QueueListRef& queue);

// Who the messages of a scanned queue are (the queued names that pass the
// message filter): their names in queue order, and their number.
// sourceFolder is the folder that was scanned.
SourceIdentity IdentifyQueue(const std::string& sourceFolder, const QueueListRef& queue);

// Whether a folder of the source tree exists, each folder looked up once:
// the source is only ever read, and every message of a batch folder would
// otherwise cost a look-up of its own.
FolderExistsFunction CachedFolderLookup();

// How far a conversion is: done of total messages dealt with, and the source
// folder of the message at hand.
struct ConversionProgress {
  std::int32_t done = 0;
  std::int32_t total = 0;
  const std::string* folder = nullptr;
};
// Hears the progress after every message; false stops the conversion
// between two records.
using ProgressFunction = std::function<bool(const ConversionProgress&)>;

// Converts the messages of queue, in order, through journal (on which Begin
// has run): each into its folder's mailbox below the journal's destination.
// Failed messages are in the report with their reasons; the conversion goes
// on. A stop leaves the conversion resumable and sets report.stopped.
RunReport ConvertQueue(DestinationJournal& journal, const QueueListRef& queue, ReaderState& readers,
                       const ProgressFunction& progress, PathStyle style = PathStyle::Native());

// Fills what report says of the whole conversion from the journal after it
// finished or stopped: records, mailboxes, and mailboxes that failed on
// closing.
void CompleteReport(DestinationJournal& journal, RunReport& report, bool finish);

}  // namespace quillfen
