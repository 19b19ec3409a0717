#pragma once

#include <string>
#include <utility>
#include <vector>

namespace quillfen::os {

// The kind of failure a system call met, for the few callers that act on the
// kind; every other caller passes the reason on to the user.
enum class Failure {
  None,
  NotFound,        // the file or folder is not there
  NotRegularFile,  // a folder, pipe, device or socket where a file was wanted
  LockHeld,        // another open file holds the lock
  NoSpace,         // the disk or the user's quota is full
  Link,            // a link (symbolic, or a second name of a file) where none may be
  Other,
};

// The outcome of one call into the operating system: success, or the kind of
// failure and the system's own reason text (UTF-8), such as "No space left on
// device".
class [[nodiscard]] Status {
 public:
  Status() = default;
  Status(Failure failure, std::string reason) : failure_(failure), reason_(std::move(reason)) {}

  bool ok() const { return failure_ == Failure::None; }
  Failure failure() const { return failure_; }
  const std::string& reason() const { return reason_; }

 private:
  Failure failure_ = Failure::None;
  std::string reason_;
};

// The C library's reason text for the errno value error, such as "No such
// file or directory", taken in a thread-safe way: strerror is not.
std::string ErrnoReason(int error);

// The system's reason texts for a full disk, a full quota and a file grown
// to its size limit (Failure::NoSpace), as failures carry them: a front end
// that only has a failure's text tells the user to free space by these.
const std::vector<std::string>& NoSpaceReasons();

}  // namespace quillfen::os
