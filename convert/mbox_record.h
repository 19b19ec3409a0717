#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "convert/message_readers.h"
#include "convert/path_helpers.h"

namespace quillfen {

// One converted message: the From separator line (no line end) and the
// message's whole text, byte for byte as the .eml file holds it.
struct MboxRecord {
  std::string fromLine;
  std::string text;
};

using YieldFunction = std::function<void()>;

// Tells whether a folder exists in the source tree; used for batch folders.
using FolderExistsFunction = std::function<bool(const std::string& folder)>;

// The folder below destinationRoot that mirrors sourceFile's folder: the
// source folder without its root prefix, appended to destinationRoot. A
// batch folder "<name>!N" maps to its sibling "<name>" when folderExists says
// that sibling is there. Throws MessageFailure when no mirror can be derived.
std::string MirrorFolderFor(const std::string& sourceFile, const std::string& destinationRoot,
                            PathStyle style = PathStyle::Native(),
                            const FolderExistsFunction& folderExists = {});

// mirrorFolder + its own last name + ".mbox". Throws MessageFailure when
// mirrorFolder is empty or has no name.
std::string MboxFileFor(const std::string& mirrorFolder, PathStyle style = PathStyle::Native());

// "From " + sender + " " + date as "ddd mmm dd hh:mm:ss yyyy", English names.
std::string FormatFromLine(const std::string& sender, const MessageDateTime& date);

// Reads sourceFile through the readers held in state, in the reader call
// order, yielding once after the MessageReader is released. Throws
// MessageFailure; nothing is written in any case.
MboxRecord ReadMessageRecord(const std::string& sourceFile, ReaderState& state,
                             const YieldFunction& yield);

// Appends record to mboxFile (created when missing) in one write: From line,
// CR LF, the text with mboxrd quoting, CR LF. Yields once after opening.
// Throws MessageFailure; on a failed write the file is cut back to its
// length before the record, so it always ends at a record boundary.
void AppendMboxRecord(const std::string& mboxFile, const MboxRecord& record,
                      const YieldFunction& yield);

}  // namespace quillfen
