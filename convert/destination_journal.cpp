#include "convert/destination_journal.h"

#include <charconv>
#include <cstdio>
#include <utility>

#include "convert/message_failure.h"
#include "convert/path_helpers.h"
#include "os/folders.h"

namespace quillfen {

namespace {

constexpr std::string_view kHeader = "quillfen-journal 1\n";
constexpr const char* kFolderName = ".quillfen";
// A mark after this many messages: a resumed conversion redoes at most this
// many, and the journal costs one write for as many messages.
constexpr std::int32_t kMessagesPerMark = 512;
// Mailboxes kept open at once; an archive's messages jump between folders.
constexpr std::size_t kOpenMailboxLimit = 64;

std::string Field(std::int64_t number) {
  return " " + std::to_string(number);
}

std::string Field(const std::string& text) {
  return " " + std::to_string(text.size()) + ":" + text;
}

// Reads the journal's records. Each record is one line of fields; texts are
// written with their length first, so they may hold any byte.
class JournalReader {
 public:
  explicit JournalReader(std::string_view text) : text_(text) {}

  bool AtEnd() const { return at_ >= text_.size(); }
  std::size_t position() const { return at_; }

  bool Keyword(std::string_view& word) {
    const std::size_t end = text_.find_first_of(" \n", at_);
    if (end == std::string_view::npos || end == at_) return false;
    word = text_.substr(at_, end - at_);
    at_ = end;
    return true;
  }

  template <typename Number>
  bool Read(Number& value) {
    if (at_ >= text_.size() || text_[at_] != ' ') return false;
    const char* first = text_.data() + at_ + 1;
    const auto [next, error] = std::from_chars(first, text_.data() + text_.size(), value);
    if (error != std::errc() || next == first) return false;
    at_ = static_cast<std::size_t>(next - text_.data());
    return true;
  }

  bool ReadHex(std::uint64_t& value) {
    if (at_ >= text_.size() || text_[at_] != ' ') return false;
    const char* first = text_.data() + at_ + 1;
    const auto [next, error] = std::from_chars(first, text_.data() + text_.size(), value, 16);
    if (error != std::errc() || next == first) return false;
    at_ = static_cast<std::size_t>(next - text_.data());
    return true;
  }

  bool Read(std::string& value) {
    std::size_t length = 0;
    if (!Read(length) || at_ >= text_.size() || text_[at_] != ':') return false;
    if (text_.size() - at_ - 1 < length) return false;
    value.assign(text_.substr(at_ + 1, length));
    at_ += 1 + length;
    return true;
  }

  bool LineEnd() {
    if (at_ >= text_.size() || text_[at_] != '\n') return false;
    ++at_;
    return true;
  }

