#include "source/path_logger.h"

#include <charconv>
#include <limits>
#include <stdexcept>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

namespace quillfen {
namespace {

constexpr const char* kCountLabelSuffix = " Files(s) Queued For Conversion";

struct FolderIdentityHash {
  std::size_t operator()(const FolderIdentity& id) const {
    return std::hash<std::uint64_t>{}(id.inode) ^ (std::hash<std::uint64_t>{}(id.device) << 1);
  }
};

// Counters are 32-bit; going past the largest value ends the walk instead of
// wrapping round to negative positions and keys.
std::int32_t Increment(std::int32_t value, const char* what) {
  if (value == std::numeric_limits<std::int32_t>::max())
    throw std::overflow_error(std::string("folder walk: ") + what + " overflows");
  return value + 1;
}

// "K" followed by number in plain decimal.
std::string Key(std::int32_t number) {
  char digits[16];
  const char* end = std::to_chars(digits, digits + sizeof digits, number).ptr;
  std::string key(1, 'K');
  key.append(digits, static_cast<std::size_t>(end - digits));
  return key;
}

// A duplicate key means the list was filled by someone else meanwhile; the
// walk cannot go on without breaking the key scheme.
template <typename T>
void Append(KeyedList<T>& list, std::string key, T value) {
  if (list.Add(key, std::move(value))) return;
  throw std::logic_error("folder walk: key " + key + " is already taken");
}

}  // namespace

pathLogger::pathLogger(ScanObserver* observer, FileSystemFactory fileSystemFactory, char separator)
    : observer_(observer),
      fileSystemFactory_(std::move(fileSystemFactory)),
      separator_(separator) {}

void pathLogger::PathLogInit() {
  fileSystem_ = fileSystemFactory_ ? fileSystemFactory_() : nullptr;
  fullFileNamesOnly_ = true;
  count_ = 0;
  fileNames_.reset();
  pathNames_.reset();
  pathPointers_.reset();
  fullFileNames_.reset();
}

void pathLogger::Terminate() {
  fileSystem_.reset();
  fileNames_.reset();
  pathNames_.reset();
  pathPointers_.reset();
  fullFileNames_.reset();
}

std::string pathLogger::AddTrailingBackslash(const std::string& path) const {
  if (!path.empty() && path.back() == separator_) return path;
  return path + separator_;
}

void pathLogger::LogPath(const std::string& strPARENT) {
  if (!fileSystem_) throw std::logic_error("folder walk: LogPath needs PathLogInit first");
  // The service and the lists are held here too, so that a Terminate or
  // PathLogInit called by mistake from inside a yield cannot pull them away
  // from under the running walk.
  const std::shared_ptr<FileSystem> service = fileSystem_;
  FileSystem& fileSystem = *service;
  if (!fileSystem.FolderExists(strPARENT)) return;

  const KeyedListRef<std::string> paths = pathNames();
  const KeyedListRef<std::string> fullNames = fullFileNames();
  const bool fullNamesOnly = fullFileNamesOnly_;
  const KeyedListRef<std::string> bareNames = fullNamesOnly ? nullptr : fileNames();
  const KeyedListRef<std::int32_t> pointers = fullNamesOnly ? nullptr : pathPointers();

  std::int32_t known = 1;     // folders recorded in paths (j)
  std::int32_t visiting = 1;  // position of the folder being walked (i)
  if (!paths->Add("K0", AddTrailingBackslash(strPARENT)))
    throw std::logic_error("folder walk: key K0 is taken; call PathLogInit before LogPath");

  // Folders recorded so far, by device and inode. A folder reached again
  // through a symbolic link is neither recorded nor walked a second time, so
  // a link that points back up the tree cannot make the walk endless.
  std::unordered_set<FolderIdentity, FolderIdentityHash> seen;
  if (auto id = fileSystem.Identity(paths->Item(1))) seen.insert(*id);

  do {
    if (observer_) observer_->Yield();
    // A copy: the list may move its storage while subfolders are appended.
    const std::string folder = paths->Item(visiting);

    for (const std::string& name : fileSystem.SubFolders(folder)) {
      if (observer_) observer_->Yield();
      std::string subFolder = folder + name + separator_;
      if (auto id = fileSystem.Identity(subFolder); id && !seen.insert(*id).second) continue;
      known = Increment(known, "the folder count");
      Append(*paths, Key(known), std::move(subFolder));
    }

    for (const std::string& name : fileSystem.Files(folder)) {
      if (observer_) observer_->Yield();
      const std::int32_t next = Increment(count_, "the file count");
      if (fullNamesOnly) {
        Append(*fullNames, Key(next), folder + name);
        count_ = next;
        if (observer_) observer_->SetCountLabel(std::to_string(count_) + kCountLabelSuffix);
      } else {
        const std::string key = Key(next);
        Append(*bareNames, key, name);
        Append(*fullNames, key, folder + name);
        Append(*pointers, key, visiting);
        count_ = next;
      }
    }

    visiting = Increment(visiting, "the folder position");
  } while (visiting <= known);
}

KeyedListRef<std::string> pathLogger::fileNames() {
  if (!fileNames_) fileNames_ = std::make_shared<KeyedList<std::string>>();
  return fileNames_;
}

KeyedListRef<std::string> pathLogger::pathNames() {
  if (!pathNames_) pathNames_ = std::make_shared<KeyedList<std::string>>();
  return pathNames_;
}

KeyedListRef<std::int32_t> pathLogger::pathPointers() {
  if (!pathPointers_) pathPointers_ = std::make_shared<KeyedList<std::int32_t>>();
  return pathPointers_;
}

KeyedListRef<std::string> pathLogger::fullFileNames() {
  if (!fullFileNames_) fullFileNames_ = std::make_shared<KeyedList<std::string>>();
  return fullFileNames_;
}

}  // namespace quillfen
