#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

#include "convert/conversion_run.h"
#include "convert/message_readers.h"

namespace quillfen {

// True when path names an export archive that ConvertArchive reads: its name
// ends with ".tgz", ".tar.gz" or ".tar" in any mix of letter case.
bool IsArchivePath(const std::string& path);

// The folder an archive stands for: its path without the archive extension,
// ending with the separator ("/a/b/export.tgz" gives "/a/b/export/"). A
// relative path is made absolute first, as a scanned folder's names are.
std::string ArchiveExtractionFolder(const std::string& archivePath);

// The whole archive could not be read: it is missing, not a tar archive, or
// corrupt or truncated somewhere. Every record written before the failure is
// whole; report() tells what was converted up to that point (nothing when the
// archive was found unreadable before any message was written).
class ArchiveError : public std::runtime_error {
 public:
  ArchiveError(std::string archivePath, std::string reason, RunReport report);

  const std::string& archivePath() const { return archivePath_; }
  const std::string& reason() const { return reason_; }
  const RunReport& report() const { return report_; }

 private:
  std::string archivePath_;
  std::string reason_;
  RunReport report_;
};

// What a front end sees while an archive is converted. Every member has a
// default that does nothing, so a caller overrides only what it shows.
class ArchiveProgress {
 public:
  virtual ~ArchiveProgress() = default;

  // Called while the archive's entries are counted, before anything is
  // written, with the number of entries seen so far.
  virtual void Counting(std::int32_t entries) { (void)entries; }
  // Called for every entry that is not a folder, after it was handled, and
  // once with done 0 before the first. done never exceeds total.
  virtual void SetProgress(std::int32_t done, std::int32_t total) {
    (void)done;
    (void)total;
  }
  // The folder (ending with the separator) of the message about to be
  // converted, as it would be named in the extracted export.
  virtual void SetCurrentFolder(const std::string& folder) { (void)folder; }
  // Processes pending events of the front end and returns.
  virtual void Yield() {}
};

// Converts the .tgz, .tar.gz or .tar export at archivePath into destinationRoot
// (ending with the separator) without extracting it: every entry converts as
// the file ArchiveExtractionFolder(archivePath) + entry name would in a folder
// conversion, with the same mailbox paths, batch-folder mapping, message
// filter, From lines and record bytes. Within a mailbox, records follow the
// archive's order. Memory stays bounded by the largest single message.
//
// The archive is read twice: once over its headers only, which counts the
// entries, collects the folders it holds and finds a corrupt or truncated
// archive before anything is written; then to convert.
//
// A message that cannot be converted is recorded in the report's failures
// (file: the entry's name as the archive stores it) and the conversion goes
// on. So is a message entry that is a link, or whose name is absolute or
// holds a ".." component: it is skipped, and nothing is ever written outside
// destinationRoot. Entries that are not messages are passed over silently.
//
// Throws ArchiveError when the archive itself cannot be read; every record
// written until then is whole. Throws std::invalid_argument, before reading
// anything, when destinationRoot is empty. An exception thrown by progress
// (a front end that wants to stop) leaves the conversion unchanged.
RunReport ConvertArchive(const std::string& archivePath, const std::string& destinationRoot,
                         ArchiveProgress* progress, ReaderState& readers);

}  // namespace quillfen
