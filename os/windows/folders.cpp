#include "os/folders.h"

#include <windows.h>

#include <algorithm>
#include <memory>

#include "os/planted_faults.h"
#include "os/windows/system_reason.h"
#include "os/windows/wide_text.h"

namespace quillfen::os {
namespace {

constexpr std::int64_t kEpochDifference = 11644473600;

// Closes a handle on every way out.
struct HandleCloser {
  void operator()(HANDLE handle) const { ::CloseHandle(handle); }
};
using OwnedHandle = std::unique_ptr<void, HandleCloser>;

struct FindCloser {
  void operator()(HANDLE handle) const { ::FindClose(handle); }
};

// Opens what the long path names, following links, only to ask about it.
// Folders need the backup-semantics flag to be opened at all.
OwnedHandle OpenForFacts(const std::wstring& path) {
  const HANDLE handle = ::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  return OwnedHandle(handle == INVALID_HANDLE_VALUE ? nullptr : handle);
}

bool IsFolderAt(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return false;
  // A link's own attributes say nothing about where it leads: the target is
  // asked through an open handle.
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0)
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  const OwnedHandle handle = OpenForFacts(path);
  BY_HANDLE_FILE_INFORMATION info{};
  return handle && ::GetFileInformationByHandle(handle.get(), &info) &&
         (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::wstring Below(const std::wstring& folder, const std::wstring& name) {
  return folder.back() == L'\\' ? folder + name : folder + L"\\" + name;
}

// The long path of the folder above path; empty at the root.
std::wstring Parent(const std::wstring& path) {
  const std::size_t slash = path.rfind(L'\\');
  // "\\?\C:" and "\\?\UNC\server\share" have no parent to create.
  if (slash == std::wstring::npos || slash < 4) return {};
  const std::wstring parent = path.substr(0, slash);
  if (parent.size() <= 6 && parent.back() == L':') return {};
  if (parent.rfind(L"\\\\?\\UNC\\", 0) == 0 && std::count(parent.begin(), parent.end(), L'\\') <= 5)
    return {};
  return parent;
}

Status CreateChain(const std::wstring& path) {
  if (IsFolderAt(path)) return Status();
  if (::CreateDirectoryW(path.c_str(), nullptr)) return Status();
  DWORD error = ::GetLastError();
  if (error == ERROR_PATH_NOT_FOUND) {
    // A folder above is missing: make the chain above first, then this one.
    const std::wstring parent = Parent(path);
    if (!parent.empty()) {
      if (Status above = CreateChain(parent); !above.ok()) return above;
      if (::CreateDirectoryW(path.c_str(), nullptr)) return Status();
      error = ::GetLastError();
    }
  }
  // Another process may have made it meanwhile.
  if (error == ERROR_ALREADY_EXISTS && IsFolderAt(path)) return Status();
  if (error == ERROR_ALREADY_EXISTS) return SystemFailure(ERROR_DIRECTORY);
  return SystemFailure(error);
}

}  // namespace

bool IsFolder(const std::string& path) noexcept {
  try {
    const std::optional<std::wstring> wide = LongPath(path);
    return wide && IsFolderAt(*wide);
  } catch (...) {
    return false;
  }
}

Status Inspect(const std::string& path, PathFacts& facts) {
  facts = PathFacts();
  const std::optional<std::wstring> wide = LongPath(path);
  if (!wide) return InvalidPath();
  const OwnedHandle handle = OpenForFacts(*wide);
  BY_HANDLE_FILE_INFORMATION info{};
  if (!handle || !::GetFileInformationByHandle(handle.get(), &info))
    return SystemFailure(::GetLastError());
  facts.folder = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  facts.size = static_cast<std::int64_t>((static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) |
                                         info.nFileSizeLow);
  const std::uint64_t ticks =
      (static_cast<std::uint64_t>(info.ftLastWriteTime.dwHighDateTime) << 32) |
      info.ftLastWriteTime.dwLowDateTime;
  facts.modificationTime = static_cast<std::int64_t>(ticks / 10000000u) - kEpochDifference;
  return Status();
}

Status ListFolder(const std::string& path, FolderListing& listing) {
  listing = FolderListing();
  if (std::optional<Status> planted = planted::ListingFault(path)) return *planted;
  const std::optional<std::wstring> wide = LongPath(path);
  if (!wide) return InvalidPath();
  WIN32_FIND_DATAW entry{};
  const HANDLE search =
      ::FindFirstFileExW(Below(*wide, L"*").c_str(), FindExInfoBasic, &entry, FindExSearchNameMatch,
                         nullptr, FIND_FIRST_EX_LARGE_FETCH);
  if (search == INVALID_HANDLE_VALUE) {
    const DWORD error = ::GetLastError();
    // The root of an empty drive lists nothing at all, not even ".".
    if (error == ERROR_FILE_NOT_FOUND && IsFolderAt(*wide)) return Status();
    return SystemFailure(error);
  }
  const std::unique_ptr<void, FindCloser> closer(search);
  do {
    const std::wstring name = entry.cFileName;
    if (name == L"." || name == L"..") continue;
    bool folder = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    // A link counts as what it leads to; one that leads nowhere as a file.
    if ((entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
      folder = IsFolderAt(Below(*wide, name));
    (folder ? listing.subFolders : listing.others).push_back(WideToUtf8(name));
  } while (::FindNextFileW(search, &entry));
  const DWORD error = ::GetLastError();
  if (error != ERROR_NO_MORE_FILES) return SystemFailure(error);
  return Status();
}

std::optional<FolderIdentity> IdentifyFolder(const std::string& path) {
  const std::optional<std::wstring> wide = LongPath(path);
  if (!wide) return std::nullopt;
  const OwnedHandle handle = OpenForFacts(*wide);
  BY_HANDLE_FILE_INFORMATION info{};
  if (!handle || !::GetFileInformationByHandle(handle.get(), &info)) return std::nullopt;
  return FolderIdentity{
      info.dwVolumeSerialNumber,
      (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
}

Status CreateFolders(const std::string& path) {
  const std::optional<std::wstring> wide = LongPath(path);
  if (!wide) return InvalidPath();
  return CreateChain(*wide);
}

Status MakeFolderLink(const std::string& target, const std::string& link) {
  // A relative target stays relative, as on POSIX; only the link's own
  // path takes the long form.
  const std::optional<std::wstring> to = Utf8ToWide(target);
  const std::optional<std::wstring> at = LongPath(link);
  if (!to || !at) return InvalidPath();
  std::wstring relative = *to;
  std::replace(relative.begin(), relative.end(), L'/', L'\\');
  // A target named with a trailing separator leads nowhere.
  while (relative.size() > 3 && relative.back() == L'\\') relative.pop_back();
  // Without developer mode, Windows lets only administrators make links.
  if (!::CreateSymbolicLinkW(
          at->c_str(), relative.c_str(),
          SYMBOLIC_LINK_FLAG_DIRECTORY | SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE))
    return SystemFailure(::GetLastError());
  // Wine reports success without making the link.
  if (::GetFileAttributesW(at->c_str()) == INVALID_FILE_ATTRIBUTES)
    return Status(Failure::Other, "the system reported a link that it did not make");
  return Status();
}

Status RemoveFile(const std::string& path) {
  const std::optional<std::wstring> wide = LongPath(path);
  if (!wide) return InvalidPath();
  return ::DeleteFileW(wide->c_str()) ? Status() : SystemFailure(::GetLastError());
}

Status CutBackFile(const std::string& path, std::int64_t length) {
  if (auto fault = planted::CutBackFault(path)) return *fault;
  const std::optional<std::wstring> wide = LongPath(path);
  if (!wide) return InvalidPath();
  const HANDLE handle = ::CreateFileW(wide->c_str(), GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return SystemFailure(::GetLastError());
  const OwnedHandle owner(handle);
  LARGE_INTEGER at{};
  at.QuadPart = length;
  if (!::SetFilePointerEx(handle, at, nullptr, FILE_BEGIN) || !::SetEndOfFile(handle))
    return SystemFailure(::GetLastError());
  return Status();
}

Status FlushFolder(const std::string&) {
  return Status();
}

}  // namespace quillfen::os
