#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "source/file_system.h"

namespace quillfen::test {

// An in-memory folder tree for walker tests. Folders are added by their full
// path (ending with '/'); a folder is listed as a subfolder of its parent in
// the order it was added, and its files in the order given, so tests control
// the listing order. A link is a subfolder entry that lists as, and has the
// identity of, another folder. Copies share one tree, so a test keeps a copy
// to inspect while the walker owns another.
class MemoryFileSystem : public FileSystem {
 public:
  MemoryFileSystem() : tree_(std::make_shared<Tree>()) {}

  // Adds a folder with its files. Its parent, when it has been added, lists
  // it as a subfolder.
  void AddFolder(const std::string& path, std::vector<std::string> files = {}) {
    tree_->folders[path] = Folder{{}, std::move(files), tree_->nextInode++};
    AddToParent(path);
  }

  // Adds a subfolder entry at path that leads to the folder target.
  void AddLink(const std::string& path, const std::string& target) {
    tree_->links[path] = target;
    AddToParent(path);
  }

  // The n-th folder listing from now on (1 for the next) fails as if the
  // folder could not be read.
  void FailListing(int n, std::string reason) {
    tree_->failAt = tree_->listings + n;
    tree_->failReason = std::move(reason);
  }

  int listings() const { return tree_->listings; }

  bool FolderExists(const std::string& path) override { return Resolve(path) != nullptr; }

  std::vector<std::string> SubFolders(const std::string& path) override {
    return Listed(path).subFolders;
  }

  std::vector<std::string> Files(const std::string& path) override { return Find(path).files; }

  std::optional<FolderIdentity> Identity(const std::string& path) override {
    const Folder* folder = Resolve(path);
    if (folder == nullptr) return std::nullopt;
    return FolderIdentity{1, folder->inode};
  }

 private:
  struct Folder {
    std::vector<std::string> subFolders;
    std::vector<std::string> files;
    std::uint64_t inode = 0;
  };
  struct Tree {
    std::map<std::string, Folder> folders;
    std::map<std::string, std::string> links;
    std::uint64_t nextInode = 1;
    int listings = 0;
    int failAt = 0;
    std::string failReason;
  };

  void AddToParent(const std::string& path) {
    const std::string trimmed = path.substr(0, path.size() - 1);
    const auto cut = trimmed.rfind('/');
    if (cut == std::string::npos) return;
    auto parent = tree_->folders.find(trimmed.substr(0, cut + 1));
    if (parent != tree_->folders.end())
      parent->second.subFolders.push_back(trimmed.substr(cut + 1));
  }

  // Follows links, also those in the middle of a path, as the platform does.
  // Gives up after a while, so a walker that follows a loop fails instead of
  // hanging the test.
  const Folder* Resolve(std::string path) const {
    if (path.empty() || path.back() != '/') path += '/';
    for (int hops = 0; hops < 64; ++hops) {
      if (auto it = tree_->folders.find(path); it != tree_->folders.end()) return &it->second;
      bool replaced = false;
      for (const auto& [link, target] : tree_->links) {
        if (path.compare(0, link.size(), link) == 0) {
          path = target + path.substr(link.size());
          replaced = true;
          break;
        }
      }
      if (!replaced) return nullptr;
    }
    return nullptr;
  }

  const Folder& Find(const std::string& path) const {
    const Folder* folder = Resolve(path);
    if (folder == nullptr) throw FileSystemError(path, "No such file or directory");
    return *folder;
  }

  const Folder& Listed(const std::string& path) {
    ++tree_->listings;
    if (tree_->listings == tree_->failAt) throw FileSystemError(path, tree_->failReason);
    if (tree_->listings > 10000) throw FileSystemError(path, "walked in circles");
    return Find(path);
  }

  std::shared_ptr<Tree> tree_;
};

}  // namespace quillfen::test