 private:
  std::string_view text_;
  std::size_t at_ = 0;
};

std::int64_t FileLength(const std::string& path) {
  os::PathFacts facts;
  return os::Inspect(path, facts).ok() ? facts.size : 0;
}

// A file of the journal's folder: its path and the folder's separator.
std::string Below(const std::string& folder, const char* name) {
  return folder + PathStyle::Native().separator + name;
}

}  // namespace

struct DestinationJournal::MailboxEntry {
  int id = 0;
  std::string relative;
  std::int64_t base = 0;
  bool existed = false;
  // As the last mark recorded them.
  std::int64_t length = 0;
  std::int32_t count = 0;
  // As they are now.
  std::int64_t liveLength = 0;
  std::int32_t liveCount = 0;
  bool changed = false;
  // The mailbox lost records of this conversion (a power cut) and went back
  // to its base: its earlier messages are done again, and redone holds
  // those that are in it again.
  bool reset = false;
  std::set<std::int32_t> redone;
  std::unique_ptr<MailboxFile> file;
  std::uint64_t lastUse = 0;
};

struct DestinationJournal::Conversion {
  std::uint64_t fingerprint = 0;
  std::int32_t messages = 0;
  std::string path;
  bool ended = false;
  bool abandoned = false;
  std::int32_t settled = 0;
  std::map<int, MailboxEntry> mailboxes;
  std::set<std::int32_t> failed;
};

void SourceFingerprint::Mix(std::string_view bytes) {
  // FNV-1a: small, stable across runs and platforms, and plenty to tell two
  // exports apart.
  for (const char c : bytes) {
    hash_ ^= static_cast<unsigned char>(c);
    hash_ *= 1099511628211ull;
  }
}

void SourceFingerprint::Add(std::string_view name, std::int64_t size,
                            std::int64_t modificationTime) {
  Mix(name);
  const std::string numbers =
      std::string(1, '\0') + std::to_string(size) + "/" + std::to_string(modificationTime) + '\0';
  Mix(numbers);
}

DestinationJournal::DestinationJournal(std::string destinationRoot, SourceIdentity source)
    : root_(AddTrailingSeparator(std::move(destinationRoot))), source_(std::move(source)) {
  if (const os::Status made = os::CreateFolders(root_); !made.ok())
    throw DestinationError("cannot create the destination folder " + root_ + ": " + made.reason());
  folder_ = root_ + kFolderName;
  if (const os::Status made = os::CreateFolders(folder_); !made.ok())
    throw DestinationError("cannot write into the destination folder " + root_ + ": " +
                           made.reason());
  if (const os::Status opened = lock_.OpenForAppending(Below(folder_, "lock")); !opened.ok())
    throw DestinationError("cannot write into the destination folder " + root_ + ": " +
                           opened.reason());
  // The lock belongs to the open file: the system gives it up when the
  // process ends, however it ends.
  if (const os::Status locked = lock_.LockExclusively(); !locked.ok()) {
    (void)lock_.Close();
    if (locked.failure() == os::Failure::LockHeld) throw DestinationBusy(root_);
    throw DestinationError("cannot lock the destination folder " + root_ + ": " + locked.reason());
  }
  if (const os::Status opened = journal_.OpenForAppending(Below(folder_, "journal"));
      !opened.ok()) {
    (void)lock_.Close();
    throw DestinationError("cannot write into the destination folder " + root_ + ": " +
                           opened.reason());
  }
  Read();
  Assess();
}

DestinationJournal::~DestinationJournal() {
  if (current_ != nullptr)
    for (auto& [id, mailbox] : current_->mailboxes)
      if (mailbox.file) mailbox.file->Close();
  // The journal goes before the lock that guards it.
  (void)journal_.Close();
  (void)lock_.Close();
}

void DestinationJournal::Read() {
  std::string text;
  char buffer[65536];
  for (;;) {
    std::size_t got = 0;
    if (const os::Status status =
            journal_.ReadAt(static_cast<std::int64_t>(text.size()), buffer, sizeof buffer, got);
        !status.ok())
      throw DestinationError("cannot read the conversion journal in " + folder_ + ": " +
                             status.reason());
    if (got == 0) break;
    text.append(buffer, got);
  }
  if (!text.starts_with(kHeader)) {
    // An empty journal, or one whose first write was cut short, holds
    // nothing; anything else is not ours to overwrite.
    if (!kHeader.starts_with(text))
      throw DestinationError("the conversion journal " + Below(folder_, "journal") +
                             " is damaged or from another version");
    return;
  }
  journalHasHeader_ = true;
  JournalReader reader(std::string_view(text).substr(kHeader.size()));
  std::set<std::int32_t> tentativeFailed, tentativeRetried;
  std::vector<std::pair<int, std::int32_t>> tentativeRedone;
  std::size_t good = 0;
  while (!reader.AtEnd()) {
    std::string_view word;
    if (!reader.Keyword(word)) break;
    Conversion* last = conversions_.empty() ? nullptr : &conversions_.back();
    bool ok = false;
    if (word == "begin") {
      Conversion conversion;
      ok = reader.ReadHex(conversion.fingerprint) && reader.Read(conversion.messages) &&
           reader.Read(conversion.path) && reader.LineEnd();
      if (ok) conversions_.push_back(std::move(conversion));
    } else if (last == nullptr) {
      break;
    } else if (word == "mailbox") {
      MailboxEntry mailbox;
      int existed = 0;
      ok = reader.Read(mailbox.id) && reader.Read(mailbox.base) && reader.Read(existed) &&
           reader.Read(mailbox.relative) && reader.LineEnd();
      if (ok) {
        mailbox.existed = existed != 0;
        mailbox.length = mailbox.base;
        last->mailboxes[mailbox.id] = std::move(mailbox);
      }
    } else if (word == "reset") {
      int id = 0;
      std::int64_t base = 0;
      ok = reader.Read(id) && reader.Read(base) && reader.LineEnd() && last->mailboxes.count(id);
      if (ok) {
        MailboxEntry& mailbox = last->mailboxes[id];
        mailbox.base = mailbox.length = base;
        mailbox.count = 0;
        mailbox.reset = true;
        mailbox.redone.clear();
      }
    } else if (word == "redone") {
      int id = 0;
      std::int32_t index = 0;
      ok = reader.Read(id) && reader.Read(index) && reader.LineEnd() && last->mailboxes.count(id);
      if (ok) tentativeRedone.emplace_back(id, index);
    } else if (word == "failed" || word == "retried") {
      std::int32_t index = 0;
      ok = reader.Read(index) && reader.LineEnd();
      if (ok) (word == "failed" ? tentativeFailed : tentativeRetried).insert(index);
    } else if (word == "mark") {
      std::int32_t settled = 0;
      std::size_t count = 0;
      ok = reader.Read(settled) && reader.Read(count);
      std::vector<std::tuple<int, std::int64_t, std::int32_t>> values;
      for (std::size_t i = 0; ok && i < count; ++i) {
        int id = 0;
        std::int64_t length = 0;
        std::int32_t records = 0;
        ok = reader.Read(id) && reader.Read(length) && reader.Read(records) &&
             last->mailboxes.count(id);
        values.emplace_back(id, length, records);
      }
      ok = ok && reader.LineEnd();
      if (ok) {
        // Failures and retries count only once the mark that follows them
        // is whole: a mark cut short leaves the run at the mark before.
        last->settled = settled;
        for (const auto& [id, length, records] : values) {
          last->mailboxes[id].length = length;
          last->mailboxes[id].count = records;
        }
        for (const std::int32_t index : tentativeRetried) last->failed.erase(index);
        last->failed.insert(tentativeFailed.begin(), tentativeFailed.end());
        for (const auto& [id, index] : tentativeRedone) last->mailboxes[id].redone.insert(index);
        tentativeFailed.clear();
        tentativeRetried.clear();
        tentativeRedone.clear();
      }
    } else if (word == "end" || word == "abandoned" || word == "resumed") {
      ok = reader.LineEnd();
      if (ok && word == "end") last->ended = true;
      if (ok && word == "resumed") last->ended = false;
      if (ok && word == "abandoned") last->abandoned = true;
    }
    if (!ok) break;
    if (word != "failed" && word != "retried" && word != "redone") good = reader.position();
  }
  // What follows the last whole record was cut short by an ended process;
  // it is dropped before anything is appended.
  journalGoodLength_ = static_cast<std::int64_t>(kHeader.size() + good);
}

void DestinationJournal::Assess() {
  // The fingerprint speaks for the messages (a folder's names; an archive's
  // size and time), so their number, which an archive read in one pass
  // learns only at its end, is not compared.
  const auto same = [this](const Conversion& c) {
    return c.fingerprint == source_.fingerprint && c.path == source_.path && !c.abandoned;
  };
  if (!conversions_.empty() && same(conversions_.back())) {
    Conversion& last = conversions_.back();
    bool whole = last.ended && last.failed.empty();
    std::int32_t converted = 0;
    for (const auto& [id, mailbox] : last.mailboxes) {
      // A mailbox shorter than the journal says lost records after the last
      // mark reached the disk (a power cut): its messages are done again.
      if (FileLength(root_ + mailbox.relative) < mailbox.length)
        whole = false;
      else
        converted += mailbox.count;
    }
    earlier_ = whole ? EarlierConversion::Finished : EarlierConversion::Interrupted;
    alreadyConverted_ = converted;
    return;
  }
  for (const Conversion& conversion : conversions_) {
    if (same(conversion) && conversion.ended) {
      earlier_ = EarlierConversion::Finished;
      return;
    }
  }
  for (const Conversion& conversion : conversions_)
    if (conversion.path == source_.path) earlier_ = EarlierConversion::ChangedSource;
}

void DestinationJournal::Append(const std::string& text, bool flush) {
  if (const os::Status status = journal_.Append(text); !status.ok()) {
    // A record cut short is dropped by the next reader; the journal still
    // ends on a whole record for whoever appends next.
    (void)journal_.CutBack(journalGoodLength_);
    throw DestinationError("cannot write the conversion journal in " + folder_ + ": " +
                           status.reason());
  }
  journalGoodLength_ += static_cast<std::int64_t>(text.size());
  // The journal must be on the disk before the mailbox records it speaks
  // for, or a power cut could leave records that no journal knows of.
  if (flush) (void)journal_.Flush();
}

void DestinationJournal::Begin(bool resume) {
  if (current_ != nullptr) throw std::logic_error("the conversion has begun already");
  // A record cut short at the journal's end goes before anything follows it.
  if (const os::Status status = journal_.CutBack(journalGoodLength_); !status.ok())
    throw DestinationError("cannot write the conversion journal in " + folder_ + ": " +
                           status.reason());
  std::string text;
  if (!journalHasHeader_) {
    text += kHeader;
    journalGoodLength_ = 0;
    journalHasHeader_ = true;
  }

  if (resume && earlier_ == EarlierConversion::Interrupted) {
    current_ = &conversions_.back();
    current_->ended = false;
    text += "resumed\n";
    for (auto& [id, mailbox] : current_->mailboxes) {
      const std::string path = root_ + mailbox.relative;
      const std::int64_t actual = FileLength(path);
      if (actual < mailbox.length) {
        // Records this conversion wrote there are gone: the mailbox goes
        // back to where the conversion found it, and its messages are done
        // again.
        const std::int64_t base = std::min(actual, mailbox.base);
        if (actual > base)
          if (const os::Status status = os::CutBackFile(path, base); !status.ok())
            throw DestinationError("cannot cut back the mailbox " + path + ": " + status.reason());
        mailbox.base = mailbox.length = base;
        mailbox.count = 0;
        mailbox.reset = true;
        mailbox.redone.clear();
        text += "reset" + Field(id) + Field(base) + "\n";
      } else if (actual > mailbox.length) {
        if (const os::Status status = os::CutBackFile(path, mailbox.length); !status.ok())
          throw DestinationError("cannot cut back the mailbox " + path + ": " + status.reason());
      }
      mailbox.liveLength = mailbox.length;
      mailbox.liveCount = mailbox.count;
      idByRelative_[mailbox.relative] = id;
    }
  } else {
    if (!conversions_.empty()) {
      Conversion& last = conversions_.back();
      if (!last.ended && !last.abandoned) {
        // An interrupted conversion that will not be resumed: its mailboxes
        // end with its last whole record, so that no torn record hides the
        // next one.
        for (const auto& [id, mailbox] : last.mailboxes) {
          const std::string path = root_ + mailbox.relative;
          // A mailbox that cannot be cut back would keep a torn record:
          // nothing begins until it can.
          if (FileLength(path) > mailbox.length)
            if (const os::Status status = os::CutBackFile(path, mailbox.length); !status.ok())
              throw DestinationError("cannot cut back the mailbox " + path + ": " +
                                     status.reason());
        }
        last.abandoned = true;
        text += "abandoned\n";
      }
    }
    Conversion conversion;
    conversion.fingerprint = source_.fingerprint;
    conversion.messages = source_.messages;
    conversion.path = source_.path;
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(source_.fingerprint));
    text += "begin " + std::string(hex) + Field(source_.messages) + Field(source_.path) + "\n";
    conversions_.push_back(std::move(conversion));
    current_ = &conversions_.back();
  }
  const bool created = journalGoodLength_ == 0;
  Append(text, true);
  if (created) {
    // A new journal's name must survive a power cut too.
    (void)os::FlushFolder(folder_);
  }
}

