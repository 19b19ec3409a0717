#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>

#include "convert/conversion_run.h"
#include "convert/destination_journal.h"
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

  // Called while the archive's entries are counted, with the number of
  // entries other than folders seen so far: before anything is written, or,
  // read in one pass,
  // when a batch folder came before its sibling (see Convert).
  virtual void Counting(std::int32_t files) { (void)files; }
  // Called for every entry that is not a folder, after it was handled, and
  // once with done 0 before the first. After a survey, done counts those
  // entries and never exceeds total. Read in one pass, the number of entries
  // is not known before the end: done then counts the messages met so far,
  // total is 0, and SetFractionRead comes right before each call.
  virtual void SetProgress(std::int32_t done, std::int32_t total) {
    (void)done;
    (void)total;
  }
  // Read in one pass: the share of the archive file read so far, from 0 to
  // 1, which is how far the conversion is.
  virtual void SetFractionRead(double fraction) { (void)fraction; }
  // The folder (ending with the separator) of the message about to be
  // converted, as it would be named in the extracted export.
  virtual void SetCurrentFolder(const std::string& folder) { (void)folder; }
  // Processes pending events of the front end and returns.
  virtual void Yield() {}
};

// How an archive is read.
enum class ArchiveReading {
  // Over its headers first, before anything is written, then again to
  // convert: the number of entries and messages is known from the start,
  // at the cost of decompressing the archive twice.
  SurveyFirst,
  // Once: the archive's first header is read at once, the rest only while
  // converting; the numbers are known at the end.
  OnePass,
};

// The conversion of a .tgz, .tar.gz or .tar export without extracting it:
// every entry converts as the file ArchiveExtractionFolder(archivePath) +
// entry name would in a folder conversion, through the same per-message
// path, with the same mailbox paths, batch-folder mapping, message filter,
// From lines and record bytes. Within a mailbox, records follow the
// archive's order. Memory stays the same whatever the size of an entry.
//
// A message that cannot be converted (an entry that cannot be read, a link,
// a name that is absolute or holds a ".." component) is recorded in the
// report's failures (file: the entry's name as the archive stores it) and
// the conversion goes on; nothing is ever written outside the destination.
// Entries that are not messages are passed over silently.
class ArchiveConversion {
 public:
  // What is known of the archive's folders and entries.
  struct Survey;
  // The archive opened by a one-pass constructor, at its first entry.
  struct Opened;

  // Opens the archive. With SurveyFirst it is read once over its headers
  // only: that counts the entries (shown through progress's Counting),
  // collects the folders it holds and finds a corrupt or truncated archive
  // before anything is written. With OnePass only the first header is read,
  // which finds a missing file or one that is no archive at all. Throws
  // ArchiveError.
  ArchiveConversion(std::string archivePath, ArchiveProgress* progress,
                    ArchiveReading reading = ArchiveReading::SurveyFirst);
  ~ArchiveConversion();

  // The archive as a source: its path, size, modification time and the
  // number of its messages. Read in one pass, that number is 0 (unknown)
  // until Convert finished or SurveyNow ran; a journal knows the archive
  // again by its path and fingerprint alone.
  const SourceIdentity& identity() const { return identity_; }
  // The messages met so far by Convert: all of them once it finished.
  std::int32_t messagesRead() const { return messagesRead_; }

  // Reads the archive over its headers now, as SurveyFirst does, unless that
  // was done already; identity() then holds the number of messages. Throws
  // ArchiveError.
  void SurveyNow();

  // Converts every message entry through journal (on which Begin has run).
  // Throws ArchiveError when the archive cannot be read to its end: every
  // record of this conversion is then taken back again. An exception thrown
  // by progress (a front end that wants to stop) leaves the conversion
  // resumable. Read in one pass, a batch folder "<name>!N" met before
  // anything of its sibling "<name>" (which may come later, or never) makes
  // the conversion read all headers once more (SurveyNow) to decide its
  // mailbox as a survey would; a real export holds a folder's first items
  // before its batch folders and never needs that.
  RunReport Convert(DestinationJournal& journal, ReaderState& readers);

 private:
  bool SourceFolderExists(const std::string& folder);

  std::string archivePath_;
  ArchiveProgress* progress_;
  ArchiveProgress quiet_;
  std::string root_;
  std::int64_t fileSize_ = 0;
  SourceIdentity identity_;
  std::int32_t messagesRead_ = 0;
  std::unique_ptr<Survey> survey_;
  std::unique_ptr<Opened> opened_;
};

// The whole conversion of an archive in one call, read in one pass, for
// callers that ask the user nothing: an interrupted conversion of the same
// archive is resumed, anything else (a finished one included) is converted
// anew. Throws what ArchiveConversion and DestinationJournal throw.
RunReport ConvertArchive(const std::string& archivePath, const std::string& destinationRoot,
                         ArchiveProgress* progress, ReaderState& readers);

}  // namespace quillfen
