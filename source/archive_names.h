#pragma once

#include <string>
#include <string_view>

#include "os/paths.h"

namespace quillfen {

// True when path names an export archive: its name ends with ".tgz",
// ".tar.gz" or ".tar" in any mix of letter case.
bool IsArchivePath(const std::string& path);

// The folder an archive stands for: its path without the archive extension,
// ending with the separator ("/a/b/export.tgz" gives "/a/b/export/"). A
// relative path is made absolute first, as a scanned folder's names are.
std::string ArchiveExtractionFolder(const std::string& archivePath);

// An archive entry's name turned into a path below the folder the archive
// stands for. problem is empty when the name is safe to use; otherwise it
// says why the entry must not be written anywhere, and relative is empty.
struct ArchiveEntryPath {
  // The name's components joined with the style's separator, with empty and
  // "." components left out: "./Inbox//1.eml" gives "Inbox/1.eml". Empty for
  // the archive's top folder itself.
  std::string relative;
  std::string problem;
};

// Refuses absolute names and names with a ".." component, which would reach
// outside the extraction folder, and on a platform whose separator is not "/"
// also components that hold that separator or a drive colon.
ArchiveEntryPath ParseArchiveEntryName(std::string_view name,
                                       PathStyle style = PathStyle::Native());

}  // namespace quillfen
