#include "scan/file_system.h"

#include <algorithm>
#include <cerrno>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#ifdef _WIN32
#include <filesystem>
#else
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#endif

namespace quillfen {
namespace {

// One folder's entries, split the way the walker asks for them.
struct Listing {
  std::vector<std::string> subFolders;
  std::vector<std::string> files;
};

std::string Reason(int error) {
  return std::system_category().message(error);
}

#ifdef _WIN32

std::filesystem::path NativePath(const std::string& path) {
  return std::filesystem::path(std::u8string(path.begin(), path.end()));
}

Listing ReadFolder(const std::string& path) {
  namespace fs = std::filesystem;
  Listing listing;
  std::error_code ec;
  fs::directory_iterator it(NativePath(path), ec);
  for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
    const std::u8string name = it->path().filename().u8string();
    std::string bare(name.begin(), name.end());
    std::error_code typeError;
    (it->is_directory(typeError) ? listing.subFolders : listing.files).push_back(std::move(bare));
  }
  if (ec) throw FileSystemError(path, ec.message());
  return listing;
}

bool IsFolder(const std::string& path) {
  std::error_code ec;
  return std::filesystem::is_directory(NativePath(path), ec);
}

std::optional<FolderIdentity> IdentityOf(const std::string&) {
  // The Windows port has no device and inode numbers through the standard
  // library; folder loops are not detected there yet.
  return std::nullopt;
}

#else

// Closes the folder stream on every way out of ListFolder.
struct DirCloser {
  void operator()(DIR* dir) const { ::closedir(dir); }
};

// Whether the entry, following a symbolic link, is a folder. The listing's
// own type answers for most entries; only links and entries of unknown type
// cost a stat. A dangling link counts as a file.
bool EntryIsFolder(int folderFd, const dirent& entry) {
#ifdef _DIRENT_HAVE_D_TYPE
  if (entry.d_type == DT_DIR) return true;
  if (entry.d_type != DT_LNK && entry.d_type != DT_UNKNOWN) return false;
#endif
  struct stat info;
  if (::fstatat(folderFd, entry.d_name, &info, 0) != 0) return false;
  return S_ISDIR(info.st_mode);
}

Listing ReadFolder(const std::string& path) {
  std::unique_ptr<DIR, DirCloser> dir(::opendir(path.c_str()));
  if (!dir) throw FileSystemError(path, Reason(errno));
  const int folderFd = ::dirfd(dir.get());

  Listing listing;
  for (;;) {
    errno = 0;
    const dirent* entry = ::readdir(dir.get());
    if (entry == nullptr) {
      if (errno != 0) throw FileSystemError(path, Reason(errno));
      break;
    }
    const char* name = entry->d_name;
    if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) continue;
    (EntryIsFolder(folderFd, *entry) ? listing.subFolders : listing.files).emplace_back(name);
  }
  return listing;
}

bool IsFolder(const std::string& path) {
  struct stat info;
  return !path.empty() && ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::optional<FolderIdentity> IdentityOf(const std::string& path) {
  struct stat info;
  if (path.empty() || ::stat(path.c_str(), &info) != 0) return std::nullopt;
  return FolderIdentity{static_cast<std::uint64_t>(info.st_dev),
                        static_cast<std::uint64_t>(info.st_ino)};
}

#endif

Listing ListFolder(const std::string& path) {
  Listing listing = ReadFolder(path);
  // Byte order, so that every run over the same tree gives the same queue.
  std::sort(listing.subFolders.begin(), listing.subFolders.end());
  std::sort(listing.files.begin(), listing.files.end());
  return listing;
}

// The walker asks for a folder's subfolders and then, at once, for the same
// folder's files. One listing serves both: the files of the last folder
// listed are kept until they are asked for, so no folder is read twice.
class DefaultFileSystem final : public FileSystem {
 public:
  bool FolderExists(const std::string& path) override { return IsFolder(path); }

  std::vector<std::string> SubFolders(const std::string& path) override {
    Listing listing = ListFolder(path);
    keptFilesPath_ = path;
    keptFiles_ = std::move(listing.files);
    haveKeptFiles_ = true;
    return std::move(listing.subFolders);
  }

  std::vector<std::string> Files(const std::string& path) override {
    if (haveKeptFiles_ && keptFilesPath_ == path) {
      haveKeptFiles_ = false;
      return std::exchange(keptFiles_, {});
    }
    return ListFolder(path).files;
  }

  std::optional<FolderIdentity> Identity(const std::string& path) override {
    return IdentityOf(path);
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
