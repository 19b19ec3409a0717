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

// A batch is written when it reaches this size: large enough that the write
// path's cost per call vanishes, small enough to stay in the cache.
constexpr std::size_t kBatchSize = 1024 * 1024;

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
  length_ = written_ = static_cast<std::int64_t>(info.st_size);
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
    length_ = written_ = length;
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

bool MailboxFile::RepayCutBack(std::string& reason) {
  if (owedCutBack_ < 0) return true;
  TryCutBack(owedCutBack_, reason);
  return owedCutBack_ < 0;
}

std::string& MailboxFile::OpenRecord(std::size_t expected) {
  if (!batch_.empty() && batch_.size() + expected + 2 > kBatchSize) Flush();
  if (batch_.capacity() < kBatchSize) batch_.reserve(kBatchSize);
  std::string reason = "an earlier record could not be removed from the mailbox";
  if (!RepayCutBack(reason)) throw MessageFailure(reason);
  recordMark_ = batch_.size();
  endedBeforeRecord_ = endsWithLineEnd_;
  // A mailbox that ends in the middle of a line would hide this record's
  // From line from every reader.
  if (!endsWithLineEnd_) batch_ += "\r\n";
  return batch_;
}

void MailboxFile::CloseRecord(std::int32_t index, const std::string& file) {
  length_ += static_cast<std::int64_t>(batch_.size() - recordMark_);
  batched_.push_back({length_, index, file});
  endsWithLineEnd_ = true;
}

void MailboxFile::DropRecord() {
  batch_.resize(recordMark_);
  endsWithLineEnd_ = endedBeforeRecord_;
}

void MailboxFile::Flush(bool release) {
  if (release) {
    // Only one mailbox at a time holds a batch's worth of memory.
    Flush(false);
    std::string().swap(batch_);
    return;
  }
  if (batch_.empty()) return;
  std::size_t done = 0;
  int error = 0;
  while (done < batch_.size()) {
    const ssize_t written = ::write(fd_, batch_.data() + done, batch_.size() - done);
    if (written > 0) {
      done += static_cast<std::size_t>(written);
    } else if (written < 0 && errno == EINTR) {
      continue;
    } else {
      error = written < 0 ? errno : EIO;
      break;
    }
  }
  batch_.clear();
  if (error == 0) {
    written_ = length_;
    batched_.clear();
    return;
  }
  // The records that reached the file whole stay; the file is cut back to
  // the end of the last of them, and the others are lost, with the reason.
  const std::int64_t reached = written_ + static_cast<std::int64_t>(done);
  std::int64_t keep = written_;
  std::size_t firstLost = 0;
  for (; firstLost < batched_.size() && batched_[firstLost].end <= reached; ++firstLost)
    keep = batched_[firstLost].end;
  length_ = written_ = reached;
  std::string reason = Reason("cannot write the mailbox", error);
  // Cutting back also learns again whether the file ends with a line end.
  TryCutBack(keep, reason);
  for (std::size_t i = firstLost; i < batched_.size(); ++i)
    lost_.push_back({batched_[i].index, std::move(batched_[i].file), reason});
  batched_.clear();
}

std::vector<MailboxFile::LostRecord> MailboxFile::TakeLost() {
  std::vector<LostRecord> lost;
  lost.swap(lost_);
  return lost;
}

std::int64_t MailboxFile::BeginRecord() {
  Flush();
  std::string reason = "an earlier record could not be removed from the mailbox";
  if (!RepayCutBack(reason)) throw MessageFailure(reason);
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
      written_ = length_;
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
  Flush();
  std::string reason = "cannot cut the mailbox back to its last whole record";
  TryCutBack(length, reason);
  if (owedCutBack_ >= 0) throw MessageFailure(reason);
}

std::string MailboxFile::Close() {
  if (fd_ < 0) return {};
  Flush();
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
