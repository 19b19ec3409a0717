// Paths below a folder the user chose, walked one name at a time with
// O_NOFOLLOW, so that no link planted below it is ever followed.

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string_view>
#include <vector>

#include "os/change_observer.h"
#include "os/file.h"
#include "os/folders.h"
#include "os/planted_faults.h"
#include "os/posix/system_reason.h"

namespace quillfen::os {
namespace {

Status LinkFailure() {
  return Status(Failure::Link, "a link to elsewhere");
}

// An open folder descriptor that closes itself.
class FolderFd {
 public:
  explicit FolderFd(int fd = -1) : fd_(fd) {}
  ~FolderFd() { Reset(-1); }
  FolderFd(const FolderFd&) = delete;
  FolderFd& operator=(const FolderFd&) = delete;
  void Reset(int fd) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }
  int get() const { return fd_; }

 private:
  int fd_;
};

std::vector<std::string> Names(std::string_view relative) {
  std::vector<std::string> names;
  std::size_t at = 0;
  while (at <= relative.size()) {
    const std::size_t slash = relative.find('/', at);
    const std::size_t end = slash == std::string_view::npos ? relative.size() : slash;
    if (end > at) names.emplace_back(relative.substr(at, end - at));
    at = end + 1;
  }
  return names;
}

// Why name in the folder at could not be opened as a folder: a link (or a
// file) in the way, or the system's reason.
Status NotAFolder(int at, const std::string& name, int error) {
  struct stat info {};
  if (::fstatat(at, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(info.st_mode))
    return LinkFailure();
  return SystemFailure(error);
}

// Opens the folder that holds the last name of relative, one folder at a
// time from root; create makes the missing ones. last receives that name
// (empty when relative names root itself).
Status OpenParent(const std::string& root, const std::string& relative, bool create,
                  FolderFd& folder, std::string& last) {
  int fd;
  do {
    fd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return SystemFailure(errno);
  folder.Reset(fd);
  std::vector<std::string> names = Names(relative);
  last = names.empty() ? std::string() : names.back();
  if (!names.empty()) names.pop_back();
  for (const std::string& name : names) {
    int next =
        ::openat(folder.get(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (next < 0 && errno == ENOENT && create) {
      if (::mkdirat(folder.get(), name.c_str(), 0755) != 0 && errno != EEXIST)
        return SystemFailure(errno);
      next = ::openat(folder.get(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    }
    if (next < 0) return NotAFolder(folder.get(), name, errno);
    folder.Reset(next);
  }
  return Status();
}

std::string Joined(const std::string& root, const std::string& relative) {
  return !root.empty() && root.back() == '/' ? root + relative : root + "/" + relative;
}

}  // namespace

Status InspectBelow(const std::string& root, const std::string& relative, PathFacts& facts) {
  facts = PathFacts();
  FolderFd folder;
  std::string last;
  if (Status opened = OpenParent(root, relative, false, folder, last); !opened.ok()) return opened;
  struct stat info {};
  if (last.empty()) {
    if (::fstat(folder.get(), &info) != 0) return SystemFailure(errno);
  } else if (::fstatat(folder.get(), last.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
    return SystemFailure(errno);
  }
  if (S_ISLNK(info.st_mode)) return LinkFailure();
  facts.folder = S_ISDIR(info.st_mode);
  facts.size = static_cast<std::int64_t>(info.st_size);
  facts.modificationTime = static_cast<std::int64_t>(info.st_mtime);
  return Status();
}

Status CreateFoldersBelow(const std::string& root, const std::string& relative) {
  FolderFd folder;
  std::string last;
  // The whole of relative is folders: a name after it makes every one of
  // them a folder on the way.
  if (Status opened = OpenParent(root, relative + "/.", true, folder, last); !opened.ok())
    return opened;
  observed::Tell(Change::Kind::MakeFolder, Joined(root, relative));
  return Status();
}

Status RemoveFileBelow(const std::string& root, const std::string& relative) {
  FolderFd folder;
  std::string last;
  if (Status opened = OpenParent(root, relative, false, folder, last); !opened.ok()) return opened;
  // unlinkat removes a link itself, never what it leads to.
  if (::unlinkat(folder.get(), last.c_str(), 0) != 0) return SystemFailure(errno);
  observed::Tell(Change::Kind::Remove, Joined(root, relative));
  return Status();
}

Status CutBackFileBelow(const std::string& root, const std::string& relative, std::int64_t length) {
  if (auto fault = planted::CutBackFault(Joined(root, relative))) return *fault;
  File file;
  if (Status opened = file.OpenForAppendingBelow(root, relative); !opened.ok()) return opened;
  return file.CutBack(length);
}

std::int64_t OpenFilesLimit() {
  struct rlimit limit {};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return 0;
  return static_cast<std::int64_t>(limit.rlim_cur);
}

namespace {

// Opens the last name of relative in its folder without following a link,
// and refuses a file with a second name.
int OpenBelow(const std::string& root, const std::string& relative, int flags, int& fd,
              PathFacts* facts, Status& failure) {
  FolderFd folder;
  std::string last;
  if (Status opened = OpenParent(root, relative, false, folder, last); !opened.ok()) {
    failure = opened;
    return -1;
  }
  do {
    fd = ::openat(folder.get(), last.c_str(), flags | O_NOFOLLOW | O_CLOEXEC, 0644);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    const int error = errno;
    if (error == ELOOP) {
      failure = LinkFailure();
      return -1;
    }
    return error;
  }
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_nlink > 1) {
    const bool regular = S_ISREG(info.st_mode);
    const bool linked = info.st_nlink > 1;
    ::close(fd);
    fd = -1;
    failure = !regular ? Status(Failure::NotRegularFile, "not a regular file")
              : linked ? Status(Failure::Link, "a file with another name elsewhere")
                       : SystemFailure(EIO);
    return -1;
  }
  if (facts != nullptr) {
    facts->folder = false;
    facts->size = static_cast<std::int64_t>(info.st_size);
    facts->modificationTime = static_cast<std::int64_t>(info.st_mtime);
  }
  return 0;
}

}  // namespace

Status File::OpenForReadingBelow(const std::string& root, const std::string& relative,
                                 PathFacts* facts) {
  if (isOpen()) (void)CloseNow();
  int fd = -1;
  Status failure;
  const int error = OpenBelow(root, relative, O_RDONLY | O_NONBLOCK, fd, facts, failure);
  if (error < 0) return failure;
  if (error > 0) return SystemFailure(error);
  handle_ = fd;
  path_ = Joined(root, relative);
  return Status();
}

Status File::OpenForAppendingBelow(const std::string& root, const std::string& relative,
                                   bool* created, PathFacts* facts) {
  if (isOpen()) (void)CloseNow();
  int fd = -1;
  Status failure;
  bool made = false;
  int error = OpenBelow(root, relative, O_RDWR | O_APPEND, fd, facts, failure);
  if (error == ENOENT) {
    error = OpenBelow(root, relative, O_RDWR | O_APPEND | O_CREAT | O_EXCL, fd, facts, failure);
    made = error == 0;
    // Another process may have created it in between.
    if (error == EEXIST) error = OpenBelow(root, relative, O_RDWR | O_APPEND, fd, facts, failure);
  }
  if (error < 0) return failure;
  if (error > 0) return SystemFailure(error);
  handle_ = fd;
  path_ = Joined(root, relative);
  if (created != nullptr) *created = made;
  if (made) observed::Tell(Change::Kind::Create, path_);
  return Status();
}

}  // namespace quillfen::os
