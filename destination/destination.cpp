#include "destination/destination.h"

#include <algorithm>
#include <charconv>

#include "mbox/mailbox_records.h"
#include "mbox/message_failure.h"
#include "os/folders.h"
#include "os/paths.h"

namespace quillfen {

namespace {

constexpr std::string_view kHeader = "quillfen-index 1\n";
constexpr const char* kFolderName = ".quillfen";
// The index is written after this many messages: a conversion that is
// killed redoes at most this many, and the index costs one flush for as
// many messages.
constexpr std::int32_t kMessagesPerMark = 512;
// Mailboxes kept open at once at most; an archive's messages jump between
// folders. A lower limit on open files leaves room for the lock, the
// index, the source files read ahead and the program's own.
constexpr std::size_t kMostOpenMailboxes = 64;
constexpr std::int64_t kFilesForTheRest = 24;

std::size_t OpenMailboxLimit() {
  const std::int64_t files = os::OpenFilesLimit();
  if (files <= 0) return kMostOpenMailboxes;
  return static_cast<std::size_t>(
      std::clamp<std::int64_t>((files - kFilesForTheRest) / 2, 1, kMostOpenMailboxes));
}
constexpr std::size_t kReadPiece = 1024 * 1024;

std::string Field(std::int64_t number) {
  return " " + std::to_string(number);
}

std::string Field(const std::string& text) {
  return " " + std::to_string(text.size()) + ":" + text;
}

// Reads the index's lines from a buffer that may end in the middle of one:
// every read fails once the buffer is used up, and short() then tells a
// line cut by the buffer's end from a damaged one.
class IndexReader {
 public:
  explicit IndexReader(std::string_view text) : text_(text) {}

  std::size_t position() const { return at_; }
  bool AtEnd() const { return at_ >= text_.size(); }
  bool short_read() const { return short_; }

  bool Keyword(std::string_view& word) {
    const std::size_t end = text_.find_first_of(" \n", at_);
    if (end == std::string_view::npos) return Short();
    if (end == at_) return false;
    word = text_.substr(at_, end - at_);
    at_ = end;
    return true;
  }
  bool Read(std::int64_t& value) {
    if (!Space()) return false;
    const char* first = text_.data() + at_;
    const char* last = text_.data() + text_.size();
    const auto [next, error] = std::from_chars(first, last, value);
    if (error != std::errc() || next == first) return false;
    if (next == last) return Short();
    at_ = static_cast<std::size_t>(next - text_.data());
    return true;
  }
  bool Read(int& value) {
    std::int64_t wide = 0;
    if (!Read(wide) || wide < 0 || wide > INT32_MAX) return false;
    value = static_cast<int>(wide);
    return true;
  }
  bool Read(ContentHash& hash) {
    if (!Space()) return false;
    if (text_.size() - at_ < 32) return Short();
    if (!ParseHashText(text_.substr(at_, 32), hash)) return false;
    at_ += 32;
    return true;
  }
  bool Read(std::string& value) {
    std::int64_t length = 0;
    if (!Read(length) || length < 0) return false;
    if (text_[at_] != ':') return false;
    if (static_cast<std::int64_t>(text_.size() - at_ - 1) < length) return Short();
    value.assign(text_.substr(at_ + 1, static_cast<std::size_t>(length)));
    at_ += 1 + static_cast<std::size_t>(length);
    return true;
  }
  bool LineEnd() {
    if (at_ >= text_.size()) return Short();
    if (text_[at_] != '\n') return false;
    ++at_;
    return true;
  }

 private:
  bool Space() {
    if (at_ >= text_.size()) return Short();
    if (text_[at_] != ' ') return false;
    ++at_;
    return true;
  }
  bool Short() {
    short_ = true;
    return false;
  }

