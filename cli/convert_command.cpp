#include "cli/convert_command.h"

#include <exception>
#include <filesystem>
#include <memory>
#include <optional>
#include <system_error>

#include "cli/terminal_host.h"
#include "convert/archive_conversion.h"
#include "convert/destination_journal.h"
#include "convert/message_readers.h"
#include "convert/path_helpers.h"
#include "convert/queue_conversion.h"
#include "convert/report_text.h"
#include "scan/file_system.h"
#include "scan/path_logger.h"

namespace quillfen::cli {

namespace {

namespace fs = std::filesystem;

// Relative paths are taken from the working folder. The mirror tree repeats
// the source path below the destination, so "." and ".." are resolved by
// spelling alone (links are kept as the user named them).
fs::path AbsolutePath(const std::string& given) {
  return fs::absolute(fs::path(given)).lexically_normal();
}

// totalKnown is false for an archive whose conversion stopped before its
// end: report.messages then counts only the messages met before the stop.
void PrintSummary(const RunReport& report, std::ostream& out, bool totalKnown = true) {
  out << "Messages converted: " << report.converted << " of " << (totalKnown ? "" : "the first ")
      << report.messages << (totalKnown ? "" : " in the archive") << '\n'
      << "Mailboxes written: " << report.mailboxes.size() << '\n'
      << "Destination: " << report.destinationRoot << '\n';
  for (const std::string& mailbox : report.shortenedMailboxes)
    out << "Mailbox name shortened to fit: " << EscapedForReport(mailbox) << '\n';
  // A name may hold a line feed; escaped, one line is always one message.
  for (const FailedMessage& failure : report.failures)
    out << "Not converted: " << EscapedForReport(failure.file) << ": "
        << EscapedForReport(failure.reason) << '\n';
  out.flush();
}

// Shows an archive's conversion on the same progress line as a folder's,
// and stops it between two entries once a stop was requested.
class ArchiveProgressLine : public ArchiveProgress {
 public:
  explicit ArchiveProgressLine(TerminalHost& host) : host_(host) {}

  void Counting(std::int32_t entries) override {
    host_.SetCountLabel("reading the archive: " + std::to_string(entries) + " entries");
  }
  void SetProgress(std::int32_t done, std::int32_t total) override {
    // Read in one pass, the number of messages is known only at the end;
    // the share of the archive read tells how far the conversion is.
    if (total > 0)
      host_.ShowConversion(done, total);
    else
      host_.ShowConversionFraction(done, fraction_);
  }
  void SetFractionRead(double fraction) override { fraction_ = fraction; }
  void Yield() override { host_.Yield(); }

