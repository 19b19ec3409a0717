#include "source/archive_conversion.h"

#include <archive.h>
#include <archive_entry.h>

#include <algorithm>
#include <cstring>
#include <exception>
#include <filesystem>
#include <memory>
#include <optional>
#include <string_view>
#include <system_error>
#include <unordered_set>
#include <utility>
#include <vector>

#include "mbox/message_failure.h"
#include "os/folders.h"
#include "source/archive_entry_names.h"
#include "source/gzip_block_reader.h"
#include "source/queue_messages.h"

namespace quillfen {

namespace {

struct ArchiveReadFree {
  void operator()(archive* a) const { archive_read_free(a); }
};

// An open archive: the file, decompressed by zlib, under libarchive's tar
// reader. zlib, not libarchive, undoes the gzip compression because zlib
// checks every gzip member's CRC and length, and libarchive does not: a .tgz
// damaged inside a message's data would otherwise convert without a word.
// Decompressing takes most of a conversion's time, so it runs on a thread of
// its own, ahead of the conversion.
struct ArchiveStream {
  std::unique_ptr<GzipBlockReader> file;
  // Why reading the file failed. Kept here because libarchive may replace
  // the reason a read callback gives with a vaguer one of its own.
  std::string readError;
  std::unique_ptr<archive, ArchiveReadFree> reader;  // released before file
  // The compressed bytes of the file read so far, for the progress of a
  // conversion that reads the archive once.
  std::int64_t compressedRead = 0;
};

struct ReadContext {
  ArchiveStream* stream;
  std::string path;
};

la_ssize_t ReadBlock(archive* reader, void* data, const void** block) {
  auto* context = static_cast<ReadContext*>(data);
  ArchiveStream& stream = *context->stream;
  const DecompressedBlock& next = stream.file->Next();
  if (!next.error.empty()) {
    stream.readError = next.error;
    archive_set_error(reader, EIO, "%s", stream.readError.c_str());
    return ARCHIVE_FATAL;
  }
  if (next.size > 0) stream.compressedRead = next.compressedRead;
  *block = next.data;
  return static_cast<la_ssize_t>(next.size);
}

std::string ErrorText(const ArchiveStream& stream) {
  if (!stream.readError.empty()) return stream.readError;
  const char* text = archive_error_string(stream.reader.get());
  return text != nullptr && *text != '\0' ? text : "unknown error";
}

// The tar reader stops at the archive's end marker and never asks for the
// bytes after it, so the last gzip member's CRC, length and very end would
// go unchecked. Reading the rest of the stream checks them.
struct OpenedArchive;
void ReadToEnd(OpenedArchive& opened);

// An open archive and what its read callback needs; neither moves while
// libarchive holds a pointer to the context.
struct OpenedArchive {
  ArchiveStream stream;
  ReadContext context{&stream, {}};
};

void ReadToEnd(OpenedArchive& opened) {
  const void* block = nullptr;
  la_ssize_t got = 0;
  do {
    got = ReadBlock(opened.stream.reader.get(), &opened.context, &block);
  } while (got > 0);
  if (got < 0) throw ArchiveError(opened.context.path, ErrorText(opened.stream));
}

std::unique_ptr<OpenedArchive> OpenArchive(const std::string& path) {
  auto opened = std::make_unique<OpenedArchive>();
  opened->context.path = path;
  ArchiveStream& stream = opened->stream;
  try {
    stream.file = std::make_unique<GzipBlockReader>(path);
  } catch (const std::runtime_error& error) {
    throw ArchiveError(path, error.what());
  }

  stream.reader.reset(archive_read_new());
  archive* reader = stream.reader.get();
  if (reader == nullptr) throw ArchiveError(path, "out of memory");
  archive_read_support_filter_all(reader);
  archive_read_support_format_tar(reader);
  if (archive_read_open(reader, &opened->context, nullptr, ReadBlock, nullptr) < ARCHIVE_WARN)
    throw ArchiveError(path, ErrorText(stream));
  return opened;
}

// The next entry's header, or null at the end of the archive. Warnings (an
// unknown extended header, a name not in the locale's character set) are no
// reason to stop; anything worse is.
archive_entry* NextEntry(OpenedArchive& opened) {
  archive_entry* entry = nullptr;
  const int status = archive_read_next_header(opened.stream.reader.get(), &entry);
  if (status == ARCHIVE_EOF) return nullptr;
  if (status < ARCHIVE_WARN) throw ArchiveError(opened.context.path, ErrorText(opened.stream));
  return entry;
}

std::string EntryName(archive_entry* entry) {
  // The name as stored where the locale allows it, as UTF-8 otherwise, so
  // that extended headers with names outside the locale still convert.
  if (const char* name = archive_entry_pathname(entry)) return name;
  if (const char* name = archive_entry_pathname_utf8(entry)) return name;
  return {};
}

bool IsLinkEntry(archive_entry* entry) {
  return archive_entry_hardlink(entry) != nullptr || archive_entry_filetype(entry) == AE_IFLNK;
}

// The archive itself cannot be read on: whatever entry was at hand, the
// conversion cannot go on.
class ArchiveBroken : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The entry at hand as a message's bytes. Holes of a sparse entry read as
// zero bytes, as they would from the extracted file.
class ArchiveEntrySource : public MessageSource {
 public:
  ArchiveEntrySource(OpenedArchive& opened, archive_entry* entry)
      : opened_(opened),
        size_(archive_entry_size_is_set(entry) ? archive_entry_size(entry) : -1),
        modificationTime_(static_cast<long long>(archive_entry_mtime(entry))) {}

