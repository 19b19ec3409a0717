#pragma once

#include <ostream>
#include <string>

namespace quillfen::cli {

// Exit statuses of quillfen-cli.
enum ExitStatus : int {
  kExitConverted = 0,      // every message was converted
  kExitSomeFailed = 1,     // the run finished, but some messages were not converted
  kExitCannotStart = 2,    // bad usage, a source that is no folder, a failed walk
  kExitInterrupted = 130,  // stopped by SIGINT, SIGTERM or SIGHUP between two messages
};

struct ConvertOptions {
  std::string source;       // the extracted export folder or the export archive, as given
  std::string destination;  // the destination root, as given; created when missing
  bool showProgress = false;
  bool again = false;  // convert a source that was converted already once more
};

// Converts the source, a folder or an export archive (.tgz, .tar.gz, .tar),
// into mailboxes below the destination. An archive converts as if it had
// been extracted beside itself (export.tgz into export/) and that folder
// given. The destination is held for the whole conversion; an interrupted
// conversion of the same source is resumed, and a finished one is not
// repeated unless options.again is set. The summary goes to out; the
// progress line and reasons why nothing could be done go to err. Returns the
// exit status.
int Convert(const ConvertOptions& options, std::ostream& out, std::ostream& err);

}  // namespace quillfen::cli
