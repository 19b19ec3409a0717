#pragma once

#include <string_view>

namespace quillfen {

// The message filter: true when name, in lower case and without leading and
// trailing spaces (U+0020 only), ends with ".eml". Only ASCII letters are
// folded, so bytes of a multi-byte name never make a false match.
bool IsMessageName(std::string_view name);

}  // namespace quillfen
