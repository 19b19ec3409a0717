#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "convert/message_readers.h"
#include "convert/path_helpers.h"

namespace quillfen {

using YieldFunction = std::function<void()>;

// Tells whether a folder exists in the source tree; used for batch folders.
// The folder is given in the path style of the call, ending with its
// separator.
using FolderExistsFunction = std::function<bool(const std::string& folder)>;

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

// "From " + sender + " " + date as "ddd mmm dd hh:mm:ss yyyy", English names.
// A date before 1970-01-01 00:00:00 or after 9999-12-31 23:59:59 is written
// as that nearest end of the range, so the year always has four digits.
std::string FormatFromLine(const std::string& sender, const MessageDateTime& date);

}  // namespace quillfen