std::string DestinationJournal::Relative(const std::string& mailboxPath) const {
  if (mailboxPath.compare(0, root_.size(), root_) != 0)
    throw MessageFailure("the mailbox " + mailboxPath + " lies outside the destination");
  return mailboxPath.substr(root_.size());
}

bool DestinationJournal::Needed(std::int32_t index, const std::string& mailboxPath) const {
  if (current_ == nullptr || index >= current_->settled) return true;
  if (current_->failed.count(index) != 0) return true;
  const auto known =
      idByRelative_.find(mailboxPath.substr(std::min(root_.size(), mailboxPath.size())));
  if (known == idByRelative_.end()) return true;
  const MailboxEntry& mailbox = current_->mailboxes.at(known->second);
  return mailbox.reset && mailbox.redone.count(index) == 0;
}

void DestinationJournal::CloseLeastRecentlyUsed() {
  MailboxEntry* oldest = nullptr;
  for (auto& [id, mailbox] : current_->mailboxes)
    if (mailbox.file && (oldest == nullptr || mailbox.lastUse < oldest->lastUse)) oldest = &mailbox;
  if (oldest == nullptr) return;
  if (std::string reason = oldest->file->Close(); !reason.empty())
    closeFailures_.emplace_back(oldest->file->path(), std::move(reason));
  Reconcile(*oldest);
  oldest->file.reset();
  --openFiles_;
}

