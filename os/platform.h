#pragma once

namespace quillfen::os {

// Whether this build runs on Windows, for the few choices above this layer
// that depend on it, such as how paths are spelled.
#ifdef _WIN32
inline constexpr bool kWindows = true;
#else
inline constexpr bool kWindows = false;
#endif

}  // namespace quillfen::os
