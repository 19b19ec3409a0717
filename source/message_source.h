#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "mbox/content_hash.h"
#include "os/file.h"
#include "source/message_readers.h"

namespace quillfen {

// Where one message's bytes come from: a file of the scanned folder or an
// entry of the export archive. The converter reads it front to back in
// pieces, so a message of any size needs only a piece's worth of memory.
class MessageSource {
 public:
  virtual ~MessageSource() = default;

  // Reads up to size bytes into buffer and gives how many; 0 at the end.
  // Throws MessageFailure with the reason when the bytes cannot be read.
  virtual std::size_t Read(char* buffer, std::size_t size) = 0;
  // Seconds since the epoch that stand in for a message without a date: the
  // file's or the entry's modification time.
  virtual long long FallbackTime() const = 0;
  // The size the source announced (-1 when unknown), for reading a small
  // message in one go.
  virtual std::int64_t SizeHint() const { return -1; }
  // For a message held in memory: all of its bytes at once, without a copy
  // (then the source is read to its end). False when it is read in pieces.
  virtual bool Whole(std::string_view& bytes) {
    (void)bytes;
    return false;
  }
  // The answers of the message's header block when they were worked out
  // already, else null.
  virtual const HeaderAnswers* KnownAnswers() const { return nullptr; }
  // The hash of the message's text (HashOfText of the bytes after an old
  // envelope line) when it was worked out already, else null.
  virtual const ContentHash* KnownTextHash() const { return nullptr; }
  // The message's whole record (From line, quoted text, line end) when it
  // was written already; KnownTextHash is then known too, and the record
  // took the place of the message's bytes, which are not to be read.
  virtual bool KnownRecord(std::string_view& bytes) const {
    (void)bytes;
    return false;
  }
};

// The folder of the messages being read, kept open so that each message is
// opened by its bare name: the kernel then does not walk the whole path
// again for every message of a folder.
class MessageFolder {
 public:
  // The open folder of path (up to its last separator), whose name() is
  // then the rest of path; nothing when the folder cannot be opened (path is
  // then opened whole, which gives the reason).
  const os::Folder* Of(const std::string& path);
  // Valid until the next call of Of; kept from message to message, so that
  // opening a message allocates nothing.
  const std::string& name() const { return name_; }

 private:
  std::string folder_;
  std::string name_;
  os::Folder open_;
};

// A message file, opened without ever waiting (a pipe named like a message
// would otherwise block) and only when it is a regular file: a device such
// as a link to /dev/zero would never end. Throws MessageFailure naming the
// source side ("cannot open the message: ...").
class MessageFile : public MessageSource {
 public:
  // folder, when given, opens path through its folder.
  explicit MessageFile(const std::string& path, MessageFolder* folder = nullptr);
  MessageFile(const MessageFile&) = delete;
  MessageFile& operator=(const MessageFile&) = delete;

  std::size_t Read(char* buffer, std::size_t size) override;
  long long FallbackTime() const override { return modificationTime_; }
  std::int64_t SizeHint() const override { return size_; }

 private:
  os::File file_;
  long long modificationTime_ = 0;
  std::int64_t size_ = -1;
};

}  // namespace quillfen