MailboxFile& DestinationJournal::Mailbox(const std::string& mailboxPath) {
  if (current_ == nullptr) throw std::logic_error("the conversion has not begun");
  // A folder's messages come one after the other: the active mailbox is
  // asked for again and again.
  if (active_ != nullptr && active_->file &&
      mailboxPath.size() == root_.size() + active_->relative.size() &&
      mailboxPath.compare(root_.size(), std::string::npos, active_->relative) == 0 &&
      mailboxPath.compare(0, root_.size(), root_) == 0 && active_->file->StillThere()) {
    active_->lastUse = ++useClock_;
    return *active_->file;
  }
  const std::string relative = Relative(mailboxPath);
  const auto known = idByRelative_.find(relative);
  MailboxEntry* mailbox =
      known == idByRelative_.end() ? nullptr : &current_->mailboxes.at(known->second);
  if (active_ != nullptr && active_ != mailbox && active_->file) {
    // The conversion moves on to another mailbox: the last one's batch goes
    // out now.
    active_->file->Flush(true);
    Reconcile(*active_);
  }
  active_ = nullptr;
  if (mailbox != nullptr && mailbox->file) {
    mailbox->lastUse = ++useClock_;
    if (mailbox->file->StillThere()) {
      active_ = mailbox;
      return *mailbox->file;
    }
    // Deleted while this conversion had it open (its folder removed during
    // the run): the records go into a new file by that name. The old file
    // had records of this conversion, which it reports.
    closeFailures_.emplace_back(mailboxPath, "the mailbox was deleted during the conversion");
    mailbox->file->Close();
    Reconcile(*mailbox);
    mailbox->file.reset();
    --openFiles_;
  }
  if (openFiles_ >= kOpenMailboxLimit) CloseLeastRecentlyUsed();
  auto file = std::make_unique<MailboxFile>(mailboxPath);
  if (mailbox == nullptr) {
    const int id = current_->mailboxes.empty() ? 1 : current_->mailboxes.rbegin()->first + 1;
    // The mailbox's length before this conversion is on the disk before its
    // first record, so that a cut back always knows where to stop.
    try {
      Append("mailbox" + Field(id) + Field(file->length()) + Field(file->existed() ? 1 : 0) +
                 Field(relative) + "\n",
             true);
    } catch (const DestinationError& error) {
      throw MessageFailure(error.what());
    }
    MailboxEntry& made = current_->mailboxes[id];
    made.id = id;
    made.relative = relative;
    made.base = made.length = made.liveLength = file->length();
    made.existed = file->existed();
    idByRelative_[relative] = id;
    mailbox = &made;
  }
  mailbox->file = std::move(file);
  mailbox->lastUse = ++useClock_;
  ++openFiles_;
  active_ = mailbox;
  return *mailbox->file;
}

