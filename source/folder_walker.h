#pragma once

#include <functional>
#include <memory>
#include <string>

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

  // observer may be null (no count text, no yields). Each walk lists folders
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
  // running count after each file queued, and yields before each folder, subfolder and file; what a
  // yield throws (a stop) ends the walk there and passes through.
  // - A root that is not an existing folder queues nothing.
  // - A folder that cannot be looked up or listed: throws FileSystemError
  //   (folder and reason); everything queued before stays queued.
  // - More files than a 32-bit count holds: throws std::overflow_error.
  // A folder reached a second time through a symbolic link (same device and
  // inode) is walked only under the first name met, so a link loop ends.
  void Walk(const std::string& root, std::shared_ptr<PathQueue> queue = nullptr);

  // The queue of the last walk; null before the first.
  const PathQueueRef& queue() const { return queue_; }

 private:
  ScanObserver* observer_;
  FileSystemFactory fileSystemFactory_;
  char separator_;
  PathQueueRef queue_;
};

}  // namespace quillfen
