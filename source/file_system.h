#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "os/folders.h"

namespace quillfen {

// A folder that could not be looked up or listed. Carries the folder's path
// and the reason as the platform gave it.
class FileSystemError : public std::runtime_error {
 public:
  FileSystemError(std::string folder, std::string reason)
      : std::runtime_error(folder + ": " + reason),
        folder_(std::move(folder)),
        reason_(std::move(reason)) {}
  const std::string& folder() const { return folder_; }
  const std::string& reason() const { return reason_; }

 private:
  std::string folder_;
  std::string reason_;
};

// Identity of a folder on disk, so that a folder reached twice through a
// symbolic link is noticed.
using FolderIdentity = os::FolderIdentity;

// The walker's view of the file system. Tests inject one that fails on a
// chosen folder; the default one lists folders with the platform's calls.
class FileSystem {
 public:
  virtual ~FileSystem() = default;
  // Whether path names an existing folder. Never throws.
  virtual bool FolderExists(const std::string& path) = 0;
  // Bare names of the folder's subfolders (symbolic links to folders
  // included), sorted by byte order. Throws FileSystemError.
  virtual std::vector<std::string> SubFolders(const std::string& path) = 0;
  // Bare names of every other entry of the folder (files of any kind, hidden
  // ones included), sorted by byte order. Throws FileSystemError.
  virtual std::vector<std::string> Files(const std::string& path) = 0;
  // The folder's identity, or nothing when it cannot be found out.
  virtual std::optional<FolderIdentity> Identity(const std::string& path) = 0;
};

// The platform's file system.
std::unique_ptr<FileSystem> MakeDefaultFileSystem();

}  // namespace quillfen