void DestinationJournal::Converted(std::int32_t index, const std::string& mailboxPath) {
  // The record went into the mailbox that was asked for last.
  MailboxEntry& mailbox =
      active_ != nullptr && mailboxPath.size() == root_.size() + active_->relative.size() &&
              mailboxPath.compare(root_.size(), std::string::npos, active_->relative) == 0 &&
              mailboxPath.compare(0, root_.size(), root_) == 0
          ? *active_
          : current_->mailboxes.at(idByRelative_.at(Relative(mailboxPath)));
  ++mailbox.liveCount;
  mailbox.liveLength = mailbox.file ? mailbox.file->length() : mailbox.liveLength;
  mailbox.changed = true;
  if (index < current_->settled) {
    if (current_->failed.erase(index) != 0) pending_ += "retried" + Field(index) + "\n";
    if (mailbox.reset && mailbox.redone.insert(index).second)
      pending_ += "redone" + Field(mailbox.id) + Field(index) + "\n";
  }
}

void DestinationJournal::Failed(std::int32_t index) {
  if (current_->failed.insert(index).second) pending_ += "failed" + Field(index) + "\n";
}

void DestinationJournal::Settled(std::int32_t index) {
  if (index + 1 > current_->settled) current_->settled = index + 1;
  if (++sinceMark_ >= kMessagesPerMark) WriteMark();
}

