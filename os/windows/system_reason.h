#pragma once

#include <string>

#include "os/status.h"

namespace quillfen::os {

// The failure for a Windows error code (GetLastError), with the system's
// own reason text in UTF-8.
Status SystemFailure(unsigned long error);
// The failure of a path that cannot be given to the system at all.
Status InvalidPath();

}  // namespace quillfen::os
