#include "destination/mailbox_file.h"

#include "mbox/message_failure.h"

namespace quillfen {

namespace {

std::string Reason(const char* what, const os::Status& status) {
  return std::string(what) + ": " + status.reason();
}

// A batch is written when it reaches this size: large enough that the write
// path's cost per call vanishes, small enough to stay in the cache.
constexpr std::size_t kBatchSize = std::size_t{1} << 20;

}  // namespace

MailboxFile::MailboxFile(const std::string& root, const std::string& relative)
    : path_(root + relative) {
  // Opened for reading too: the last byte tells whether the file ends with
  // a whole line.
  bool created = false;
  os::PathFacts facts;
  if (const os::Status status = file_.OpenForAppendingBelow(root, relative, &created, &facts);
      !status.ok()) {
    if (status.failure() == os::Failure::Link)
      throw MessageFailure("the mailbox " + path_ + " is " + status.reason() +
                           "; it was left alone");
    throw MessageFailure(status.failure() == os::Failure::NotRegularFile
                             ? "the mailbox is not a regular file"
                             : Reason("cannot open the mailbox", status));
  }
  existed_ = !created;
  length_ = written_ = facts.size;
  if (length_ > 0) endsWithLineEnd_ = LastByteEndsLine(length_);
}

MailboxFile::~MailboxFile() = default;

bool MailboxFile::LastByteEndsLine(std::int64_t length) {
  char last = '\n';
  std::size_t count = 0;
  // A byte that cannot be read counts as a line end, as the conversion
  // cannot do better.
  return !file_.ReadAt(length - 1, &last, 1, count).ok() || count != 1 || last == '\n';
}

void MailboxFile::TryCutBack(std::int64_t length, std::string& reason) {
  const os::Status status = file_.CutBack(length);
  if (status.ok()) {
    length_ = written_ = length;
    owedCutBack_ = -1;
    // Cut back to before a record whose line end covered a foreign tail,
    // the file ends mid-line again: the next record must see that.
    endsWithLineEnd_ = length == 0 || LastByteEndsLine(length);
    return;
  }
  owedCutBack_ = length;
  reason += "; the mailbox could not be cut back: " + status.reason();
}

void MailboxFile::RepayCutBack() {
  if (owedCutBack_ < 0) return;
  std::string reason = "an earlier record could not be removed from the mailbox";
  TryCutBack(owedCutBack_, reason);
  if (owedCutBack_ >= 0) throw MessageFailure(reason);
}

std::string& MailboxFile::OpenRecord(std::size_t expected) {
  if (!batch_.empty() && batch_.size() + expected + 2 > kBatchSize) Flush();
  if (batch_.capacity() < kBatchSize) batch_.reserve(kBatchSize);
  RepayCutBack();
  recordMark_ = batch_.size();
  endedBeforeRecord_ = endsWithLineEnd_;
  // A mailbox that ends in the middle of a line would hide this record's
  // From line from every reader.
  if (!endsWithLineEnd_) batch_ += "\r\n";
  return batch_;
}

void MailboxFile::CloseRecord(std::int32_t index, const std::string& file,
                              const ContentHash& hash) {
  length_ += static_cast<std::int64_t>(batch_.size() - recordMark_);
  batchedNames_ += file;
  batched_.push_back({length_, index, batchedNames_.size(), hash});
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
  if (std::string reason = ReadyToWrite(); !reason.empty()) {
    // Nothing was written: the batch's records are lost, with the reason.
    for (std::size_t i = 0; i < batched_.size(); ++i) {
      const std::size_t nameStart = i == 0 ? 0 : batched_[i - 1].nameEnd;
      lost_.push_back({batched_[i].index,
                       batchedNames_.substr(nameStart, batched_[i].nameEnd - nameStart), reason});
    }
    batch_.clear();
    batched_.clear();
    batchedNames_.clear();
    length_ = written_;
    endsWithLineEnd_ = length_ == 0 || LastByteEndsLine(length_);
    return;
  }
  NoteDeletion();
  std::size_t done = 0;
  const os::Status status = file_.Append(batch_, &done);
  batch_.clear();
  if (status.ok()) {
    recordsWritten_ += static_cast<std::int32_t>(batched_.size());
    // The disk starts on the batch now, while the conversion goes on: the
    // mark's flush then waits for little.
    file_.StartWriting(written_, length_ - written_);
    written_ = length_;
    for (const Batched& record : batched_) writtenRecords_.push_back({record.hash, record.end});
    batched_.clear();
    batchedNames_.clear();
    return;
  }
  // The records that reached the file whole stay; the file is cut back to
  // the end of the last of them, and the others are lost, with the reason.
  const std::int64_t reached = written_ + static_cast<std::int64_t>(done);
  std::int64_t keep = written_;
  std::size_t firstLost = 0;
  for (; firstLost < batched_.size() && batched_[firstLost].end <= reached; ++firstLost) {
    ++recordsWritten_;
    keep = batched_[firstLost].end;
    writtenRecords_.push_back({batched_[firstLost].hash, keep});
  }
  length_ = written_ = reached;
  std::string reason = Reason("cannot write the mailbox", status);
  // Cutting back also learns again whether the file ends with a line end.
  TryCutBack(keep, reason);
  for (std::size_t i = firstLost; i < batched_.size(); ++i) {
    const std::size_t nameStart = i == 0 ? 0 : batched_[i - 1].nameEnd;
    lost_.push_back({batched_[i].index,
                     batchedNames_.substr(nameStart, batched_[i].nameEnd - nameStart), reason});
  }
  batched_.clear();
  batchedNames_.clear();
}

std::vector<MailboxFile::LostRecord> MailboxFile::TakeLost() {
  std::vector<LostRecord> lost;
  lost.swap(lost_);
  return lost;
}

std::vector<HeldRecord> MailboxFile::TakeWritten() {
  std::vector<HeldRecord> written;
  written.swap(writtenRecords_);
  return written;
}

std::string MailboxFile::ReadyToWrite() {
  return beforeWriting_ ? beforeWriting_() : std::string();
}

std::int64_t MailboxFile::BeginRecord() {
  Flush();
  if (std::string reason = ReadyToWrite(); !reason.empty()) throw MessageFailure(reason);
  // A large record goes out without a batch: the file is looked at here
  // instead.
  NoteDeletion();
  RepayCutBack();
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
  std::size_t done = 0;
  const os::Status status = file_.Append(bytes, &done);
  length_ += static_cast<std::int64_t>(done);
  written_ = length_;
  if (!status.ok()) {
    std::string reason = Reason("cannot write the mailbox", status);
    TryCutBack(recordStart, reason);
    throw MessageFailure(reason);
  }
  endsWithLineEnd_ = false;
}

bool MailboxFile::StillThere() const {
  return file_.isOpen() && !file_.Deleted();
}

void MailboxFile::NoteDeletion() {
  if (!foundDeleted_ && file_.Deleted()) foundDeleted_ = true;
}

void MailboxFile::CutBack(std::int64_t length) {
  Flush();
  std::string reason = "cannot cut the mailbox back to its last whole record";
  TryCutBack(length, reason);
  if (owedCutBack_ >= 0) throw MessageFailure(reason);
}

std::string MailboxFile::Sync() {
  if (!file_.isOpen()) return {};
  Flush();
  const os::Status status = file_.Flush();
  return status.ok() ? std::string() : status.reason();
}

std::string MailboxFile::Close() {
  if (!file_.isOpen()) return {};
  Flush();
  // A mailbox deleted while it was open takes its records with it when it
  // is closed: that must not pass for a success.
  const bool deleted = file_.Deleted() && length_ > 0;
  lostWithFile_ = deleted;
  if (const os::Status status = file_.Close(); !status.ok())
    return Reason("cannot close the mailbox", status);
  return deleted ? "the mailbox was deleted while it was written; its records are lost"
                 : std::string();
}

}  // namespace quillfen
