#pragma once

#include <string>

#include "os/paths.h"

namespace quillfen {

// The folder below destinationRoot that mirrors sourceFile's folder: the
// source folder without its root prefix, appended to destinationRoot. A
// batch folder "<name>!N" (N a positive decimal number without a leading
// zero) maps to its sibling "<name>" when folderExists says that sibling is
// there; an empty folderExists asks the file system. Throws MessageFailure
// when no mirror can be derived: an empty file name or destination root, or
// a file name without a folder.
std::string MirrorFolderFor(const std::string& sourceFile, const std::string& destinationRoot,
                            PathStyle style = PathStyle::Native(),
                            const FolderExistsFunction& folderExists = {});

// mirrorFolder + its own last name + ".mbox". When that file name would pass
// 255 bytes (a folder name of 251 bytes or more), the name before ".mbox" is
// cut to at most 250 bytes, at the start of a UTF-8 character, so that the
// mailbox can still be created; the mirror folder itself keeps its full name.
// Throws MessageFailure when mirrorFolder is empty or has no name.
std::string MboxFileFor(const std::string& mirrorFolder, PathStyle style = PathStyle::Native());

}  // namespace quillfen
