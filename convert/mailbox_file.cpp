#include "convert/mailbox_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "convert/message_failure.h"

namespace quillfen {

namespace {

std::string Reason(const char* what, int error) {
  return std::string(what) + ": " + std::strerror(error);
}

}  // namespace

MailboxFile::MailboxFile(const std::string& path) : path_(path) {
  // Opened for reading too: the last byte tells whether the file ends with
  // a whole line.
  do {
    fd_ = ::open(path.c_str(), O_RDWR | O_APPEND | O_CLOEXEC);
  } while (fd_ < 0 && errno == EINTR);
  existed_ = fd_ >= 0;
  if (fd_ < 0 && errno == ENOENT) {
    do {
      fd_ = ::open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    } while (fd_ < 0 && errno == EINTR);
  }
  if (fd_ < 0) throw MessageFailure(Reason("cannot open the mailbox", errno));
  struct stat info {};
  if (::fstat(fd_, &info) != 0 || !S_ISREG(info.st_mode)) {
    const int error = S_ISREG(info.st_mode) ? errno : EINVAL;
    ::close(fd_);
    fd_ = -1;
    throw MessageFailure(error == EINVAL ? "the mailbox is not a regular file"
                                         : Reason("cannot open the mailbox", error));
  }
  length_ = static_cast<std::int64_t>(info.st_size);
  if (length_ > 0) {
    char last = '\n';
    if (::pread(fd_, &last, 1, static_cast<off_t>(length_ - 1)) == 1)
      endsWithLineEnd_ = last == '\n';
  }
}

MailboxFile::~MailboxFile() {
  if (fd_ >= 0) ::close(fd_);
}

void MailboxFile::TryCutBack(std::int64_t length, std::string& reason) {
  if (::ftruncate(fd_, static_cast<off_t>(length)) == 0) {
    length_ = length;
    owedCutBack_ = -1;
    // Cut back to before a record whose line end covered a foreign tail,
    // the file ends mid-line again: the next record must see that.
    char last = '\n';
    endsWithLineEnd_ =
        length == 0 || ::pread(fd_, &last, 1, static_cast<off_t>(length - 1)) != 1 || last == '\n';
    return;
  }
  owedCutBack_ = length;
  reason += "; the mailbox could not be cut back: " + std::string(std::strerror(errno));
}

std::int64_t MailboxFile::BeginRecord() {
  if (owedCutBack_ >= 0) {
    std::string reason = "an earlier record could not be removed from the mailbox";
    TryCutBack(owedCutBack_, reason);
    if (owedCutBack_ >= 0) throw MessageFailure(reason);
  }
  const std::int64_t start = length_;
  if (!endsWithLineEnd_) {
    // A mailbox that ends in the middle of a line would hide this record's
    // From line from every reader.
    Write("\r\n", start);
    endsWithLineEnd_ = true;
  }
  return start;
}

void MailboxFile::Write(std::string_view bytes, std::int64_t recordStart) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd_, bytes.data(), bytes.size());
    if (written > 0) {
      bytes.remove_prefix(static_cast<std::size_t>(written));
      length_ += written;
      continue;
    }
    if (written < 0 && errno == EINTR) continue;
    std::string reason = Reason("cannot write the mailbox", written < 0 ? errno : EIO);
    TryCutBack(recordStart, reason);
    throw MessageFailure(reason);
  }
  endsWithLineEnd_ = false;
}

bool MailboxFile::StillThere() const {
  struct stat info {};
  return fd_ >= 0 && ::fstat(fd_, &info) == 0 && info.st_nlink > 0;
}

void MailboxFile::CutBack(std::int64_t length) {
  std::string reason = "cannot cut the mailbox back to its last whole record";
  TryCutBack(length, reason);
  if (owedCutBack_ >= 0) throw MessageFailure(reason);
}

std::string MailboxFile::Close() {
  if (fd_ < 0) return {};
  const int fd = fd_;
  fd_ = -1;
  // A mailbox deleted while it was open takes its records with it when it
  // is closed: that must not pass for a success.
  struct stat info {};
  const bool deleted = ::fstat(fd, &info) == 0 && info.st_nlink == 0 && length_ > 0;
  if (::close(fd) != 0) return Reason("cannot close the mailbox", errno);
  return deleted ? "the mailbox was deleted while it was written; its records are lost"
                 : std::string();
}

}  // namespace quillfen
