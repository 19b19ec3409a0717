#include "source/export_archive.h"

#include <algorithm>
#include <optional>
#include <string_view>
#include <unordered_set>
#include <utility>

#include "os/folders.h"
#include "source/message_name.h"

namespace quillfen {

namespace {

// The folders the extracted archive would hold, as paths relative to the
// extraction folder without a trailing separator; "" is that folder itself.
// Folders come from folder entries and from the names of all other entries,
// since an archive need not list a folder before (or at all besides) its
// files.
class ArchiveFolders {
 public:
  // Every entry comes here, and its folder is nearly always known already:
  // that costs a look-up, without a copy of the name.
  void AddFolder(std::string_view folder) {
    while (!folder.empty() && folders_.find(folder) == folders_.end()) {
      folders_.emplace(folder);
      const std::size_t last = folder.rfind(separator_);
      folder = folder.substr(0, last == std::string_view::npos ? 0 : last);
    }
  }
  void AddParentsOf(std::string_view relative) {
    const std::size_t last = relative.rfind(separator_);
    if (last != std::string_view::npos) AddFolder(relative.substr(0, last));
  }

  // Adds the folders that entry proves to exist: itself when it is a
  // folder, else the folders above it.
  void AddFoldersOf(const ArchiveEntryPath& name, bool isFolder) {
    if (!name.problem.empty()) return;
    if (isFolder)
      AddFolder(name.relative);
    else
      AddParentsOf(name.relative);
  }

  // Whether folder (with or without a trailing separator) exists once the
  // archive is extracted into root. Folders outside root are looked up on
  // disk, where they would be looked up after a real extraction too. A
  // folder inside root that was not met is missing when complete (every
  // entry was seen), else not known yet.
  std::optional<bool> Lookup(std::string folder, const std::string& root, bool complete) const {
    const std::string rootFolder = root.substr(0, root.size() - 1);
    folder = WithoutTrailingSeparators(std::move(folder), PathStyle{separator_, 0});
    if (folder == rootFolder) return true;
    if (folder.size() > root.size() && folder.compare(0, root.size(), root) == 0) {
      if (folders_.find(std::string_view(folder).substr(root.size())) != folders_.end())
        return true;
      if (complete) return false;
      return std::nullopt;
    }
    return IsFolder(folder);
  }

 private:
  // Looked up by view.
  struct NameHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view name) const {
      return std::hash<std::string_view>{}(name);
    }
  };

  char separator_ = PathStyle::Native().separator;
  std::unordered_set<std::string, NameHash, std::equal_to<>> folders_;
};

}  // namespace

struct ExportArchive::Survey {
  std::int32_t items = 0;  // entries other than folders
  std::int32_t meta = 0;   // .meta files among them: the export's details of each message
  ArchiveFolders folders;
  bool complete = false;  // every header was read
};

namespace {

// The first pass: headers only, data skipped.
void SurveyArchive(const std::string& path, ArchiveProgress& progress,
                   ExportArchive::Survey& survey, std::int32_t& messages) {
  ArchiveReader reader(path);
  while (reader.Next()) {
    const ArchiveEntry& entry = reader.entry();
    if (!entry.folder && survey.items < INT32_MAX) ++survey.items;
    if (!entry.folder && IsMessageName(entry.name)) ++messages;
    if (!entry.folder && entry.name.ends_with(".meta")) ++survey.meta;
    survey.folders.AddFoldersOf(ParseArchiveEntryName(entry.name), entry.folder);
    // Counted as a folder's scan counts its files and messages.
    progress.Counting(survey.items, messages);
    progress.Yield();
  }
  reader.ReadToEnd();
  survey.complete = true;
}

}  // namespace

ExportArchive::ExportArchive(std::string archivePath, ArchiveProgress* progress,
                             ArchiveReading reading)
    : archivePath_(std::move(archivePath)),
      progress_(progress != nullptr ? progress : &quiet_),
      root_(ArchiveExtractionFolder(archivePath_)),
      survey_(std::make_unique<Survey>()) {
  os::PathFacts facts;
  if (os::Inspect(archivePath_, facts).ok()) fileSize_ = facts.size;
  if (reading == ArchiveReading::SurveyFirst) {
    SurveyArchive(archivePath_, *progress_, *survey_, messages_);
  } else {
    // The first header tells a file that is no archive at all before the
    // destination is touched; the rest is read while converting.
    opened_ = std::make_unique<ArchiveReader>(archivePath_);
    openedAtEntry_ = opened_->Next();
  }
}

