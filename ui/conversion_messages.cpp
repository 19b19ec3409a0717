#include "ui/conversion_messages.h"

#include <QFileInfo>
#include <QStringList>
#include <algorithm>

#include "conversion/report_text.h"
#include "destination/mirror_paths.h"
#include "mbox/message_failure.h"
#include "os/paths.h"
#include "os/status.h"
#include "source/archive_names.h"
#include "ui/window_texts.h"

namespace quillfen {
namespace {

// Why a mailbox was renamed, in the words the CLI uses too.
const QString kRenamedText = QString::fromUtf8(kRenamedWhy.data(), kRenamedWhy.size());

QString Escaped(const std::string& text) {
  return FromCore(EscapedForReport(text));
}

// The folder that holds the mailboxes, as the report tells it.
QString MailboxesFolder(const ConversionReport& report) {
  return FromCore(report.mailboxesFolder.empty() ? report.plan.destinationRoot
                                                 : report.mailboxesFolder);
}

// The source folder a mirror folder below the destination stands for, as
// the user knows it: below the source folder, or in the archive. mirror is
// spelled as the folder was wanted, before any rename.
QString SourceFolderOf(const std::string& mirror, const ConversionPlan& plan) {
  const std::string source =
      plan.archive ? ArchiveExtractionFolder(plan.source) : AddTrailingSeparator(plan.source);
  std::string top;
  try {
    top = MirrorFolderFor(source + "message.eml", plan.destinationRoot);
  } catch (const MessageFailure&) {
    top = plan.destinationRoot;
  }
  if (mirror.size() < top.size() || mirror.compare(0, top.size(), top) != 0)
    return FromCore(EscapedForReport(mirror));
  const std::string relative = mirror.substr(top.size());
  if (plan.archive)
    return FromCore(EscapedForReport(relative)) + QStringLiteral(" in ") +
           FromCore(EscapedForReport(plan.source));
  return FromCore(EscapedForReport(source + relative));
}

// The last name of a folder path that ends with its separator, or of a
// file path.
std::string LastName(std::string path) {
  if (!path.empty() && path.back() == PathStyle::Native().separator) path.pop_back();
  return ExtractFileName(path);
}

// "work → work (2)", for the closing message.
QString RenameShort(const ConversionReport::Renamed& renamed) {
  return Escaped(LastName(renamed.wanted)) + QStringLiteral(" \u2192 ") +
         Escaped(LastName(ExtractParentPath(renamed.mailbox)));
}

// Whether reason tells of a full disk (or a quota or file size reached).
bool DiskFull(const std::string& reason) {
  for (const std::string& full : os::NoSpaceReasons())
    if (reason.find(full) != std::string::npos) return true;
  return false;
}

// The destination's reasons read as the middle of a sentence ("cannot
// write into the destination folder D: Permission denied"); in a message
// box they begin with a capital and end with a full stop, followed by what
// it means for the user.
QString DestinationWarning(const std::string& reason, const QString& advice) {
  QString text = FromCore(reason);
  if (!text.isEmpty()) text[0] = text[0].toUpper();
  if (!text.endsWith(QLatin1Char('.'))) text += QLatin1Char('.');
  return text + QStringLiteral("\n\nNothing was converted. ") + advice;
}

// One line of the details per failed message, shortened mailbox and
// renamed mailbox. A name may hold a line feed; escaped, one line is always
// one of them.
QString Details(const ConversionReport& report) {
  QString details;
  const auto newLine = [&details] {
    if (!details.isEmpty()) details += QLatin1Char('\n');
  };
  for (const FailedMessage& failure : report.failures) {
    newLine();
    details += Escaped(failure.file) + QStringLiteral(": ") + Escaped(failure.reason);
    if (!failure.mailbox.empty())
      details += QStringLiteral(" (mailbox ") + Escaped(failure.mailbox) + ')';
  }
  for (const std::string& mailbox : report.shortenedMailboxes) {
    newLine();
    details += Escaped(mailbox) + QStringLiteral(": name shortened to fit the file system's limit");
  }
  for (const ConversionReport::Renamed& renamed : report.renamedMailboxes) {
    newLine();
    // The source folder's name spelled out byte by byte where it is not
    // plain ASCII, so that two that look alike read apart.
    const std::string spelled = BytesSpelledOut(LastName(renamed.wanted));
    details += QStringLiteral("Mailbox renamed ") + kRenamedText + QStringLiteral(": ") +
               Escaped(renamed.mailbox) + QStringLiteral(" (for the folder ") +
               SourceFolderOf(renamed.wanted, report.plan) +
               (spelled.empty() ? QString() : QStringLiteral(", named ") + FromCore(spelled)) + ')';
  }
  for (const ConversionReport::SetAside& tail : report.setAside) {
    newLine();
    details += QStringLiteral("Set aside: the torn end an interrupted conversion left in ") +
               Escaped(tail.mailbox) + QStringLiteral(" (%1 bytes), kept in ").arg(tail.bytes) +
               Escaped(tail.keptAs);
  }
  return details;
}

// What a full disk means: how far the conversion got, and the way out.
QString DiskFullText(const ConversionReport& report) {
  return QStringLiteral(
             "The disk is full: %1 of %2 messages converted. Free some space or choose another "
             "folder, then convert again.")
      .arg(Number(report.converted), Number(report.plan.messages));
}

// The numbers of a finished conversion, one to a line: what it added, what
// the destination held already, what failed, the mailboxes written and
// those renamed to stay apart on a Mac (naming the first two).
QString Numbers(const ConversionReport& report) {
  const ConversionPlan& plan = report.plan;
  QStringList lines;
  if (report.decision == Decision::SecondCopy)
    lines << QStringLiteral("Messages added as a second copy: %1").arg(Number(report.added));
  else
    lines << QStringLiteral("Messages added: %1").arg(Number(report.added));
  if (plan.held > 0)
    lines << QStringLiteral("Already in this folder before: %1").arg(Number(plan.held));
  if (!report.failures.empty())
    lines << QStringLiteral("Not converted: %1")
                 .arg(Number(static_cast<std::int64_t>(report.failures.size())));
  lines << QStringLiteral("Mailboxes written: %1")
               .arg(Number(static_cast<std::int64_t>(report.mailboxes.size())));
  if (const std::size_t renamed = report.renamedMailboxes.size(); renamed > 0) {
    QStringList names;
    for (std::size_t at = 0; at < renamed && at < 2; ++at)
      names << RenameShort(report.renamedMailboxes[at]);
    if (renamed > 2) names << QStringLiteral("\u2026");
    lines << QStringLiteral("Renamed %1: %2 (%3)")
                 .arg(kRenamedText, Number(static_cast<std::int64_t>(renamed)),
                      names.join(QStringLiteral(", ")));
  }
  return lines.join(QLatin1Char('\n'));
}

}  // namespace

QString OutcomeLine(const ConversionReport& report) {
  const ConversionPlan& plan = report.plan;
  switch (report.ending) {
    case Ending::Finished:
      if (report.failures.empty())
        return QStringLiteral("Done: %1 messages added.").arg(Number(report.added));
      return QStringLiteral("Done: %1 messages added, %2 not converted.")
          .arg(Number(report.added), Number(static_cast<std::int64_t>(report.failures.size())));
    case Ending::NothingToDo:
      return QStringLiteral(
                 "Nothing converted: this folder already holds all %1 of these "
                 "messages.")
          .arg(Number(plan.messages));
    case Ending::Cancelled:
      if (plan.held > 0 && plan.messagesKnown)
        return QStringLiteral(
                   "Nothing converted: this folder already holds %1 of these %2 "
                   "messages.")
            .arg(Number(plan.held), Number(plan.messages));
      return QStringLiteral("Nothing converted.");
    case Ending::Stopped:
      return QStringLiteral("Stopped: %1 messages added.").arg(Number(report.added));
    case Ending::Refused:
    case Ending::SourceBroken:
      return QStringLiteral("Nothing converted.");
    case Ending::DestinationFailed:
      if (DiskFull(report.reason)) return DiskFullText(report);
      return QStringLiteral("Stopped: %1 messages added.").arg(Number(report.added));
  }
  return {};
}

QString EndingWarning(const ConversionReport& report) {
  switch (report.ending) {
    case Ending::Refused:
      if (report.refusal == Refusal::InsideSource)
        return QStringLiteral(
                   "The converted mailboxes would be written inside the folder being converted, "
                   "%1. Choose a destination folder outside it.")
            .arg(FromCore(report.plan.source));
      if (report.refusal == Refusal::DestinationBusy)
        return DestinationWarning(report.reason,
                                  QStringLiteral("Try again when the other conversion has ended."));
      return DestinationWarning(report.reason,
                                QStringLiteral("Choose a destination folder that can be written."));
    case Ending::SourceBroken:
      return QStringLiteral(
                 "The archive %1 could not be read to its end: %2. Nothing of this conversion was "
                 "kept.")
          .arg(FromCore(report.plan.source), FromCore(report.reason));
    case Ending::DestinationFailed:
      if (DiskFull(report.reason)) return DiskFullText(report);
      return QStringLiteral(
                 "The conversion stopped: %1. Converting again into the same folder adds the "
                 "messages that are missing.")
          .arg(FromCore(report.reason));
    case Ending::Finished:
    case Ending::NothingToDo:
    case Ending::Cancelled:
    case Ending::Stopped:
      break;
  }
  return {};
}

FinishedMessage FinishedMessageFor(const ConversionReport& report, std::int32_t metaFiles,
                                   const std::vector<FileSystemError>& unreadable) {
  const ConversionPlan& plan = report.plan;
  FinishedMessage message;
  MessageBoxRequest& request = message.request;
  request.title = kAppTitle;
  request.buttons = QMessageBox::Ok;
  request.defaultButton = QMessageBox::Ok;
  request.details = UnreadableFolderLines(unreadable);
  if (const QString details = Details(report); !details.isEmpty()) {
    if (!request.details.isEmpty()) request.details += QLatin1Char('\n');
    request.details += details;
  }
  const std::int32_t failed = static_cast<std::int32_t>(report.failures.size());
  const bool diskFull = std::any_of(report.failures.begin(), report.failures.end(),
                                    [](const FailedMessage& f) { return DiskFull(f.reason); });
  if (!unreadable.empty()) {
    // Every message that was queued may have gone in, but the mail of the
    // folders that could not be read is still missing.
    request.icon = QMessageBox::Warning;
    request.text = QStringLiteral(
                       "The conversion is partial: %1 of the source could not be read, so "
                       "the messages in %2 were not converted.")
                       .arg(FoldersCount(unreadable.size()),
                            unreadable.size() == 1 ? QStringLiteral("it") : QStringLiteral("them"));
    if (report.failures.empty())
      request.text +=
          plan.messages == 1
              ? QStringLiteral(" The 1 message found in the other folders was converted.")
              : QStringLiteral(" The %1 messages found in the other folders were converted.")
                    .arg(Number(plan.messages));
    else
      request.text += QStringLiteral(" Of the %1 messages found, %2 could not be converted.")
                          .arg(Number(plan.messages), Number(failed));
    request.text += QStringLiteral(
        " Once they can be read, choosing the source again and converting into the same folder "
        "adds the messages that are missing.");
  } else if (diskFull) {
    request.icon = QMessageBox::Warning;
    request.text = DiskFullText(report);
  } else if (report.failures.empty()) {
    request.icon = QMessageBox::Information;
    request.text = QStringLiteral("Your mail has been converted to .mbox format for Apple Mail.");
  } else {
    request.icon = QMessageBox::Warning;
    request.text = QStringLiteral(
                       "%1 of %2 messages could not be converted; the details list each "
                       "with the reason.")
                       .arg(Number(failed), Number(plan.messages));
  }
  request.text += QStringLiteral("\n\n") + Numbers(report);
  if (unreadable.empty() && !diskFull)
    request.text += QStringLiteral(
        "\n\nMove the converted folders to your Mac and import them into Apple Mail with "
        "File > Import Mailboxes\u2026 (Files in mbox format).");
  if (!report.setAside.empty())
    request.text +=
        QStringLiteral(
            "\n\nAn earlier conversion into this folder was interrupted and left %1 torn at the "
            "end; the torn bytes were moved into the hidden folder .quillfen/cut and those "
            "messages "
            "converted again (see the details).")
            .arg(report.setAside.size() == 1
                     ? QStringLiteral("one mailbox")
                     : QStringLiteral("%1 mailboxes").arg(report.setAside.size()));
  const std::int32_t skipped = plan.files - plan.messages;
  if (skipped > 0) {
    const std::int32_t meta = std::min(metaFiles, skipped);
    request.text += QStringLiteral("\n\n") + SkippedSentence(meta, skipped - meta);
  }
  // The mailboxes lie as deep below the destination as the source lies below
  // its root; the user is told the folder that holds them, and shown it.
  const QString folder = MailboxesFolder(report);
  if (QFileInfo(folder).isDir()) {
    request.text += QStringLiteral("\n\nThe mailboxes are in this folder:\n") + folder;
    request.actionButton = QStringLiteral("Show Folder");
    message.mailboxesFolder = folder;
  }
  return message;
}

}  // namespace quillfen
