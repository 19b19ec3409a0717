#include "source/folder_walker.h"

#include <cstdint>
#include <limits>
#include <stdexcept>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "source/message_name.h"

namespace quillfen {
namespace {

struct FolderIdentityHash {
  std::size_t operator()(const FolderIdentity& id) const {
    return std::hash<std::uint64_t>{}(id.inode) ^ (std::hash<std::uint64_t>{}(id.device) << 1);
  }
};

}  // namespace

FolderWalker::FolderWalker(ScanObserver* observer, FileSystemFactory fileSystemFactory,
                           char separator)
    : observer_(observer),
      fileSystemFactory_(std::move(fileSystemFactory)),
      separator_(separator) {}

void FolderWalker::Walk(const std::string& root, std::shared_ptr<PathQueue> queue) {
  if (!queue) queue = std::make_shared<PathQueue>();
  queue_ = queue;
  unreadable_.clear();
  const std::unique_ptr<FileSystem> fileSystem = fileSystemFactory_();
  if (!fileSystem->FolderExists(root)) return;

  // The folders found so far, in the order they are walked; the walk runs
  // through them while it appends the subfolders it finds.
  std::vector<std::string> folders{root};
  if (folders.front().empty() || folders.front().back() != separator_)
    folders.front() += separator_;

  // Folders met so far, by device and inode. A folder reached again through
  // a symbolic link is not walked a second time, so a link that points back
  // up the tree cannot make the walk endless.
  std::unordered_set<FolderIdentity, FolderIdentityHash> seen;
  if (auto id = fileSystem->Identity(folders.front())) seen.insert(*id);

  std::int32_t count = 0;
  std::int32_t messages = 0;
  // A file's path is put together in room kept from file to file: a walk
  // queues hundreds of thousands of files.
  std::string path;
  // Lists one folder; a folder that cannot be listed is recorded and
  // skipped when the walk goes on past it, and ends the walk otherwise.
  const auto list = [&](auto listing, const std::string& folder, std::vector<std::string>& names) {
    try {
      names = ((*fileSystem).*listing)(folder);
      return true;
    } catch (const FileSystemError& error) {
      if (!goOnPastUnreadable_) throw;
      unreadable_.push_back(error);
      return false;
    }
  };
  std::vector<std::string> names;
  for (std::size_t at = 0; at < folders.size(); ++at) {
    if (observer_) observer_->Yield();
    // A copy: the list may move its strings while subfolders are appended.
    const std::string folder = folders[at];

    // A folder whose subfolders cannot be listed cannot list its files
    // either: it is recorded once.
    if (!list(&FileSystem::SubFolders, folder, names)) continue;
    for (const std::string& name : names) {
      if (observer_) observer_->Yield();
      std::string subFolder = folder + name + separator_;
      if (auto id = fileSystem->Identity(subFolder); id && !seen.insert(*id).second) continue;
      folders.push_back(std::move(subFolder));
    }

    if (!list(&FileSystem::Files, folder, names)) continue;
    for (const std::string& name : names) {
      if (observer_) observer_->Yield();
      // The count is 32-bit for every front end; going past its largest
      // value ends the walk instead of wrapping round.
      if (count == std::numeric_limits<std::int32_t>::max())
        throw std::overflow_error("folder walk: the file count overflows");
      path.assign(folder).append(name);
      queue->push_back(path);
      ++count;
      if (IsMessageName(name)) ++messages;
      if (observer_) observer_->Queued(count, messages);
    }
  }
}

}  // namespace quillfen
