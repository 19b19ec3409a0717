#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "conversion/conversion.h"
#include "tests/support/holdings.h"

namespace quillfen::test {

// A fingerprint of every entry below root, links not followed: its kind,
// size, permission bits, modification time and a hash of its content (or of
// a link's target). Entries below `skip` (the destination, when it lies
// inside the source) are left out. Two equal snapshots mean the tree was not
// touched.
std::map<std::string, std::string> SnapshotTree(const std::filesystem::path& root,
                                                const std::filesystem::path& skip = {});

// One record as cut out of an .mbox file by a strict mboxrd splitter that
// knows only the framing: a line that begins with "From " starts a record,
// and the record's bytes before the next one must end with CR LF.
struct SplitRecord {
  std::string fromLine;    // without its CR LF
  std::string quotedText;  // the stored text, still quoted, without the closing CR LF
};

// Splits mbox bytes into records. Returns false with a reason when the bytes
// do not start with a From line or a record is not closed by CR LF.
bool SplitMbox(std::string_view bytes, std::vector<SplitRecord>& records, std::string& reason);

// The lines, each followed by a line feed.
inline std::string Joined(const std::vector<std::string>& lines) {
  std::string joined;
  for (const std::string& line : lines) joined += line + "\n";
  return joined;
}

// Whether line is "From <address> Ddd Mmm dd hh:mm:ss yyyy" with an address
// that holds no white space or control character.
bool IsWellFormedFromLine(const std::string& line);

// What walking and converting one tree gave.
struct TreeConversion {
  std::vector<std::string> queue;  // every queued name, in queue order
  ConversionReport report;
};

// Walks source and converts the queue into destination, the missing
// messages only.
TreeConversion ConvertTree(const std::filesystem::path& source,
                           const std::filesystem::path& destination);

// Every name a walk of source queues, in queue order.
std::vector<std::string> WalkQueue(const std::filesystem::path& source);

// The failures quillfen-cli listed on its standard output ("Not converted:
// <file>: <reason>" lines), as a report that CheckMailboxes understands.
ConversionReport ReportFromCliOutput(const std::string& out);

// How the run that wrote the mailboxes ended.
enum class RunEnd {
  Finished,  // ran to its end
  Stopped,   // stopped early: each mailbox holds a leading part of its messages
  Killed,    // killed: as Stopped, and the last record of a mailbox may be cut short
};

// Checks every .mbox file below destination against the source files the
// queue names, and returns one line per problem found (none when all is
// well):
// - each file splits into whole records, each From line well formed, and
//   GMime's mbox parser agrees on the records where it can read them;
// - each mailbox holds, in queue order, exactly the messages of its folder
//   that did not fail (failed: the report's failures, when given), each byte
//   for byte (minus an envelope line) once unquoted;
// - a run that did not finish may have written any leading part of that
//   sequence; after a kill, the last record may also be a leading part of
//   its message, and such mailboxes are listed in cutShort.
std::vector<std::string> CheckMailboxes(const std::filesystem::path& destination,
                                        const std::vector<std::string>& queue,
                                        const ConversionReport* report,
                                        RunEnd end = RunEnd::Finished,
                                        std::vector<std::filesystem::path>* cutShort = nullptr);

}  // namespace quillfen::test
