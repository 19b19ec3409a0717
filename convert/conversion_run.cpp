#include "convert/conversion_run.h"

#include <algorithm>
#include <exception>
#include <memory>
#include <optional>
#include <string_view>
#include <utility>

#include "convert/archive_conversion.h"
#include "convert/destination_journal.h"
#include "convert/message_converter.h"
#include "convert/message_prefetch.h"
#include "convert/queue_conversion.h"
#include "convert/report_text.h"

namespace quillfen {

namespace {

constexpr const char* kChooserTitle = "Choose Folder to Save...";
constexpr const char* kMessageTitle = "Quillfen";
constexpr const char* kUpdatePrefix = "Converting Messages... from ";
constexpr const char* kDoneText =
    "Your data has been successfully exported to .mbox format (Compatible for Mac Mail).\r\n"
    "Move converted folders to Mac and import it into Apple Mac Mail by using the import option "
    "from File Menu.";
constexpr const char* kNoMessagesText = "No messages (.eml files) were found in the chosen folder.";
constexpr const char* kNoArchiveMessagesText =
    "No messages (.eml files) were found in the chosen archive.";
// The walker's running count, which an archive's count repeats.
constexpr const char* kCountSuffix = " Files(s) Queued For Conversion";

// Only the space character counts as padding here; tabs and other white
// space are part of the name.
std::string_view TrimSpaces(std::string_view text) {
  const auto first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(' ');
  return text.substr(first, last - first + 1);
}

constexpr const char* kResumeQuestion =
    "This folder holds an interrupted conversion of these messages: %1 of %2 were converted. "
    "Resume it?";
constexpr const char* kAgainQuestion =
    "These messages were already converted into this folder. Convert them again (a second copy)?";

std::string Replace(std::string text, const std::string& mark, const std::string& value) {
  if (const auto at = text.find(mark); at != std::string::npos)
    text.replace(at, mark.size(), value);
  return text;
}

std::string FailureText(const RunReport& report) {
  return std::to_string(report.failures.size()) + " of " + std::to_string(report.messages) +
         " messages could not be converted.";
}

std::string FailureDetails(const RunReport& report) {
  std::string details;
  for (const FailedMessage& failure : report.failures) {
    if (!details.empty()) details += '\n';
    // A name may hold a line feed; escaped, one line is always one message.
    details += EscapedForReport(failure.file) + ": " + EscapedForReport(failure.reason);
  }
  return details;
}

// Mailboxes whose names were cut to fit, one per line, for the details of
// the final message.
std::string ShortenedDetails(const RunReport& report) {
  std::string details;
  for (const std::string& mailbox : report.shortenedMailboxes) {
    if (!details.empty()) details += '\n';
    details += EscapedForReport(mailbox) + ": name shortened to fit the file system's limit";
  }
  return details;
}

// The message that ends a run that converted: the usual one, or how many
// messages failed, with the files and reasons in its details.
void ShowFinalMessage(ConversionHost& host, const RunReport& report) {
  if (report.failures.empty()) {
    host.ShowFinished(kDoneText, kMessageTitle, ShortenedDetails(report), report.destinationRoot);
    return;
  }
  std::string details = FailureDetails(report);
  if (const std::string shortened = ShortenedDetails(report); !shortened.empty())
    details += '\n' + shortened;
  host.ShowMessage(MessageIcon::Warning, FailureText(report), kMessageTitle, details);
}

// The journal's reasons read as the middle of a sentence ("cannot write into
// the destination folder D: Permission denied"); in a message box they
// begin with a capital and end with a full stop, followed by what it means
// for the user.
std::string DestinationWarning(const std::string& reason, const char* advice) {
  std::string text = reason;
  if (!text.empty() && text[0] >= 'a' && text[0] <= 'z') text[0] = static_cast<char>(text[0] - 32);
  if (!text.empty() && text.back() != '.') text += '.';
  return text + "\r\n\r\nNothing was converted. " + advice;
}
constexpr const char* kBusyAdvice = "Try again when the other conversion has ended.";
constexpr const char* kUnwritableAdvice = "Choose a destination folder that can be written.";

// Asks for the destination folder; false (report.cancelled) when the user
// cancels.
bool ChooseDestination(ConversionHost& host, RunReport& report, PathStyle style) {
  const std::string chosen = host.BrowseForFolder(host.OwnerWindow(), kChooserTitle);
  if (chosen.empty()) {
    report.cancelled = true;
    return false;
  }
  report.destinationRoot = AddTrailingSeparator(chosen, style);
  return true;
}

// Takes the destination for this run, or tells the user why not. Null when
// nothing is to be written: the destination is busy or cannot be written,
// or the user declined to resume or repeat.
std::unique_ptr<DestinationJournal> TakeDestination(ConversionHost& host, RunReport& report,
                                                    const SourceIdentity& source) {
  std::unique_ptr<DestinationJournal> journal;
  try {
    journal = std::make_unique<DestinationJournal>(report.destinationRoot, source);
  } catch (const DestinationBusy& error) {
    host.ShowMessage(MessageIcon::Warning, DestinationWarning(error.what(), kBusyAdvice),
                     kMessageTitle, {});
    report.cancelled = true;
    return nullptr;
  } catch (const std::runtime_error& error) {
    host.ShowMessage(MessageIcon::Warning, DestinationWarning(error.what(), kUnwritableAdvice),
                     kMessageTitle, {});
    report.cancelled = true;
    return nullptr;
  }
  bool resume = false;
  switch (journal->earlier()) {
    case EarlierConversion::Interrupted:
      if (!host.AskYesNo(
              Replace(Replace(kResumeQuestion, "%1", std::to_string(journal->alreadyConverted())),
                      "%2", std::to_string(source.messages)),
              kMessageTitle)) {
        report.cancelled = true;
        return nullptr;
      }
      resume = true;
      break;
    case EarlierConversion::Finished:
      if (!host.AskYesNo(kAgainQuestion, kMessageTitle)) {
        report.cancelled = true;
        return nullptr;
      }
      break;
    case EarlierConversion::None:
    case EarlierConversion::ChangedSource:
      break;
  }
  try {
    journal->Begin(resume);
  } catch (const DestinationError& error) {
    host.ShowMessage(MessageIcon::Warning, DestinationWarning(error.what(), kUnwritableAdvice),
                     kMessageTitle, {});
    report.cancelled = true;
    return nullptr;
  }
  report.alreadyConverted = resume ? journal->alreadyConverted() : 0;
  return journal;
}

}  // namespace

bool IsMessageName(std::string_view queuedName) {
  const std::string_view trimmed = TrimSpaces(queuedName);
  constexpr std::string_view kSuffix = ".eml";
  if (trimmed.size() < kSuffix.size()) return false;
  const std::string_view tail = trimmed.substr(trimmed.size() - kSuffix.size());
  for (std::size_t i = 0; i < kSuffix.size(); ++i) {
    char c = tail[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != kSuffix[i]) return false;
  }
  return true;
}

RunReport ConversionRun(ConversionHost& host, ReaderState& readers, PathStyle style) {
  RunReport report;

  // The queue is known before the chooser opens: a queue without a single
  // message would convert nothing, and asking for a destination first would
  // only mislead the user into thinking that something was exported.
  const QueueListRef queue = host.Queue();
  const std::int32_t queued = queue ? queue->Count() : 0;
  const QueueList& names = QueueOrEmpty(queue);
  const bool anyMessage = std::any_of(names.begin(), names.end(), IsMessageName);
  if (!anyMessage) {
    host.ShowMessage(MessageIcon::Warning, kNoMessagesText, kMessageTitle, {});
    return report;
  }

  if (!ChooseDestination(host, report, style)) return report;

  host.Yield();
  // The source is the folder of the last scan, as its queued names tell.
  std::string sourceFolder = host.SourceFolder();
  if (sourceFolder.empty() && queue && queue->Count() > 0)
    sourceFolder = ExtractParentPath(queue->Item(1), style);
  const SourceIdentity source = IdentifyQueue(sourceFolder, queue);
  if (style.separator == PathStyle::Native().separator && !sourceFolder.empty() &&
      MirrorLandsInsideSource(sourceFolder, report.destinationRoot)) {
    host.ShowMessage(MessageIcon::Warning,
                     "The converted mailboxes would be written inside the folder being "
                     "converted, " +
                         sourceFolder + ". Choose a destination folder outside it.",
                     kMessageTitle, {});
    report.cancelled = true;
    return report;
  }
  const std::unique_ptr<DestinationJournal> journal = TakeDestination(host, report, source);
  if (!journal) return report;
  MessageConverter converter(*journal, readers, CachedFolderLookup(), style);
  host.SetBarMinimum(0.0f);
  host.SetBarMaximum(100.0f);

  // The yields inside a large message go through the host. An exception the
  // host throws from its own Yield (a front end that wants the run to stop)
  // must leave the run, not be mistaken for a failure of the message at
  // hand; the converter lets it pass after cutting the mailbox back.
  const YieldFunction yield = [&host] { host.Yield(); };
  // The files are read ahead on the second core.
  MessagePrefetch prefetch(queue);
  // The length was taken once, so the run never walks past what it set out
  // to convert. The names are read in order: packed, each is decoded from
  // the one before.
  try {
    auto name = names.begin();
    for (std::int32_t index = 0; index < queued; ++index, ++name) {
      host.Yield();
      const std::string& queuedName = *name;

      if (IsMessageName(queuedName)) {
        const std::int32_t message = report.messages++;
        host.SetUpdateCaption(kUpdatePrefix + ExtractParentPath(queuedName, style));
        // The file is read, and its folder mirrored, by the exact name the
        // walker queued: on this platform a trailing space belongs to the
        // name, and a trimmed name would read a different file or none.
        const MessageOutcome outcome = converter.Convert(
            message, queuedName,
            [&prefetch, &queuedName, index]() -> MessageSource& {
              return prefetch.Open(index + 1, queuedName);
            },
            yield);
        if (outcome.kind == MessageOutcome::Kind::Failed)
          report.failures.push_back({queuedName, outcome.reason});
      }

      // The walker's count is what the bar divides by. A count that is
      // missing or smaller than the queue would divide by zero or run the bar
      // past its end, so the queue's own length stands in as the least.
      const std::int32_t count = std::max(host.QueueCount(), queued);
      const double fraction = static_cast<double>(index + 1) / static_cast<double>(count);
      host.SetBarValue(static_cast<float>(fraction * 100.0));
      host.SetProgressCaption("Message " + std::to_string(index + 1) + " (of " +
                              std::to_string(count) + ")");
    }
  } catch (...) {
    // A stop from the host: the journal records how far the run got, so
    // that the next run resumes right there.
    journal->Stop();
    throw;
  }
  CompleteReport(*journal, report, true);
  ShowFinalMessage(host, report);
  return report;
}

// The archive's progress, shown as a folder's: the running count while it
// is taken in, then the bar, the counter caption and the source folder of
// the message at hand.
class ArchiveSource::Progress : public ArchiveProgress {
 public:
  Progress(ConversionHost& host, ScanObserver& observer) : host_(host), observer_(observer) {}

