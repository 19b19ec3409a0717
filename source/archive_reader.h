#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>

#include "source/message_source.h"

namespace quillfen {

// The whole archive could not be read: it is missing, not a tar archive, or
// corrupt or truncated somewhere.
class ArchiveError : public std::runtime_error {
 public:
  ArchiveError(std::string archivePath, std::string reason);

  const std::string& archivePath() const { return archivePath_; }
  const std::string& reason() const { return reason_; }

 private:
  std::string archivePath_;
  std::string reason_;
};

// One entry of an archive, as its header tells it.
struct ArchiveEntry {
  // The name as the archive stores it, or in UTF-8 where the locale cannot
  // hold it.
  std::string name;
  bool folder = false;   // a folder (a link to one is a link)
  bool link = false;     // a symbolic link, or a second name of another entry
  bool regular = false;  // a regular file
};

// A .tgz, .tar.gz or .tar file read entry by entry, front to back, without
// extracting anything. GzipBlockReader (ISA-L, or zlib), not libarchive,
// undoes the gzip compression, because it checks every gzip member's CRC and
// length and libarchive does not: a .tgz damaged inside a message's data
// would otherwise convert without a word. Decompressing takes most of an
// archive's reading time, so it runs on a thread of its own, ahead of the
// reading.
class ArchiveReader {
 public:
  // Opens the archive; nothing of it is read yet but what tells whether it
  // can be read at all. Throws ArchiveError.
  explicit ArchiveReader(const std::string& path);
  ~ArchiveReader();
  ArchiveReader(const ArchiveReader&) = delete;
  ArchiveReader& operator=(const ArchiveReader&) = delete;

  // Moves on to the next entry's header; false at the archive's end marker.
  // Warnings (an unknown extended header, a name not in the locale's
  // character set) are no reason to stop; anything worse throws
  // ArchiveError.
  bool Next();
  const ArchiveEntry& entry() const { return entry_; }
  // The bytes of the entry at hand, valid until Next. Holes of a sparse
  // entry read as zero bytes, as they would from the extracted file. Its
  // Read throws MessageFailure when only the entry cannot be read, and
  // ArchiveError when the archive cannot be read on.
  MessageSource& data();
  // The tar reader stops at the end marker and never asks for the bytes
  // after it, so the last gzip member's CRC, length and very end would go
  // unchecked: this reads the rest of the file. Throws ArchiveError.
  void ReadToEnd();
  // The bytes of the archive file read so far.
  std::int64_t compressedRead() const;

 private:
  struct Stream;
  class EntrySource;

  std::string path_;
  std::unique_ptr<Stream> stream_;
  std::unique_ptr<EntrySource> source_;
  ArchiveEntry entry_;
};

}  // namespace quillfen
