#include "os/local_time.h"

namespace quillfen::os {

std::optional<std::tm> LocalTime(std::int64_t seconds) {
  const std::time_t value = static_cast<std::time_t>(seconds);
  std::tm local{};
  if (::localtime_r(&value, &local) == nullptr) return std::nullopt;
  return local;
}

}  // namespace quillfen::os
