#include "os/posix/system_reason.h"

#include <cerrno>
#include <system_error>

namespace quillfen::os {

Status SystemFailure(int error) {
  Failure failure = Failure::Other;
  if (error == ENOENT) failure = Failure::NotFound;
  if (error == ENOSPC || error == EDQUOT || error == EFBIG) failure = Failure::NoSpace;
  if (error == EWOULDBLOCK) failure = Failure::LockHeld;
  // The system category's text is strerror's, taken in a thread-safe way.
  return Status(failure, std::system_category().message(error));
}

const std::vector<std::string>& NoSpaceReasons() {
  static const std::vector<std::string> reasons = {SystemFailure(ENOSPC).reason(),
                                                   SystemFailure(EDQUOT).reason(),
                                                   SystemFailure(EFBIG).reason()};
  return reasons;
}

}  // namespace quillfen::os