  std::size_t Read(char* buffer, std::size_t size) override {
    std::size_t filled = 0;
    while (filled < size && !atEnd_) {
      const la_ssize_t got =
          archive_read_data(opened_.stream.reader.get(), buffer + filled, size - filled);
      if (got == ARCHIVE_FATAL) throw ArchiveBroken(ErrorText(opened_.stream));
      if (got < 0) throw MessageFailure("cannot read the entry: " + ErrorText(opened_.stream));
      if (got == 0) {
        atEnd_ = true;
        break;
      }
      filled += static_cast<std::size_t>(got);
      offset_ += got;
    }
    // A sparse entry that ends in a hole stops before its size: the rest
    // are zero bytes.
    if (atEnd_ && size_ > offset_ && filled < size) {
      const auto zeros =
          static_cast<std::size_t>(std::min<std::int64_t>(size_ - offset_, size - filled));
      std::memset(buffer + filled, 0, zeros);
      filled += zeros;
      offset_ += static_cast<std::int64_t>(zeros);
    }
    return filled;
  }
  long long FallbackTime() const override { return modificationTime_; }
  std::int64_t SizeHint() const override { return size_; }

 private:
  OpenedArchive& opened_;
  std::int64_t size_;
  long long modificationTime_;
  std::int64_t offset_ = 0;
  bool atEnd_ = false;
};

// The folders the extracted archive would hold, as paths relative to the
// extraction folder without a trailing separator; "" is that folder itself.
// Folders come from folder entries and from the names of all other entries,
// since an archive need not list a folder before (or at all besides) its
// files.
class ArchiveFolders {
 public:
  void AddFolder(const std::string& relative) {
    std::string folder = relative;
    while (!folder.empty() && folders_.insert(folder).second) {
      const std::size_t last = folder.rfind(separator_);
      folder.resize(last == std::string::npos ? 0 : last);
    }
  }
  void AddParentsOf(const std::string& relative) {
    const std::size_t last = relative.rfind(separator_);
    if (last != std::string::npos) AddFolder(relative.substr(0, last));
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
    while (folder.size() > 1 && folder.back() == separator_) folder.pop_back();
    if (folder == rootFolder) return true;
    if (folder.size() > root.size() && folder.compare(0, root.size(), root) == 0) {
      if (folders_.count(folder.substr(root.size())) != 0) return true;
      if (complete) return false;
      return std::nullopt;
    }
    return IsFolder(folder);
  }

 private:
  char separator_ = PathStyle::Native().separator;
  std::unordered_set<std::string> folders_;
};

}  // namespace

struct ArchiveConversion::Survey {
  std::int32_t items = 0;  // entries other than folders
  ArchiveFolders folders;
  bool complete = false;  // every header was read
};

struct ArchiveConversion::Opened {
  std::unique_ptr<OpenedArchive> archive;
  archive_entry* first = nullptr;  // null for an empty archive
};

namespace {

// The first pass: headers only, data skipped.
void SurveyArchive(const std::string& path, ArchiveProgress& progress,
                   ArchiveConversion::Survey& survey, std::int32_t& messages) {
  const auto opened = OpenArchive(path);
  while (archive_entry* entry = NextEntry(*opened)) {
    const std::string entryName = EntryName(entry);
    const bool isFolder = archive_entry_filetype(entry) == AE_IFDIR && !IsLinkEntry(entry);
    if (!isFolder && survey.items < INT32_MAX) ++survey.items;
    if (!isFolder && IsMessageName(entryName)) ++messages;
    survey.folders.AddFoldersOf(ParseArchiveEntryName(entryName), isFolder);
    // Files are counted, as a folder's scan counts them: the window shows
    // this number as the queue's length.
    progress.Counting(survey.items);
    progress.Yield();
  }
  ReadToEnd(*opened);
  survey.complete = true;
}

// The length of path's archive extension (".tgz", ".tar.gz" or ".tar" in any
// letter case), 0 when it has none.
std::size_t ArchiveExtensionLength(std::string_view path) {
  for (std::string_view extension : {".tgz", ".tar.gz", ".tar"}) {
    if (path.size() < extension.size()) continue;
    const std::string_view tail = path.substr(path.size() - extension.size());
    if (std::equal(tail.begin(), tail.end(), extension.begin(),
                   [](char a, char b) { return (a >= 'A' && a <= 'Z' ? a - 'A' + 'a' : a) == b; }))
      return extension.size();
  }
  return 0;
}

}  // namespace

ArchiveError::ArchiveError(std::string archivePath, std::string reason)
    : std::runtime_error("cannot read the archive " + archivePath + ": " + reason),
      archivePath_(std::move(archivePath)),
      reason_(std::move(reason)) {}

bool IsArchivePath(const std::string& path) {
  return ArchiveExtensionLength(path) != 0;
}

std::string ArchiveExtractionFolder(const std::string& archivePath) {
  // The mirror tree repeats this path below the destination, so it is made
  // absolute and "." and ".." are resolved by spelling, as for a folder.
  std::string path = archivePath;
  if (!path.empty()) {
    std::error_code ec;
    const std::filesystem::path absolute = std::filesystem::absolute(path, ec);
    if (!ec) path = absolute.lexically_normal().string();
  }
  path.resize(path.size() - ArchiveExtensionLength(path));
  return AddTrailingSeparator(path);
}

ArchiveConversion::ArchiveConversion(std::string archivePath, ArchiveProgress* progress,
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
    opened_ = std::make_unique<Opened>();
    opened_->archive = OpenArchive(archivePath_);
    opened_->first = NextEntry(*opened_->archive);
  }
}

