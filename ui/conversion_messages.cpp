#include "ui/conversion_messages.h"

#include <QFileInfo>

#include "conversion/report_text.h"
#include "destination/mirror_paths.h"
#include "mbox/message_failure.h"
#include "os/paths.h"
#include "source/archive_names.h"
#include "source/export_archive.h"
#include "source/message_name.h"
#include "ui/window_texts.h"

namespace quillfen {
namespace {

QString Escaped(const std::string& text) {
  return FromCore(EscapedForReport(text));
}

// The folder below the destination that mirrors the source's top folder
// (an archive's stands for its extracted folder): the mailboxes are there
// and below it.
QString MailboxesFolder(const ConversionPlan& plan) {
  const std::string top =
      plan.archive ? ArchiveExtractionFolder(plan.source) : AddTrailingSeparator(plan.source);
  try {
    return FromCore(MirrorFolderFor(top + "message.eml", plan.destinationRoot));
  } catch (const MessageFailure&) {
    return FromCore(plan.destinationRoot);
  }
}

// The mailbox a failed message was meant for; empty when file names no
// message (a mailbox failed as a whole) or no mailbox can be told.
std::string MailboxOf(const std::string& file, const ConversionPlan& plan) {
  if (!IsMessageName(file)) return {};
  std::string path = file;
  if (plan.archive) {
    // The failures of an archive name its entries as it stores them.
    const ArchiveEntryPath entry = ParseArchiveEntryName(file);
    if (!entry.problem.empty() || entry.relative.empty()) return {};
    path = ArchiveExtractionFolder(plan.source) + entry.relative;
  }
  try {
    return MboxFileFor(MirrorFolderFor(path, plan.destinationRoot));
  } catch (const MessageFailure&) {
    return {};
  }
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
    const std::string mailbox = MailboxOf(failure.file, report.plan);
    if (!mailbox.empty()) details += QStringLiteral(" (mailbox ") + Escaped(mailbox) + ')';
  }
  for (const std::string& mailbox : report.shortenedMailboxes) {
    newLine();
    details += Escaped(mailbox) + QStringLiteral(": name shortened to fit the file system's limit");
  }
  for (const ConversionReport::Renamed& renamed : report.renamedMailboxes) {
    newLine();
    details += QStringLiteral("Mailbox renamed to stay apart on a Mac: ") +
               Escaped(renamed.mailbox) + QStringLiteral(" (for ") + Escaped(renamed.wanted) + ')';
  }
  for (const ConversionReport::SetAside& tail : report.setAside) {
    newLine();
    details += QStringLiteral("Set aside: the torn end an interrupted conversion left in ") +
               Escaped(tail.mailbox) + QStringLiteral(" (%1 bytes), kept in ").arg(tail.bytes) +
               Escaped(tail.keptAs);
  }
  return details;
}

}  // namespace

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

FinishedMessage FinishedMessageFor(const ConversionReport& report,
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
                    .arg(plan.messages);
    else
      request.text += QStringLiteral(" Of the %1 messages found, %2 could not be converted.")
                          .arg(plan.messages)
                          .arg(report.failures.size());
    request.text += QStringLiteral(
        " Once they can be read, choosing the source again and converting into the same folder "
        "adds the messages that are missing.");
  } else if (report.failures.empty()) {
    request.icon = QMessageBox::Information;
    request.text = QStringLiteral(
        "Your data has been successfully exported to .mbox format (Compatible for Mac Mail).\n"
        "Move converted folders to Mac and import it into Apple Mac Mail by using the import "
        "option from File Menu.");
  } else {
    request.icon = QMessageBox::Warning;
    request.text = QStringLiteral("%1 of %2 messages could not be converted.")
                       .arg(report.failures.size())
                       .arg(plan.messages);
  }
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
  if (skipped > 0) request.text += QStringLiteral("\n\n") + SkippedSentence(skipped);
  // The mailboxes lie as deep below the destination as the source lies below
  // its root; the user is told the folder that holds them, and shown it.
  const QString folder = MailboxesFolder(plan);
  if (QFileInfo(folder).isDir()) {
    request.text += QStringLiteral("\n\nThe mailboxes are in this folder:\n") + folder;
    request.actionButton = QStringLiteral("Show Folder");
    message.mailboxesFolder = folder;
  }
  return message;
}

}  // namespace quillfen
