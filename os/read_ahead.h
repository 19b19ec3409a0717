#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace quillfen::os {

// Files about to be read one after the other, each opened and announced to
// the system ahead of its reading: the disk then fetches several at once
// instead of waiting between files, which is most of a conversion's time when
// nothing is in the page cache. The files are only held open, never read
// here; whoever reads them opens them again, which costs little once the
// first open has brought the folder's entries into memory. Where the system
// takes no such hint, nothing is opened and the window does nothing.
class ReadAheadWindow {
 public:
  // Holds at most most files, fewer when the process's limit of open files
  // leaves less than that beside reserved other files kept open.
  ReadAheadWindow(std::size_t most, std::size_t reserved);
  // Closes every file held.
  ~ReadAheadWindow();
  ReadAheadWindow(const ReadAheadWindow&) = delete;
  ReadAheadWindow& operator=(const ReadAheadWindow&) = delete;

  // How many files the window may hold; 0 where there is no hint to give.
  std::size_t capacity() const { return capacity_; }
  std::size_t size() const { return count_; }
  bool full() const { return count_ == capacity_; }

  // Opens the file at path (UTF-8), without waiting, and asks the system to
  // start reading up to bytes of it, keyed by key (keys must grow). Nothing
  // happens when the window is full or the file cannot be opened: the
  // reading then finds out why, and only loses the head start.
  void Add(std::int32_t key, const std::string& path, std::int64_t bytes);
  // Closes the files added with a key before key.
  void LetGoBefore(std::int32_t key);

  // How much the process read from a disk since the last call (the first
  // call: since it started), in the system's units: 512-byte blocks on
  // Linux, reads elsewhere; 0 where that is not known. Files that are all in
  // memory gain nothing from being announced, and the opens would only cost
  // their reading.
  std::int64_t DiskReadSinceAsked();

 private:
  struct Held {
    std::int32_t key = 0;
    std::intptr_t handle = -1;
  };
  void CloseOldest();

  std::size_t capacity_ = 0;
  std::unique_ptr<Held[]> held_;  // a ring of capacity_ entries
  std::size_t first_ = 0;
  std::size_t count_ = 0;
  // The folder of the last file added, kept open so that the next file of
  // the same folder is opened by its bare name.
  std::string folder_;
  std::intptr_t folderHandle_ = -1;
  std::int64_t blocksRead_ = 0;
};

}  // namespace quillfen::os