std::int32_t ArchiveConversion::entries() const {
  return survey_->items;
}

bool ArchiveConversion::counted() const {
  return survey_->complete;
}

void ArchiveConversion::SurveyNow() {
  if (survey_->complete) return;
  // Counts start afresh; the folders met so far are in the archive anyway.
  survey_->items = 0;
  std::int32_t messages = 0;
  SurveyArchive(archivePath_, *progress_, *survey_, messages);
  messages_ = messages;
}

bool ArchiveConversion::SourceFolderExists(const std::string& folder) {
  if (const std::optional<bool> known = survey_->folders.Lookup(folder, root_, survey_->complete))
    return *known;
  // A batch folder came before anything of its sibling: only the whole
  // archive can tell whether that sibling exists, and deciding now keeps the
  // records in archive order. A real export never gets here, as a folder's
  // first items come before its batch folders.
  SurveyNow();
  return survey_->folders.Lookup(folder, root_, true).value_or(false);
}

FolderExistsFunction ArchiveConversion::FolderLookup() {
  return [this](const std::string& folder) { return SourceFolderExists(folder); };
}

ArchiveConversion::~ArchiveConversion() = default;

void ArchiveConversion::Walk(const MessageVisitor& visit) {
  ArchiveProgress& progress = *progress_;
  Survey& survey = *survey_;
  // Read in one pass, the folders become known as the entries go by.
  const bool onePass = !survey.complete;
  const std::int32_t total = onePass ? 0 : survey.items;
  std::int32_t done = 0;
  std::int32_t messages = 0;
  if (onePass) progress.SetFractionRead(0.0);
  progress.SetProgress(done, total);

  try {
    std::unique_ptr<OpenedArchive> opened;
    archive_entry* entry = nullptr;
    if (opened_) {
      opened = std::move(opened_->archive);
      entry = opened_->first;
      opened_.reset();
    } else {
      opened = OpenArchive(archivePath_);
      entry = NextEntry(*opened);
    }
    Message message;
    for (; entry != nullptr; entry = NextEntry(*opened)) {
      const bool isLink = IsLinkEntry(entry);
      const bool isFolder = archive_entry_filetype(entry) == AE_IFDIR && !isLink;
      std::string name = EntryName(entry);
      const bool isMessage = !isFolder && IsMessageName(name);
      std::optional<ArchiveEntryPath> path;
      if (onePass || isMessage) path = ParseArchiveEntryName(name);
      if (onePass) survey.folders.AddFoldersOf(*path, isFolder);
      if (isFolder) continue;

      if (isMessage) {
        message.index = messages++;
        if (onePass) messages_ = messages;
        message.name = std::move(name);
        message.problem = path->problem;
        if (message.problem.empty() && isLink)
          message.problem = "the entry is a link, not a message; links are not followed";
        else if (message.problem.empty() && archive_entry_filetype(entry) != AE_IFREG)
          message.problem = "the entry is not a regular file";
        std::optional<ArchiveEntrySource> source;
        message.source = nullptr;
        message.sourceFile.clear();
        if (message.problem.empty()) {
          message.sourceFile = root_ + path->relative;
          progress.SetCurrentFolder(ExtractParentPath(message.sourceFile));
          source.emplace(*opened, entry);
          message.source = &*source;
        }
        visit(message);
      }

      if (onePass) {
        progress.SetFractionRead(
            fileSize_ > 0 ? std::min(1.0, static_cast<double>(opened->stream.compressedRead) /
                                              static_cast<double>(fileSize_))
                          : 0.0);
        progress.SetProgress(messages, 0);
      } else {
        ++done;
        progress.SetProgress(done, std::max(total, done));
      }
      progress.Yield();
    }
    ReadToEnd(*opened);
  } catch (const ArchiveBroken& broken) {
    throw ArchiveError(archivePath_, broken.what());
  }
  if (onePass) {
    messages_ = messages;
    progress.SetFractionRead(1.0);
    progress.SetProgress(messages, 0);
  }
}

}  // namespace quillfen
