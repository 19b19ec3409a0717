#include "conversion/conversion.h"

#include <memory>
#include <new>
#include <optional>
#include <system_error>
#include <unordered_map>
#include <utility>

#include "conversion/message_converter.h"
#include "destination/destination.h"
#include "mbox/content_hash.h"
#include "mbox/envelope_line.h"
#include "mbox/message_failure.h"
#include "os/folders.h"
#include "os/paths.h"
#include "source/export_archive.h"
#include "source/file_system.h"
#include "source/folder_walker.h"
#include "source/message_name.h"
#include "source/message_prefetch.h"

namespace quillfen {

namespace {

// The stop token stopped the conversion where it was.
struct Stopped {};

constexpr std::size_t kPieceSize = 1024 * 1024;

// The scan's running count, and its stops.
class ScanCounter : public ScanObserver {
 public:
  ScanCounter(ConversionSink& sink, const std::stop_token& stop) : sink_(sink), stop_(stop) {}
  void SetCountLabel(const std::string&) override { sink_.Scanning(++files_); }
  void Yield() override {
    if (stop_.stop_requested()) throw Stopped{};
  }

 private:
  ConversionSink& sink_;
  const std::stop_token& stop_;
  std::int32_t files_ = 0;
};

// An archive's progress, while it is compared and while it is converted.
class ArchiveBridge : public ArchiveProgress {
 public:
  ArchiveBridge(ConversionSink& sink, const std::stop_token& stop) : sink_(sink), stop_(stop) {}

  bool comparing = false;
  std::int32_t messagesTotal = 0;

  void SetProgress(std::int32_t done, std::int32_t total) override {
    ConversionProgress progress;
    if (total > 0) {
      progress.files = done;
      progress.filesTotal = total;
      progress.fraction = static_cast<double>(done) / static_cast<double>(total);
    } else {
      progress.fraction = fraction_;
    }
    progress.messages = messages_;
    progress.messagesTotal = messagesTotal;
    progress.folder = folder_.empty() ? nullptr : &folder_;
    if (comparing)
      sink_.Comparing(messages_, messagesTotal);
    else
      sink_.Converting(progress);
  }
  void SetFractionRead(double fraction) override { fraction_ = fraction; }
  void SetCurrentFolder(const std::string& folder) override { folder_ = folder; }
  void Yield() override {
    if (stop_.stop_requested()) throw Stopped{};
  }
  void MessageDone() { ++messages_; }
  void Restart() {
    messages_ = 0;
    fraction_ = 0.0;
    folder_.clear();
  }

 private:
  ConversionSink& sink_;
  const std::stop_token& stop_;
  double fraction_ = 0.0;
  std::int32_t messages_ = 0;
  std::string folder_;
};

// The hash of a message's text, read from its source to its end.
ContentHash HashOfMessage(MessageSource& source, char* piece, ContentHasher& hasher) {
  std::size_t filled = 0;
  while (filled < kPieceSize) {
    const std::size_t got = source.Read(piece + filled, kPieceSize - filled);
    if (got == 0) break;
    filled += got;
  }
  const std::string_view head(piece, filled);
  const std::string_view text = head.substr(EnvelopeLineLength(head));
  if (filled < kPieceSize) return HashOfText(text);
  hasher.Feed(text);
  for (;;) {
    const std::size_t got = source.Read(piece, kPieceSize);
    if (got == 0) break;
    hasher.Feed(std::string_view(piece, got));
  }
  return hasher.Finish();
}

FolderExistsFunction CachedFolderLookup() {
  auto known = std::make_shared<std::unordered_map<std::string, bool>>();
  return [known](const std::string& folder) {
    const auto [entry, inserted] = known->try_emplace(folder, false);
    if (inserted) entry->second = IsFolder(folder);
    return entry->second;
  };
}

// Learns what every mailbox of the source holds: those whose index is
// missing or disagrees are read back, after the user was told.
void LearnMailboxes(Destination& destination, const std::vector<std::string>& mailboxes,
                    ConversionSink& sink) {
  std::int32_t reading = 0;
  for (const std::string& mailbox : mailboxes)
    if (destination.NeedsReadingBack(mailbox)) ++reading;
  if (reading > 0) sink.ReadingDestination(reading);
  for (const std::string& mailbox : mailboxes) destination.Learn(mailbox);
  destination.SaveLearned();
}

// One conversion, from its source to its report.
class Conversion {
 public:
  Conversion(const ConversionRequest& request, ConversionSink& sink, std::stop_token stop)
      : request_(request), sink_(sink), stop_(std::move(stop)), archiveBridge_(sink, stop_) {}

  ConversionReport Run(const DecideFunction& decide);

