#pragma once

#include <optional>
#include <string>

namespace quillfen::os {

// UTF-8 to UTF-16 and back; nothing when text is not valid in its encoding.
std::optional<std::wstring> Utf8ToWide(const std::string& text);
std::string WideToUtf8(const std::wstring& text);

// The path as Windows' wide calls take it without their old limits: the
// "\\?\" form of the absolute path, so that a path may be longer than 260
// characters and a name may end in a space or a dot. "/" counts as a
// separator; "." and ".." are resolved here, as the "\\?\" form leaves
// them alone. Nothing when path is empty or not valid UTF-8.
std::optional<std::wstring> LongPath(const std::string& path);

}  // namespace quillfen::os