 private:
  TerminalHost& host_;
  double fraction_ = 0.0;
};

// What one invocation converts: a scanned folder or an archive.
struct Source {
  std::string path;  // as shown to the user
  SourceIdentity identity;
  QueueListRef queue;                          // a folder's
  std::unique_ptr<ArchiveConversion> archive;  // or an archive's
};

// Ends the progress line, prints the summary and gives the exit status.
int Finished(TerminalHost& host, const RunReport& report, std::ostream& out, std::ostream& err,
             bool totalKnown = true) {
  host.FinishProgress();
  PrintSummary(report, out, totalKnown);
  if (report.stopped) {
    err << "quillfen-cli: interrupted; every mailbox ends with a whole message, and converting "
           "again into the same destination resumes the conversion\n";
    return kExitInterrupted;
  }
  return report.failures.empty() ? kExitConverted : kExitSomeFailed;
}

// Takes the destination and settles what it already holds of the source.
// Returns the exit status when nothing is to be converted.
std::optional<int> TakeDestination(const ConvertOptions& options, const Source& source,
                                   const fs::path& destination,
                                   std::unique_ptr<DestinationJournal>& journal, std::ostream& out,
                                   std::ostream& err) {
  const std::string destinationRoot = AddTrailingSeparator(destination.string());
  try {
    journal = std::make_unique<DestinationJournal>(destinationRoot, source.identity);
  } catch (const DestinationBusy&) {
    err << "quillfen-cli: another conversion is writing into " << destination.string() << '\n';
    return kExitCannotStart;
  } catch (const DestinationError& error) {
    err << "quillfen-cli: " << error.what() << '\n';
    return kExitCannotStart;
  }
  bool resume = false;
  switch (journal->earlier()) {
    case EarlierConversion::Finished:
      if (!options.again) {
        out << source.path << " was already converted into " << destination.string()
            << "; nothing to do (use --again to add a second copy).\n";
        return kExitConverted;
      }
      break;
    case EarlierConversion::Interrupted:
      // An archive read in one pass does not know its number of messages
      // before the end.
      out << "Resuming an interrupted conversion: " << journal->alreadyConverted();
      if (source.identity.messages > 0) out << " of " << source.identity.messages;
      out << " messages were already converted.\n";
      resume = true;
      break;
    case EarlierConversion::ChangedSource:
      out << destination.string() << " already holds an earlier conversion of " << source.path
          << ", which has changed since; its messages are converted again.\n";
      break;
    case EarlierConversion::None:
      break;
  }
  try {
    journal->Begin(resume);
  } catch (const DestinationError& error) {
    err << "quillfen-cli: " << error.what() << '\n';
    return kExitCannotStart;
  }
  return std::nullopt;
}

// Walks the source folder; gives the exit status when the walk failed.
std::optional<int> ScanFolder(const fs::path& folder, TerminalHost& host, Source& source,
                              std::ostream& err) {
  pathLogger walker(&host);
  try {
    walker.PathLogInit();
    walker.fullFileNamesOnly(true);
    walker.LogPath(AddTrailingSeparator(folder.string()));
  } catch (const StopRequested&) {
    host.FinishProgress();
    err << "quillfen-cli: interrupted during the scan; nothing was converted\n";
    return kExitInterrupted;
  } catch (const FileSystemError& e) {
    host.FinishProgress();
    err << "quillfen-cli: cannot read folder " << e.folder() << ": " << e.reason() << '\n';
    return kExitCannotStart;
  } catch (const std::exception& e) {
    host.FinishProgress();
    err << "quillfen-cli: cannot scan " << folder.string() << ": " << e.what() << '\n';
    return kExitCannotStart;
  }
  source.queue = walker.fullFileNames();
  walker.Terminate();
  source.identity = IdentifyQueue(AddTrailingSeparator(folder.string()), source.queue);
  return std::nullopt;
}

}  // namespace

int Convert(const ConvertOptions& options, std::ostream& out, std::ostream& err) {
  std::error_code ec;
  const fs::path sourcePath = AbsolutePath(options.source);
  const fs::path destination = AbsolutePath(options.destination);
  const bool isArchive = IsArchivePath(sourcePath.string()) && fs::is_regular_file(sourcePath, ec);
  if (!isArchive && !fs::is_directory(sourcePath, ec)) {
    err << "quillfen-cli: " << sourcePath.string() << ": not a folder\n";
    return kExitCannotStart;
  }
  if (fs::exists(destination, ec) && !fs::is_directory(destination, ec)) {
    err << "quillfen-cli: " << destination.string() << " is not a folder\n";
    return kExitCannotStart;
  }
  if (!isArchive && MirrorLandsInsideSource(sourcePath.string(), destination.string())) {
    err << "quillfen-cli: " << destination.string()
        << " would put the converted mailboxes inside the source folder " << sourcePath.string()
        << "; choose a destination outside it\n";
    return kExitCannotStart;
  }

  TerminalHost host(err, options.showProgress);
  Source source;
  source.path = sourcePath.string();
  ArchiveProgressLine archiveProgress(host);
  if (isArchive) {
    try {
      source.archive = std::make_unique<ArchiveConversion>(source.path, &archiveProgress,
                                                           ArchiveReading::OnePass);
    } catch (const StopRequested&) {
      host.FinishProgress();
      err << "quillfen-cli: interrupted while reading the archive; nothing was converted\n";
      return kExitInterrupted;
    } catch (const ArchiveError& e) {
      host.FinishProgress();
      err << "quillfen-cli: " << e.what() << "; nothing was converted\n";
      return kExitSomeFailed;
    }
    source.identity = source.archive->identity();
  } else if (const auto status = ScanFolder(sourcePath, host, source, err)) {
    return *status;
  }

  std::unique_ptr<DestinationJournal> journal;
  if (const auto status = TakeDestination(options, source, destination, journal, out, err)) {
    host.FinishProgress();
    return *status;
  }

  ReaderState readers;
  if (!isArchive) {
    const RunReport report =
        ConvertQueue(*journal, source.queue, readers, [&host](const ConversionProgress& progress) {
          host.ShowConversion(progress.done, progress.total);
          return !StopIsRequested();
        });
    return Finished(host, report, out, err);
  }
  try {
    return Finished(host, source.archive->Convert(*journal, readers), out, err);
  } catch (const StopRequested&) {
    // The archive's conversion left at a record's end; its journal tells
    // how far it got. Read in one pass, only the messages met so far are
    // known.
    RunReport report;
    report.destinationRoot = journal->destinationRoot();
    const std::int32_t total = source.archive->identity().messages;
    const bool totalKnown = total > 0;
    report.messages = totalKnown ? total : source.archive->messagesRead();
    report.stopped = true;
    CompleteReport(*journal, report, false);
    return Finished(host, report, out, err, totalKnown);
  } catch (const ArchiveError& e) {
    host.FinishProgress();
    err << "quillfen-cli: " << e.what() << "; nothing of this conversion was kept\n";
    return kExitSomeFailed;
  }
}

}  // namespace quillfen::cli