  std::string_view text_;
  std::size_t at_ = 0;
  bool short_ = false;
};

std::string Below(const std::string& folder, const char* name) {
  return folder + PathStyle::Native().separator + name;
}

// The reason a path below the destination could not be used, naming it
// when it is a link that was left alone.
std::string Unsafe(const std::string& path, const os::Status& status) {
  if (status.failure() == os::Failure::Link)
    return path + " is " + status.reason() + "; it was left alone";
  return status.reason();
}

// "held" lines for records of mailbox id, a few hundred to a line, so that
// a reader never needs much of the index at once.
void AppendHeld(std::string& out, int id, const std::vector<HeldRecord>& records) {
  constexpr std::size_t kPerLine = 512;
  for (std::size_t first = 0; first < records.size(); first += kPerLine) {
    const std::size_t count = std::min(kPerLine, records.size() - first);
    out += "held" + Field(id) + Field(static_cast<std::int64_t>(count));
    for (std::size_t i = first; i < first + count; ++i)
      out += ' ' + HashText(records[i].hash) + Field(records[i].end);
    out += '\n';
  }
}

// A mailbox's facts when it is a file that can be used: nothing when it is
// missing, a folder, or a link.
bool MailboxFacts(const std::string& root, const std::string& relative, os::PathFacts& facts,
                  bool& link) {
  const os::Status status = os::InspectBelow(root, relative, facts);
  link = status.failure() == os::Failure::Link;
  return status.ok() && !facts.folder;
}

}  // namespace

struct Destination::MailboxState {
  int id = 0;
  std::string relative;
  bool declared = false;  // its "mailbox" line is in the index file
  // What the index says: its records while it is read, the length and time
  // the mailbox had when they were written, and the length an interrupted
  // conversion began appending at (-1 when none did).
  std::vector<ContentHash> logged;
  bool known = false;
  std::int64_t length = 0;
  std::int64_t time = 0;
  std::int64_t openLength = -1;
  // What it holds, once learned: the records' hashes in order, and which of
  // them a message of the source has taken.
  bool learned = false;
  std::string refused;  // why the mailbox is left alone (a link), if it is
  std::vector<ContentHash> held;
  std::vector<bool> taken;
  // Writing.
  std::unique_ptr<MailboxFile> file;
  std::uint64_t lastUse = 0;
  bool opened = false;  // since Begin
  bool created = false;
  std::int64_t runStart = 0;
  std::int32_t added = 0;
};

Destination::Destination(std::string root)
    : root_(AddTrailingSeparator(std::move(root))), openLimit_(OpenMailboxLimit()) {
  if (const os::Status made = os::CreateFolders(root_); !made.ok())
    throw DestinationError("cannot create the destination folder " + root_ + ": " + made.reason());
  folder_ = root_ + kFolderName;
  // The hidden folder is reached without following a link, as every path
  // below the destination: a link planted there must not aim the lock and
  // the index elsewhere.
  if (const os::Status made = os::CreateFoldersBelow(root_, kFolderName); !made.ok())
    throw DestinationError("cannot write into the destination folder " + root_ + ": " +
                           Unsafe(folder_, made));
  if (const os::Status opened = lock_.OpenForAppendingBelow(root_, Below(kFolderName, "lock"));
      !opened.ok())
    throw DestinationError("cannot write into the destination folder " + root_ + ": " +
                           Unsafe(Below(folder_, "lock"), opened));
  // The lock belongs to the open file: the system gives it up when the
  // process ends, however it ends.
  if (const os::Status locked = lock_.LockExclusively(); !locked.ok()) {
    (void)lock_.Close();
    if (locked.failure() == os::Failure::LockHeld) throw DestinationBusy(root_);
    throw DestinationError("cannot lock the destination folder " + root_ + ": " + locked.reason());
  }
  if (const os::Status opened = index_.OpenForAppendingBelow(root_, Below(kFolderName, "index"));
      !opened.ok()) {
    (void)lock_.Close();
    throw DestinationError("cannot write into the destination folder " + root_ + ": " +
                           Unsafe(Below(folder_, "index"), opened));
  }
  ReadIndex();
  CutBackInterrupted();
}

void Destination::CutBackInterrupted() {
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
      pending_ += "closed" + Field(id) + "\n";
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
        throw DestinationError("cannot cut back the mailbox " + path + ": " + Unsafe(path, status));
      bool ignored = false;
      (void)MailboxFacts(root_, state->relative, facts, ignored);
    }
    state->openLength = -1;
    pending_ += "closed" + Field(id) + "\n";
    if (!state->known || state->length != whole) continue;
    state->time = facts.modificationTime;
    pending_ += "length" + Field(id) + Field(state->length) + Field(state->time) + "\n";
  }
}

