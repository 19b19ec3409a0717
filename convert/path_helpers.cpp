#include "convert/path_helpers.h"

#include <filesystem>
#include <stdexcept>
#include <system_error>

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace quillfen {

// On POSIX systems a plain stat saves building a std::filesystem::path for
// every look-up.
bool IsFolder(const std::string& path) noexcept {
#ifdef _WIN32
  std::error_code ec;
  return std::filesystem::is_directory(std::filesystem::path(path), ec);
#else
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
#endif
}

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
    const std::string folder = AddTrailingSeparator(path, style);
    // The conversion asks for every message, and the folder is almost always
    // there already: one look-up answers that case.
    if (IsFolder(folder)) return true;
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(folder), ec);
    // create_directories reports an error for some paths that exist already
    // (a trailing separator on some libraries), so the answer is whether the
    // folder is there now.
    return IsFolder(folder);
  } catch (...) {
    return false;
  }
}

bool MirrorLandsInsideSource(const std::string& sourceFolder, const std::string& destination) {
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::path source = fs::weakly_canonical(fs::path(sourceFolder), ec);
  if (ec) source = fs::path(sourceFolder).lexically_normal();
  fs::path target = fs::weakly_canonical(fs::path(destination), ec);
  if (ec) target = fs::path(destination).lexically_normal();
  const fs::path mirror = (target / source.relative_path()).lexically_normal();
  auto inSource = source.begin();
  auto inMirror = mirror.begin();
  for (; inSource != source.end(); ++inSource, ++inMirror) {
    if (inSource->empty()) continue;  // the empty last part of a trailing separator
    if (inMirror == mirror.end() || *inSource != *inMirror) return false;
  }
  return true;
}

}  // namespace quillfen
