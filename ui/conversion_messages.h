#pragma once

#include <QString>
#include <vector>

#include "conversion/conversion.h"
#include "source/file_system.h"
#include "ui/shell_services.h"

namespace quillfen {

// The warning that a conversion which was refused or broke off ends with:
// what went wrong and what it means for the user. Empty for the endings
// that say nothing more (nothing to do, cancelled, stopped) and for a
// finished conversion, which FinishedMessage words.
QString EndingWarning(const ConversionReport& report);

// The line the window's status shows once a conversion has ended: what was
// done ("Done: 5 messages added."), or why nothing was ("Nothing converted:
// this folder already holds all 381 of these messages.").
QString OutcomeLine(const ConversionReport& report);

// The message a finished conversion ends with.
struct FinishedMessage {
  MessageBoxRequest request;
  // The folder below the destination that holds the mailboxes; empty when
  // no such folder exists. The request then offers no Show Folder button.
  QString mailboxesFolder;
};

// Says that the messages were converted, or how many failed, or that the
// disk is full, with the numbers (added, held before, failed, mailboxes,
// renamed ones; each failure, shortened and renamed mailbox on a line of the
// details), what was skipped (metaFiles of it .meta files), and where the
// mailboxes are. unreadable holds the folders the
// scan of the source could not read: their messages were never queued, so
// the conversion is said to be partial (each folder on a line of the
// details), never to have succeeded.
FinishedMessage FinishedMessageFor(const ConversionReport& report, std::int32_t metaFiles,
                                   const std::vector<FileSystemError>& unreadable = {});

}  // namespace quillfen
