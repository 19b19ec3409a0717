#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "destination/mailbox_file.h"
#include "mbox/content_hash.h"
#include "mbox/mailbox_records.h"

namespace quillfen {

// What the destination knows of one mailbox below it: what the index said,
// what the mailbox holds once learned, and this conversion's writing to it.
struct MailboxState {
  int id = 0;
  std::string relative;
  bool declared = false;  // its "mailbox" line is in the index file
  // What the index says: its records while it is read, the length and time
  // the mailbox had when they were written, and the length an interrupted
  // conversion began appending at (-1 when none did), with how much of what
  // it wrote its last mark vouched for.
  std::vector<ContentHash> logged;
  bool known = false;
  std::int64_t length = 0;
  std::int64_t time = 0;
  std::int64_t openLength = -1;
  std::size_t openCount = 0;
  std::size_t durableCount = 0;
  std::int64_t durableLength = 0;
  // What it holds, once learned: the records' hashes, sorted, and for the
  // first of each run of equal ones, how many of the run a message of the
  // source has taken.
  bool learned = false;
  std::string refused;  // why the mailbox is left alone (a link), if it is
  std::vector<ContentHash> held;
  std::vector<std::uint32_t> taken;
  // What an interrupted conversion left, once read back, until the index
  // learns it: the torn tail to set aside from cutAt (-1 when none), and
  // the records read back, which follow the first keep records the index
  // lists (all of them when reset).
  std::int64_t cutAt = -1;
  // Where a last record begins that looks whole but that the index does not
  // list (-1 when none does): not held, and set aside once writing begins,
  // as it may be one cut short at a line end; kept (and held) when the
  // mailbox was not compared with the source. It is the last of settled.
  std::int64_t doubtfulAt = -1;
  std::int64_t settledLength = 0;
  std::int64_t settledTime = 0;
  bool settleReset = false;
  std::size_t settleKeep = 0;
  std::vector<HeldRecord> settled;
  // Writing.
  std::unique_ptr<MailboxFile> file;
  std::uint64_t lastUse = 0;
  bool opened = false;  // since Begin
  bool created = false;
  std::int64_t runStart = 0;
  std::int32_t added = 0;
  // The pool's index flushes when its opening was announced; it may be
  // written to once there were more.
  std::uint64_t openEpoch = 0;
};

}  // namespace quillfen
