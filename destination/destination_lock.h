#pragma once

#include <string>

#include "os/file.h"

namespace quillfen {

// The hidden folder below the destination that holds the lock and the index.
inline constexpr const char* kHiddenFolder = ".quillfen";

// The path of name in the hidden folder, relative to the destination.
std::string InHiddenFolder(const char* name);

// The destination held by one conversion: the destination folder itself is
// locked while this object lives (on Windows, which cannot lock a folder, a
// file in the hidden folder). The folder's lock holds when the hidden folder
// is deleted during a run. The system gives the lock up when the process
// ends, however it ends, so a killed conversion never leaves the
// destination locked.
class DestinationLock {
 public:
  // Creates root (ending with the separator) and its hidden folder when
  // missing, and takes the lock. Throws DestinationBusy while another
  // conversion holds it, DestinationError when the folders cannot be made
  // or written.
  explicit DestinationLock(const std::string& root);

 private:
  os::Folder folder_;
  os::File file_;
};

}  // namespace quillfen
