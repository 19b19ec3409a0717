#include "destination/mailbox_pool.h"

#include <algorithm>

#include "destination/destination_errors.h"
#include "os/file.h"
#include "os/folders.h"

namespace quillfen {

namespace {

// Mailboxes kept open at once at most. A lower limit on open files leaves
// room for the lock, the index, the source files read ahead and the
// program's own.
constexpr std::size_t kMostOpenMailboxes = 64;
constexpr std::int64_t kFilesForTheRest = 24;
// Mailboxes whose batch waits for the index at most.
constexpr std::size_t kMostWaiting = 32;

std::size_t OpenMailboxLimit() {
  const std::int64_t files = os::OpenFilesLimit();
  if (files <= 0) return kMostOpenMailboxes;
  return static_cast<std::size_t>(
      std::clamp<std::int64_t>((files - kFilesForTheRest) / 2, 1, kMostOpenMailboxes));
}

}  // namespace

MailboxPool::MailboxPool(const std::string& root, IndexLines& pending)
    : root_(root), pending_(pending), openLimit_(OpenMailboxLimit()) {}

MailboxFile* MailboxPool::Active(const std::string& mailboxPath) {
  if (active_ == nullptr || !active_->file ||
      mailboxPath.size() != root_.size() + active_->relative.size() ||
      mailboxPath.compare(root_.size(), std::string::npos, active_->relative) != 0 ||
      mailboxPath.compare(0, root_.size(), root_) != 0 || active_->file->foundDeleted())
    return nullptr;
  active_->lastUse = ++useClock_;
  return active_->file.get();
}

MailboxFile& MailboxPool::Open(MailboxState& state,
                               const std::function<void(MailboxState&, std::int64_t)>& announce) {
  if (active_ != nullptr && active_ != &state && active_->file) {
    // The conversion moves on to another mailbox: the last one's batch goes
    // out now, unless the index does not yet know on the disk that this
    // conversion writes to it. Such batches wait, a few dozen at most, and
    // then share one flush of the index.
    if (active_->openEpoch < durableEpoch_ || !makeOpensDurable_) {
      active_->file->Flush(true);
      Collect(*active_);
    } else if (active_->file->HoldsBatch() && ++waiting_ >= kMostWaiting) {
      waiting_ = 0;
      for (MailboxState* waiting : opened_) {
        if (!waiting->file || !waiting->file->HoldsBatch()) continue;
        waiting->file->Flush(true);
        Collect(*waiting);
      }
    }
  }
  active_ = nullptr;
  if (state.file) {
    state.lastUse = ++useClock_;
    if (state.file->StillThere()) {
      active_ = &state;
      return *state.file;
    }
    // Deleted while this conversion had it open (its folder removed during
    // the run): the records go into a new file by that name. The old file
    // had records of this conversion, which it reports.
    closeFailures_.emplace_back(root_ + state.relative,
                                "the mailbox was deleted during the conversion");
    Close(state);
    // Whatever the index says the old file held went with it.
    pending_.Reset(state.id);
    state.held.clear();
  }
  if (openFiles_ >= openLimit_) CloseLeastRecentlyUsed();
  auto file = std::make_unique<MailboxFile>(root_, state.relative);
  file->SetBeforeWriting([this, &state]() -> std::string {
    if (state.openEpoch < durableEpoch_ || !makeOpensDurable_) return {};
    return makeOpensDurable_();
  });
  if (!state.opened) {
    announce(state, file->length());
    state.openEpoch = durableEpoch_;
    state.opened = true;
    state.created = !file->existed();
    state.runStart = file->length();
    opened_.push_back(&state);
  }
  state.file = std::move(file);
  state.lastUse = ++useClock_;
  ++openFiles_;
  active_ = &state;
  return *state.file;
}

void MailboxPool::Collect(MailboxState& state) {
  if (!state.file) return;
  for (MailboxFile::LostRecord& lost : state.file->TakeLost())
    lateFailures_.push_back({std::move(lost.file), std::move(lost.reason), root_ + state.relative});
  const std::vector<HeldRecord> written = state.file->TakeWritten();
  if (written.empty()) return;
  pending_.Held(state.id, written);
  std::int64_t time = 0;
  (void)state.file->ModificationTime(time);
  pending_.Length(state.id, written.back().end, time);
  state.added += static_cast<std::int32_t>(written.size());
  recordsAdded_ += static_cast<std::int32_t>(written.size());
}

void MailboxPool::Close(MailboxState& state) {
  if (!state.file) return;
  state.file->Flush();
  Collect(state);
  // Where the file system cannot be flushed as a whole, the next mark
  // vouches for this mailbox only if it is on the disk before it is closed.
  if constexpr (!os::kFlushesFileSystem)
    if (std::string reason = state.file->Sync(); !reason.empty())
      closeFailures_.emplace_back(state.file->path(),
                                  "cannot make the mailbox durable: " + std::move(reason));
  if (std::string reason = state.file->Close(); !reason.empty())
    closeFailures_.emplace_back(state.file->path(), std::move(reason));
  // Records that went with a file deleted while it was open are not in
  // the destination: they are not counted as converted.
  if (state.file->lostWithFile()) {
    state.added -= state.file->recordsWritten();
    recordsAdded_ -= state.file->recordsWritten();
  }
  state.file.reset();
  --openFiles_;
  if (active_ == &state) active_ = nullptr;
}

void MailboxPool::CloseLeastRecentlyUsed() {
  MailboxState* oldest = nullptr;
  for (MailboxState* state : opened_)
    if (state->file && (oldest == nullptr || state->lastUse < oldest->lastUse)) oldest = state;
  if (oldest != nullptr) Close(*oldest);
}

void MailboxPool::FlushAll() {
  for (MailboxState* state : opened_) {
    if (!state->file) continue;
    state->file->Flush();
    Collect(*state);
  }
}

void MailboxPool::MakeDurable() {
  for (MailboxState* state : opened_)
    if (state->file)
      if (std::string reason = state->file->Sync(); !reason.empty())
        throw DestinationError("cannot make the mailbox " + state->file->path() +
                               " durable: " + reason);
}

void MailboxPool::CloseAll() {
  for (MailboxState* state : opened_) Close(*state);
}

void MailboxPool::Discard(MailboxState& state) {
  if (!state.file) return;
  (void)state.file->Close();
  state.file.reset();
  --openFiles_;
  if (active_ == &state) active_ = nullptr;
}

void MailboxPool::ForgetAdded() {
  recordsAdded_ = 0;
}

}  // namespace quillfen
