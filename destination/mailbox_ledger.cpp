#include "destination/mailbox_ledger.h"

#include <algorithm>
#include <memory>

#include "destination/destination_errors.h"
#include "destination/destination_lock.h"
#include "mbox/mailbox_records.h"
#include "mbox/message_failure.h"
#include "os/file.h"
#include "os/paths.h"

namespace quillfen {

namespace {

// A mailbox's facts when it is a file that can be used: nothing when it is
// missing, a folder, or a link.
bool MailboxFacts(const std::string& root, const std::string& relative, os::PathFacts& facts,
                  bool& link) {
  const os::Status status = os::InspectBelow(root, relative, facts);
  link = status.failure() == os::Failure::Link;
  return status.ok() && !facts.folder;
}

constexpr std::size_t kCopyPiece = std::size_t{1} << 20;

}  // namespace

MailboxLedger::MailboxLedger(const std::string& root, IndexLines& pending)
    : root_(root), pending_(pending) {}

void MailboxLedger::Load(std::vector<IndexedMailbox> mailboxes, bool trusted) {
  for (IndexedMailbox& indexed : mailboxes) {
    auto state = std::make_unique<MailboxState>();
    state->id = indexed.id;
    state->relative = std::move(indexed.relative);
    // An index begun afresh names its mailboxes again.
    state->declared = trusted;
    if (trusted) {
      state->logged = std::move(indexed.held);
      state->known = indexed.known;
      state->length = indexed.length;
      state->time = indexed.time;
      state->openLength = indexed.openLength;
      state->openCount = indexed.openCount;
      state->durableCount = indexed.durableCount;
      state->durableLength = indexed.durableLength;
    }
    nextId_ = std::max(nextId_, state->id + 1);
    idByRelative_[state->relative] = state->id;
    states_[state->id] = std::move(state);
  }
}

void MailboxLedger::StartWriting() {
  // A conversion that was killed may have left a torn record at the end of
  // any mailbox it had open, whichever source it converted. A doubtful last
  // record is set aside (and its message converted again) only when the
  // mailbox was compared with the source: the mailbox of another source is
  // left as it is, as nothing can tell its last record from a whole one.
  for (auto& [id, state] : states_) {
    if (state->openLength < 0 || state->learned) continue;
    Learn(*state);
    if (state->doubtfulAt < 0) continue;
    KeepDoubtful(*state);
    if (state->cutAt < 0) RecordSettled(*state, state->settledLength, state->settledTime);
  }
  for (auto& [id, state] : states_) {
    if (state->doubtfulAt >= 0) state->cutAt = state->doubtfulAt;
    state->doubtfulAt = -1;
    if (state->cutAt >= 0) SetAside(*state);
  }
  writing_ = true;
}

MailboxState& MailboxLedger::StateFor(const std::string& mailboxPath) {
  if (mailboxPath.compare(0, root_.size(), root_) != 0)
    throw MessageFailure("the mailbox " + mailboxPath + " lies outside the destination");
  std::string relative = mailboxPath.substr(root_.size());
  if (const auto known = idByRelative_.find(relative); known != idByRelative_.end())
    return *states_.at(known->second);
  auto made = std::make_unique<MailboxState>();
  made->id = nextId_++;
  made->relative = std::move(relative);
  MailboxState& state = *made;
  idByRelative_[state.relative] = state.id;
  states_[state.id] = std::move(made);
  return state;
}

void MailboxLedger::Declare(MailboxState& state) {
  if (state.declared) return;
  pending_.Mailbox(state.id, state.relative);
  state.declared = true;
}

MailboxLedger::Verdict MailboxLedger::Judge(const MailboxState& state,
                                            const os::PathFacts* facts) const {
  if (facts == nullptr || facts->size == 0) return Verdict::Empty;
  if (state.openLength >= 0 || !state.known) return Verdict::ReadBack;
  if (facts->size == state.length && facts->modificationTime == state.time) return Verdict::Trusted;
  return Verdict::ReadBack;
}

bool MailboxLedger::NeedsReadingBack(const MailboxState& state) const {
  if (state.learned) return false;
  os::PathFacts facts;
  bool link = false;
  const bool exists = MailboxFacts(root_, state.relative, facts, link);
  return !link && Judge(state, exists ? &facts : nullptr) == Verdict::ReadBack;
}

bool MailboxLedger::AtFromLine(const MailboxState& state, std::int64_t offset) const {
  os::File file;
  if (!file.OpenForReadingBelow(root_, state.relative).ok()) return false;
  char head[7] = {};
  std::size_t got = 0;
  if (!file.ReadAt(offset, head, sizeof head, got).ok()) return false;
  const std::string_view text(head, got);
  // A record of ours may begin with the line end that closed another
  // program's last line; one cut short may end inside its From line, and
  // one whose writing a power cut lost may be zeros.
  if (got > 0 && head[0] == '\0') return true;
  for (const std::string_view line : {"From ", "\r\nFrom ", "\nFrom "})
    if (text.starts_with(line) || (got < sizeof head && line.starts_with(text))) return true;
  return false;
}

void MailboxLedger::LearnInterrupted(MailboxState& state, std::vector<ContentHash>& logged,
                                     std::int64_t size) {
  const std::string mailboxPath = root_ + state.relative;
  const auto readFailed = [&](const os::Status& status) {
    if (status.failure() == os::Failure::Link) {
      state.refused = "the mailbox " + ReasonBelow(mailboxPath, status);
      return;
    }
    throw DestinationError("cannot read the mailbox " + mailboxPath + ": " + status.reason());
  };
  // What the last mark vouched for is on the disk and is taken from the
  // index; what came after it is read back, as that conversion may not
  // have lived (or the power lasted) to write it whole.
  std::vector<HeldRecord> records;
  std::int64_t from = state.durableLength;
  state.settleReset = false;
  state.settleKeep = std::min(state.durableCount, logged.size());
  // The records the index lists from there on, in the order they were
  // written; those that reached the index but not the disk differ.
  std::size_t listed = state.settleKeep;
  if (size < state.durableLength || state.durableLength < state.openLength) {
    // Shorter than the mark vouched for: not what a crash leaves. Whatever
    // was there before that conversion is read back as it is, and only
    // what it appended may be set aside.
    from = std::min(size, state.openLength);
    state.settleReset = true;
    state.settleKeep = 0;
    listed = std::min(state.openCount, logged.size());
    if (const os::Status status = ReadMailboxRecords(root_, state.relative, from, records);
        !status.ok())
      return readFailed(status);
  }
  std::int64_t torn = -1;
  const std::size_t tailStart = records.size();
  if (from < size)
    if (const os::Status status = ReadMailboxTail(root_, state.relative, from, size, records, torn);
        !status.ok())
      return readFailed(status);
  // The tail's records are matched with those the index lists in the order
  // they were written. One that is not listed is another program's, kept,
  // unless it is the last one: where the index lists more, that is one of
  // ours left torn, whatever its shape; else it may be one of ours cut
  // short at a line end, which only the source can tell (doubtful).
  std::size_t next = listed;
  std::int64_t doubtful = -1;
  for (std::size_t i = tailStart; i < records.size(); ++i) {
    if (next < logged.size() && records[i].hash == logged[next]) {
      ++next;
      continue;
    }
    if (i + 1 < records.size()) continue;
    const std::int64_t start = i == tailStart ? from : records[i - 1].end;
    if (next >= logged.size())
      doubtful = start;
    else if (torn < 0 || start < torn)
      torn = start;
  }
  // Cuts are made only where a record begins: a tail that does not begin
  // with one was changed before it, by someone else, and the mailbox is
  // read back whole, nothing of it cut.
  if ((from < size && !AtFromLine(state, from)) || (torn >= 0 && !AtFromLine(state, torn))) {
    records.clear();
    if (const os::Status status = ReadMailboxRecords(root_, state.relative, size, records);
        !status.ok())
      return readFailed(status);
    state.settleReset = true;
    state.settleKeep = 0;
    logged.clear();
    torn = doubtful = -1;
  }
  if (torn >= 0 || (doubtful >= 0 && !AtFromLine(state, doubtful))) doubtful = -1;
  if (torn >= 0)
    records.erase(std::find_if(records.begin(), records.end(),
                               [torn](const HeldRecord& record) { return record.end > torn; }),
                  records.end());
  logged.resize(state.settleKeep);
  state.held = std::move(logged);
  for (const HeldRecord& record : records) state.held.push_back(record.hash);
  state.settled = std::move(records);
  state.cutAt = torn;
  state.doubtfulAt = doubtful;
  // A doubtful record holds no message of the source: if it is one cut
  // short, the message is converted again.
  if (doubtful >= 0) state.held.pop_back();
}

void MailboxLedger::KeepDoubtful(MailboxState& state) {
  if (state.doubtfulAt < 0) return;
  const ContentHash& hash = state.settled.back().hash;
  state.held.insert(std::upper_bound(state.held.begin(), state.held.end(), hash), hash);
  state.taken.assign(state.held.size(), 0);
  state.doubtfulAt = -1;
}

void MailboxLedger::RecordSettled(MailboxState& state, std::int64_t length, std::int64_t time) {
  Declare(state);
  if (state.settleReset)
    pending_.Reset(state.id);
  else
    pending_.Truncate(state.id, static_cast<std::int64_t>(state.settleKeep));
  pending_.Held(state.id, state.settled);
  pending_.Length(state.id, length, time);
  pending_.Closed(state.id);
  state.settled = {};
  state.known = true;
  state.length = length;
  state.time = time;
  state.openLength = -1;
}

void MailboxLedger::SetAside(MailboxState& state) {
  // The torn tail is copied into the hidden folder, and made durable there,
  // before the mailbox is cut: its bytes are never lost.
  const std::string mailboxPath = root_ + state.relative;
  const char separator = PathStyle::Native().separator;
  const std::string folder = std::string(kHiddenFolder) + separator + "cut";
  const std::string kept =
      folder + separator + std::to_string(state.id) + "-" + std::to_string(state.cutAt) + ".cut";
  const auto fail = [&](const std::string& what, const os::Status& status) {
    throw DestinationError("cannot set aside the torn end of the mailbox " + mailboxPath + " (" +
                           what + "): " + status.reason());
  };
  os::File source;
  os::PathFacts facts;
  if (const os::Status status = source.OpenForReadingBelow(root_, state.relative, &facts);
      !status.ok())
    fail("reading it", status);
  if (const os::Status status = os::CreateFoldersBelow(root_, folder); !status.ok())
    fail("making " + root_ + folder, status);
  os::File copy;
  std::int64_t copyStart = 0;
  {
    os::PathFacts copyFacts;
    if (const os::Status status = copy.OpenForAppendingBelow(root_, kept, nullptr, &copyFacts);
        !status.ok())
      fail("writing " + root_ + kept, status);
    copyStart = copyFacts.size;
  }
  const auto piece = std::make_unique_for_overwrite<char[]>(kCopyPiece);
  for (std::int64_t at = state.cutAt; at < facts.size;) {
    std::size_t got = 0;
    if (const os::Status status = source.ReadAt(
            at, piece.get(),
            static_cast<std::size_t>(std::min<std::int64_t>(facts.size - at, kCopyPiece)), got);
        !status.ok())
      fail("reading it", status);
    if (got == 0) break;
    if (const os::Status status = copy.Append(std::string_view(piece.get(), got)); !status.ok()) {
      (void)copy.CutBack(copyStart);
      fail("writing " + root_ + kept, status);
    }
    at += static_cast<std::int64_t>(got);
  }
  if (const os::Status status = copy.Flush(); !status.ok()) fail("writing " + root_ + kept, status);
  (void)os::FlushFolder(root_ + folder);
  if (const os::Status status = copy.Close(); !status.ok()) fail("writing " + root_ + kept, status);
  if (const os::Status status = os::CutBackFileBelow(root_, state.relative, state.cutAt);
      !status.ok())
    throw DestinationError("cannot cut back the mailbox " + mailboxPath + ": " +
                           ReasonBelow(mailboxPath, status));
  setAside_.push_back({mailboxPath, root_ + kept, facts.size - state.cutAt});
  // The index lists no record cut off (held never counted them).
  const std::int64_t cutAt = state.cutAt;
  auto& settled = state.settled;
  settled.erase(std::find_if(settled.begin(), settled.end(),
                             [cutAt](const HeldRecord& record) { return record.end > cutAt; }),
                settled.end());
  os::PathFacts now;
  bool link = false;
  (void)MailboxFacts(root_, state.relative, now, link);
  RecordSettled(state, state.cutAt, now.modificationTime);
  state.cutAt = -1;
}

void MailboxLedger::Learn(MailboxState& state) {
  if (state.learned) return;
  const std::string mailboxPath = root_ + state.relative;
  os::PathFacts facts;
  bool link = false;
  const bool exists = MailboxFacts(root_, state.relative, facts, link);
  if (link) {
    // Nothing is read from, cut or written to a link: the mailbox counts as
    // holding nothing, and its messages fail when they are converted.
    state.refused = "the mailbox " + mailboxPath + " is a link to elsewhere; it was left alone";
    state.learned = true;
    return;
  }
  std::vector<ContentHash> logged = std::move(state.logged);
  state.logged = {};
  const std::int64_t size = exists ? facts.size : 0;
  if (state.openLength >= 0 && size > 0) {
    LearnInterrupted(state, logged, size);
    if (!state.refused.empty()) {
      state.learned = true;
      return;
    }
    state.settledLength = size;
    state.settledTime = facts.modificationTime;
    // Learned while writing, the mailbox was not compared with the source:
    // its doubtful record stays.
    if (writing_) KeepDoubtful(state);
    if (state.cutAt < 0 && state.doubtfulAt < 0)
      RecordSettled(state, size, facts.modificationTime);
    else if (writing_)
      SetAside(state);
  } else {
    const Verdict verdict = Judge(state, exists ? &facts : nullptr);
    switch (verdict) {
      case Verdict::Empty:
        break;
      case Verdict::Trusted:
        state.held = std::move(logged);
        break;
      case Verdict::ReadBack: {
        std::vector<HeldRecord> records;
        if (const os::Status status = ReadMailboxRecords(root_, state.relative, size, records);
            !status.ok()) {
          if (status.failure() == os::Failure::Link) {
            state.refused = "the mailbox " + ReasonBelow(mailboxPath, status);
            state.learned = true;
            return;
          }
          throw DestinationError("cannot read the mailbox " + mailboxPath + ": " + status.reason());
        }
        Declare(state);
        pending_.Reset(state.id);
        pending_.Held(state.id, records);
        state.held.reserve(records.size());
        for (const HeldRecord& record : records) state.held.push_back(record.hash);
        break;
      }
    }
    if (state.openLength >= 0) {
      Declare(state);
      pending_.Closed(state.id);
    }
    const bool nothingToSay = verdict == Verdict::Empty && !state.known;
    if (!nothingToSay && (verdict != Verdict::Trusted || state.openLength >= 0)) {
      // The index learns the mailbox's length and time as they are now.
      Declare(state);
      if (verdict == Verdict::Empty && state.known) pending_.Reset(state.id);
      pending_.Length(state.id, size, exists ? facts.modificationTime : 0);
      state.known = true;
      state.length = size;
      state.time = exists ? facts.modificationTime : 0;
    }
    state.openLength = -1;
  }
  std::sort(state.held.begin(), state.held.end());
  state.taken.assign(state.held.size(), 0);
  state.learned = true;
}

bool MailboxLedger::Take(MailboxState& state, const ContentHash& hash) {
  Learn(state);
  // Equal records lie together once sorted: the first of them counts how
  // many are taken, so that a mailbox of many equal records is not walked
  // from its first one for each.
  const auto at = std::lower_bound(state.held.begin(), state.held.end(), hash);
  if (at == state.held.end() || *at != hash) return false;
  const auto first = static_cast<std::size_t>(at - state.held.begin());
  const std::size_t next = first + state.taken[first];
  if (next >= state.held.size() || state.held[next] != hash) return false;
  ++state.taken[first];
  return true;
}

std::string MailboxLedger::TakeBack(MailboxState& state, IndexLines& lines) {
  const std::string path = root_ + state.relative;
  os::PathFacts facts;
  bool link = false;
  const bool exists = MailboxFacts(root_, state.relative, facts, link);
  if (state.created && state.runStart == 0) {
    if (const os::Status status = os::RemoveFileBelow(root_, state.relative);
        !status.ok() && status.failure() != os::Failure::NotFound)
      return "cannot remove it: " + ReasonBelow(path, status);
  } else if (exists && facts.size > state.runStart) {
    if (const os::Status status = os::CutBackFileBelow(root_, state.relative, state.runStart);
        !status.ok())
      return "cannot cut it back: " + ReasonBelow(path, status);
  }
  os::PathFacts now;
  const bool there = MailboxFacts(root_, state.relative, now, link);
  // The records this conversion added are forgotten with the bytes.
  lines.Truncate(state.id, static_cast<std::int64_t>(state.held.size()));
  lines.Length(state.id, there ? now.size : 0, there ? now.modificationTime : 0);
  state.added = 0;
  return {};
}

}  // namespace quillfen
