#include "fake_file_system.h"

namespace quillfen::test {

class FakeFileSystem : public FileSystem {
 public:
  explicit FakeFileSystem(FakeTree& tree) : tree_(tree) {}

  bool FolderExists(const std::string& path) override {
    tree_.asked_.push_back(path);
    return tree_.folders_.count(path) > 0;
  }
  std::vector<std::string> SubFolders(const std::string& path) override {
    return Find(path).subFolders;
  }
  std::vector<std::string> Files(const std::string& path) override { return Find(path).files; }
  std::optional<FolderIdentity> Identity(const std::string& path) override {
    auto it = tree_.folders_.find(path);
    if (it == tree_.folders_.end()) return std::nullopt;
    return FolderIdentity{1, static_cast<std::uint64_t>(std::distance(tree_.folders_.begin(), it))};
  }

 private:
  const FakeTree::Folder& Find(const std::string& path) {
    tree_.WaitIfHeld(path);
    tree_.asked_.push_back(path);
    auto it = tree_.folders_.find(path);
    if (it == tree_.folders_.end()) throw FileSystemError(path, "No such file or directory");
    if (!it->second.failure.empty()) throw FileSystemError(path, it->second.failure);
    return it->second;
  }

  FakeTree& tree_;
};

void FakeTree::WaitIfHeld(const std::string& folder) {
  std::unique_lock lock(mutex_);
  if (held_.empty() || folder != held_) return;
  waiting_ = true;
  released_.wait(lock, [this] { return held_.empty(); });
  waiting_ = false;
}

void FakeTree::Release() {
  {
    std::lock_guard lock(mutex_);
    held_.clear();
  }
  released_.notify_all();
}

bool FakeTree::waiting() {
  std::lock_guard lock(mutex_);
  return waiting_;
}

FolderWalker::FileSystemFactory FakeTree::Factory() {
  return [this] { return std::make_unique<FakeFileSystem>(*this); };
}

}  // namespace quillfen::test
