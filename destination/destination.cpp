#include "destination/destination.h"

#include <atomic>

#include "mbox/message_failure.h"
#include "os/file.h"
#include "os/paths.h"

namespace quillfen {

namespace {

std::atomic<std::int32_t> messagesPerMark{Destination::kMessagesPerMark};

}  // namespace

void Destination::SetMessagesPerMarkForTests(std::int32_t count) {
  messagesPerMark.store(count > 0 ? count : kMessagesPerMark);
}

Destination::Destination(std::string root)
    : root_(AddTrailingSeparator(std::move(root))),
      lock_(root_),
      index_(root_),
      ledger_(root_, pending_),
      pool_(root_, pending_) {
  pool_.SetMakeOpensDurable([this]() -> std::string {
    try {
      index_.Append(pending_, true);
    } catch (const DestinationError& error) {
      return error.what();
    }
    pool_.OpensMadeDurable();
    return {};
  });
  IndexContents contents = index_.Read();
  names_ = std::move(contents.names);
  // An index that is not trusted is begun afresh when it is next written:
  // the names chosen for mirror folders go into it again.
  if (!contents.trusted)
    for (const auto& [wanted, chosen] : names_) pending_.Name(wanted, chosen);
  ledger_.Load(std::move(contents.mailboxes), contents.trusted);
}

// Mailboxes still open here belong to a conversion that did not finish:
// they are closed as they are, and the next conversion cuts back what came
// after the last mark.
Destination::~Destination() = default;

bool Destination::NeedsReadingBack(const std::string& mailboxPath) {
  return ledger_.NeedsReadingBack(ledger_.StateFor(mailboxPath));
}

void Destination::Learn(const std::string& mailboxPath) {
  ledger_.Learn(ledger_.StateFor(mailboxPath));
}

bool Destination::HoldsAny(const std::string& mailboxPath) {
  MailboxState& state = ledger_.StateFor(mailboxPath);
  ledger_.Learn(state);
  return !state.held.empty();
}

bool Destination::Take(const std::string& mailboxPath, const ContentHash& hash) {
  return ledger_.Take(ledger_.StateFor(mailboxPath), hash);
}

void Destination::RememberName(const std::string& wanted, const std::string& chosen) {
  if (const auto known = names_.find(wanted); known != names_.end() && known->second == chosen)
    return;
  names_[wanted] = chosen;
  pending_.Name(wanted, chosen);
}

void Destination::Begin() {
  if (writing_) throw std::logic_error("the writing has begun already");
  // Only now, once the user decided, is anything cut; and what the index
  // learned while the plan was made is written.
  ledger_.StartWriting();
  pending_.Begin();
  index_.Append(pending_, true);
  writing_ = true;
}

MailboxFile& Destination::Mailbox(const std::string& mailboxPath) {
  if (!writing_) throw std::logic_error("the writing has not begun");
  if (MailboxFile* active = pool_.Active(mailboxPath)) return *active;
  MailboxState& state = ledger_.StateFor(mailboxPath);
  try {
    ledger_.Learn(state);
  } catch (const DestinationError& error) {
    throw MessageFailure(error.what());
  }
  if (!state.refused.empty()) throw MessageFailure(state.refused);
  return pool_.Open(state, [this](MailboxState& opening, std::int64_t length) {
    // Before the first record of this conversion, the index says where
    // the mailbox was: a conversion killed later cuts back to its last
    // mark, never into what was there before. When the index cannot be
    // written, only this message fails: the lines wait for the next write,
    // among them the records of the mailbox written before this one, which
    // the index must not miss once it knows that mailbox's new length.
    ledger_.Declare(opening);
    pending_.Open(opening.id, length);
    try {
      // On the disk before any record (the pool waits for that): after a
      // power cut the index must know that this run appended to the
      // mailbox, or a torn record of it would be taken for another
      // program's and kept.
      index_.Append(pending_, false);
    } catch (const DestinationError& error) {
      throw MessageFailure(error.what());
    }
  });
}

void Destination::WriteMark() {
  // The index speaks only of records on the disk: the batches go first, and
  // what they could not write is failed before the index counts it. The
  // mark vouches for them only once they are on the disk themselves, not
  // only in the system's cache: one flush of the file system where it has
  // one, else each mailbox written since the last mark.
  pool_.FlushAll();
  sinceMark_ = 0;
  if constexpr (os::kFlushesFileSystem)
    index_.FlushFileSystem();
  else
    pool_.MakeDurable();
  pending_.Mark();
  index_.Append(pending_, true);
  pool_.OpensMadeDurable();
}

void Destination::Settled() {
  if (++sinceMark_ >= messagesPerMark.load(std::memory_order_relaxed)) WriteMark();
}

std::vector<LateFailure> Destination::TakeLateFailures() {
  return pool_.TakeLateFailures();
}

std::vector<std::pair<std::string, std::string>> Destination::Finish() {
  pool_.CloseAll();
  WriteMark();
  pending_.End();
  index_.Append(pending_, true);
  writing_ = false;
  return pool_.TakeCloseFailures();
}

std::vector<std::pair<std::string, std::string>> Destination::Abandon() {
  std::vector<std::pair<std::string, std::string>> failures;
  IndexLines lines;
  for (MailboxState* state : pool_.opened()) {
    pool_.Discard(*state);
    if (std::string reason = ledger_.TakeBack(*state, lines); !reason.empty())
      failures.emplace_back(root_ + state->relative, std::move(reason));
  }
  pool_.ForgetAdded();
  pending_.Clear();
  if (failures.empty()) {
    lines.End();
    try {
      index_.Append(lines, true);
    } catch (const DestinationError&) {
      // The mailboxes are as they were; an index that could not say so is
      // read back next time, as they disagree.
    }
    writing_ = false;
  }
  return failures;
}

std::vector<std::string> Destination::MailboxesWritten() const {
  std::vector<std::string> paths;
  for (const MailboxState* state : pool_.opened())
    if (state->added > 0) paths.push_back(root_ + state->relative);
  return paths;
}

}  // namespace quillfen
