#include "convert/conversion_run.h"

#include <algorithm>
#include <exception>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "convert/mbox_record.h"
#include "convert/message_failure.h"

namespace quillfen {

namespace {

constexpr const char* kChooserTitle = "Choose Folder to Save...";
constexpr const char* kMessageTitle = "Quillfen";
constexpr const char* kUpdatePrefix = "Converting Messages... from ";
constexpr const char* kDoneText =
    "Your data has been successfully exported to .mbox format (Compatible for Mac Mail).\r\n"
    "Move converted folders to Mac and import it into Apple Mac Mail by using the import option "
    "from File Menu.";

// Only the space character counts as padding here; tabs and other white
// space are part of the name.
std::string_view TrimSpaces(std::string_view text) {
  const auto first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(' ');
  return text.substr(first, last - first + 1);
}

// Whether a batch folder's sibling is in the source tree. The source tree is
// only ever read, so each folder is looked up once per run; every message of
// a batch folder would otherwise cost a look-up of its own.
class SourceFolders {
 public:
  bool Exists(const std::string& folder) {
    const auto [known, inserted] = exists_.try_emplace(folder, false);
    if (inserted) known->second = IsFolder(folder);
    return known->second;
  }

 private:
  std::unordered_map<std::string, bool> exists_;
};

// Makes sure of the mirror folders. The queue holds a folder's files one
// after the other, so the folder made sure of for the previous message is
// taken to be there still; that saves a look-up per message. Should it have
// gone meanwhile, opening the mailbox fails and Recreate puts it back.
class MirrorFolders {
 public:
  explicit MirrorFolders(PathStyle style) : style_(style) {}

  // Whether the folder could be created is learnt when the mailbox is
  // opened, which gives the precise reason; so the answer is not returned.
  void Ensure(const std::string& folder) {
    if (folder == ensured_) return;
    ensured_ = EnsureDirectory(folder, style_) ? folder : std::string();
  }

  // After the mailbox in folder could not be opened: true when the folder
  // had only been taken to be there, had gone, and has been created again,
  // so that a second attempt is worth making.
  bool Recreate(const std::string& folder) {
    if (folder != ensured_) return false;
    ensured_.clear();
    return !IsFolder(folder) && EnsureDirectory(folder, style_);
  }

 private:
  PathStyle style_;
  std::string ensured_;
};

// The yields inside reading and appending go through the host. An exception
// the host throws from its own Yield (a front end that wants the run to stop)
// must leave the run, not be mistaken for a failure of the message at hand,
// so it is kept here and thrown again once the message's failure handler has
// caught it.
class HostYield {
 public:
  explicit HostYield(ConversionHost& host) : host_(host) {}

  YieldFunction Function() {
    return [this] {
      try {
        host_.Yield();
      } catch (...) {
        pending_ = std::current_exception();
        throw;
      }
    };
  }

  void RethrowHostFailure() {
    if (pending_) std::rethrow_exception(std::exchange(pending_, nullptr));
  }

 private:
  ConversionHost& host_;
  std::exception_ptr pending_;
};

std::string FailureText(const RunReport& report) {
  return std::to_string(report.failures.size()) + " of " + std::to_string(report.messages) +
         " messages could not be converted.";
}

std::string FailureDetails(const RunReport& report) {
  std::string details;
  for (const FailedMessage& failure : report.failures) {
    if (!details.empty()) details += '\n';
    details += failure.file + ": " + failure.reason;
  }
  return details;
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

  const std::string chosen = host.BrowseForFolder(host.OwnerWindow(), kChooserTitle);
  if (chosen.empty()) {
    report.cancelled = true;
    return report;
  }
  report.destinationRoot = AddTrailingSeparator(chosen, style);
  const std::string& destinationRoot = report.destinationRoot;

  host.Yield();
  host.SetBarMinimum(0.0f);
  host.SetBarMaximum(100.0f);

  HostYield hostYield(host);
  const YieldFunction yield = hostYield.Function();
  std::unordered_set<std::string> mailboxesSeen;
  std::string lastMailbox;
  SourceFolders sourceFolders;
  const FolderExistsFunction sourceFolderExists = [&sourceFolders](const std::string& folder) {
    return sourceFolders.Exists(folder);
  };
  MirrorFolders mirrorFolders(style);

  const QueueListRef queue = host.Queue();
  if (queue) {
    // The length is taken once and items are fetched by position, so the
    // run never walks past what it set out to convert.
    const std::int32_t queued = queue->Count();
    for (std::int32_t index = 0; index < queued; ++index) {
      host.Yield();
      const std::string queuedName = queue->Item(index + 1);

      if (IsMessageName(queuedName)) {
        ++report.messages;
        host.Yield();
        host.Yield();

        // The file is read, and its folder mirrored, by the exact name the
        // walker queued: on this platform a trailing space belongs to the
        // name, and a trimmed name would read a different file or none.
        const std::string& sourceFile = queuedName;
        std::optional<std::string> failure;

        // A message whose mirror folder or mailbox name cannot be derived
        // fails by itself; it never borrows the previous message's result.
        std::optional<std::string> mirrorFolder;
        try {
          mirrorFolder = MirrorFolderFor(sourceFile, destinationRoot, style, sourceFolderExists);
        } catch (const std::exception& e) {
          failure = e.what();
        }
        if (mirrorFolder) mirrorFolders.Ensure(*mirrorFolder);

        host.SetUpdateCaption(kUpdatePrefix + ExtractParentPath(queuedName, style));
        host.Yield();

        std::optional<std::string> mboxFile;
        if (mirrorFolder) {
          try {
            mboxFile = MboxFileFor(*mirrorFolder, style);
          } catch (const std::exception& e) {
            failure = e.what();
          }
        }
        host.Yield();

        if (mboxFile) {
          try {
            const MboxRecord record = ReadMessageRecord(sourceFile, readers, yield);
            try {
              AppendMboxRecord(*mboxFile, record, yield);
            } catch (const MessageFailure&) {
              hostYield.RethrowHostFailure();
              if (!mirrorFolders.Recreate(*mirrorFolder)) throw;
              AppendMboxRecord(*mboxFile, record, yield);
            }
            ++report.converted;
            // Messages of one mailbox come one after the other, so the set
            // is consulted only when the mailbox changes.
            if (*mboxFile != lastMailbox) {
              if (mailboxesSeen.insert(*mboxFile).second) report.mailboxes.push_back(*mboxFile);
              lastMailbox = *mboxFile;
            }
          } catch (const std::exception& e) {
            hostYield.RethrowHostFailure();
            failure = e.what();
          } catch (...) {
            hostYield.RethrowHostFailure();
            failure = "unknown failure";
          }
        }
        host.Yield();

        if (failure) report.failures.push_back({sourceFile, std::move(*failure)});
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
  }

  if (report.failures.empty()) {
    host.ShowMessage(MessageIcon::Information, kDoneText, kMessageTitle, {});
  } else {
    host.ShowMessage(MessageIcon::Warning, FailureText(report), kMessageTitle,
                     FailureDetails(report));
  }
  return report;
}

}  // namespace quillfen
