#pragma once

#include <cstdint>
#include <ctime>
#include <optional>

namespace quillfen::os {

// The calendar time in the system's own time zone of seconds since
// 1970-01-01 UTC; nothing when the system cannot express that time.
std::optional<std::tm> LocalTime(std::int64_t seconds);

}  // namespace quillfen::os