Destination::~Destination() {
  // Mailboxes still open here belong to a conversion that did not finish:
  // they are closed as they are, and the next conversion cuts back what
  // came after the last mark.
  for (auto& [id, state] : states_) state->file.reset();
  (void)index_.Close();
  (void)lock_.Close();
}

void Destination::ReadIndex() {
  std::string text;
  std::int64_t offset = 0;
  std::size_t consumed = 0;  // bytes of text already parsed
  bool atEnd = false;
  const auto more = [&]() {
    text.erase(0, consumed);
    consumed = 0;
    const std::size_t had = text.size();
    text.resize(had + kReadPiece);
    std::size_t got = 0;
    if (const os::Status status = index_.ReadAt(offset, text.data() + had, kReadPiece, got);
        !status.ok())
      throw DestinationError("cannot read the index in " + folder_ + ": " + status.reason());
    text.resize(had + got);
    offset += static_cast<std::int64_t>(got);
    atEnd = got == 0;
  };
  more();
  while (!atEnd && text.size() < kHeader.size()) more();
  if (!std::string_view(text).starts_with(kHeader)) {
    // An empty index, one whose first write was cut short, or one that is
    // not ours: it is begun afresh, and the mailboxes are read back.
    indexGoodLength_ = 0;
    return;
  }
  indexHasHeader_ = true;
  consumed = kHeader.size();
  std::int64_t good = static_cast<std::int64_t>(kHeader.size());
  std::vector<int> openedByRun;
  std::vector<ContentHash> held;  // where a damaged line's hashes go
  const auto state = [this](int id) -> MailboxState* {
    const auto found = states_.find(id);
    return found == states_.end() ? nullptr : found->second.get();
  };
  for (;;) {
    IndexReader reader(std::string_view(text).substr(consumed));
    std::string_view word;
    bool ok = reader.Keyword(word);
    if (ok) {
      int id = 0;
      if (word == "mailbox") {
        auto made = std::make_unique<MailboxState>();
        ok = reader.Read(made->id) && reader.Read(made->relative) && reader.LineEnd() &&
             state(made->id) == nullptr && idByRelative_.count(made->relative) == 0;
        if (ok) {
          made->declared = true;
          nextId_ = std::max(nextId_, made->id + 1);
          idByRelative_[made->relative] = made->id;
          states_[made->id] = std::move(made);
        }
      } else if (word == "name") {
        std::string wanted, chosen;
        ok = reader.Read(wanted) && reader.Read(chosen) && reader.LineEnd();
        if (ok) names_[wanted] = chosen;
      } else if (word == "held") {
        std::int64_t count = 0;
        ok = reader.Read(id) && state(id) != nullptr && reader.Read(count) && count >= 0;
        // Only the hashes are kept: where the records end matters to the
        // index's readers, not to this one.
        auto& logged = ok ? state(id)->logged : held;
        const std::size_t before = logged.size();
        for (std::int64_t i = 0; ok && i < count; ++i) {
          ContentHash hash;
          std::int64_t end = 0;
          ok = reader.Read(hash) && reader.Read(end);
          if (ok) logged.push_back(hash);
        }
        ok = ok && reader.LineEnd();
        if (!ok) logged.resize(before);
      } else if (word == "length") {
        std::int64_t length = 0, time = 0;
        ok = reader.Read(id) && state(id) != nullptr && reader.Read(length) && reader.Read(time) &&
             reader.LineEnd();
        if (ok) {
          MailboxState& mailbox = *state(id);
          mailbox.known = true;
          mailbox.length = length;
          mailbox.time = time;
        }
      } else if (word == "truncate") {
        std::int64_t count = 0;
        ok = reader.Read(id) && state(id) != nullptr && reader.Read(count) && count >= 0 &&
             reader.LineEnd();
        // The records after the first count were taken back.
        if (ok && static_cast<std::size_t>(count) < state(id)->logged.size())
          state(id)->logged.resize(static_cast<std::size_t>(count));
      } else if (word == "reset") {
        ok = reader.Read(id) && state(id) != nullptr && reader.LineEnd();
        if (ok) {
          state(id)->logged.clear();
          state(id)->known = false;
        }
      } else if (word == "open") {
        std::int64_t length = 0;
        ok = reader.Read(id) && state(id) != nullptr && reader.Read(length) && reader.LineEnd();
        if (ok) {
          state(id)->openLength = length;
          openedByRun.push_back(id);
        }
      } else if (word == "closed") {
        ok = reader.Read(id) && state(id) != nullptr && reader.LineEnd();
        if (ok) state(id)->openLength = -1;
      } else if (word == "begin" || word == "end") {
        ok = reader.LineEnd();
        // A conversion that ended closed every mailbox it opened; one that
        // was killed left its own open, whatever later conversions did.
        if (ok && word == "end")
          for (const int opened : openedByRun)
            if (MailboxState* mailbox = state(opened)) mailbox->openLength = -1;
        if (ok) openedByRun.clear();
      } else {
        ok = false;
      }
    }
    if (ok) {
      consumed += reader.position();
      good += static_cast<std::int64_t>(reader.position());
      continue;
    }
    if (reader.short_read() && !atEnd) {
      more();
      continue;
    }
    // The end, or a line cut short by an ended process or damaged: the
    // index is taken as far as it is whole, and what follows is dropped
    // before anything is appended.
    break;
  }
  indexGoodLength_ = good;
  for (auto& [id, mailbox] : states_) mailbox->logged.shrink_to_fit();
}

