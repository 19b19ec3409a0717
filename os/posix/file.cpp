#include "os/file.h"

#include "os/change_observer.h"
#include "os/planted_faults.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <vector>

#include "os/posix/system_reason.h"

namespace quillfen::os {
namespace {

Status NotOpen() {
  return SystemFailure(EBADF);
}

// Opens name relative to the folder at (AT_FDCWD: the current folder),
// with flags, retrying when a signal interrupts, and keeps only regular
// files; facts, when given, receives what the check learned. Gives 0, the
// errno value of the failure, or kNotRegular.
constexpr int kNotRegular = -1;
int OpenRegular(int at, const char* name, int flags, int& fd, PathFacts* facts) {
  do {
    fd = ::openat(at, name, flags | O_CLOEXEC, 0644);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return errno;
  struct stat info {};
  const int error = ::fstat(fd, &info) != 0 ? errno : (S_ISREG(info.st_mode) ? 0 : kNotRegular);
  if (error != 0) {
    ::close(fd);
    fd = -1;
  } else if (facts != nullptr) {
    facts->folder = false;
    facts->size = static_cast<std::int64_t>(info.st_size);
    facts->modificationTime = static_cast<std::int64_t>(info.st_mtime);
  }
  return error;
}

Status OpenFailure(int error) {
  // A folder cannot even be opened for writing.
  if (error == kNotRegular || error == EISDIR)
    return Status(Failure::NotRegularFile, "not a regular file");
  return SystemFailure(error);
}

}  // namespace

Status Folder::Open(const std::string& path) {
  Close();
  int fd;
  do {
    fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return SystemFailure(errno);
  open_ = true;
  handle_ = fd;
  path_ = path;
  return Status();
}

void Folder::Close() {
  if (open_) ::close(static_cast<int>(handle_));
  open_ = false;
  handle_ = -1;
  path_.clear();
}

Status OpenDescriptorForReading(const std::string& path, int& descriptor) {
  descriptor = -1;
  if (const int error =
          OpenRegular(AT_FDCWD, path.c_str(), O_RDONLY | O_NONBLOCK, descriptor, nullptr);
      error != 0)
    return OpenFailure(error);
  return Status();
}

Status File::OpenForReading(const std::string& path, PathFacts* facts) {
  if (isOpen()) (void)CloseNow();
  int fd = -1;
  if (const int error = OpenRegular(AT_FDCWD, path.c_str(), O_RDONLY | O_NONBLOCK, fd, facts);
      error != 0)
    return OpenFailure(error);
  // Reads of a regular file never wait anyway; the flag only kept the open
  // from waiting on a pipe.
  handle_ = fd;
  path_ = path;
  return Status();
}

Status File::OpenForReading(const Folder& folder, const std::string& name, PathFacts* facts) {
  if (!folder.isOpen()) return SystemFailure(EBADF);
  if (isOpen()) (void)CloseNow();
  int fd = -1;
  if (const int error = OpenRegular(static_cast<int>(folder.handle_), name.c_str(),
                                    O_RDONLY | O_NONBLOCK, fd, facts);
      error != 0)
    return OpenFailure(error);
  handle_ = fd;
  path_ = folder.path_;
  if (!path_.empty() && path_.back() != '/') path_ += '/';
  path_ += name;
  return Status();
}

Status File::OpenForAppending(const std::string& path, bool* created, PathFacts* facts) {
  if (isOpen()) (void)CloseNow();
  int fd = -1;
  bool made = false;
  // A caller that need not know whether the file was made gets it with one
  // open.
  int error = OpenRegular(AT_FDCWD, path.c_str(),
                          O_RDWR | O_APPEND | (created == nullptr ? O_CREAT : 0), fd, facts);
  if (error == ENOENT && created != nullptr) {
    error = OpenRegular(AT_FDCWD, path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_EXCL, fd, facts);
    made = error == 0;
    // Another process may have created it in between.
    if (error == EEXIST) error = OpenRegular(AT_FDCWD, path.c_str(), O_RDWR | O_APPEND, fd, facts);
  }
  if (error != 0) return OpenFailure(error);
  handle_ = fd;
  path_ = path;
  if (created != nullptr) *created = made;
  if (made) observed::Tell(Change::Kind::Create, path_);
  return Status();
}

Status File::Read(char* buffer, std::size_t size, std::size_t& count) {
  count = 0;
  if (!isOpen()) return NotOpen();
  ssize_t got;
  do {
    got = ::read(static_cast<int>(handle_), buffer, size);
  } while (got < 0 && errno == EINTR);
  if (got < 0) return SystemFailure(errno);
  count = static_cast<std::size_t>(got);
  return Status();
}

Status File::ReadAt(std::int64_t offset, char* buffer, std::size_t size, std::size_t& count) {
  count = 0;
  if (!isOpen()) return NotOpen();
  ssize_t got;
  do {
    got = ::pread(static_cast<int>(handle_), buffer, size, static_cast<off_t>(offset));
  } while (got < 0 && errno == EINTR);
  if (got < 0) return SystemFailure(errno);
  count = static_cast<std::size_t>(got);
  return Status();
}

Status File::AppendNow(std::span<const std::string_view> pieces, std::size_t limit,
                       std::size_t& written) {
  written = 0;
  if (!isOpen()) return NotOpen();
  // One gathering write for all the pieces, as far as the system takes them
  // in one call; what it leaves is written by the next round.
  std::vector<iovec> vectors;
  vectors.reserve(std::min<std::size_t>(pieces.size(), IOV_MAX));
  std::size_t piece = 0;
  std::size_t offset = 0;  // bytes of pieces[piece] written already
  while (written < limit) {
    vectors.clear();
    std::size_t room = limit - written;
    for (std::size_t i = piece; i < pieces.size() && vectors.size() < IOV_MAX && room > 0; ++i) {
      const std::size_t skip = i == piece ? offset : 0;
      const std::size_t take = std::min(pieces[i].size() - skip, room);
      if (take == 0) continue;
      vectors.push_back({const_cast<char*>(pieces[i].data() + skip), take});
      room -= take;
    }
    if (vectors.empty()) break;
    const ssize_t done =
        ::writev(static_cast<int>(handle_), vectors.data(), static_cast<int>(vectors.size()));
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) return SystemFailure(done < 0 ? errno : EIO);
    written += static_cast<std::size_t>(done);
    // Steps past what went out: whole pieces, then part of the next one.
    for (std::size_t left = static_cast<std::size_t>(done); left > 0;) {
      const std::size_t rest = pieces[piece].size() - offset;
      if (left < rest) {
        offset += left;
        break;
      }
      left -= rest;
      ++piece;
      offset = 0;
    }
  }
  return Status();
}

Status File::Size(std::int64_t& size) const {
  size = 0;
  if (!isOpen()) return NotOpen();
  struct stat info {};
  if (::fstat(static_cast<int>(handle_), &info) != 0) return SystemFailure(errno);
  size = static_cast<std::int64_t>(info.st_size);
  return Status();
}

Status File::ModificationTime(std::int64_t& seconds) const {
  seconds = 0;
  if (!isOpen()) return NotOpen();
  struct stat info {};
  if (::fstat(static_cast<int>(handle_), &info) != 0) return SystemFailure(errno);
  seconds = static_cast<std::int64_t>(info.st_mtime);
  return Status();
}

bool File::Deleted() const {
  struct stat info {};
  return isOpen() && ::fstat(static_cast<int>(handle_), &info) == 0 && info.st_nlink == 0;
}

Status File::CutBackNow(std::int64_t length) {
  if (!isOpen()) return NotOpen();
  int result;
  do {
    result = ::ftruncate(static_cast<int>(handle_), static_cast<off_t>(length));
  } while (result != 0 && errno == EINTR);
  return result == 0 ? Status() : SystemFailure(errno);
}

Status File::Flush() {
  if (!isOpen()) return NotOpen();
  if (!planted::FlushesSkipped() && ::fdatasync(static_cast<int>(handle_)) != 0)
    return SystemFailure(errno);
  observed::Tell(Change::Kind::Flush, path_);
  return Status();
}

Status File::FlushFileSystem() {
  if (!isOpen()) return NotOpen();
#if defined(__linux__)
  if (!planted::FlushesSkipped() && ::syncfs(static_cast<int>(handle_)) != 0)
    return SystemFailure(errno);
  observed::Tell(Change::Kind::FlushAll, {});
  return Status();
#else
  return Flush();
#endif
}

void File::StartWriting(std::int64_t offset, std::int64_t length) {
#if defined(__linux__)
  if (isOpen())
    (void)::sync_file_range(static_cast<int>(handle_), static_cast<off_t>(offset),
                            static_cast<off_t>(length), SYNC_FILE_RANGE_WRITE);
#else
  (void)offset;
  (void)length;
#endif
}

Status Folder::LockExclusively() {
  if (!open_) return SystemFailure(EBADF);
  int result;
  do {
    result = ::flock(static_cast<int>(handle_), LOCK_EX | LOCK_NB);
  } while (result != 0 && errno == EINTR);
  return result == 0 ? Status() : SystemFailure(errno);
}

Status File::LockExclusively() {
  if (!isOpen()) return NotOpen();
  // flock belongs to the open file, so the lock ends with it, and a second
  // open of the same file in this process is refused like another process.
  int result;
  do {
    result = ::flock(static_cast<int>(handle_), LOCK_EX | LOCK_NB);
  } while (result != 0 && errno == EINTR);
  return result == 0 ? Status() : SystemFailure(errno);
}

Status File::CloseNow() {
  const int fd = static_cast<int>(handle_);
  handle_ = -1;
  // The descriptor is gone after close even when it reports EINTR, so it is
  // never retried.
  return ::close(fd) == 0 ? Status() : SystemFailure(errno);
}

}  // namespace quillfen::os
