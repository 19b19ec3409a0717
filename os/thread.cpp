#include "os/thread.h"

#include <system_error>
#include <utility>

#include "os/planted_faults.h"

namespace quillfen::os {

std::thread StartThread(std::function<void()> work) {
  if (planted::ThreadStartFault())
    throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again),
                            "cannot start a thread");
  return std::thread(std::move(work));
}

}  // namespace quillfen::os
