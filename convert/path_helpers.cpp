#include "convert/path_helpers.h"

#include <filesystem>
#include <stdexcept>
#include <system_error>

namespace quillfen {

std::string ExtractFileName(std::string_view path, PathStyle style) {
  if (path.empty()) throw std::out_of_range("empty path has no file name");
  const auto last = path.rfind(style.separator);
  if (last == std::string_view::npos) return std::string(path);
  return std::string(path.substr(last + 1));
}

std::string ExtractParentPath(std::string_view path, PathStyle style) {
  const std::string name = ExtractFileName(path, style);
  return std::string(path.substr(0, path.size() - name.size()));
}

std::string AddTrailingSeparator(std::string path, PathStyle style) {
  if (path.empty() || path.back() != style.separator) path += style.separator;
  return path;
}

bool EnsureDirectory(const std::string& path, PathStyle style) noexcept {
  try {
    const std::filesystem::path folder(AddTrailingSeparator(path, style));
    std::error_code ec;
    // The conversion asks for every message, and the folder is almost always
    // there already: one look-up answers that case.
    if (std::filesystem::is_directory(folder, ec)) return true;
    std::filesystem::create_directories(folder, ec);
    // create_directories reports an error for some paths that exist already
    // (a trailing separator on some libraries), so the answer is whether the
    // folder is there now.
    return std::filesystem::is_directory(folder, ec);
  } catch (...) {
    return false;
  }
}

}  // namespace quillfen
