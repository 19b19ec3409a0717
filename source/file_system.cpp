#include "source/file_system.h"

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "os/folders.h"

namespace quillfen {
namespace {

os::FolderListing ListFolder(const std::string& path) {
  os::FolderListing listing;
  if (const os::Status status = os::ListFolder(path, listing); !status.ok())
    throw FileSystemError(path, status.reason());
  // Byte order, so that every run over the same tree gives the same queue.
  std::sort(listing.subFolders.begin(), listing.subFolders.end());
  std::sort(listing.others.begin(), listing.others.end());
  return listing;
}

// The walker asks for a folder's subfolders and then, at once, for the same
// folder's files. One listing serves both: the files of the last folder
// listed are kept until they are asked for, so no folder is read twice.
class DefaultFileSystem final : public FileSystem {
 public:
  bool FolderExists(const std::string& path) override { return os::IsFolder(path); }

  std::vector<std::string> SubFolders(const std::string& path) override {
    os::FolderListing listing = ListFolder(path);
    keptFilesPath_ = path;
    keptFiles_ = std::move(listing.others);
    haveKeptFiles_ = true;
    return std::move(listing.subFolders);
  }

  std::vector<std::string> Files(const std::string& path) override {
    if (haveKeptFiles_ && keptFilesPath_ == path) {
      haveKeptFiles_ = false;
      return std::exchange(keptFiles_, {});
    }
    return ListFolder(path).others;
  }

  std::optional<FolderIdentity> Identity(const std::string& path) override {
    return os::IdentifyFolder(path);
  }

 private:
  std::string keptFilesPath_;
  std::vector<std::string> keptFiles_;
  bool haveKeptFiles_ = false;
};

}  // namespace

std::unique_ptr<FileSystem> MakeDefaultFileSystem() {
  return std::make_unique<DefaultFileSystem>();
}

}  // namespace quillfen