 private:
  bool Refuse(Refusal refusal, std::string reason) {
    report_.ending = Ending::Refused;
    report_.refusal = refusal;
    report_.reason = std::move(reason);
    return false;
  }
  bool OpenSource();
  bool TakeDestination();
  void PlanFolder();
  void PlanArchive();
  void ConvertFolder(bool secondCopy);
  void ConvertArchive(bool secondCopy);
  void Settle(const MessageOutcome& outcome, const std::string& file);
  void CompleteReport();
  bool Held(std::int32_t index) const {
    return index >= 0 && static_cast<std::size_t>(index) < held_.size() && held_[index];
  }

  const ConversionRequest& request_;
  ConversionSink& sink_;
  std::stop_token stop_;
  ConversionReport report_;
  ConversionPlan& plan_ = report_.plan;

  PathQueueRef queue_;
  std::unique_ptr<ExportArchive> ownArchive_;
  ExportArchive* archive_ = nullptr;
  ArchiveBridge archiveBridge_;
  std::unique_ptr<Destination> destination_;
  std::unique_ptr<MessageConverter> converter_;
  std::vector<bool> held_;
  std::unique_ptr<char[]> piece_;
  // A folder's files are read ahead on the second core; without that
  // thread (it could not start), one at a time here.
  std::unique_ptr<MessagePrefetch> prefetch_;
  std::optional<MessageFile> file_;
  MessageFolder folder_;
};

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

void Conversion::PlanFolder() {
  // The mailboxes of the source, one look per folder.
  std::vector<std::string> mailboxes;
  {
    std::unordered_map<std::string, bool> seen;
    std::string mirror;
    for (const std::string& name : *queue_) {
      if (!IsMessageName(name)) continue;
      try {
        const std::string& mailbox = converter_->MailboxFor(name, mirror);
        if (seen.try_emplace(mailbox, true).second) mailboxes.push_back(mailbox);
      } catch (const MessageFailure&) {
        // The message fails by itself when it is converted.
      }
    }
  }
  LearnMailboxes(*destination_, mailboxes, sink_);
  bool anyHeld = false;
  for (const std::string& mailbox : mailboxes) anyHeld = anyHeld || destination_->HoldsAny(mailbox);
  if (!anyHeld) return;

  // Only the messages of mailboxes that hold records are read.
  held_.assign(static_cast<std::size_t>(plan_.messages), false);
  MessageFolder folder;
  ContentHasher hasher;
  std::string mirror;
  std::int32_t index = -1;
  for (const std::string& name : *queue_) {
    if (!IsMessageName(name)) continue;
    ++index;
    if (stop_.stop_requested()) throw Stopped{};
    if ((index & 255) == 0) sink_.Comparing(index, plan_.messages);
    try {
      const std::string& mailbox = converter_->MailboxFor(name, mirror);
      if (!destination_->HoldsAny(mailbox)) continue;
      MessageFile file(name, &folder);
      if (destination_->Take(mailbox, HashOfMessage(file, piece_.get(), hasher))) {
        held_[static_cast<std::size_t>(index)] = true;
        ++plan_.held;
      }
    } catch (const MessageFailure&) {
      // A message that cannot be read is not held; converting it tells why.
    }
  }
  sink_.Comparing(plan_.messages, plan_.messages);
}

void Conversion::PlanArchive() {
  // Nothing below the folder that would mirror the archive's: the
  // destination holds nothing of it, and the archive is read only once.
  std::string mirrorRoot;
  try {
    mirrorRoot =
        MirrorFolderFor(archive_->extractionFolder() + "message.eml", plan_.destinationRoot);
  } catch (const MessageFailure&) {
    return;
  }
  if (!IsFolder(mirrorRoot)) return;

  // Each message's mailbox and the hash of its text, for the mailboxes
  // that are there; then what the mailboxes hold.
  struct Seen {
    std::int32_t mailbox = -1;
    ContentHash hash;
  };
  std::vector<Seen> seen;
  std::vector<std::string> mailboxes;
  std::unordered_map<std::string, std::int32_t> slots;
  std::vector<bool> present;
  ContentHasher hasher;
  std::string mirror;
  archiveBridge_.comparing = true;
  archiveBridge_.Restart();
  archive_->Walk([&](ExportArchive::Message& message) {
    if (stop_.stop_requested()) throw Stopped{};
    seen.emplace_back();
    archiveBridge_.MessageDone();
    if (!message.problem.empty()) return;
    try {
      const std::string& mailbox = converter_->MailboxFor(message.sourceFile, mirror);
      const auto [slot, added] =
          slots.try_emplace(mailbox, static_cast<std::int32_t>(mailboxes.size()));
      if (added) {
        mailboxes.push_back(mailbox);
        os::PathFacts facts;
        present.push_back(os::Inspect(mailbox, facts).ok() && !facts.folder && facts.size > 0);
      }
      if (!present[static_cast<std::size_t>(slot->second)]) return;
      seen.back().hash = HashOfMessage(*message.source, piece_.get(), hasher);
      seen.back().mailbox = slot->second;
    } catch (const MessageFailure&) {
    }
  });
  archiveBridge_.comparing = false;
  plan_.messages = archive_->messages();
  plan_.messagesKnown = true;
  plan_.files = archive_->entries() > 0 ? archive_->entries() : plan_.files;
  std::vector<std::string> existing;
  for (std::size_t i = 0; i < mailboxes.size(); ++i)
    if (present[i]) existing.push_back(mailboxes[i]);
  LearnMailboxes(*destination_, existing, sink_);
  held_.assign(seen.size(), false);
  for (std::size_t i = 0; i < seen.size(); ++i) {
    if (seen[i].mailbox < 0) continue;
    if (destination_->Take(mailboxes[static_cast<std::size_t>(seen[i].mailbox)], seen[i].hash)) {
      held_[i] = true;
      ++plan_.held;
    }
  }
}

void Conversion::Settle(const MessageOutcome& outcome, const std::string& file) {
  if (outcome.kind == MessageOutcome::Kind::Failed)
    report_.failures.push_back({file, outcome.reason});
  destination_->Settled();
}

void Conversion::ConvertFolder(bool secondCopy) {
  ConversionProgress progress;
  progress.filesTotal = plan_.files;
  progress.messagesTotal = plan_.messages;
  std::string folder;
  std::int32_t index = -1;
  for (const std::string& name : *queue_) {
    if (stop_.stop_requested()) throw Stopped{};
    ++progress.files;
    if (IsMessageName(name)) {
      ++index;
      ++progress.messages;
      if (secondCopy || !Held(index)) {
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
      }
      // The folder changes only now and then; it is worked out then.
      if (name.compare(0, folder.size(), folder) != 0 ||
          name.find(PathStyle::Native().separator, folder.size()) != std::string::npos)
        folder = ExtractParentPath(name);
      progress.folder = &folder;
    }
    progress.fraction = plan_.files > 0 ? static_cast<double>(progress.files) / plan_.files : 1.0;
    sink_.Converting(progress);
  }
}

void Conversion::ConvertArchive(bool secondCopy) {
  archiveBridge_.Restart();
  archiveBridge_.messagesTotal = plan_.messagesKnown ? plan_.messages : 0;
  archive_->Walk([&](ExportArchive::Message& message) {
    if (stop_.stop_requested()) throw Stopped{};
    archiveBridge_.MessageDone();
    if (!message.problem.empty()) {
      report_.failures.push_back({message.name, message.problem});
      destination_->Settled();
      return;
    }
    if (!secondCopy && Held(message.index)) return;
    MessageSource& source = *message.source;
    const MessageOutcome outcome = converter_->Convert(
        message.index, message.sourceFile, [&source]() -> MessageSource& { return source; }, {});
    Settle(outcome, message.name);
  });
  if (!plan_.messagesKnown) {
    plan_.messages = archive_->messages();
    plan_.files = archive_->entries();
    plan_.messagesKnown = true;
  }
}

void Conversion::CompleteReport() {
  for (auto& [file, reason] : destination_->TakeLateFailures())
    report_.failures.push_back({std::move(file), std::move(reason)});
  report_.added = destination_->RecordsAdded();
  report_.converted = report_.added + (report_.decision == Decision::SecondCopy ? 0 : plan_.held);
  report_.mailboxes = destination_->MailboxesWritten();
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
    if (plan_.archive)
      PlanArchive();
    else
      PlanFolder();
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
    try {
      if (plan_.archive)
        ConvertArchive(secondCopy);
      else
        ConvertFolder(secondCopy);
    } catch (const Stopped&) {
      report_.ending = Ending::Stopped;
      // Read in one pass, only the messages met so far are known.
      if (plan_.archive && !plan_.messagesKnown) plan_.messages = archive_->messages();
    } catch (const ArchiveError& error) {
      // Nothing of a conversion that could not read its source to the end
      // is kept: its records may hold what a damaged archive gave.
      report_.ending = Ending::SourceBroken;
      report_.reason = error.reason();
      for (const auto& [mailbox, reason] : destination_->Abandon())
        report_.reason += "; " + mailbox + ": " + reason;
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
      report_.failures.push_back({mailbox, std::move(reason)});
  } catch (const DestinationError& error) {
    report_.ending = Ending::DestinationFailed;
    report_.reason = error.what();
  }
  CompleteReport();
  return std::move(report_);
}

}  // namespace

ConversionReport Convert(const ConversionRequest& request, const DecideFunction& decide,
                         ConversionSink& sink, std::stop_token stop) {
  Conversion conversion(request, sink, std::move(stop));
  ConversionReport report = conversion.Run(decide);
  if (request.archive != nullptr) request.archive->SetProgress(nullptr);
  return report;
}

}  // namespace quillfen