ExportArchive::~ExportArchive() = default;

std::int32_t ExportArchive::entries() const {
  return survey_->items;
}

std::int32_t ExportArchive::metaFiles() const {
  return survey_->meta;
}

bool ExportArchive::counted() const {
  return survey_->complete;
}

void ExportArchive::SurveyNow() {
  if (survey_->complete) return;
  // Counts start afresh; the folders met so far are in the archive anyway.
  survey_->items = 0;
  survey_->meta = 0;
  std::int32_t messages = 0;
  SurveyArchive(archivePath_, *progress_, *survey_, messages);
  messages_ = messages;
}

bool ExportArchive::SourceFolderExists(const std::string& folder) {
  if (const std::optional<bool> known = survey_->folders.Lookup(folder, root_, survey_->complete))
    return *known;
  // A batch folder came before anything of its sibling: only the whole
  // archive can tell whether that sibling exists, and deciding now keeps the
  // records in archive order. A real export never gets here, as a folder's
  // first items come before its batch folders.
  SurveyNow();
  return survey_->folders.Lookup(folder, root_, true).value_or(false);
}

FolderExistsFunction ExportArchive::FolderLookup() {
  return [this](const std::string& folder) { return SourceFolderExists(folder); };
}

void ExportArchive::Walk(const MessageVisitor& visit) {
  ArchiveProgress& progress = *progress_;
  Survey& survey = *survey_;
  // Read in one pass, the folders become known as the entries go by.
  const bool onePass = !survey.complete;
  const std::int32_t total = onePass ? 0 : survey.items;
  std::int32_t done = 0;
  std::int32_t messages = 0;
  if (onePass) progress.SetFractionRead(0.0);
  progress.SetProgress(done, total);

  std::unique_ptr<ArchiveReader> reader;
  bool atEntry = false;
  if (opened_) {
    reader = std::move(opened_);
    atEntry = openedAtEntry_;
  } else {
    reader = std::make_unique<ArchiveReader>(archivePath_);
    atEntry = reader->Next();
  }
  Message message;
  // Kept from message to message, as message is, so that naming a message
  // allocates nothing once they have grown.
  std::string folder;
  const char separator = PathStyle::Native().separator;
  for (; atEntry; atEntry = reader->Next()) {
    const ArchiveEntry& entry = reader->entry();
    const bool isMessage = !entry.folder && IsMessageName(entry.name);
    std::optional<ArchiveEntryPath> path;
    if (onePass || isMessage) path = ParseArchiveEntryName(entry.name);
    if (onePass) survey.folders.AddFoldersOf(*path, entry.folder);
    if (entry.folder) continue;

    if (isMessage) {
      message.index = messages++;
      if (onePass) messages_ = messages;
      message.name = entry.name;
      message.problem = path->problem;
      if (message.problem.empty() && entry.link)
        message.problem = "the entry is a link, not a message; links are not followed";
      else if (message.problem.empty() && !entry.regular)
        message.problem = "the entry is not a regular file";
      message.source = nullptr;
      message.sourceFile.clear();
      if (path->problem.empty()) message.sourceFile.assign(root_).append(path->relative);
      if (message.problem.empty()) {
        // The folder of the file it stands for, with its separator.
        folder.assign(message.sourceFile, 0, message.sourceFile.rfind(separator) + 1);
        progress.SetCurrentFolder(folder);
        message.source = &reader->data();
      }
      visit(message);
    }

    if (onePass) {
      progress.SetFractionRead(fileSize_ > 0
                                   ? std::min(1.0, static_cast<double>(reader->compressedRead()) /
                                                       static_cast<double>(fileSize_))
                                   : 0.0);
      progress.SetProgress(messages, 0);
    } else {
      ++done;
      progress.SetProgress(done, std::max(total, done));
    }
    progress.Yield();
  }
  reader->ReadToEnd();
  if (onePass) {
    messages_ = messages;
    progress.SetFractionRead(1.0);
    progress.SetProgress(messages, 0);
  }
}

}  // namespace quillfen