void DestinationJournal::Reconcile(MailboxEntry& mailbox) {
  if (!mailbox.file) return;
  for (MailboxFile::LostRecord& lost : mailbox.file->TakeLost()) {
    --mailbox.liveCount;
    mailbox.redone.erase(lost.index);
    Failed(lost.index);
    lateFailures_.emplace_back(std::move(lost.file), std::move(lost.reason));
  }
  mailbox.liveLength = mailbox.file->length();
}

std::vector<std::pair<std::string, std::string>> DestinationJournal::TakeLateFailures() {
  return std::move(lateFailures_);
}

void DestinationJournal::WriteMark() {
  if (current_ == nullptr) return;
  // A mark speaks of records on the disk: the batches go first, and what
  // they could not write is failed before the mark counts it.
  for (auto& [id, mailbox] : current_->mailboxes) {
    if (!mailbox.file) continue;
    mailbox.file->Flush();
    Reconcile(mailbox);
  }
  std::string values;
  std::size_t count = 0;
  for (auto& [id, mailbox] : current_->mailboxes) {
    if (!mailbox.changed) continue;
    values += Field(id) + Field(mailbox.liveLength) + Field(mailbox.liveCount);
    mailbox.length = mailbox.liveLength;
    mailbox.count = mailbox.liveCount;
    mailbox.changed = false;
    ++count;
  }
  std::string text = std::move(pending_);
  pending_.clear();
  text +=
      "mark" + Field(current_->settled) + Field(static_cast<std::int64_t>(count)) + values + "\n";
  sinceMark_ = 0;
  // Without the mark a later run merely does more again; the conversion
  // itself can go on.
  try {
    Append(text, false);
  } catch (const DestinationError&) {
  }
}

std::vector<std::string> DestinationJournal::Mailboxes() const {
  std::vector<std::string> paths;
  if (current_ != nullptr)
    for (const auto& [id, mailbox] : current_->mailboxes)
      if (mailbox.liveCount > 0) paths.push_back(root_ + mailbox.relative);
  return paths;
}

std::int32_t DestinationJournal::RecordCount() const {
  std::int32_t records = 0;
  if (current_ != nullptr)
    for (const auto& [id, mailbox] : current_->mailboxes) records += mailbox.liveCount;
  return records;
}

std::vector<std::pair<std::string, std::string>> DestinationJournal::Finish() {
  while (openFiles_ > 0) CloseLeastRecentlyUsed();
  WriteMark();
  try {
    Append("end\n", false);
  } catch (const DestinationError&) {
  }
  return std::move(closeFailures_);
}

void DestinationJournal::Stop() {
  WriteMark();
}

std::vector<std::pair<std::string, std::string>> DestinationJournal::Abandon() {
  std::vector<std::pair<std::string, std::string>> failures;
  if (current_ == nullptr) return failures;
  for (auto& [id, mailbox] : current_->mailboxes) {
    if (mailbox.file) {
      mailbox.file->Close();
      mailbox.file.reset();
    }
    const std::string path = root_ + mailbox.relative;
    if (!mailbox.existed && mailbox.base == 0) {
      if (const os::Status status = os::RemoveFile(path);
          !status.ok() && status.failure() != os::Failure::NotFound)
        failures.emplace_back(path, "cannot remove it: " + status.reason());
    } else if (FileLength(path) > mailbox.base) {
      if (const os::Status status = os::CutBackFile(path, mailbox.base); !status.ok())
        failures.emplace_back(path, "cannot cut it back: " + status.reason());
    }
  }
  openFiles_ = 0;
  pending_.clear();
  if (!failures.empty()) return failures;
  current_->abandoned = true;
  try {
    Append("abandoned\n", false);
  } catch (const DestinationError&) {
  }
  return failures;
}

}  // namespace quillfen
