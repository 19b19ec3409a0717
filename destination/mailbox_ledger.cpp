#include "destination/mailbox_ledger.h"

#include <algorithm>

#include "destination/destination_errors.h"
#include "mbox/mailbox_records.h"
#include "mbox/message_failure.h"

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

}  // namespace

MailboxLedger::MailboxLedger(const std::string& root, IndexLines& pending)
    : root_(root), pending_(pending) {}

void MailboxLedger::Load(std::vector<IndexedMailbox> mailboxes) {
  for (IndexedMailbox& indexed : mailboxes) {
    auto state = std::make_unique<MailboxState>();
    state->id = indexed.id;
    state->relative = std::move(indexed.relative);
    state->declared = true;
    state->logged = std::move(indexed.held);
    state->known = indexed.known;
    state->length = indexed.length;
    state->time = indexed.time;
    state->openLength = indexed.openLength;
    nextId_ = std::max(nextId_, state->id + 1);
    idByRelative_[state->relative] = state->id;
    states_[state->id] = std::move(state);
  }
}

void MailboxLedger::CutBackInterrupted() {
  // A conversion that was killed may have left a torn record at the end of
  // any mailbox it had open, whichever source it converted: each is cut
  // back to the last point known whole (its last mark, or where that
  // conversion began to append) before anything else happens here.
  for (auto& [id, state] : states_) {
    if (state->openLength < 0) continue;
    const std::string path = root_ + state->relative;
    os::PathFacts facts;
    bool link = false;
    // A mailbox replaced by a link since is left alone, open as it is.
    if (!MailboxFacts(root_, state->relative, facts, link)) {
      if (link) continue;
      state->openLength = -1;
      pending_.Closed(id);
      continue;
    }
    const std::int64_t whole =
        state->known ? std::max(state->length, state->openLength) : state->openLength;
    // A mailbox shorter than that lost records (a power cut): it is read
    // back when it is learned.
    if (facts.size < whole) continue;
    if (facts.size > whole) {
      if (const os::Status status = os::CutBackFileBelow(root_, state->relative, whole);
          !status.ok())
        throw DestinationError("cannot cut back the mailbox " + path + ": " +
                               ReasonBelow(path, status));
      bool ignored = false;
      (void)MailboxFacts(root_, state->relative, facts, ignored);
    }
    state->openLength = -1;
    pending_.Closed(id);
    if (!state->known || state->length != whole) continue;
    state->time = facts.modificationTime;
    pending_.Length(id, state->length, state->time);
  }
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
  // An interrupted conversion still open here lost records (a power cut):
  // CutBackInterrupted settled every other one.
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
  const Verdict verdict = Judge(state, exists ? &facts : nullptr);
  std::vector<ContentHash> logged = std::move(state.logged);
  state.logged = {};
  std::int64_t length = exists ? facts.size : 0;
  switch (verdict) {
    case Verdict::Empty:
      break;
    case Verdict::Trusted:
      state.held = std::move(logged);
      break;
    case Verdict::ReadBack: {
      if (state.openLength >= 0 && state.openLength < length) {
        // Records of an interrupted conversion were lost (a power cut), and
        // what is left of them may end torn: everything it wrote goes, and
        // its messages are converted again.
        if (const os::Status status = os::CutBackFileBelow(root_, state.relative, state.openLength);
            !status.ok())
          throw DestinationError("cannot cut back the mailbox " + mailboxPath + ": " +
                                 ReasonBelow(mailboxPath, status));
        length = state.openLength;
      }
      std::vector<HeldRecord> records;
      if (const os::Status status = ReadMailboxRecords(root_, state.relative, length, records);
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
    os::PathFacts now;
    bool ignored = false;
    const bool there = MailboxFacts(root_, state.relative, now, ignored);
    Declare(state);
    if (verdict == Verdict::Empty && state.known) pending_.Reset(state.id);
    pending_.Length(state.id, there ? now.size : 0, there ? now.modificationTime : 0);
    state.known = true;
    state.length = there ? now.size : 0;
    state.time = there ? now.modificationTime : 0;
  }
  state.openLength = -1;
  std::sort(state.held.begin(), state.held.end());
  state.taken.assign(state.held.size(), false);
  state.learned = true;
}

bool MailboxLedger::Take(MailboxState& state, const ContentHash& hash) {
  Learn(state);
  auto at = std::lower_bound(state.held.begin(), state.held.end(), hash);
  for (; at != state.held.end() && *at == hash; ++at) {
    const auto position = static_cast<std::size_t>(at - state.held.begin());
    if (state.taken[position]) continue;
    state.taken[position] = true;
    return true;
  }
  return false;
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
