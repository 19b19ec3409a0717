#include "convert/message_source.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "convert/message_failure.h"

namespace quillfen {

MessageFile::MessageFile(const std::string& path) {
  do {
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
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
