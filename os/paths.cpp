#include "os/paths.h"

#include <filesystem>
#include <stdexcept>
#include <system_error>

#include "os/folders.h"

namespace quillfen {
namespace {

// A std::filesystem path from a UTF-8 one: the plain string constructor
// would take the bytes in the system's code page on Windows.
std::filesystem::path Utf8Path(const std::string& path) {
  return std::filesystem::path(std::u8string(path.begin(), path.end()));
}

// The UTF-8 bytes of a std::filesystem path.
std::string Utf8String(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

}  // namespace

std::string AbsolutePath(const std::string& path) {
  std::error_code ec;
  const std::filesystem::path absolute = std::filesystem::absolute(Utf8Path(path), ec);
  return Utf8String((ec ? Utf8Path(path) : absolute).lexically_normal());
}

bool IsFolder(const std::string& path) noexcept {
  return os::IsFolder(path);
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

std::string WithoutTrailingSeparators(std::string path, PathStyle style) {
  while (path.size() > 1 && path.back() == style.separator) path.pop_back();
  return path;
}

bool MirrorLandsInsideSource(const std::string& sourceFolder, const std::string& destination) {
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::path source = fs::weakly_canonical(Utf8Path(sourceFolder), ec);
  if (ec) source = Utf8Path(sourceFolder).lexically_normal();
  fs::path target = fs::weakly_canonical(Utf8Path(destination), ec);
  if (ec) target = Utf8Path(destination).lexically_normal();
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