Destination::MailboxState& Destination::StateFor(const std::string& mailboxPath) {
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

void Destination::Declare(MailboxState& state) {
  if (state.declared) return;
  pending_ += "mailbox" + Field(state.id) + Field(state.relative) + "\n";
  state.declared = true;
}

Destination::Verdict Destination::Judge(const MailboxState& state,
                                        const os::PathFacts* facts) const {
  if (facts == nullptr || facts->size == 0) return Verdict::Empty;
  // An interrupted conversion still open here lost records (a power cut):
  // CutBackInterrupted settled every other one.
  if (state.openLength >= 0 || !state.known) return Verdict::ReadBack;
  if (facts->size == state.length && facts->modificationTime == state.time) return Verdict::Trusted;
  return Verdict::ReadBack;
}

bool Destination::NeedsReadingBack(const std::string& mailboxPath) {
  MailboxState& state = StateFor(mailboxPath);
  if (state.learned) return false;
  os::PathFacts facts;
  bool link = false;
  const bool exists = MailboxFacts(root_, state.relative, facts, link);
  return !link && Judge(state, exists ? &facts : nullptr) == Verdict::ReadBack;
}

void Destination::Learn(const std::string& mailboxPath) {
  Learn(StateFor(mailboxPath));
}

void Destination::Learn(MailboxState& state) {
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
                                 Unsafe(mailboxPath, status));
        length = state.openLength;
      }
      std::vector<HeldRecord> records;
      if (const os::Status status = ReadMailboxRecords(root_, state.relative, length, records);
          !status.ok()) {
        if (status.failure() == os::Failure::Link) {
          state.refused =
              "the mailbox " + mailboxPath + " is " + status.reason() + "; it was left alone";
          state.learned = true;
          return;
        }
        throw DestinationError("cannot read the mailbox " + mailboxPath + ": " + status.reason());
      }
      Declare(state);
      pending_ += "reset" + Field(state.id) + "\n";
      AppendHeld(pending_, state.id, records);
      state.held.reserve(records.size());
      for (const HeldRecord& record : records) state.held.push_back(record.hash);
      break;
    }
  }
  if (state.openLength >= 0) {
    Declare(state);
    pending_ += "closed" + Field(state.id) + "\n";
  }
  const bool nothingToSay = verdict == Verdict::Empty && !state.known;
  if (!nothingToSay && (verdict != Verdict::Trusted || state.openLength >= 0)) {
    // The index learns the mailbox's length and time as they are now.
    os::PathFacts now;
    bool ignored = false;
    const bool there = MailboxFacts(root_, state.relative, now, ignored);
    Declare(state);
    if (verdict == Verdict::Empty && state.known) pending_ += "reset" + Field(state.id) + "\n";
    pending_ += "length" + Field(state.id) + Field(there ? now.size : 0) +
                Field(there ? now.modificationTime : 0) + "\n";
    state.known = true;
    state.length = there ? now.size : 0;
    state.time = there ? now.modificationTime : 0;
  }
  state.openLength = -1;
  std::sort(state.held.begin(), state.held.end());
  state.taken.assign(state.held.size(), false);
  state.learned = true;
}

