#include "conversion/conversion.h"

#include <memory>
#include <new>
#include <system_error>
#include <unordered_map>
#include <utility>

#include "conversion/conversion_steps.h"
#include "destination/mirror_paths.h"
#include "mbox/message_failure.h"
#include "os/folders.h"
#include "os/paths.h"
#include "source/archive_names.h"
#include "source/file_system.h"
#include "source/message_name.h"

namespace quillfen {
namespace conversion_steps {
namespace {

FolderExistsFunction CachedFolderLookup() {
  auto known = std::make_shared<std::unordered_map<std::string, bool>>();
  return [known](const std::string& folder) {
    const auto [entry, inserted] = known->try_emplace(folder, false);
    if (inserted) entry->second = IsFolder(folder);
    return entry->second;
  };
}

}  // namespace

bool Conversion::OpenSource() {
  plan_.source = request_.source;
  os::PathFacts facts;
  const os::Status status = os::Inspect(request_.source, facts);
  if (!status.ok()) {
    if (status.failure() == os::Failure::NotFound)
      return Refuse(Refusal::SourceMissing, request_.source + " does not exist");
    return Refuse(Refusal::SourceUnreadable,
                  "cannot read " + request_.source + ": " + status.reason());
  }
  plan_.archive = !facts.folder && IsArchivePath(request_.source);
  if (!facts.folder && !plan_.archive)
    return Refuse(Refusal::NotASource, request_.source +
                                           " is neither a folder nor an export archive (.tgz, "
                                           ".tar.gz or .tar)");
  plan_.destinationRoot = AddTrailingSeparator(request_.destination);
  os::PathFacts destination;
  if (os::Inspect(request_.destination, destination).ok() && !destination.folder)
    return Refuse(Refusal::DestinationNotAFolder, request_.destination + " is not a folder");
  if (!plan_.archive &&
      MirrorLandsInsideSource(AddTrailingSeparator(request_.source), plan_.destinationRoot))
    return Refuse(Refusal::InsideSource,
                  "the converted mailboxes would be written inside the folder being converted, " +
                      request_.source);

  if (plan_.archive) {
    archive_ = request_.archive;
    if (archive_ != nullptr) archive_->SetProgress(&archiveBridge_);
    if (archive_ == nullptr) {
      try {
        ownArchive_ = std::make_unique<ExportArchive>(request_.source, &archiveBridge_,
                                                      ArchiveReading::OnePass);
      } catch (const ArchiveError& error) {
        report_.ending = Ending::SourceBroken;
        report_.reason = error.reason();
        return false;
      }
      archive_ = ownArchive_.get();
    }
    plan_.files = archive_->entries();
    plan_.messagesKnown = archive_->counted();
    plan_.messages = plan_.messagesKnown ? archive_->messages() : 0;
    return true;
  }
  queue_ = request_.scanned;
  if (!queue_) {
    // Walked on a thread of its own: the destination is taken meanwhile,
    // and a conversion into a destination that holds nothing of the source
    // starts on the first folders while the walk goes on.
    try {
      walk_ = std::make_unique<BackgroundWalk>(request_.source);
      queue_ = walk_->queue();
      plan_.messagesKnown = false;
      return true;
    } catch (const std::system_error&) {
      walk_.reset();
    }
    ScanCounter counter(sink_, stop_);
    FolderWalker walker(&counter);
    try {
      walker.Walk(request_.source);
    } catch (const FileSystemError& error) {
      return Refuse(Refusal::SourceUnreadable,
                    "cannot read folder " + error.folder() + ": " + error.reason());
    }
    queue_ = walker.queue();
  }
  plan_.files = static_cast<std::int32_t>(queue_->size());
  for (const std::string& name : *queue_)
    if (IsMessageName(name)) ++plan_.messages;
  return true;
}

bool Conversion::SourceMirrored() {
  // A root named like a batch folder ("Inbox!1") has its own messages
  // written beside its mirror, in its sibling's mailbox: whether the
  // destination holds any of it is then not told by one folder.
  if (ExtractFileName(WithoutTrailingSeparators(request_.source)).find('!') != std::string::npos)
    return true;
  std::string mirror;
  try {
    (void)converter_->MailboxFor(AddTrailingSeparator(request_.source) + "message.eml", mirror);
  } catch (const MessageFailure&) {
    return true;
  }
  os::PathFacts facts;
  const os::Status status = os::Inspect(mirror, facts);
  return status.ok() || status.failure() != os::Failure::NotFound;
}

bool Conversion::AwaitWalk() {
  try {
    walk_->Finish();
  } catch (const FileSystemError& error) {
    return Refuse(Refusal::SourceUnreadable,
                  "cannot read folder " + error.folder() + ": " + error.reason());
  }
  if (stop_.stop_requested()) throw Stopped{};
  LearnTotals();
  return true;
}

void Conversion::LearnTotals() {
  if (plan_.messagesKnown) return;
  std::int32_t files = 0;
  std::int32_t messages = 0;
  if (!walk_->Whole(files, messages)) return;
  plan_.files = files;
  plan_.messages = messages;
  plan_.messagesKnown = true;
}

bool Conversion::TakeDestination() {
  try {
    destination_ = std::make_unique<Destination>(plan_.destinationRoot);
  } catch (const DestinationBusy& error) {
    return Refuse(Refusal::DestinationBusy, error.what());
  } catch (const DestinationError& error) {
    return Refuse(Refusal::DestinationUnwritable, error.what());
  }
  converter_ = std::make_unique<MessageConverter>(
      *destination_, archive_ != nullptr ? archive_->FolderLookup() : CachedFolderLookup());
  piece_ = std::make_unique_for_overwrite<char[]>(kPieceSize);
  return true;
}

void Conversion::Settle(const MessageOutcome& outcome, const std::string& file) {
  if (outcome.kind == MessageOutcome::Kind::Failed)
    report_.failures.push_back({file, outcome.reason, outcome.mailbox});
  destination_->Settled();
}

void Conversion::ConvertFolder(bool secondCopy) {
  ConversionProgress progress;
  std::string folder;
  std::int32_t index = -1;
  for (const std::string& name : *queue_) {
    if (stop_.stop_requested()) throw Stopped{};
    // While the walk goes on, the totals are not known yet.
    LearnTotals();
    ++progress.files;
    if (IsMessageName(name)) {
      ++index;
      ++progress.messages;
      if (!plan_.messagesKnown) plan_.messages = progress.messages;
      if (secondCopy || !Held(index)) {
        ++progress.fresh;
        const std::int32_t position = progress.files;
        // The file is read by the exact name the walker queued: on this
        // platform a trailing space belongs to the name.
        const MessageOutcome outcome =
            converter_->Convert(index, name,
                                [this, &name, position]() -> MessageSource& {
                                  if (prefetch_) return prefetch_->Open(position, name);
                                  return file_.emplace(name, &folder_);
                                },
                                {});
        Settle(outcome, name);
        progress.mailbox = &converter_->lastMailbox();
      }
      // The folder changes only now and then; it is worked out then.
      if (name.compare(0, folder.size(), folder) != 0 ||
          name.find(PathStyle::Native().separator, folder.size()) != std::string::npos)
        folder = ExtractParentPath(name);
      progress.folder = &folder;
    }
    if (plan_.messagesKnown) {
      progress.filesTotal = plan_.files;
      progress.messagesTotal = plan_.messages;
      progress.freshTotal = secondCopy ? plan_.messages : plan_.messages - plan_.held;
      progress.fraction = plan_.files > 0 ? static_cast<double>(progress.files) / plan_.files : 1.0;
    }
    sink_.Converting(progress);
  }
  if (walk_ && !plan_.messagesKnown) {
    // The queue ended: the walk is over, or it stopped early.
    walk_->Finish();
    if (stop_.stop_requested()) throw Stopped{};
    LearnTotals();
  }
}

void Conversion::ConvertArchive(bool secondCopy) {
  archiveBridge_.Restart();
  archiveBridge_.SetMailbox(nullptr);
  archiveBridge_.messagesTotal = plan_.messagesKnown ? plan_.messages : 0;
  archiveBridge_.freshTotal = !plan_.messagesKnown ? 0
                              : secondCopy         ? plan_.messages
                                                   : plan_.messages - plan_.held;
  archive_->Walk([&](ExportArchive::Message& message) {
    if (stop_.stop_requested()) throw Stopped{};
    const bool held = !secondCopy && Held(message.index);
    archiveBridge_.MessageDone(!held);
    if (!message.problem.empty()) {
      // A link or a special file still names the mailbox it would have
      // gone into.
      std::string mailbox;
      if (!message.sourceFile.empty()) try {
          std::string mirror;
          mailbox = converter_->MailboxFor(message.sourceFile, mirror);
        } catch (const MessageFailure&) {
        }
      report_.failures.push_back({message.name, message.problem, std::move(mailbox)});
      destination_->Settled();
      return;
    }
    if (held) return;
    MessageSource& source = *message.source;
    const MessageOutcome outcome = converter_->Convert(
        message.index, message.sourceFile, [&source]() -> MessageSource& { return source; }, {});
    Settle(outcome, message.name);
    archiveBridge_.SetMailbox(&converter_->lastMailbox());
  });
  if (!plan_.messagesKnown) {
    plan_.messages = archive_->messages();
    plan_.files = archive_->entries();
    plan_.messagesKnown = true;
  }
}

std::string Conversion::MailboxesFolder() const {
  const std::string& root = plan_.destinationRoot;
  const std::string top =
      plan_.archive ? ArchiveExtractionFolder(plan_.source) : AddTrailingSeparator(plan_.source);
  std::string mirror;
  try {
    mirror = MirrorFolderFor(top + "message.eml", root);
  } catch (const MessageFailure&) {
    return root;
  }
  // A folder on the way down may have been written under another name, so
  // that it stays apart on a Mac: the longest one renamed stands in.
  const std::string relative = mirror.substr(root.size());
  const std::pair<const std::string, std::string>* longest = nullptr;
  for (const auto& renamed : converter_->renamed())
    if (relative.starts_with(renamed.second) &&
        (longest == nullptr || renamed.second.size() > longest->second.size()))
      longest = &renamed;
  if (longest == nullptr) return mirror;
  return root + longest->first + relative.substr(longest->second.size());
}

void Conversion::CompleteReport() {
  for (LateFailure& late : destination_->TakeLateFailures())
    report_.failures.push_back(
        {std::move(late.file), std::move(late.reason), std::move(late.mailbox)});
  report_.added = destination_->RecordsAdded();
  report_.converted = report_.added + (report_.decision == Decision::SecondCopy ? 0 : plan_.held);
  report_.mailboxes = destination_->MailboxesWritten();
  report_.mailboxesFolder = MailboxesFolder();
  // A mailbox is named for its mirror folder; one whose name differs was cut
  // to fit the file system's limit, and the user is told which.
  const std::string& root = plan_.destinationRoot;
  for (const std::string& mailbox : report_.mailboxes) {
    const std::string folder = ExtractParentPath(mailbox);
    if (folder.size() > root.size())
      if (const auto renamed = converter_->renamed().find(folder.substr(root.size()));
          renamed != converter_->renamed().end())
        report_.renamedMailboxes.push_back({mailbox, root + renamed->second});
    if (folder.size() < 2) continue;
    if (ExtractFileName(folder.substr(0, folder.size() - 1)) + ".mbox" != ExtractFileName(mailbox))
      report_.shortenedMailboxes.push_back(mailbox);
  }
}

ConversionReport Conversion::Run(const DecideFunction& decide) {
  try {
    if (!OpenSource() || !TakeDestination()) return std::move(report_);
    if (plan_.archive) {
      PlanArchive();
    } else if (!walk_) {
      PlanFolder();
    } else if (SourceMirrored()) {
      if (!AwaitWalk()) return std::move(report_);
      PlanFolder();
    }
  } catch (const Stopped&) {
    report_.ending = Ending::Stopped;
    return std::move(report_);
  } catch (const ArchiveError& error) {
    report_.ending = Ending::SourceBroken;
    report_.reason = error.reason();
    return std::move(report_);
  } catch (const DestinationError& error) {
    report_.ending = Ending::DestinationFailed;
    report_.reason = error.what();
    return std::move(report_);
  }

  report_.decision = decide ? decide(plan_) : Decision::ConvertMissing;
  if (report_.decision == Decision::Cancel) {
    report_.ending = plan_.messagesKnown && plan_.held == plan_.messages && plan_.messages > 0
                         ? Ending::NothingToDo
                         : Ending::Cancelled;
    report_.converted = plan_.held;
    return std::move(report_);
  }
  const bool secondCopy = report_.decision == Decision::SecondCopy;
  if (!plan_.archive) {
    // Started before anything is recorded as begun: a thread or memory that
    // cannot be had means reading without it, not a conversion that failed.
    try {
      prefetch_ = std::make_unique<MessagePrefetch>(queue_);
    } catch (const std::system_error&) {
    } catch (const std::bad_alloc&) {
    }
  }
  try {
    destination_->Begin();
    report_.began = true;
    for (const SetAsideTail& tail : destination_->SetAside())
      report_.setAside.push_back({tail.mailbox, tail.keptAs, tail.bytes});
    try {
      if (plan_.archive)
        ConvertArchive(secondCopy);
      else
        ConvertFolder(secondCopy);
    } catch (const Stopped&) {
      report_.ending = Ending::Stopped;
      // Read in one pass, only the messages met so far are known.
      if (plan_.archive && !plan_.messagesKnown) plan_.messages = archive_->messages();
      // A walk still going on is waited for, so that the report tells how
      // many messages the source holds.
      if (walk_ && !plan_.messagesKnown) {
        try {
          walk_->Finish();
          LearnTotals();
        } catch (const std::exception&) {
          // What broke the walk is of no use to a conversion that stopped.
        }
      }
    } catch (const ArchiveError& error) {
      // Nothing of a conversion that could not read its source to the end
      // is kept: its records may hold what a damaged archive gave.
      report_.ending = Ending::SourceBroken;
      report_.reason = error.reason();
      for (const auto& [mailbox, reason] : destination_->Abandon())
        report_.reason.append("; ").append(mailbox).append(": ").append(reason);
      return std::move(report_);
    } catch (const FileSystemError& error) {
      // A folder the walk met only while the conversion went on could not
      // be listed: nothing is kept of a conversion that could not see its
      // whole source, as when that is known before it starts.
      report_.ending = Ending::Refused;
      report_.refusal = Refusal::SourceUnreadable;
      report_.reason = "cannot read folder " + error.folder() + ": " + error.reason();
      for (const auto& [mailbox, reason] : destination_->Abandon())
        report_.reason.append("; ").append(mailbox).append(": ").append(reason);
      return std::move(report_);
    } catch (const DestinationError&) {
      throw;
    } catch (...) {
      // The front end stops the conversion: every mailbox ends with a whole
      // record, and the index says what they hold.
      try {
        (void)destination_->Finish();
      } catch (const DestinationError&) {
      }
      throw;
    }
    for (auto& [mailbox, reason] : destination_->Finish())
      report_.failures.push_back({mailbox, std::move(reason), {}});
  } catch (const DestinationError& error) {
    report_.ending = Ending::DestinationFailed;
    report_.reason = error.what();
  }
  CompleteReport();
  return std::move(report_);
}

}  // namespace conversion_steps

ConversionReport Convert(const ConversionRequest& request, const DecideFunction& decide,
                         ConversionSink& sink, std::stop_token stop) {
  conversion_steps::Conversion conversion(request, sink, std::move(stop));
  ConversionReport report = conversion.Run(decide);
  if (request.archive != nullptr) request.archive->SetProgress(nullptr);
  return report;
}

}  // namespace quillfen
