#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "convert/message_readers.h"
#include "convert/path_helpers.h"
#include "scan/keyed_list.h"
#include "scan/scan_observer.h"

namespace quillfen {

enum class MessageIcon { Information, Warning };

// What a conversion run needs from whoever drives it: the window, the
// command line, or a test's recorder.
class ConversionHost {
 public:
  using WindowHandle = std::uintptr_t;

  virtual ~ConversionHost() = default;

  // The owner window for the folder chooser (0 when there is none).
  virtual WindowHandle OwnerWindow() = 0;
  // Asks for a folder; the empty string when the user cancels.
  virtual std::string BrowseForFolder(WindowHandle owner, const std::string& title) = 0;

  // The queue of the last scan (may be null when nothing was scanned) and the
  // count the walker reported for it.
  virtual QueueListRef Queue() = 0;
  virtual std::int32_t QueueCount() = 0;

  virtual void SetBarMinimum(float value) = 0;
  virtual void SetBarMaximum(float value) = 0;
  virtual void SetBarValue(float value) = 0;
  virtual void SetUpdateCaption(const std::string& text) = 0;    // LblUpdate
  virtual void SetProgressCaption(const std::string& text) = 0;  // LblProgessCurrent

  // Processes pending events and returns.
  virtual void Yield() = 0;

  // A modal message box with an OK button. details is empty for the usual
  // final message; after failures it lists each failed file and its reason,
  // one per line.
  virtual void ShowMessage(MessageIcon icon, const std::string& text, const std::string& title,
                           const std::string& details) = 0;

  // The final message of a run in which nothing failed; destinationRoot is
  // the folder the mailboxes were written below, which a front end may
  // offer to show. By default the information message above.
  virtual void ShowFinished(const std::string& text, const std::string& title,
                            const std::string& details, const std::string& destinationRoot) {
    (void)destinationRoot;
    ShowMessage(MessageIcon::Information, text, title, details);
  }

  // The folder that was scanned, ending with the separator; empty when the
  // host does not know it (the folder of the first queued name stands in).
  virtual std::string SourceFolder() { return {}; }

  // A modal question with Yes and No buttons; true for Yes.
  virtual bool AskYesNo(const std::string& text, const std::string& title) = 0;
};

struct FailedMessage {
  std::string file;
  std::string reason;
};

// What a run did, for front ends that report more than the final message.
struct RunReport {
  bool cancelled = false;              // the destination choice was cancelled, or the user
                                       // declined to resume or repeat a conversion
  bool stopped = false;                // the front end stopped the run between two records
  std::string destinationRoot;         // ends with the separator
  std::int32_t messages = 0;           // queued names that passed the .eml filter
  std::int32_t converted = 0;          // records of the conversion, a resumed run's included
  std::int32_t alreadyConverted = 0;   // of those, the records an interrupted run had written
  std::vector<std::string> mailboxes;  // .mbox files written, in first-written order
  std::vector<FailedMessage> failures;
  // Mailboxes whose name was cut to fit the file system's limit of 255 bytes
  // (the folder's name was too long to end in ".mbox").
  std::vector<std::string> shortenedMailboxes;
};

// The message filter: true when name, in lower case and without leading and
// trailing spaces (U+0020 only), ends with ".eml". Only ASCII letters are
// folded, so bytes of a multi-byte name never make a false match.
bool IsMessageName(std::string_view name);

// The whole convert command: asks the host for a destination, converts every
// queued .eml file into a record of its folder's .mbox file, keeps the bar and
// the two captions current, and ends with one message box. A message that
// fails is recorded and the run goes on with the next one.
// - A queue without a single message: a warning saying that no messages
//   were found; no destination is asked for and nothing is written.
// - Cancelled choice: returns at once with report.cancelled; nothing else is
//   called and nothing is written.
// - A destination whose mirror of the source would land inside the source
//   folder: a warning saying so; nothing written.
// - Another conversion writing into the destination, or a destination that
//   cannot be written: a warning naming it and the reason; nothing written.
// - The destination holds an interrupted conversion of the same messages:
//   the host is asked whether to resume it (No leaves everything as it is).
//   It holds a finished one: the host is asked whether to convert them
//   again, as a second copy (No writes nothing).
// - Messages are read by their exact queued names; surrounding spaces are
//   ignored only when telling messages from other files.
// - A message whose mirror folder or mailbox name cannot be derived fails by
//   itself; nothing of it is written anywhere.
// - No failure: the information message. Some failures: a warning
//   "N of M messages could not be converted." with "file: reason" lines as
//   its details.
// - A count from the host below the queue's length (0 included) is replaced
//   by the length, so the bar never divides by zero or passes 100.
// - An exception thrown by the host's own calls (its Yield included) leaves
//   the run between two records; it is never taken for a failed message,
//   and a later run resumes where this one stopped.
RunReport ConversionRun(ConversionHost& host, ReaderState& readers,
                        PathStyle style = PathStyle::Native());

class ArchiveConversion;

// An export archive (.tgz, .tar.gz, .tar) taken in as the source of the
// convert command, in place of a scanned folder. Its entries are counted
// once, when it is taken in; every later run converts straight from it.
class ArchiveSource {
 public:
  // Reads the archive's headers: observer hears the running count as the
  // walker gives it ("N Files(s) Queued For Conversion") and yields. Later
  // runs show their progress through host. Throws ArchiveError when the
  // archive cannot be read; what the observer's or host's calls throw passes
  // through.
  ArchiveSource(const std::string& archivePath, ConversionHost& host, ScanObserver& observer);
  ~ArchiveSource();
  ArchiveSource(const ArchiveSource&) = delete;
  ArchiveSource& operator=(const ArchiveSource&) = delete;

  const std::string& path() const { return path_; }
  // The entries counted, folders included.
  std::int32_t entries() const;
  // The entries that pass the message filter.
  std::int32_t messages() const;

 private:
  friend RunReport ConversionRun(ConversionHost& host, ArchiveSource& archive,
                                 ReaderState& readers);
  class Progress;

  std::string path_;
  std::unique_ptr<Progress> progress_;
  std::unique_ptr<ArchiveConversion> conversion_;
};

// The convert command for an archive: the same questions, destination
// checks, captions, bar and final messages as for a folder, the archive
// read once more from its start. An archive without a single message says
// so before a destination is asked for. An archive that turns out damaged
// while it is converted gives a warning with the reason, and nothing of that
// conversion is kept.
RunReport ConversionRun(ConversionHost& host, ArchiveSource& archive, ReaderState& readers);

}  // namespace quillfen
