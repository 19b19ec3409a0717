#include "source/archive_entry_names.h"

namespace quillfen {

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
