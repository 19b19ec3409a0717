#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

// Every change the file calls make to a file or folder, told to an observer
// that a test installs: a crash can be simulated at any point of a run from
// what was told. The programs install none, and each call then costs one
// load of a pointer.
namespace quillfen::os {

struct Change {
  enum class Kind {
    MakeFolder,   // path and the folders above it exist now
    Create,       // path was created, empty
    Append,       // bytes were appended to path
    CutBack,      // path was cut back to length bytes
    Remove,       // path was removed
    Flush,        // path's data is on the disk
    FlushFolder,  // the names in the folder path are on the disk
    FlushAll,     // everything written to the file system is on the disk
  };
  Kind kind = Kind::Append;
  std::string_view path;
  std::span<const std::string_view> bytes;
  std::int64_t length = 0;
};

class ChangeObserver {
 public:
  virtual ~ChangeObserver() = default;
  // Called on the thread that made the change, right after it was made.
  virtual void Changed(const Change& change) = 0;
};

// Installs observer (null to remove it). Only one at a time.
void ObserveChanges(ChangeObserver* observer);

namespace observed {
// Whether an observer is installed.
bool Watching();
// Tells the observer of a change, if there is one.
void Tell(Change::Kind kind, std::string_view path, std::int64_t length = 0,
          std::span<const std::string_view> bytes = {});
}  // namespace observed

}  // namespace quillfen::os
