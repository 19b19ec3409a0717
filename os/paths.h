#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include "os/platform.h"

namespace quillfen {

// How paths are spelled: the one separator character, and how many leading
// characters form the root prefix that a mirror folder drops ("C:\" on
// Windows, the leading "/" elsewhere). The helpers are pure string functions
// over a style, so Windows-style paths can be checked on any platform.
struct PathStyle {
  char separator;
  std::size_t rootPrefixLength;

  static constexpr PathStyle Windows() { return {'\\', 3}; }
  static constexpr PathStyle Posix() { return {'/', 1}; }
  static constexpr PathStyle Native() { return os::kWindows ? Windows() : Posix(); }
};

// Tells whether a folder exists in the source tree; used for batch folders.
// The folder is given in the path style of the call, ending with its
// separator.
using FolderExistsFunction = std::function<bool(const std::string& folder)>;

// The text after the last separator of path; the whole path when it holds
// none; empty when path ends with a separator. Throws std::out_of_range for
// an empty path.
std::string ExtractFileName(std::string_view path, PathStyle style = PathStyle::Native());

// path up to and including its last separator; empty when it holds none.
// Throws std::out_of_range for an empty path.
std::string ExtractParentPath(std::string_view path, PathStyle style = PathStyle::Native());

// path with the separator appended unless it already ends with one; an empty
// path gives the separator alone.
std::string AddTrailingSeparator(std::string path, PathStyle style = PathStyle::Native());

// path without the separators it ends with, but a lone separator (the
// file-system root) stays.
std::string WithoutTrailingSeparators(std::string path, PathStyle style = PathStyle::Native());

// path made absolute against the current folder, with "." and ".."
// resolved by spelling alone (links are kept as named). When the current
// folder cannot be had, path resolved by spelling as it is.
std::string AbsolutePath(const std::string& path);

// Whether path names a folder, following symbolic links. Never throws.
bool IsFolder(const std::string& path) noexcept;

// Whether the mirror of the source folder below destination (the source's
// path without its root, appended to destination) lands inside the source
// folder itself: the mailboxes would then be written into the export, into
// files the user may keep there. Both are absolute paths; links are
// followed, as the writes would follow them.
bool MirrorLandsInsideSource(const std::string& sourceFolder, const std::string& destination);

}  // namespace quillfen
