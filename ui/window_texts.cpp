#include "ui/window_texts.h"

#include "conversion/report_text.h"

namespace quillfen {

QString CountCaption(std::int32_t files) {
  return QString::number(files) + QStringLiteral(" Files(s) Queued For Conversion");
}

QString SkippedSentence(std::int32_t skipped) {
  if (skipped == 1)
    return QStringLiteral("1 other file is skipped: it is not a message (.eml file).");
  return QStringLiteral("%1 other files are skipped: they are not messages (.eml files).")
      .arg(skipped);
}

QString FoldersCount(std::size_t folders) {
  return folders == 1 ? QStringLiteral("1 folder") : QStringLiteral("%1 folders").arg(folders);
}

QString UnreadableFolderLines(const std::vector<FileSystemError>& unreadable) {
  QString lines;
  for (const FileSystemError& folder : unreadable) {
    if (!lines.isEmpty()) lines += QLatin1Char('\n');
    lines += QStringLiteral("Folder not read: ") + FromCore(EscapedForReport(folder.folder())) +
             QStringLiteral(": ") + FromCore(EscapedForReport(folder.reason()));
  }
  return lines;
}

}  // namespace quillfen
