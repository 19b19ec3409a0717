#include "convert/queue_conversion.h"

#include <memory>
#include <optional>
#include <unordered_map>

#include "convert/message_converter.h"
#include "convert/message_prefetch.h"

namespace quillfen {

const QueueList& QueueOrEmpty(const QueueListRef& queue) {
  static const QueueList empty;
  return queue ? *queue : empty;
}

SourceIdentity IdentifyQueue(const std::string& sourceFolder, const QueueListRef& queue) {
  SourceIdentity identity;
  identity.path = sourceFolder;
  SourceFingerprint fingerprint;
  // The queue is read in order: its names are packed, and a pass decodes
  // each from the one before.
  for (const std::string& name : QueueOrEmpty(queue)) {
    if (!IsMessageName(name)) continue;
    // Names only: a look at every file before the run would cost a tenth of
    // the conversion. An export names its files after the items' ids, so
    // another export of the same mailbox gives other names.
    fingerprint.Add(name, 0, 0);
    ++identity.messages;
  }
  identity.fingerprint = fingerprint.value();
  return identity;
}

FolderExistsFunction CachedFolderLookup() {
  auto known = std::make_shared<std::unordered_map<std::string, bool>>();
  return [known](const std::string& folder) {
    const auto [entry, inserted] = known->try_emplace(folder, false);
    if (inserted) entry->second = IsFolder(folder);
    return entry->second;
  };
}

void CompleteReport(DestinationJournal& journal, RunReport& report, bool finish) {
  std::vector<std::pair<std::string, std::string>> closeFailures;
  if (finish)
    closeFailures = journal.Finish();
  else
    journal.Stop();
  // Messages whose batch could not be written, then mailboxes whose closing
  // failed.
  for (auto& [file, reason] : journal.TakeLateFailures())
    report.failures.push_back({std::move(file), std::move(reason)});
  for (auto& [mailbox, reason] : closeFailures)
    report.failures.push_back({mailbox, std::move(reason)});
  report.converted = journal.RecordCount();
  report.mailboxes = journal.Mailboxes();
  // A mailbox is named for its mirror folder; one whose name differs was cut
  // to fit the file system's limit, and the user is told which.
  report.shortenedMailboxes.clear();
  for (const std::string& mailbox : report.mailboxes) {
    const std::string folder = ExtractParentPath(mailbox);
    if (folder.size() < 2) continue;
    if (ExtractFileName(folder.substr(0, folder.size() - 1)) + ".mbox" != ExtractFileName(mailbox))
      report.shortenedMailboxes.push_back(mailbox);
  }
}

RunReport ConvertQueue(DestinationJournal& journal, const QueueListRef& queue, ReaderState& readers,
                       const ProgressFunction& progress, PathStyle style) {
  RunReport report;
  report.destinationRoot = journal.destinationRoot();
  report.alreadyConverted =
      journal.earlier() == EarlierConversion::Interrupted ? journal.alreadyConverted() : 0;
  MessageConverter converter(journal, readers, CachedFolderLookup(), style);

  std::int32_t total = 0;
  for (const std::string& name : QueueOrEmpty(queue))
    if (IsMessageName(name)) ++total;

  // The files are read ahead on the second core.
  MessagePrefetch prefetch(queue);
  std::string folder;
  std::int32_t position = 0;
  for (const std::string& name : QueueOrEmpty(queue)) {
    ++position;
    if (!IsMessageName(name)) continue;
    const std::int32_t index = report.messages++;
    // The file is read by the exact name the walker queued: on this
    // platform a trailing space belongs to the name.
    const MessageOutcome outcome = converter.Convert(
        index, name, [&]() -> MessageSource& { return prefetch.Open(position, name); }, {});
    if (outcome.kind == MessageOutcome::Kind::Failed)
      report.failures.push_back({name, outcome.reason});
    if (progress) {
      // The folder changes only now and then; it is worked out then.
      if (name.compare(0, folder.size(), folder) != 0 ||
          name.find(style.separator, folder.size()) != std::string::npos)
        folder = ExtractParentPath(name, style);
      if (!progress({report.messages, total, &folder})) {
        report.stopped = true;
        break;
      }
    }
  }
  CompleteReport(journal, report, !report.stopped);
  return report;
}

}  // namespace quillfen
