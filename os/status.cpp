#include "os/status.h"

#include <system_error>

namespace quillfen::os {

std::string ErrnoReason(int error) {
  // The generic category's text is strerror's, taken through strerror_r.
  return std::generic_category().message(error);
}

}  // namespace quillfen::os