  void Counting(std::int32_t entries) override {
    entries_ = entries;
    observer_.SetCountLabel(std::to_string(entries) + kCountSuffix);
  }
  void SetProgress(std::int32_t done, std::int32_t total) override {
    // As in a folder's run, the bar keeps what the previous run left until
    // the first entry has been handled.
    if (done == 0 || total <= 0) return;
    const double fraction = static_cast<double>(done) / static_cast<double>(total);
    host_.SetBarValue(static_cast<float>(fraction * 100.0));
    host_.SetProgressCaption("Message " + std::to_string(done) + " (of " + std::to_string(total) +
                             ")");
  }
  void SetCurrentFolder(const std::string& folder) override {
    host_.SetUpdateCaption(kUpdatePrefix + folder);
  }
  void Yield() override { host_.Yield(); }

  std::int32_t entries() const { return entries_; }

 private:
  ConversionHost& host_;
  ScanObserver& observer_;
  std::int32_t entries_ = 0;
};

ArchiveSource::ArchiveSource(const std::string& archivePath, ConversionHost& host,
                             ScanObserver& observer)
    : path_(archivePath),
      progress_(std::make_unique<Progress>(host, observer)),
      conversion_(std::make_unique<ArchiveConversion>(archivePath, progress_.get())) {}

ArchiveSource::~ArchiveSource() = default;

std::int32_t ArchiveSource::entries() const {
  return progress_->entries();
}

std::int32_t ArchiveSource::messages() const {
  return conversion_->identity().messages;
}

RunReport ConversionRun(ConversionHost& host, ArchiveSource& archive, ReaderState& readers) {
  RunReport report;
  if (archive.messages() == 0) {
    host.ShowMessage(MessageIcon::Warning, kNoArchiveMessagesText, kMessageTitle, {});
    return report;
  }
  if (!ChooseDestination(host, report, PathStyle::Native())) return report;
  host.Yield();

  const std::unique_ptr<DestinationJournal> journal =
      TakeDestination(host, report, archive.conversion_->identity());
  if (!journal) return report;
  host.SetBarMinimum(0.0f);
  host.SetBarMaximum(100.0f);
  try {
    // A stop from the host passes through; the conversion has recorded how
    // far it got, so that the next run resumes right there.
    report = archive.conversion_->Convert(*journal, readers);
  } catch (const ArchiveError& error) {
    host.ShowMessage(MessageIcon::Warning,
                     "The archive " + archive.path() + " could not be read to its end: " +
                         error.reason() + ". Nothing of this conversion was kept.",
                     kMessageTitle, {});
    return report;
  }
  ShowFinalMessage(host, report);
  return report;
}

}  // namespace quillfen
