#pragma once

#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "source/file_system.h"
#include "source/folder_walker.h"

namespace quillfen::test {

// An in-memory folder tree for the walker. Folders are full paths ending
// with "/"; a folder can be set to fail when it is listed.
class FakeTree {
 public:
  void AddFolder(const std::string& folder) { folders_[folder]; }
  void AddFile(const std::string& folder, const std::string& name) {
    folders_[folder].files.push_back(name);
  }
  void AddSubFolder(const std::string& folder, const std::string& name) {
    folders_[folder].subFolders.push_back(name);
    folders_[folder + name + "/"];
  }
  void FailListing(const std::string& folder, const std::string& reason) {
    folders_[folder].failure = reason;
  }

  // Listing folder waits until Release: the scan is then held in the
  // middle, for as long as a test needs. waiting() tells whether it waits.
  void HoldListing(const std::string& folder) { held_ = folder; }
  void Release();
  bool waiting();

  // Every path the walker asked about, in order.
  const std::vector<std::string>& asked() const { return asked_; }

  // A factory for FolderWalker; the services it makes share this tree.
  FolderWalker::FileSystemFactory Factory();

 private:
  friend class FakeFileSystem;
  struct Folder {
    std::vector<std::string> subFolders;
    std::vector<std::string> files;
    std::string failure;
  };
  void WaitIfHeld(const std::string& folder);
  std::map<std::string, Folder> folders_;
  std::vector<std::string> asked_;
  std::string held_;
  std::mutex mutex_;
  std::condition_variable released_;
  bool waiting_ = false;
};

}  // namespace quillfen::test
