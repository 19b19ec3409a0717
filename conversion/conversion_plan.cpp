#include <string>
#include <unordered_map>
#include <vector>

#include "conversion/conversion_steps.h"
#include "mbox/content_hash.h"
#include "mbox/envelope_line.h"
#include "mbox/message_failure.h"
#include "os/folders.h"
#include "os/paths.h"
#include "source/message_name.h"

// What the destination already holds of the source, before the user is
// asked: the mailboxes the source's messages go to are learned (read back
// where their index is missing or disagrees), then the messages of those
// that hold records are hashed and taken from what they hold.

namespace quillfen::conversion_steps {
namespace {

// The hash of a message's text, read from its source to its end.
ContentHash HashOfMessage(MessageSource& source, char* piece, ContentHasher& hasher) {
  std::size_t filled = 0;
  while (filled < kPieceSize) {
    const std::size_t got = source.Read(piece + filled, kPieceSize - filled);
    if (got == 0) break;
    filled += got;
  }
  const std::string_view head(piece, filled);
  const std::string_view text = head.substr(EnvelopeLineLength(head));
  if (filled < kPieceSize) return HashOfText(text);
  hasher.Feed(text);
  for (;;) {
    const std::size_t got = source.Read(piece, kPieceSize);
    if (got == 0) break;
    hasher.Feed(std::string_view(piece, got));
  }
  return hasher.Finish();
}

// Learns what every mailbox of the source holds: those whose index is
// missing or disagrees are read back, after the user was told. Nothing is
// written: the index learns of it once the user decided to convert.
void LearnMailboxes(Destination& destination, const std::vector<std::string>& mailboxes,
                    ConversionSink& sink) {
  std::int32_t reading = 0;
  for (const std::string& mailbox : mailboxes)
    if (destination.NeedsReadingBack(mailbox)) ++reading;
  if (reading > 0) sink.ReadingDestination(reading);
  for (const std::string& mailbox : mailboxes) destination.Learn(mailbox);
}

}  // namespace

void Conversion::PlanFolder() {
  // The mailboxes of the source, one look per folder.
  std::vector<std::string> mailboxes;
  {
    std::unordered_map<std::string, bool> seen;
    std::string mirror;
    for (const std::string& name : *queue_) {
      if (!IsMessageName(name)) continue;
      try {
        const std::string& mailbox = converter_->MailboxFor(name, mirror);
        if (seen.try_emplace(mailbox, true).second) mailboxes.push_back(mailbox);
      } catch (const MessageFailure&) {
        // The message fails by itself when it is converted.
      }
    }
  }
  LearnMailboxes(*destination_, mailboxes, sink_);
  bool anyHeld = false;
  for (const std::string& mailbox : mailboxes) anyHeld = anyHeld || destination_->HoldsAny(mailbox);
  if (!anyHeld) return;

  // Only the messages of mailboxes that hold records are read.
  held_.assign(static_cast<std::size_t>(plan_.messages), false);
  MessageFolder folder;
  ContentHasher hasher;
  std::string mirror;
  std::int32_t index = -1;
  for (const std::string& name : *queue_) {
    if (!IsMessageName(name)) continue;
    ++index;
    if (stop_.stop_requested()) throw Stopped{};
    if ((index & 255) == 0) sink_.Comparing(index, plan_.messages);
    try {
      const std::string& mailbox = converter_->MailboxFor(name, mirror);
      if (!destination_->HoldsAny(mailbox)) continue;
      MessageFile file(name, &folder);
      if (destination_->Take(mailbox, HashOfMessage(file, piece_.get(), hasher))) {
        held_[static_cast<std::size_t>(index)] = true;
        ++plan_.held;
      }
    } catch (const MessageFailure&) {
      // A message that cannot be read is not held; converting it tells why.
    }
  }
  sink_.Comparing(plan_.messages, plan_.messages);
}

void Conversion::PlanArchive() {
  // Nothing below the folder that would mirror the archive's: the
  // destination holds nothing of it, and the archive is read only once.
  std::string mirrorRoot;
  try {
    mirrorRoot =
        MirrorFolderFor(archive_->extractionFolder() + "message.eml", plan_.destinationRoot);
  } catch (const MessageFailure&) {
    return;
  }
  if (!IsFolder(mirrorRoot)) return;

  // Each message's mailbox and the hash of its text, for the mailboxes
  // that are there; then what the mailboxes hold.
  struct Seen {
    std::int32_t mailbox = -1;
    ContentHash hash;
  };
  std::vector<Seen> seen;
  std::vector<std::string> mailboxes;
  std::unordered_map<std::string, std::int32_t> slots;
  std::vector<bool> present;
  ContentHasher hasher;
  std::string mirror;
  archiveBridge_.comparing = true;
  archiveBridge_.Restart();
  archive_->Walk([&](ExportArchive::Message& message) {
    if (stop_.stop_requested()) throw Stopped{};
    seen.emplace_back();
    archiveBridge_.MessageDone(false);
    if (!message.problem.empty()) return;
    try {
      const std::string& mailbox = converter_->MailboxFor(message.sourceFile, mirror);
      const auto [slot, added] =
          slots.try_emplace(mailbox, static_cast<std::int32_t>(mailboxes.size()));
      if (added) {
        mailboxes.push_back(mailbox);
        os::PathFacts facts;
        present.push_back(os::Inspect(mailbox, facts).ok() && !facts.folder && facts.size > 0);
      }
      if (!present[static_cast<std::size_t>(slot->second)]) return;
      seen.back().hash = HashOfMessage(*message.source, piece_.get(), hasher);
      seen.back().mailbox = slot->second;
    } catch (const MessageFailure&) {
    }
  });
  archiveBridge_.comparing = false;
  plan_.messages = archive_->messages();
  plan_.messagesKnown = true;
  plan_.files = archive_->entries() > 0 ? archive_->entries() : plan_.files;
  std::vector<std::string> existing;
  for (std::size_t i = 0; i < mailboxes.size(); ++i)
    if (present[i]) existing.push_back(mailboxes[i]);
  LearnMailboxes(*destination_, existing, sink_);
  held_.assign(seen.size(), false);
  for (std::size_t i = 0; i < seen.size(); ++i) {
    if (seen[i].mailbox < 0) continue;
    if (destination_->Take(mailboxes[static_cast<std::size_t>(seen[i].mailbox)], seen[i].hash)) {
      held_[i] = true;
      ++plan_.held;
    }
  }
}

}  // namespace quillfen::conversion_steps
