#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "os/paths.h"
#include "source/archive_names.h"
#include "source/archive_reader.h"
#include "source/message_source.h"

namespace quillfen {

// What a front end sees while an archive is converted. Every member has a
// default that does nothing, so a caller overrides only what it shows.
class ArchiveProgress {
 public:
  virtual ~ArchiveProgress() = default;

  // Called while the archive's entries are counted, with the number of
  // entries other than folders seen so far and the messages among them:
  // before anything is written, or, read in one pass, when a batch folder
  // came before its sibling (see Convert).
  virtual void Counting(std::int32_t files, std::int32_t messages) {
    (void)files;
    (void)messages;
  }
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

// A .tgz, .tar.gz or .tar export read as messages, without extracting it:
// ArchiveReader gives the entries, and this walks them. Every message
// entry stands for the file ArchiveExtractionFolder(archivePath) + entry
// name, so it converts through the same per-message path as a folder's
// message, into the same mailbox, with the same batch-folder mapping and
// message filter. Memory stays the same whatever the size of an entry. A
// message entry that cannot be converted (an entry that cannot be read, a
// link, a name that is absolute or holds a ".." component) comes with the
// reason; nothing is ever written outside the destination.
class ExportArchive {
 public:
  // What is known of the archive's folders and entries.
  struct Survey;

  // One message entry of a walk.
  struct Message {
    std::int32_t index = 0;           // its place among the archive's messages, from 0
    std::string name;                 // the entry's name as the archive stores it
    std::string sourceFile;           // the file it stands for in the extracted export, if any
    std::string problem;              // why it cannot be converted; empty when it can
    MessageSource* source = nullptr;  // its bytes, when it can
  };
  using MessageVisitor = std::function<void(Message&)>;

  // Opens the archive. With SurveyFirst it is read once over its headers
  // only: that counts the entries (shown through progress's Counting),
  // collects the folders it holds and finds a corrupt or truncated archive
  // before anything is written. With OnePass only the first header is read,
  // which finds a missing file or one that is no archive at all. Throws
  // ArchiveError.
  ExportArchive(std::string archivePath, ArchiveProgress* progress,
                ArchiveReading reading = ArchiveReading::SurveyFirst);
  ~ExportArchive();

  const std::string& path() const { return archivePath_; }
  // Who hears how far the next walk is (null: nobody).
  void SetProgress(ArchiveProgress* progress) {
    progress_ = progress != nullptr ? progress : &quiet_;
  }
  // The folder the archive stands for, ending with the separator.
  const std::string& extractionFolder() const { return root_; }
  // The entries other than folders, and the messages among them: known from
  // the start after a survey, else once a walk reached the archive's end
  // (until then the messages met so far).
  std::int32_t entries() const;
  std::int32_t messages() const { return messages_; }
  // The .meta files among the entries (the export's details of each
  // message), known after a survey.
  std::int32_t metaFiles() const;
  bool counted() const;

  // Hands every message entry to visit, in archive order, reading the
  // archive from its start (the first walk of a one-pass archive goes on
  // from its first header). progress hears how far the walk is, and what
  // it throws (a front end that wants to stop) passes through. Throws
  // ArchiveError when the archive cannot be read to its end, also from the
  // reading of an entry's bytes. Read in one pass, a batch folder
  // "<name>!N" met before anything of its sibling "<name>" (which may come
  // later, or never) makes the walk read all headers once more to decide
  // its mailbox as a survey would; a real export holds a folder's first
  // items before its batch folders and never needs that.
  void Walk(const MessageVisitor& visit);
  // Whether a folder exists in the extracted export, as far as the walk so
  // far (or the survey) tells; for the mailbox of a batch folder.
  FolderExistsFunction FolderLookup();

 private:
  bool SourceFolderExists(const std::string& folder);
  void SurveyNow();

  std::string archivePath_;
  ArchiveProgress* progress_;
  ArchiveProgress quiet_;
  std::string root_;
  std::int64_t fileSize_ = 0;
  std::int32_t messages_ = 0;
  std::unique_ptr<Survey> survey_;
  // The archive opened by a one-pass constructor, at its first entry.
  std::unique_ptr<ArchiveReader> opened_;
  bool openedAtEntry_ = false;
};

}  // namespace quillfen
