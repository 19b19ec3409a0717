#include "destination/destination_lock.h"

#include "destination/destination_errors.h"
#include "os/folders.h"
#include "os/paths.h"
#include "os/platform.h"

namespace quillfen {

std::string InHiddenFolder(const char* name) {
  return kHiddenFolder + std::string(1, PathStyle::Native().separator) + name;
}

DestinationLock::DestinationLock(const std::string& root) {
  if (const os::Status made = os::CreateFolders(root); !made.ok())
    throw DestinationError("cannot create the destination folder " + root + ": " + made.reason());
  // The hidden folder is reached without following a link, as every path
  // below the destination: a link planted there must not aim the lock and
  // the index elsewhere.
  if (const os::Status made = os::CreateFoldersBelow(root, kHiddenFolder); !made.ok())
    throw DestinationError("cannot write into the destination folder " + root + ": " +
                           ReasonBelow(root + kHiddenFolder, made));
  if constexpr (!os::kWindows) {
    // The destination folder itself is locked: the lock holds even when the
    // hidden folder is deleted during a run, where a second conversion
    // would otherwise make a new one and lock a file in that.
    if (const os::Status opened = folder_.Open(root); !opened.ok())
      throw DestinationError("cannot open the destination folder " + root + ": " + opened.reason());
    if (const os::Status locked = folder_.LockExclusively(); !locked.ok()) {
      folder_.Close();
      if (locked.failure() == os::Failure::LockHeld) throw DestinationBusy(root);
      throw DestinationError("cannot lock the destination folder " + root + ": " + locked.reason());
    }
    return;
  }
  // A folder cannot be locked on Windows; a file in the hidden folder is,
  // and while it is open the hidden folder cannot be deleted.
  const std::string lock = InHiddenFolder("lock");
  if (const os::Status opened = file_.OpenForAppendingBelow(root, lock); !opened.ok())
    throw DestinationError("cannot write into the destination folder " + root + ": " +
                           ReasonBelow(root + lock, opened));
  if (const os::Status locked = file_.LockExclusively(); !locked.ok()) {
    (void)file_.Close();
    if (locked.failure() == os::Failure::LockHeld) throw DestinationBusy(root);
    throw DestinationError("cannot lock the destination folder " + root + ": " + locked.reason());
  }
}

}  // namespace quillfen
