#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "destination/mailbox_file.h"
#include "mbox/content_hash.h"

namespace quillfen {

// What the destination knows of one mailbox below it: what the index said,
// what the mailbox holds once learned, and this conversion's writing to it.
struct MailboxState {
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

}  // namespace quillfen
