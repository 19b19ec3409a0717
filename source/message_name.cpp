#include "source/message_name.h"

namespace quillfen {

bool IsMessageName(std::string_view name) {
  // Only the space character counts as padding here; tabs and other white
  // space are part of the name.
  const auto last = name.find_last_not_of(' ');
  if (last == std::string_view::npos) return false;
  const std::string_view trimmed = name.substr(0, last + 1);
  constexpr std::string_view kSuffix = ".eml";
  if (trimmed.size() < kSuffix.size()) return false;
  const std::string_view tail = trimmed.substr(trimmed.size() - kSuffix.size());
  for (std::size_t i = 0; i < kSuffix.size(); ++i) {
    char c = tail[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != kSuffix[i]) return false;
  }
  return true;
}

}  // namespace quillfen
