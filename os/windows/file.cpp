#include "os/file.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <algorithm>

#include "os/folders.h"
#include "os/windows/system_reason.h"
#include "os/windows/wide_text.h"

namespace quillfen::os {
namespace {

// Seconds between 1601-01-01, where FILETIME counts from, and 1970-01-01.
constexpr std::int64_t kEpochDifference = 11644473600;

HANDLE Handle(std::intptr_t handle) {
  return reinterpret_cast<HANDLE>(handle);
}

// Seconds since 1970-01-01 UTC of a file time.
std::int64_t Seconds(const FILETIME& time) {
  const std::uint64_t ticks =
      (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
  return static_cast<std::int64_t>(ticks / 10000000u) - kEpochDifference;
}

Status NotOpen() {
  return SystemFailure(ERROR_INVALID_HANDLE);
}

// Opens path with the wide call, sharing it with every other reader and
// writer (and with deletion, as POSIX does), and keeps only regular files.
// error receives the system's code from the open itself; facts, when given,
// the file's size and modification time.
Status OpenRegular(const std::string& path, DWORD access, DWORD disposition, HANDLE& handle,
                   DWORD& error, PathFacts* facts) {
  handle = INVALID_HANDLE_VALUE;
  error = 0;
  const std::optional<std::wstring> wide = LongPath(path);
  if (!wide) return InvalidPath();
  handle =
      ::CreateFileW(wide->c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  // Read at once: it also tells whether OPEN_ALWAYS found the file there.
  error = ::GetLastError();
  if (handle == INVALID_HANDLE_VALUE) {
    // A folder cannot be opened as a file and says "access denied".
    if (error == ERROR_ACCESS_DENIED && IsFolder(path))
      return Status(Failure::NotRegularFile, "not a regular file");
    return SystemFailure(error);
  }
  if (::GetFileType(handle) != FILE_TYPE_DISK) {
    ::CloseHandle(handle);
    handle = INVALID_HANDLE_VALUE;
    return Status(Failure::NotRegularFile, "not a regular file");
  }
  if (facts != nullptr) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(handle, &info)) {
      const Status failure = SystemFailure(::GetLastError());
      ::CloseHandle(handle);
      handle = INVALID_HANDLE_VALUE;
      return failure;
    }
    facts->folder = false;
    facts->size = static_cast<std::int64_t>((static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) |
                                            info.nFileSizeLow);
    facts->modificationTime = Seconds(info.ftLastWriteTime);
  }
  return Status();
}

}  // namespace

Status Folder::Open(const std::string& path) {
  // Nothing to hold: each file is opened by its joined path, which also
  // gives the reason when the folder is gone.
  Close();
  open_ = true;
  path_ = path;
  return Status();
}

void Folder::Close() {
  open_ = false;
  path_.clear();
}

Status OpenDescriptorForReading(const std::string& path, int& descriptor) {
  descriptor = -1;
  HANDLE handle;
  DWORD error;
  if (Status status = OpenRegular(path, GENERIC_READ, OPEN_EXISTING, handle, error, nullptr);
      !status.ok())
    return status;
  // The C runtime's descriptor takes the handle over, and closes it.
  descriptor = _open_osfhandle(reinterpret_cast<std::intptr_t>(handle), _O_RDONLY | _O_BINARY);
  if (descriptor == -1) {
    ::CloseHandle(handle);
    return Status(Failure::Other, "too many open files");
  }
  return Status();
}

Status File::OpenForReading(const std::string& path, PathFacts* facts) {
  if (isOpen()) (void)CloseNow();
  HANDLE handle;
  DWORD error;
  Status status = OpenRegular(path, GENERIC_READ, OPEN_EXISTING, handle, error, facts);
  if (!status.ok()) return status;
  handle_ = reinterpret_cast<std::intptr_t>(handle);
  path_ = path;
  return Status();
}

Status File::OpenForReading(const Folder& folder, const std::string& name, PathFacts* facts) {
  if (!folder.isOpen()) return NotOpen();
  std::string path = folder.path_;
  if (!path.empty() && path.back() != '\\' && path.back() != '/') path += '\\';
  return OpenForReading(path + name, facts);
}

Status File::OpenForAppending(const std::string& path, bool* created, PathFacts* facts) {
  if (isOpen()) (void)CloseNow();
  HANDLE handle;
  DWORD error;
  Status status =
      OpenRegular(path, GENERIC_READ | GENERIC_WRITE, OPEN_ALWAYS, handle, error, facts);
  if (!status.ok()) return status;
  // OPEN_ALWAYS tells an existing file by this code.
  const bool made = error != ERROR_ALREADY_EXISTS;
  handle_ = reinterpret_cast<std::intptr_t>(handle);
  path_ = path;
  if (created != nullptr) *created = made;
  return Status();
}

Status File::Read(char* buffer, std::size_t size, std::size_t& count) {
  count = 0;
  if (!isOpen()) return NotOpen();
  DWORD got = 0;
  const DWORD want = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
  if (!::ReadFile(Handle(handle_), buffer, want, &got, nullptr))
    return SystemFailure(::GetLastError());
  count = got;
  return Status();
}

Status File::ReadAt(std::int64_t offset, char* buffer, std::size_t size, std::size_t& count) {
  count = 0;
  if (!isOpen()) return NotOpen();
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(static_cast<std::uint64_t>(offset) & 0xFFFFFFFFu);
  at.OffsetHigh = static_cast<DWORD>(static_cast<std::uint64_t>(offset) >> 32);
  DWORD got = 0;
  const DWORD want = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
  if (!::ReadFile(Handle(handle_), buffer, want, &got, &at)) {
    const DWORD error = ::GetLastError();
    if (error == ERROR_HANDLE_EOF) return Status();
    return SystemFailure(error);
  }
  count = got;
  return Status();
}

Status File::AppendNow(std::span<const std::string_view> pieces, std::size_t limit,
                       std::size_t& written) {
  written = 0;
  if (!isOpen()) return NotOpen();
  // The file is open for writing anywhere, so that it can be cut back; each
  // append therefore starts at the end, wherever a read left the position.
  LARGE_INTEGER end{};
  if (!::SetFilePointerEx(Handle(handle_), end, nullptr, FILE_END))
    return SystemFailure(::GetLastError());
  for (std::string_view piece : pieces) {
    while (!piece.empty() && written < limit) {
      const DWORD want = static_cast<DWORD>(std::min<std::size_t>(
          {piece.size(), limit - written, static_cast<std::size_t>(1u << 30)}));
      DWORD done = 0;
      if (!::WriteFile(Handle(handle_), piece.data(), want, &done, nullptr))
        return SystemFailure(::GetLastError());
      if (done == 0) return SystemFailure(ERROR_WRITE_FAULT);
      piece.remove_prefix(done);
      written += done;
    }
  }
  return Status();
}

Status File::Size(std::int64_t& size) const {
  size = 0;
  if (!isOpen()) return NotOpen();
  LARGE_INTEGER value{};
  if (!::GetFileSizeEx(Handle(handle_), &value)) return SystemFailure(::GetLastError());
  size = value.QuadPart;
  return Status();
}

Status File::ModificationTime(std::int64_t& seconds) const {
  seconds = 0;
  if (!isOpen()) return NotOpen();
  FILETIME written{};
  if (!::GetFileTime(Handle(handle_), nullptr, nullptr, &written))
    return SystemFailure(::GetLastError());
  seconds = Seconds(written);
  return Status();
}

bool File::Deleted() const {
  if (!isOpen()) return false;
  FILE_STANDARD_INFO info{};
  return ::GetFileInformationByHandleEx(Handle(handle_), FileStandardInfo, &info, sizeof info) &&
         info.DeletePending;
}

Status File::CutBackNow(std::int64_t length) {
  if (!isOpen()) return NotOpen();
  LARGE_INTEGER at{};
  at.QuadPart = length;
  if (!::SetFilePointerEx(Handle(handle_), at, nullptr, FILE_BEGIN) ||
      !::SetEndOfFile(Handle(handle_)))
    return SystemFailure(::GetLastError());
  return Status();
}

Status File::Flush() {
  if (!isOpen()) return NotOpen();
  return ::FlushFileBuffers(Handle(handle_)) ? Status() : SystemFailure(::GetLastError());
}

Status File::FlushFileSystem() {
  return Flush();
}

void File::StartWriting(std::int64_t, std::int64_t) {}

Status Folder::LockExclusively() {
  return Status();
}

Status File::LockExclusively() {
  if (!isOpen()) return NotOpen();
  // The whole possible range, so that the lock does not depend on the
  // file's length.
  OVERLAPPED from{};
  if (::LockFileEx(Handle(handle_), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0,
                   MAXDWORD, MAXDWORD, &from))
    return Status();
  return SystemFailure(::GetLastError());
}

Status File::CloseNow() {
  const HANDLE handle = Handle(handle_);
  handle_ = -1;
  return ::CloseHandle(handle) ? Status() : SystemFailure(::GetLastError());
}

}  // namespace quillfen::os
