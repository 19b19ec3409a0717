#include "source/archive_names.h"

#include <algorithm>

namespace quillfen {
namespace {

// The length of path's archive extension (".tgz", ".tar.gz" or ".tar" in any
// letter case), 0 when it has none.
std::size_t ArchiveExtensionLength(std::string_view path) {
  for (std::string_view extension : {".tgz", ".tar.gz", ".tar"}) {
    if (path.size() < extension.size()) continue;
    const std::string_view tail = path.substr(path.size() - extension.size());
    if (std::equal(tail.begin(), tail.end(), extension.begin(),
                   [](char a, char b) { return (a >= 'A' && a <= 'Z' ? a - 'A' + 'a' : a) == b; }))
      return extension.size();
  }
  return 0;
}

}  // namespace

bool IsArchivePath(const std::string& path) {
  return ArchiveExtensionLength(path) != 0;
}

std::string ArchiveExtractionFolder(const std::string& archivePath) {
  // The mirror tree repeats this path below the destination, so it is made
  // absolute and "." and ".." are resolved by spelling, as for a folder.
  std::string path = archivePath.empty() ? archivePath : AbsolutePath(archivePath);
  path.resize(path.size() - ArchiveExtensionLength(path));
  return AddTrailingSeparator(path);
}

ArchiveEntryPath ParseArchiveEntryName(std::string_view name, PathStyle style) {
  ArchiveEntryPath result;
  if (!name.empty() && (name.front() == '/' || name.front() == '\\')) {
    result.problem = "the entry has an absolute name";
    return result;
  }

  std::string relative;
  std::size_t start = 0;
  while (start <= name.size()) {
    std::size_t end = name.find('/', start);
    if (end == std::string_view::npos) end = name.size();
    const std::string_view component = name.substr(start, end - start);
    start = end + 1;
    if (component.empty() || component == ".") continue;
    if (component == "..") {
      result.problem = "the entry's name leads out of its folder (\"..\")";
      return result;
    }
    // Where the separator is not "/", a backslash or a drive colon inside a
    // component would let the name climb or jump out once joined.
    if (style.separator != '/' && (component.find(style.separator) != std::string_view::npos ||
                                   component.find(':') != std::string_view::npos)) {
      result.problem = "the entry's name holds a separator or drive this system does not allow";
      return result;
    }
    if (!relative.empty()) relative += style.separator;
    relative.append(component);
  }
  result.relative = std::move(relative);
  return result;
}

}  // namespace quillfen
