#include "convert/message_source.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string_view>

#include "convert/message_failure.h"

namespace quillfen {

MessageFolder::~MessageFolder() {
  if (fd_ >= 0) ::close(fd_);
}

int MessageFolder::Of(const std::string& path, const char*& name) {
  const std::size_t slash = path.rfind('/');
  name = path.c_str() + (slash == std::string::npos ? 0 : slash + 1);
  if (slash == std::string::npos) return -1;
  const std::string_view folder(path.data(), slash + 1);
  if (folder != folder_) {
    if (fd_ >= 0) ::close(fd_);
    folder_.assign(folder);
    do {
      fd_ = ::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    } while (fd_ < 0 && errno == EINTR);
    // A folder that cannot be opened is tried again with its next message.
    if (fd_ < 0) folder_.clear();
  }
  return fd_;
}

MessageFile::MessageFile(const std::string& path, MessageFolder* folder) {
  const char* name = path.c_str();
  const int at = folder != nullptr ? folder->Of(path, name) : -1;
  do {
    fd_ = at >= 0 ? ::openat(at, name, O_RDONLY | O_CLOEXEC | O_NONBLOCK)
                  : ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  } while (fd_ < 0 && errno == EINTR);
  if (fd_ < 0)
    throw MessageFailure(std::string("cannot open the message: ") + std::strerror(errno));
  struct stat info {};
  int error = ::fstat(fd_, &info) != 0 ? errno : (S_ISREG(info.st_mode) ? 0 : EINVAL);
  if (error != 0) {
    ::close(fd_);
    fd_ = -1;
    throw MessageFailure(error == EINVAL
                             ? std::string("the message is not a regular file")
                             : std::string("cannot open the message: ") + std::strerror(error));
  }
  modificationTime_ = static_cast<long long>(info.st_mtime);
  size_ = static_cast<std::int64_t>(info.st_size);
}

MessageFile::~MessageFile() {
  if (fd_ >= 0) ::close(fd_);
}

std::size_t MessageFile::Read(char* buffer, std::size_t size) {
  ssize_t got;
  do {
    got = ::read(fd_, buffer, size);
  } while (got < 0 && errno == EINTR);
  if (got < 0)
    throw MessageFailure(std::string("cannot read the message: ") + std::strerror(errno));
  return static_cast<std::size_t>(got);
}

}  // namespace quillfen
