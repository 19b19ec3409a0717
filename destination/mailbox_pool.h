#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "destination/index_lines.h"
#include "destination/mailbox_state.h"

namespace quillfen {

// A record whose batch could not be written (a full disk): the message's
// file, the reason and the mailbox it was meant for.
struct LateFailure {
  std::string file;
  std::string reason;
  std::string mailbox;
};

// The mailboxes this conversion writes to, as many of them open at once as
// the limit on open files leaves room for: an archive's messages jump
// between folders, and reopening a mailbox for every message would cost
// more than the writing. The least recently used one is closed to make
// room. The records each file wrote go into the index's pending lines as
// they reach the disk.
class MailboxPool {
 public:
  MailboxPool(const std::string& root, IndexLines& pending);

  // The mailbox at mailboxPath when it is the one written to last and was
  // not found deleted, else nothing. A folder's messages come one after the
  // other: the same mailbox is asked for again and again. Whether it is
  // still there is asked of the system when it is opened or switched to and
  // when its records are written, batch by batch (MailboxFile::foundDeleted),
  // not for every message.
  MailboxFile* Active(const std::string& mailboxPath);
  // Makes the learned mailbox of state the active one, opening it when it
  // is not open. Before its first record of this conversion, announce gets
  // the length it begins at; what announce throws passes on, and the
  // mailbox then stays closed. Throws MessageFailure.
  MailboxFile& Open(MailboxState& state,
                    const std::function<void(MailboxState&, std::int64_t)>& announce);
  // Makes the mailboxes opened since the last call safe to write: the
  // destination flushes its index, which names them, and gives the reason
  // when that failed. Their first records wait until then, and mailboxes
  // opened one after the other share one flush.
  void SetMakeOpensDurable(std::function<std::string()> make) {
    makeOpensDurable_ = std::move(make);
  }
  // The index was flushed: every mailbox opened so far may be written.
  void OpensMadeDurable() { ++durableEpoch_; }

  // Writes every open mailbox's batch.
  void FlushAll();
  // Waits until every mailbox written since the last call is on the disk,
  // where the file system cannot be flushed as a whole: the open ones now,
  // those closed since when they were closed. Throws DestinationError.
  void MakeDurable();
  // Closes every mailbox.
  void CloseAll();
  // Closes the mailbox of state as it is, its records no longer counted.
  void Discard(MailboxState& state);
  // Forgets every record counted since Begin.
  void ForgetAdded();

  // The mailboxes opened since Begin, in the order they were first opened.
  const std::vector<MailboxState*>& opened() const { return opened_; }
  // The records that reached their mailboxes.
  std::int32_t recordsAdded() const { return recordsAdded_; }
  // Mailboxes that failed to close, or vanished while open, with the
  // reason, since the last call.
  std::vector<std::pair<std::string, std::string>> TakeCloseFailures() {
    return std::exchange(closeFailures_, {});
  }
  // Records whose batch could not be written, with the reason, since the
  // last call.
  std::vector<LateFailure> TakeLateFailures() { return std::exchange(lateFailures_, {}); }

 private:
  void Collect(MailboxState& state);
  void Close(MailboxState& state);
  void CloseLeastRecentlyUsed();

  std::string root_;
  IndexLines& pending_;
  std::vector<MailboxState*> opened_;
  MailboxState* active_ = nullptr;
  std::size_t openFiles_ = 0;
  std::size_t openLimit_;
  std::uint64_t useClock_ = 0;
  std::int32_t recordsAdded_ = 0;
  std::function<std::string()> makeOpensDurable_;
  // Index flushes so far; a mailbox opened at epoch e may be written once
  // it is greater.
  std::uint64_t durableEpoch_ = 0;
  // Mailboxes left with a batch that waits for the index.
  std::size_t waiting_ = 0;
  std::vector<std::pair<std::string, std::string>> closeFailures_;
  std::vector<LateFailure> lateFailures_;
};

}  // namespace quillfen
