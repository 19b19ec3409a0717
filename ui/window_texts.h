#pragma once

#include <QString>
#include <cstdint>
#include <string>
#include <vector>

#include "source/file_system.h"

namespace quillfen {

// The title of every message box, and the name at the top of the window.
inline const QString kAppTitle = QStringLiteral("Quillfen");
// The first step's command, and the title of the chooser it opens.
inline const QString kChooseSourceTitle = QStringLiteral("Choose Zimbra Mail Folder...");
// What the status and progress lines read before a conversion reports:
// nothing, as nothing runs.
inline const QString kStatusAtRest;
inline const QString kProgressAtRest;

// Paths and texts cross to and from the core as UTF-8, which the core's
// file calls expect on every platform (the platform's own file-name
// encoding would be an ANSI code page on Windows).
inline QString FromCore(const std::string& text) {
  return QString::fromStdString(text);
}
inline std::string ToCore(const QString& text) {
  return text.toStdString();
}

// number with the user's locale's group separators ("100,000").
QString Number(std::int64_t number);

// "N Files(s) Queued For Conversion", N counting messages: the running
// count and the count after a scan.
QString CountCaption(std::int32_t messages);

// Why the other files of a source are not converted, once counted: meta
// are the .meta files (the export's details of each message and folder),
// other the rest.
QString SkippedSentence(std::int32_t meta, std::int32_t other);

// "1 folder" or "N folders".
QString FoldersCount(std::size_t folders);

// One line per folder a scan could not read, with the reason, for a message
// box's details. A name may hold a line feed; escaped, one line is always
// one folder.
QString UnreadableFolderLines(const std::vector<FileSystemError>& unreadable);

}  // namespace quillfen
