#include "os/read_ahead.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <utility>

namespace quillfen::os {
namespace {

#if defined(POSIX_FADV_WILLNEED) || defined(F_RDADVISE)
constexpr bool kHintable = true;
#else
constexpr bool kHintable = false;
#endif

// How many files may be held beside reserved others, under the soft limit of
// open files.
std::size_t Room(std::size_t most, std::size_t reserved) {
  struct rlimit limit {};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return 0;
  if (limit.rlim_cur == RLIM_INFINITY) return most;
  const auto soft = static_cast<std::size_t>(limit.rlim_cur);
  return soft > reserved ? std::min(most, soft - reserved) : 0;
}

int OpenQuietly(int at, const char* name, int flags) {
  int fd;
  do {
    fd = ::openat(at, name, flags | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

void Hint(int fd, std::int64_t bytes) {
#if defined(POSIX_FADV_WILLNEED)
  (void)::posix_fadvise(fd, 0, static_cast<off_t>(bytes), POSIX_FADV_WILLNEED);
#elif defined(F_RDADVISE)
  struct radvisory advice {};
  advice.ra_offset = 0;
  advice.ra_count = static_cast<int>(std::min<std::int64_t>(bytes, INT32_MAX));
  (void)::fcntl(fd, F_RDADVISE, &advice);
#else
  (void)fd;
  (void)bytes;
#endif
}

}  // namespace

ReadAheadWindow::ReadAheadWindow(std::size_t most, std::size_t reserved)
    : capacity_(kHintable ? Room(most, reserved) : 0),
      held_(capacity_ > 0 ? std::make_unique<Held[]>(capacity_) : nullptr) {}

ReadAheadWindow::~ReadAheadWindow() {
  while (count_ > 0) CloseOldest();
  if (folderHandle_ >= 0) ::close(static_cast<int>(folderHandle_));
}

void ReadAheadWindow::Add(std::int32_t key, const std::string& path, std::int64_t bytes) {
  if (full()) return;
  // A file is opened by its bare name in its folder, held open: the system
  // then does not walk the folder's whole path again for every file.
  int at = AT_FDCWD;
  const char* name = path.c_str();
  const std::size_t slash = path.rfind('/');
  if (slash != std::string::npos && slash != 0) {
    if (folderHandle_ < 0 || folder_.size() != slash || path.compare(0, slash, folder_) != 0) {
      if (folderHandle_ >= 0) ::close(static_cast<int>(folderHandle_));
      folder_.assign(path, 0, slash);
      folderHandle_ = OpenQuietly(AT_FDCWD, folder_.c_str(), O_RDONLY | O_DIRECTORY);
    }
    if (folderHandle_ >= 0) {
      at = static_cast<int>(folderHandle_);
      name += slash + 1;
    }
  }
  // Never waiting on the open: a pipe named like a message would block it.
  const int fd = OpenQuietly(at, name, O_RDONLY | O_NONBLOCK);
  if (fd < 0) return;
  Hint(fd, bytes);
  Held& held = held_[(first_ + count_) % capacity_];
  held.key = key;
  held.handle = fd;
  ++count_;
}

void ReadAheadWindow::LetGoBefore(std::int32_t key) {
  while (count_ > 0 && held_[first_].key < key) CloseOldest();
}

std::int64_t ReadAheadWindow::DiskReadSinceAsked() {
  // What the system read from a disk for this process, the announced files
  // included.
  struct rusage usage {};
  if (::getrusage(RUSAGE_SELF, &usage) != 0) return 0;
  const auto blocks = static_cast<std::int64_t>(usage.ru_inblock);
  return blocks - std::exchange(blocksRead_, blocks);
}

void ReadAheadWindow::CloseOldest() {
  ::close(static_cast<int>(held_[first_].handle));
  held_[first_].handle = -1;
  first_ = (first_ + 1) % capacity_;
  --count_;
}

}  // namespace quillfen::os
