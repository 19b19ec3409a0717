#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "os/status.h"

namespace quillfen::os {

// Identity of a folder on disk (device and inode; on Windows the volume's
// serial number and the file index), so that a folder reached twice through
// a link is noticed.
struct FolderIdentity {
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  friend bool operator==(const FolderIdentity&, const FolderIdentity&) = default;
};

// A folder's entries by bare name, in the order the system lists them,
// without the folder itself and its parent. A link to a folder counts as a
// folder; a link that leads nowhere counts as another entry.
struct FolderListing {
  std::vector<std::string> subFolders;
  std::vector<std::string> others;
};

// Facts about the file or folder a path names, following links.
struct PathFacts {
  bool folder = false;
  std::int64_t size = 0;
  std::int64_t modificationTime = 0;  // seconds since 1970-01-01 UTC
};

// Whether path names a folder, following links. Never throws.
bool IsFolder(const std::string& path) noexcept;
// Facts about what path names.
Status Inspect(const std::string& path, PathFacts& facts);
// Every entry of the folder at path, hidden and system ones included.
Status ListFolder(const std::string& path, FolderListing& listing);
// The folder's identity, or nothing when it cannot be found out.
std::optional<FolderIdentity> IdentifyFolder(const std::string& path);
// Creates the folder at path and every missing folder above it. Succeeds
// when the folder exists afterwards, including when it existed before.
Status CreateFolders(const std::string& path);
// Makes link a symbolic link to the folder target. The conversion never
// makes links; tests use this to build link loops on every platform.
Status MakeFolderLink(const std::string& target, const std::string& link);
// Removes the file at path; Failure::NotFound when it is not there.
Status RemoveFile(const std::string& path);
// Cuts the file at path back to length bytes.
Status CutBackFile(const std::string& path, std::int64_t length);
// The same calls for relative, a path below the folder root, reached
// without following any link on the way or at relative itself (root itself
// may be a link): a link gives Failure::Link, and nothing is done to it.
// relative is in the platform's spelling, without a leading separator.
Status InspectBelow(const std::string& root, const std::string& relative, PathFacts& facts);
Status CreateFoldersBelow(const std::string& root, const std::string& relative);
Status RemoveFileBelow(const std::string& root, const std::string& relative);
Status CutBackFileBelow(const std::string& root, const std::string& relative, std::int64_t length);
// The number of files this process may have open at once, or 0 when there
// is no such limit to be read.
std::int64_t OpenFilesLimit();
// Makes a name just created in the folder survive a power cut. Nothing to do
// on Windows, where the file system journals names itself.
Status FlushFolder(const std::string& path);

}  // namespace quillfen::os
