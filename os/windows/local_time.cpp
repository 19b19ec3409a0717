#include "os/local_time.h"

namespace quillfen::os {

std::optional<std::tm> LocalTime(std::int64_t seconds) {
  const __time64_t value = static_cast<__time64_t>(seconds);
  std::tm local{};
  // The 64-bit form, so that dates after 2038 work whatever time_t is.
  if (::_localtime64_s(&local, &value) != 0) return std::nullopt;
  return local;
}

}  // namespace quillfen::os
