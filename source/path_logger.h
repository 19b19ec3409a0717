#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "os/platform.h"
#include "source/file_system.h"
#include "source/keyed_list.h"
#include "source/scan_observer.h"

namespace quillfen {

// The folder walker: turns one folder path into the ordered list of every
// file in that folder or below it, visiting folders breadth-first.
//
// A walk is PathLogInit, optionally fullFileNamesOnly(false), LogPath, then
// reading Count and the lists, then Terminate. Lists handed out stay valid
// for whoever holds them after Terminate or the next PathLogInit.
class pathLogger {  // NOLINT(readability-identifier-naming): the walker's own name.
 public:
  using FileSystemFactory = std::function<std::unique_ptr<FileSystem>()>;

  // The platform's own separator between a folder and the names in it.
  static constexpr char kNativeSeparator = os::kWindows ? '\\' : '/';

  // observer may be null (no label, no yields). The factory gives the
  // file-system service that each PathLogInit obtains anew; separator joins
  // the names it lists onto the root (tests of one platform's paths pass
  // that platform's).
  explicit pathLogger(ScanObserver* observer = nullptr,
                      FileSystemFactory fileSystemFactory = MakeDefaultFileSystem,
                      char separator = kNativeSeparator);

  void SetObserver(ScanObserver* observer) { observer_ = observer; }

  // Prepares a walk: a new file-system service, full-names mode, Count 0,
  // and the walker's references to its four lists dropped.
  void PathLogInit();

  // Walks the tree whose root is strPARENT.
  // - A root that is not an existing folder: returns at once, nothing changes.
  // - A folder that cannot be looked up or listed: throws FileSystemError
  //   (folder and reason); everything queued before stays queued.
  // - No file-system service (never prepared, or after Terminate): throws
  //   std::logic_error.
  // - A second LogPath without PathLogInit: throws std::logic_error because
  //   the key "K0" is taken; nothing more is queued.
  // - A counter past 2,147,483,647: throws std::overflow_error.
  // A folder reached a second time through a symbolic link (same device and
  // inode) is neither recorded in pathNames nor walked again, so a link loop
  // ends; the first name met in walking order is the one kept.
  void LogPath(const std::string& strPARENT);

  std::int32_t Count() const { return count_; }

  // Releases the file-system service and the walker's list references.
  // Count and fullFileNamesOnly keep their values.
  void Terminate();

  void fullFileNamesOnly(bool fullPath) { fullFileNamesOnly_ = fullPath; }
  bool fullFileNamesOnly() const { return fullFileNamesOnly_; }

  // Each returns the walker's own list, creating an empty one when it holds
  // none; a list obtained before a walk is the very list the walk fills.
  KeyedListRef<std::string> fileNames();
  KeyedListRef<std::string> pathNames();
  KeyedListRef<std::int32_t> pathPointers();
  KeyedListRef<std::string> fullFileNames();

  // Returns path with the walker's separator appended unless it already
  // ends with one; an empty path gives the separator alone.
  std::string AddTrailingBackslash(const std::string& path) const;

 private:
  ScanObserver* observer_;
  FileSystemFactory fileSystemFactory_;
  char separator_;
  std::shared_ptr<FileSystem> fileSystem_;
  std::int32_t count_ = 0;
  bool fullFileNamesOnly_ = false;
  KeyedListRef<std::string> fileNames_;
  KeyedListRef<std::string> pathNames_;
  KeyedListRef<std::int32_t> pathPointers_;
  KeyedListRef<std::string> fullFileNames_;
};

}  // namespace quillfen
