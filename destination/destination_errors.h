#pragma once

#include <stdexcept>
#include <string>

#include "os/status.h"

namespace quillfen {

// Another conversion is writing into the destination right now.
class DestinationBusy : public std::runtime_error {
 public:
  explicit DestinationBusy(const std::string& destination)
      : std::runtime_error("another conversion is writing into " + destination) {}
};

// The destination cannot be used: its folder, or the small hidden folder
// that holds the lock and the index, cannot be made, read or written, or a
// mailbox cannot be cut back or read. what() names the path and the
// system's reason. Thrown while a conversion runs, it ends that conversion:
// what the destination holds could no longer be told truthfully.
class DestinationError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The reason a path below the destination could not be used, naming it
// when it is a link that was left alone.
inline std::string ReasonBelow(const std::string& path, const os::Status& status) {
  if (status.failure() == os::Failure::Link)
    return path + " is " + status.reason() + "; it was left alone";
  return status.reason();
}

}  // namespace quillfen
