#include "ui/window_texts.h"

#include <QLocale>
#include <QStringList>

#include "conversion/report_text.h"

namespace quillfen {

QString Number(std::int64_t number) {
  return QLocale().toString(static_cast<qlonglong>(number));
}

QString CountCaption(std::int32_t messages) {
  return Number(messages) + QStringLiteral(" Files(s) Queued For Conversion");
}

QString SkippedSentence(std::int32_t meta, std::int32_t other) {
  QStringList kinds;
  if (meta == 1)
    kinds << QStringLiteral("1 .meta file (message details)");
  else if (meta > 1)
    kinds << QStringLiteral("%1 .meta files (message details)").arg(Number(meta));
  const QString others = QStringLiteral("other ");
  if (other == 1)
    kinds << QStringLiteral("1 ") + others + QStringLiteral("file");
  else if (other > 1)
    kinds << QStringLiteral("%1 %2files").arg(Number(other), others);
  if (kinds.isEmpty()) return {};
  return kinds.join(QStringLiteral(" and ")) +
         (meta + other == 1
              ? QStringLiteral(" is not a message (.eml file), so it is skipped.")
              : QStringLiteral(" are not messages (.eml files), so they are skipped."));
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
