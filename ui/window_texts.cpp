#include "ui/window_texts.h"

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

}  // namespace quillfen
