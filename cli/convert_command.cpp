#include "cli/convert_command.h"

#include <exception>
#include <filesystem>
#include <system_error>

#include "cli/terminal_host.h"
#include "convert/archive_conversion.h"
#include "convert/conversion_run.h"
#include "convert/message_readers.h"
#include "convert/path_helpers.h"
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

void PrintSummary(const RunReport& report, std::ostream& out) {
  out << "Messages converted: " << report.converted << " of " << report.messages << '\n'
      << "Mailboxes written: " << report.mailboxes.size() << '\n'
      << "Destination: " << report.destinationRoot << '\n';
  for (const FailedMessage& failure : report.failures)
    out << "Not converted: " << failure.file << ": " << failure.reason << '\n';
  out.flush();
}

// Creates the destination when missing; false, with the reason on err,
// when it cannot be had.
bool PrepareDestination(const fs::path& destination, std::ostream& err) {
  std::error_code ec;
  fs::create_directories(destination, ec);
  if (fs::is_directory(destination, ec)) return true;
  err << "quillfen-cli: " << destination.string() << ": cannot create the destination folder"
      << (ec ? ": " + ec.message() : "") << '\n';
  return false;
}

// Shows an archive's conversion on the same progress line as a folder's.
class ArchiveProgressLine : public ArchiveProgress {
 public:
  explicit ArchiveProgressLine(TerminalHost& host) : host_(host) {}

  void Counting(std::int32_t entries) override {
    host_.SetCountLabel("reading the archive: " + std::to_string(entries) + " entries");
  }
  void SetProgress(std::int32_t done, std::int32_t total) override {
    host_.SetBarValue(total > 0 ? static_cast<float>(100.0 * done / total) : 100.0f);
    host_.SetProgressCaption("Message " + std::to_string(done) + " (of " + std::to_string(total) +
                             ")");
  }
  void Yield() override { host_.Yield(); }

 private:
  TerminalHost& host_;
};

int Interrupted(TerminalHost& host, std::ostream& err) {
  host.FinishProgress();
  err << "quillfen-cli: interrupted; every mailbox written so far ends with a whole message\n";
  return kExitInterrupted;
}

// Ends the progress line, prints the summary and gives the exit status.
int Finished(TerminalHost& host, const RunReport& report, std::ostream& out) {
  host.FinishProgress();
  PrintSummary(report, out);
  return report.failures.empty() ? kExitConverted : kExitSomeFailed;
}

}  // namespace

int Convert(const ConvertOptions& options, std::ostream& out, std::ostream& err) {
  std::error_code ec;
  const fs::path source = AbsolutePath(options.source);
  if (IsArchivePath(source.string()) && fs::is_regular_file(source, ec))
    return ConvertArchiveFile(options, out, err);
  return ConvertFolderTree(options, out, err);
}

int ConvertArchiveFile(const ConvertOptions& options, std::ostream& out, std::ostream& err) {
  const fs::path source = AbsolutePath(options.source);
  const fs::path destination = AbsolutePath(options.destination);
  if (!PrepareDestination(destination, err)) return kExitCannotStart;

  TerminalHost host(destination.string(), err, options.showProgress);
  ArchiveProgressLine progress(host);
  ReaderState readers;
  try {
    return Finished(host,
                    ConvertArchive(source.string(), AddTrailingSeparator(destination.string()),
                                   &progress, readers),
                    out);
  } catch (const StopRequested&) {
    return Interrupted(host, err);
  } catch (const ArchiveError& e) {
    // What was converted before the damage is whole and stays; the summary
    // says how much that was.
    host.FinishProgress();
    RunReport report = e.report();
    report.destinationRoot = AddTrailingSeparator(destination.string());
    PrintSummary(report, out);
    err << "quillfen-cli: " << e.what() << '\n';
    return kExitSomeFailed;
  }
}

int ConvertFolderTree(const ConvertOptions& options, std::ostream& out, std::ostream& err) {
  std::error_code ec;
  const fs::path source = AbsolutePath(options.source);
  if (!fs::is_directory(source, ec)) {
    err << "quillfen-cli: " << source.string() << ": not a folder\n";
    return kExitCannotStart;
  }

  const fs::path destination = AbsolutePath(options.destination);
  if (!PrepareDestination(destination, err)) return kExitCannotStart;

  TerminalHost host(destination.string(), err, options.showProgress);

  pathLogger walker(&host);
  try {
    walker.PathLogInit();
    walker.fullFileNamesOnly(true);
    walker.LogPath(AddTrailingSeparator(source.string()));
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
    err << "quillfen-cli: cannot scan " << source.string() << ": " << e.what() << '\n';
    return kExitCannotStart;
  }
  host.SetQueue(walker.fullFileNames(), walker.Count());
  walker.Terminate();

  ReaderState readers;
  try {
    return Finished(host, ConversionRun(host, readers), out);
  } catch (const StopRequested&) {
    return Interrupted(host, err);
  }
}

}  // namespace quillfen::cli
