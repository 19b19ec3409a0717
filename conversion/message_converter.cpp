#include "conversion/message_converter.h"

#include <cstdint>
#include <new>
#include <stdexcept>
#include <utility>

#include "mbox/envelope_line.h"
#include "mbox/message_failure.h"
#include "mbox/record_bytes.h"
#include "os/folders.h"

namespace quillfen {

namespace {

// Messages are read, quoted and written in pieces of this size; a message
// up to this size is read with one read and written with one write.
constexpr std::size_t kPieceSize = std::size_t{1} << 20;

}  // namespace

MessageConverter::MessageConverter(Destination& destination,
                                   FolderExistsFunction sourceFolderExists, PathStyle style)
    : destination_(destination),
      // The names Windows refuses are avoided where the program runs on
      // Windows, and only there.
      names_(destination, style.separator, NameRules::Native()),
      sourceFolderExists_(std::move(sourceFolderExists)),
      style_(style),
      piece_(new char[kPieceSize]) {}

const std::string& MessageConverter::MailboxFor(const std::string& sourceFile,
                                                std::string& mirrorFolder) {
  const std::string& mailbox = UpdateMailbox(sourceFile);
  mirrorFolder = lastMirrorFolder_;
  return mailbox;
}

const std::string& MessageConverter::UpdateMailbox(const std::string& sourceFile) {
  // The folder part of the name, up to its last separator, is looked at in
  // place: this runs for every message.
  if (sourceFile.empty()) throw std::out_of_range("empty path has no file name");
  const std::size_t last = sourceFile.rfind(style_.separator);
  const std::string_view sourceFolder =
      std::string_view(sourceFile).substr(0, last == std::string::npos ? 0 : last + 1);
  if (sourceFolder.empty() || sourceFolder != lastSourceFolder_) {
    // Nothing is kept from a message whose mailbox cannot be derived: the
    // next one never borrows the previous message's result.
    lastSourceFolder_.clear();
    const std::string& root = destination_.root();
    std::string mirror = MirrorFolderFor(sourceFile, root, style_, sourceFolderExists_);
    // Written under a name that stays apart from its neighbours on a Mac.
    if (mirror.size() > root.size() && mirror.compare(0, root.size(), root) == 0)
      mirror = root + names_.Map(mirror.substr(root.size()));
    std::string mailbox = MboxFileFor(mirror, style_);
    lastMirrorFolder_ = std::move(mirror);
    lastMailbox_ = std::move(mailbox);
    lastSourceFolder_ = sourceFolder;
  }
  return lastMailbox_;
}

void MessageConverter::EnsureMirrorFolder(const std::string& folder) {
  // The queue holds a folder's messages one after the other: the folder is
  // made sure of when it changes, and again when its mailbox cannot be
  // opened.
  if (folder == ensuredFolder_) return;
  ensuredFolder_.clear();
  // Made from the destination down, one folder at a time, never through a
  // link that someone planted below the destination.
  const std::string& root = destination_.root();
  if (const os::Status made = os::CreateFoldersBelow(root, folder.substr(root.size()));
      !made.ok()) {
    if (made.failure() == os::Failure::Link)
      throw MessageFailure("the mailbox folder " + folder +
                           " is reached through a link to elsewhere; it was left alone");
    throw MessageFailure("cannot create the mailbox folder " + folder + ": " + made.reason());
  }
  ensuredFolder_ = folder;
}

std::size_t MessageConverter::FillHead(MessageSource& source, bool& atEnd) {
  std::size_t filled = 0;
  atEnd = false;
  while (filled < kPieceSize) {
    const std::size_t got = source.Read(piece_.get() + filled, kPieceSize - filled);
    if (got == 0) {
      atEnd = true;
      break;
    }
    filled += got;
    // A file read to the size it announced is done: that saves the read
    // that would only find its end.
    if (source.SizeHint() >= 0 && filled == static_cast<std::size_t>(source.SizeHint())) {
      atEnd = true;
      break;
    }
  }
  return filled;
}

void MessageConverter::WriteRecord(MailboxFile& mailbox, MessageSource& source, std::int32_t index,
                                   const std::string& sourceFile, const YieldFunction& yield) {
  std::string_view record;
  if (source.KnownRecord(record)) {
    // Written already, on the thread that read the message ahead.
    mailbox.OpenRecord(record.size()) += record;
    mailbox.CloseRecord(index, sourceFile, *source.KnownTextHash());
    return;
  }
  bool atEnd = true;
  std::string_view head;
  if (!source.Whole(head)) head = std::string_view(piece_.get(), FillHead(source, atEnd));

  // The From line comes from the header block: its date and sender. The
  // text itself is never decoded: a record holds the message's exact bytes,
  // whose own headers tell the importer their charset.
  const HeaderAnswers* known = source.KnownAnswers();
  if (known == nullptr) reader_.OpenMessageBytes(head, source.FallbackTime());
  const FromLine fromLine = known != nullptr
                                ? FromLine(known->sender, known->date)
                                : FromLine(reader_.SenderAddress(), reader_.MessageDate());
  if (fromLine.HoldsLineBreak()) throw MessageFailure("the From line holds a line break");

  // An old envelope line gives way to the record's own From line.
  const std::string_view text = head.substr(EnvelopeLineLength(head));
  if (atEnd) {
    // A message read whole goes straight into its mailbox's batch.
    std::string& batch = mailbox.OpenRecord(ExpectedRecordSize(fromLine, text.size()));
    try {
      AppendRecord(fromLine, text, batch, quoter_);
    } catch (...) {
      quoter_.Finish(out_);
      out_.clear();
      mailbox.DropRecord();
      throw;
    }
    const ContentHash* knownHash = source.KnownTextHash();
    mailbox.CloseRecord(index, sourceFile, knownHash != nullptr ? *knownHash : HashOfText(text));
    return;
  }
  out_.clear();
  fromLine.AppendTo(out_);
  out_ += "\r\n";
  const std::int64_t start = mailbox.BeginRecord();
  hasher_.Finish();
  try {
    hasher_.Feed(text);
    quoter_.Feed(text, out_);
    for (;;) {
      // A large message goes out piece by piece.
      if (out_.size() >= kPieceSize) {
        mailbox.Write(out_, start);
        out_.clear();
        if (yield) yield();
      }
      const std::size_t got = source.Read(piece_.get(), kPieceSize);
      if (got == 0) break;
      hasher_.Feed(std::string_view(piece_.get(), got));
      quoter_.Feed(std::string_view(piece_.get(), got), out_);
    }
    quoter_.Finish(out_);
    out_ += "\r\n";
    mailbox.Write(out_, start);
  } catch (...) {
    quoter_.Finish(out_);
    out_.clear();
    if (mailbox.length() > start) {
      try {
        mailbox.CutBack(start);
      } catch (const MessageFailure&) {
        // The mailbox owes the cut back; its next record tries again first.
      }
    }
    throw;
  }
  mailbox.EndRecord(hasher_.Finish());
  // A huge message's buffer is not kept for the next one.
  if (out_.capacity() > 4 * kPieceSize) std::string().swap(out_);
}

MessageOutcome MessageConverter::Convert(std::int32_t index, const std::string& sourceFile,
                                         const SourceOpener& open, const YieldFunction& yield) {
  MessageOutcome outcome;
  bool derived = false;
  try {
    // Not changed until the next message's mailbox is worked out.
    const std::string& mailboxPath = UpdateMailbox(sourceFile);
    derived = true;
    const std::string& mirrorFolder = lastMirrorFolder_;
    EnsureMirrorFolder(mirrorFolder);
    MessageSource& source = open();
    MailboxFile* mailbox = nullptr;
    try {
      mailbox = &destination_.Mailbox(mailboxPath);
    } catch (const MessageFailure&) {
      // The mirror folder may have gone since it was made; it is made again
      // once.
      os::PathFacts facts;
      const std::string& root = destination_.root();
      if (os::InspectBelow(root, mirrorFolder.substr(root.size()), facts).ok() && facts.folder)
        throw;
      ensuredFolder_.clear();
      EnsureMirrorFolder(mirrorFolder);
      mailbox = &destination_.Mailbox(mailboxPath);
    }
    WriteRecord(*mailbox, source, index, sourceFile, yield);
    outcome.kind = MessageOutcome::Kind::Converted;
  } catch (const MessageFailure& failure) {
    outcome.reason = failure.what();
  } catch (const std::bad_alloc&) {
    outcome.reason = "not enough memory for the message";
  }
  if (derived && outcome.kind == MessageOutcome::Kind::Failed) outcome.mailbox = lastMailbox_;
  return outcome;
}

}  // namespace quillfen
