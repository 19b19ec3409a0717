#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "mbox/content_hash.h"
#include "os/status.h"

namespace quillfen {

// One record of a mailbox: the hash of its text and where it ends in the
// file.
struct HeldRecord {
  ContentHash hash;
  std::int64_t end = 0;
};

// Reads the mboxrd records of a mailbox back, from its start up to
// length bytes: a record begins with a line that starts with "From ", its
// text is every line after that one up to the next such line, with one ">"
// taken from each line that begins with ">"s and "From ". Bytes before the
// first "From " line belong to no record. The hashes are those that
// HashOfText gave the messages when they were written, whoever wrote them.
// Memory stays the same whatever the size of the mailbox or of a line.
// The mailbox is relative, below the folder root, and is reached without
// following a link (Failure::Link otherwise).
os::Status ReadMailboxRecords(const std::string& root, const std::string& relative,
                              std::int64_t length, std::vector<HeldRecord>& records);

// The same from offset from, where a record begins, for the records a
// conversion that did not end appended there. torn receives where the first
// record that was left torn begins, or -1 when none was: one that holds a
// long run of zero bytes (what a power cut leaves of writes that never
// reached the disk), the last one when it does not end with a line end
// (every record Quillfen writes does), or from itself when more than a line
// end comes before the first record there. What the tail holds from torn on
// cannot be told from damage; the records before it are whole.
os::Status ReadMailboxTail(const std::string& root, const std::string& relative, std::int64_t from,
                           std::int64_t length, std::vector<HeldRecord>& records,
                           std::int64_t& torn);

}  // namespace quillfen
