#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "os/folders.h"
#include "os/status.h"

namespace quillfen::os {

// A folder held open so that the files in it can be opened by their bare
// names: on POSIX the system then does not walk the folder's whole path
// again for every file. On Windows it only keeps the path, and each file is
// opened by its joined path. Move-only; closes itself.
class Folder {
 public:
  Folder() = default;
  ~Folder();
  Folder(Folder&& other) noexcept;
  Folder& operator=(Folder&& other) noexcept;
  Folder(const Folder&) = delete;
  Folder& operator=(const Folder&) = delete;

  bool isOpen() const { return open_; }
  const std::string& path() const { return path_; }

  // Opens the folder at path (UTF-8), closing the one held before.
  Status Open(const std::string& path);
  void Close();
  // Takes an exclusive lock on the folder itself without waiting, as
  // File::LockExclusively does on a file: it holds even when every file in
  // the folder is deleted. On Windows nothing is done: a file held open in
  // a folder keeps the folder from being deleted there.
  Status LockExclusively();

 private:
  friend class File;

  bool open_ = false;
  // A POSIX file descriptor; unused on Windows.
  std::intptr_t handle_ = -1;
  std::string path_;
};

// One open file, named by a UTF-8 path and always in binary mode, so that
// the bytes written are the bytes on disk on every platform. Move-only: the
// destructor closes quietly, Close() reports failure. Every call on a file
// that is not open fails.
// Whether File::FlushFileSystem reaches every file of the file system.
#if defined(__linux__)
inline constexpr bool kFlushesFileSystem = true;
#else
inline constexpr bool kFlushesFileSystem = false;
#endif

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
  // Anything but a regular file gives Failure::NotRegularFile. facts, when
  // given, receives the file's size and modification time, learned by the
  // same look that makes sure it is a regular file.
  Status OpenForReading(const std::string& path, PathFacts* facts = nullptr);
  // The same for the file name (a bare name) in the open folder.
  Status OpenForReading(const Folder& folder, const std::string& name, PathFacts* facts = nullptr);
  // Opens a regular file for reading and appending, creating it when it is
  // missing; created, when given, tells whether it was, and facts receives
  // its size and modification time. Writes always land at the end of the
  // file.
  Status OpenForAppending(const std::string& path, bool* created = nullptr,
                          PathFacts* facts = nullptr);

  // The same two opens for relative, a path below the folder root, reached
  // without following any link on the way: the destination is Quillfen's
  // alone, and a link planted in it must never aim a write elsewhere. root
  // itself may be a link (the user chose it). A link on the way or at
  // relative itself, and a file with more than one name (a hard link), give
  // Failure::Link.
  Status OpenForReadingBelow(const std::string& root, const std::string& relative,
                             PathFacts* facts = nullptr);
  Status OpenForAppendingBelow(const std::string& root, const std::string& relative,
                               bool* created = nullptr, PathFacts* facts = nullptr);

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
  // Waits until everything written to the file system that holds this file,
  // by any file, is on the disk (Linux's syncfs). Where the system has no
  // such call (Windows), only this file's writes: the caller then flushes
  // each file it needs on the disk itself (kFlushesFileSystem).
  Status FlushFileSystem();
  // Starts writing the file's bytes from offset on to the disk without
  // waiting, so that a later flush finds them written (Linux's
  // sync_file_range); nothing elsewhere. Never fails: it is only a hint.
  void StartWriting(std::int64_t offset, std::int64_t length);
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

// Opens the regular file at path for reading, as File::OpenForReading does,
// and hands its descriptor over to a library that reads the file by itself
// (zlib): a POSIX file descriptor, on Windows one of the C runtime's. The
// caller closes it.
Status OpenDescriptorForReading(const std::string& path, int& descriptor);

}  // namespace quillfen::os
