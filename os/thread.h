#pragma once

#include <functional>
#include <thread>

namespace quillfen::os {

// Starts a thread that runs work. Throws std::system_error when the system
// cannot start one, or when a test planted that failure: a caller that can
// do without the thread then does the work itself.
std::thread StartThread(std::function<void()> work);

}  // namespace quillfen::os
