#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "os/status.h"

namespace quillfen::os {

// One open file, named by a UTF-8 path and always in binary mode, so that
// the bytes written are the bytes on disk on every platform. Move-only: the
// destructor closes quietly, Close() reports failure. Every call on a file
// that is not open fails.
class File {
 public:
  File() = default;
  ~File();
  File(File&& other) noexcept;
  File& operator=(File&& other) noexcept;
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  bool isOpen() const { return handle_ != -1; }
  const std::string& path() const { return path_; }

  // Opens an existing regular file for reading. Never waits: a pipe named
  // like a message would block an ordinary open until a writer appears.
  // Anything but a regular file gives Failure::NotRegularFile.
  Status OpenForReading(const std::string& path);
  // Opens a regular file for reading and appending, creating it when it is
  // missing; created, when given, tells whether it was. Writes always land
  // at the end of the file.
  Status OpenForAppending(const std::string& path, bool* created = nullptr);

  // Reads up to size bytes from the current position; count receives how
  // many were read, 0 at the end of the file.
  Status Read(char* buffer, std::size_t size, std::size_t& count);
  // Reads up to size bytes at offset without moving the reading position.
  Status ReadAt(std::int64_t offset, char* buffer, std::size_t size, std::size_t& count);

  // Appends every byte of pieces, in order, retrying short writes. When it
  // fails a leading part may have reached the file; written, when given,
  // receives how many bytes did, so the caller can cut them back.
  Status Append(std::span<const std::string_view> pieces, std::size_t* written = nullptr);
  Status Append(std::string_view bytes, std::size_t* written = nullptr) {
    return Append(std::span<const std::string_view>(&bytes, 1), written);
  }

  // The file's length in bytes and its last modification (seconds since
  // 1970-01-01 UTC).
  Status Size(std::int64_t& size) const;
  Status ModificationTime(std::int64_t& seconds) const;
  // Whether the file was deleted while open: what is written to it now is
  // lost when it is closed. False when that cannot be found out.
  bool Deleted() const;

  // Cuts the file back to length bytes.
  Status CutBack(std::int64_t length);
  // Waits until what was written is on the disk.
  Status Flush();
  // Takes an exclusive lock on the file without waiting; Failure::LockHeld
  // when another open file holds it. The lock ends with the file's handle,
  // however the process ends. On Windows the lock also keeps other handles
  // from reading and writing the file, so lock a file that holds nothing.
  Status LockExclusively();

  // Closes the file; a failure means the last writes may not have reached
  // the disk. The file counts as closed either way.
  Status Close();

 private:
  // The platform's own calls. AppendNow writes at most limit bytes of pieces
  // and counts them in written; CloseNow leaves the file closed.
  Status AppendNow(std::span<const std::string_view> pieces, std::size_t limit,
                   std::size_t& written);
  Status CutBackNow(std::int64_t length);
  Status CloseNow();

  // A POSIX file descriptor or a Windows HANDLE; -1 (INVALID_HANDLE_VALUE)
  // when closed.
  std::intptr_t handle_ = -1;
  std::string path_;
};

}  // namespace quillfen::os
