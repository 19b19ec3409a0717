#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "os/platform.h"
#include "source/file_system.h"
#include "source/path_queue.h"
#include "source/scan_observer.h"

namespace quillfen {

// Walks a folder tree breadth-first and queues the full path of every file
// in it: all files of a folder, in listing order, before any file of the
// folders found after it.
class FolderWalker {
 public:
  using FileSystemFactory = std::function<std::unique_ptr<FileSystem>()>;

  // The platform's own separator between a folder and the names in it.
  static constexpr char kNativeSeparator = os::kWindows ? '\\' : '/';

  // observer may be null (no count, no yields). Each walk lists folders
  // through a file-system service of its own from the factory; separator
  // joins the names listed onto the root (tests of one platform's paths
  // pass that platform's).
  explicit FolderWalker(ScanObserver* observer = nullptr,
                        FileSystemFactory fileSystemFactory = MakeDefaultFileSystem,
                        char separator = kNativeSeparator);

  // Walks the tree whose root is root (with or without a trailing
  // separator) into queue, or a new queue when it is null, which queue()
  // gives from the start of the walk on. The walk does not close a growing
  // queue: whoever made it does, once the walk is over however it ended. The observer hears the
  // running counts after each file queued, and yields before each folder, subfolder and file; what
  // a yield throws (a stop) ends the walk there and passes through.
  // - A root that is not an existing folder queues nothing.
  // - A folder that cannot be looked up or listed: throws FileSystemError
  //   (folder and reason); everything queued before stays queued. Going on
  //   past unreadable folders instead records it and walks the next folder.
  // - More files than a 32-bit count holds: throws std::overflow_error.
  // A folder reached a second time through a symbolic link (same device and
  // inode) is walked only under the first name met, so a link loop ends.
  void Walk(const std::string& root, std::shared_ptr<PathQueue> queue = nullptr);

  // The queue of the last walk; null before the first.
  const PathQueueRef& queue() const { return queue_; }

  // Off by default: a conversion must not take a tree it could not read
  // whole for the whole export. A front end that shows the user what could
  // not be read, and says so again when it converts, turns it on so that one
  // locked folder does not keep every folder after it out of the queue.
  void SetGoOnPastUnreadableFolders(bool goOn) { goOnPastUnreadable_ = goOn; }
  // The folders the last walk could not list, each with its reason, in the
  // order met; always empty unless the walk goes on past them.
  const std::vector<FileSystemError>& unreadableFolders() const { return unreadable_; }

 private:
  ScanObserver* observer_;
  FileSystemFactory fileSystemFactory_;
  char separator_;
  PathQueueRef queue_;
  bool goOnPastUnreadable_ = false;
  std::vector<FileSystemError> unreadable_;
};

}  // namespace quillfen
