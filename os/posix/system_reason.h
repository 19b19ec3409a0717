#pragma once

#include <string>

#include "os/status.h"

namespace quillfen::os {

// The failure for errno value error, with the system's reason text.
Status SystemFailure(int error);

}  // namespace quillfen::os