bool Destination::HoldsAny(const std::string& mailboxPath) {
  MailboxState& state = StateFor(mailboxPath);
  Learn(state);
  return !state.held.empty();
}

bool Destination::Take(const std::string& mailboxPath, const ContentHash& hash) {
  MailboxState& state = StateFor(mailboxPath);
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

void Destination::AppendToIndex(const std::string& text, bool flush) {
  if (text.empty() && !flush) return;
  std::string out;
  if (!indexHasHeader_) {
    out = kHeader;
    indexGoodLength_ = 0;
  }
  out += text;
  // What follows the last whole line was cut short by an ended process.
  if (const os::Status status = index_.CutBack(indexGoodLength_); !status.ok())
    throw DestinationError("cannot write the index in " + folder_ + ": " + status.reason());
  if (const os::Status status = index_.Append(out); !status.ok()) {
    // A line cut short is dropped by the next reader; the index still ends
    // on a whole line for whoever appends next.
    (void)index_.CutBack(indexGoodLength_);
    throw DestinationError("cannot write the index in " + folder_ + ": " + status.reason());
  }
  const bool created = !indexHasHeader_;
  indexHasHeader_ = true;
  indexGoodLength_ += static_cast<std::int64_t>(out.size());
  if (flush) {
    if (const os::Status status = index_.Flush(); !status.ok())
      throw DestinationError("cannot write the index in " + folder_ + ": " + status.reason());
    // A new index's name must survive a power cut too.
    if (created) (void)os::FlushFolder(folder_);
  }
}

void Destination::RememberName(const std::string& wanted, const std::string& chosen) {
  if (const auto known = names_.find(wanted); known != names_.end() && known->second == chosen)
    return;
  names_[wanted] = chosen;
  pending_ += "name" + Field(wanted) + Field(chosen) + "\n";
}

void Destination::SaveLearned() {
  std::string text = std::move(pending_);
  pending_.clear();
  AppendToIndex(text, false);
}

void Destination::Begin() {
  if (writing_) throw std::logic_error("the writing has begun already");
  std::string text = std::move(pending_);
  pending_.clear();
  AppendToIndex(text + "begin\n", true);
  writing_ = true;
}

MailboxFile& Destination::Mailbox(const std::string& mailboxPath) {
  if (!writing_) throw std::logic_error("the writing has not begun");
  // A folder's messages come one after the other: the active mailbox is
  // asked for again and again.
  if (active_ != nullptr && active_->file &&
      mailboxPath.size() == root_.size() + active_->relative.size() &&
      mailboxPath.compare(root_.size(), std::string::npos, active_->relative) == 0 &&
      mailboxPath.compare(0, root_.size(), root_) == 0 && active_->file->StillThere()) {
    active_->lastUse = ++useClock_;
    return *active_->file;
  }
  MailboxState& state = StateFor(mailboxPath);
  try {
    Learn(state);
  } catch (const DestinationError& error) {
    throw MessageFailure(error.what());
  }
  if (!state.refused.empty()) throw MessageFailure(state.refused);
  if (active_ != nullptr && active_ != &state && active_->file) {
    // The conversion moves on to another mailbox: the last one's batch goes
    // out now.
    active_->file->Flush(true);
    Collect(*active_);
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
    closeFailures_.emplace_back(mailboxPath, "the mailbox was deleted during the conversion");
    CloseMailbox(state);
  }
  if (openFiles_ >= openLimit_) CloseLeastRecentlyUsed();
  auto file = std::make_unique<MailboxFile>(root_, state.relative);
  if (!state.opened) {
    // Before the first record of this conversion, the index says where
    // the mailbox was: a conversion killed later cuts back to its last
    // mark, never into what was there before.
    Declare(state);
    pending_ += "open" + Field(state.id) + Field(file->length()) + "\n";
    try {
      AppendToIndex(std::exchange(pending_, {}), false);
    } catch (const DestinationError& error) {
      throw MessageFailure(error.what());
    }
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

void Destination::Collect(MailboxState& state) {
  if (!state.file) return;
  for (MailboxFile::LostRecord& lost : state.file->TakeLost())
    lateFailures_.emplace_back(std::move(lost.file), std::move(lost.reason));
  const std::vector<HeldRecord> written = state.file->TakeWritten();
  if (written.empty()) return;
  AppendHeld(pending_, state.id, written);
  std::int64_t time = 0;
  (void)state.file->ModificationTime(time);
  pending_ += "length" + Field(state.id) + Field(written.back().end) + Field(time) + "\n";
  state.added += static_cast<std::int32_t>(written.size());
  recordsAdded_ += static_cast<std::int32_t>(written.size());
}

void Destination::CloseMailbox(MailboxState& state) {
  if (!state.file) return;
  state.file->Flush();
  Collect(state);
  if (std::string reason = state.file->Close(); !reason.empty())
    closeFailures_.emplace_back(state.file->path(), std::move(reason));
  state.file.reset();
  --openFiles_;
  if (active_ == &state) active_ = nullptr;
}

void Destination::CloseLeastRecentlyUsed() {
  MailboxState* oldest = nullptr;
  for (MailboxState* state : opened_)
    if (state->file && (oldest == nullptr || state->lastUse < oldest->lastUse)) oldest = state;
  if (oldest != nullptr) CloseMailbox(*oldest);
}

void Destination::WriteMark() {
  // The index speaks only of records on the disk: the batches go first, and
  // what they could not write is failed before the index counts it.
  for (MailboxState* state : opened_) {
    if (!state->file) continue;
    state->file->Flush();
    Collect(*state);
  }
  sinceMark_ = 0;
  AppendToIndex(std::exchange(pending_, {}), true);
}

void Destination::Settled() {
  if (++sinceMark_ >= kMessagesPerMark) WriteMark();
}

std::vector<std::pair<std::string, std::string>> Destination::TakeLateFailures() {
  return std::exchange(lateFailures_, {});
}

std::vector<std::pair<std::string, std::string>> Destination::Finish() {
  for (MailboxState* state : opened_) CloseMailbox(*state);
  WriteMark();
  AppendToIndex("end\n", true);
  writing_ = false;
  return std::exchange(closeFailures_, {});
}

std::vector<std::pair<std::string, std::string>> Destination::Abandon() {
  std::vector<std::pair<std::string, std::string>> failures;
  std::string text;
  for (MailboxState* state : opened_) {
    if (state->file) {
      (void)state->file->Close();
      state->file.reset();
    }
    const std::string path = root_ + state->relative;
    os::PathFacts facts;
    bool link = false;
    const bool exists = MailboxFacts(root_, state->relative, facts, link);
    if (state->created && state->runStart == 0) {
      if (const os::Status status = os::RemoveFileBelow(root_, state->relative);
          !status.ok() && status.failure() != os::Failure::NotFound) {
        failures.emplace_back(path, "cannot remove it: " + Unsafe(path, status));
        continue;
      }
    } else if (exists && facts.size > state->runStart) {
      if (const os::Status status = os::CutBackFileBelow(root_, state->relative, state->runStart);
          !status.ok()) {
        failures.emplace_back(path, "cannot cut it back: " + Unsafe(path, status));
        continue;
      }
    }
    os::PathFacts now;
    const bool there = MailboxFacts(root_, state->relative, now, link);
    // The records this conversion added are forgotten with the bytes.
    text +=
        "truncate" + Field(state->id) + Field(static_cast<std::int64_t>(state->held.size())) + "\n";
    text += "length" + Field(state->id) + Field(there ? now.size : 0) +
            Field(there ? now.modificationTime : 0) + "\n";
    state->added = 0;
  }
  openFiles_ = 0;
  active_ = nullptr;
  recordsAdded_ = 0;
  pending_.clear();
  if (failures.empty()) {
    try {
      AppendToIndex(text + "end\n", true);
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
  for (const MailboxState* state : opened_)
    if (state->added > 0) paths.push_back(root_ + state->relative);
  return paths;
}

}  // namespace quillfen
