#include "os/folders.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <memory>

#include "os/change_observer.h"
#include "os/planted_faults.h"
#include "os/posix/system_reason.h"

namespace quillfen::os {
namespace {

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

// The path without its trailing slashes ("/" stays as it is).
std::string WithoutTrailingSlashes(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

}  // namespace

bool IsFolder(const std::string& path) noexcept {
  struct stat info {};
  return !path.empty() && ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

Status Inspect(const std::string& path, PathFacts& facts) {
  facts = PathFacts();
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return SystemFailure(errno);
  facts.folder = S_ISDIR(info.st_mode);
  facts.size = static_cast<std::int64_t>(info.st_size);
  facts.modificationTime = static_cast<std::int64_t>(info.st_mtime);
  return Status();
}

Status ListFolder(const std::string& path, FolderListing& listing) {
  listing = FolderListing();
  if (std::optional<Status> planted = planted::ListingFault(path)) return *planted;
  std::unique_ptr<DIR, DirCloser> dir(::opendir(path.c_str()));
  if (!dir) return SystemFailure(errno);
  const int folderFd = ::dirfd(dir.get());
  for (;;) {
    errno = 0;
    // readdir is safe here: each stream is read by the one thread that
    // opened it, which is all glibc asks.
    const dirent* entry = ::readdir(dir.get());  // NOLINT(concurrency-mt-unsafe)
    if (entry == nullptr) {
      if (errno != 0) return SystemFailure(errno);
      return Status();
    }
    const char* name = entry->d_name;
    if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) continue;
    (EntryIsFolder(folderFd, *entry) ? listing.subFolders : listing.others).emplace_back(name);
  }
}

std::optional<FolderIdentity> IdentifyFolder(const std::string& path) {
  struct stat info {};
  if (path.empty() || ::stat(path.c_str(), &info) != 0) return std::nullopt;
  return FolderIdentity{static_cast<std::uint64_t>(info.st_dev),
                        static_cast<std::uint64_t>(info.st_ino)};
}

Status CreateFolders(const std::string& given) {
  const std::string path = WithoutTrailingSlashes(given);
  if (path.empty()) return SystemFailure(ENOENT);
  // Almost always the folder is there already: one look-up answers that.
  if (IsFolder(path)) return Status();
  if (::mkdir(path.c_str(), 0755) == 0) {
    observed::Tell(Change::Kind::MakeFolder, path);
    return Status();
  }
  int error = errno;
  if (error == ENOENT) {
    // A folder above is missing: make the chain above first, then this one.
    const std::size_t slash = path.rfind('/');
    if (slash != std::string::npos && slash > 0) {
      if (Status above = CreateFolders(path.substr(0, slash)); !above.ok()) return above;
      if (::mkdir(path.c_str(), 0755) == 0) {
        observed::Tell(Change::Kind::MakeFolder, path);
        return Status();
      }
      error = errno;
    }
  }
  // Another process may have made it meanwhile.
  if (error == EEXIST && IsFolder(path)) return Status();
  if (error == EEXIST) return Status(Failure::Other, SystemFailure(ENOTDIR).reason());
  return SystemFailure(error);
}

Status MakeFolderLink(const std::string& target, const std::string& link) {
  return ::symlink(target.c_str(), link.c_str()) == 0 ? Status() : SystemFailure(errno);
}

Status RemoveFile(const std::string& path) {
  if (::unlink(path.c_str()) != 0) return SystemFailure(errno);
  observed::Tell(Change::Kind::Remove, path);
  return Status();
}

Status CutBackFile(const std::string& path, std::int64_t length) {
  if (auto fault = planted::CutBackFault(path)) return *fault;
  int result;
  do {
    result = ::truncate(path.c_str(), static_cast<off_t>(length));
  } while (result != 0 && errno == EINTR);
  if (result != 0) return SystemFailure(errno);
  observed::Tell(Change::Kind::CutBack, path, length);
  return Status();
}

Status FlushFolder(const std::string& path) {
  if (planted::FlushesSkipped()) {
    observed::Tell(Change::Kind::FlushFolder, WithoutTrailingSlashes(path));
    return Status();
  }
  const int folder = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder < 0) return SystemFailure(errno);
  const int result = ::fsync(folder);
  const int error = errno;
  ::close(folder);
  if (result != 0) return SystemFailure(error);
  observed::Tell(Change::Kind::FlushFolder, WithoutTrailingSlashes(path));
  return Status();
}

}  // namespace quillfen::os
