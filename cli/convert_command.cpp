#include "cli/convert_command.h"

#include <stop_token>
#include <utility>

#include "cli/terminal_host.h"
#include "conversion/conversion.h"
#include "conversion/report_text.h"
#include "os/paths.h"

namespace quillfen::cli {

namespace {

// The paths as the user reads them: without a trailing separator.
std::string Shown(std::string path) {
  return WithoutTrailingSeparators(std::move(path));
}

// Shows the conversion on the terminal's progress line, tells what the
// destination holds, and turns Ctrl-C into a stop between two records.
class TerminalSink : public ConversionSink {
 public:
  TerminalSink(TerminalHost& host, std::ostream& out, std::string destination,
               std::stop_source& stop)
      : host_(host), out_(out), destination_(std::move(destination)), stop_(stop) {}

  void Scanning(std::int32_t files, std::int32_t messages) override {
    CheckStop();
    host_.Queued(files, messages);
  }
  void ReadingDestination(std::int32_t mailboxes) override {
    host_.FinishProgress();
    out_ << "Reading what " << destination_ << " already holds: " << mailboxes
         << (mailboxes == 1 ? " mailbox.\n" : " mailboxes.\n") << std::flush;
  }
  void Comparing(std::int32_t done, std::int32_t total) override {
    CheckStop();
    if (total > 0) host_.ShowConversion(done, total, "Comparing with the destination: ");
  }
  void Converting(const ConversionProgress& progress) override {
    CheckStop();
    // Counted are the messages this run writes, not those already held.
    if (progress.messagesTotal > 0)
      host_.ShowConversion(progress.fresh, progress.freshTotal);
    else
      host_.ShowConversionFraction(progress.fresh, progress.fraction);
  }

 private:
  // A signal only sets a flag; the stop is requested from here, on the
  // conversion's own thread.
  void CheckStop() {
    if (StopIsRequested()) stop_.request_stop();
  }

  TerminalHost& host_;
  std::ostream& out_;
  std::string destination_;
  std::stop_source& stop_;
};

void PrintSummary(const ConversionReport& report, std::ostream& out) {
  const ConversionPlan& plan = report.plan;
  out << "Messages converted: " << report.converted << " of "
      << (plan.messagesKnown ? "" : "the first ") << plan.messages
      << (plan.messagesKnown ? ""
          : plan.archive     ? " in the archive"
                             : " found")
      << '\n'
      << "Mailboxes written: " << report.mailboxes.size() << '\n'
      << "Destination: " << plan.destinationRoot << '\n';
  for (const std::string& mailbox : report.shortenedMailboxes)
    out << "Mailbox name shortened to fit: " << EscapedForReport(mailbox) << '\n';
  for (const ConversionReport::Renamed& renamed : report.renamedMailboxes)
    out << "Mailbox renamed " << kRenamedWhy << ": " << EscapedForReport(renamed.mailbox)
        << " (for " << EscapedForReport(renamed.wanted) << ")\n";
  for (const ConversionReport::SetAside& tail : report.setAside)
    out << "Set aside: the torn end an interrupted conversion left in "
        << EscapedForReport(tail.mailbox) << " (" << tail.bytes << " bytes), kept in "
        << EscapedForReport(tail.keptAs) << '\n';
  // A name may hold a line feed; escaped, one line is always one message.
  for (const FailedMessage& failure : report.failures)
    out << "Not converted: " << EscapedForReport(failure.file) << ": "
        << EscapedForReport(failure.reason) << '\n';
  out.flush();
}

}  // namespace

int Convert(const ConvertOptions& options, std::ostream& out, std::ostream& err) {
  // An empty DEST (an unset variable in a script, most often) names no
  // folder; taken as a path, it would put the mailboxes in a place the user
  // never chose.
  if (options.destination.empty()) {
    err << "quillfen-cli: DEST is empty; name the destination folder (\".\" for the current "
           "folder)\n";
    return kExitCannotStart;
  }
  ConversionRequest request;
  // Relative paths are taken from the working folder. The mirror tree
  // repeats the source path below the destination, so "." and ".." are
  // resolved by spelling alone (links are kept as the user named them).
  request.source = AbsolutePath(options.source);
  request.destination = AbsolutePath(options.destination);
  const std::string source = Shown(request.source);
  const std::string destination = Shown(request.destination);

  TerminalHost host(err, options.showProgress);
  std::stop_source stop;
  TerminalSink sink(host, out, destination, stop);
  const auto decide = [&](const ConversionPlan& plan) {
    host.FinishProgress();
    if (options.again) return Decision::SecondCopy;
    if (plan.held == 0) return Decision::ConvertMissing;
    if (plan.messagesKnown && plan.held >= plan.messages) {
      out << destination << " already holds all " << plan.messages << " messages of " << source
          << "; nothing to do (use --again to add a second copy).\n";
      return Decision::Cancel;
    }
    out << destination << " already holds " << plan.held << " of these " << plan.messages
        << " messages; converting the other " << plan.messages - plan.held << ".\n";
    return Decision::ConvertMissing;
  };
  const ConversionReport report = quillfen::Convert(request, decide, sink, stop.get_token());
  host.FinishProgress();

  switch (report.ending) {
    case Ending::Refused:
      if (report.refusal == Refusal::DestinationBusy)
        err << "quillfen-cli: another conversion is writing into " << destination << '\n';
      else
        err << "quillfen-cli: " << report.reason << '\n';
      return kExitCannotStart;
    case Ending::NothingToDo:
    case Ending::Cancelled:
      return kExitConverted;
    case Ending::SourceBroken:
      err << "quillfen-cli: cannot read the archive " << source << ": " << report.reason
          << (report.began ? "; nothing of this conversion was kept\n"
                           : "; nothing was converted\n");
      return kExitSomeFailed;
    case Ending::DestinationFailed:
      if (!report.began) {
        err << "quillfen-cli: " << report.reason << '\n';
        return kExitCannotStart;
      }
      PrintSummary(report, out);
      err << "quillfen-cli: " << report.reason << "; the conversion stopped\n";
      return kExitSomeFailed;
    case Ending::Stopped:
      if (!report.began) {
        err << "quillfen-cli: interrupted; nothing was converted\n";
        return kExitInterrupted;
      }
      PrintSummary(report, out);
      err << "quillfen-cli: interrupted; every mailbox ends with a whole message, and converting "
             "again into the same destination adds the messages that are missing\n";
      return kExitInterrupted;
    case Ending::Finished:
      break;
  }
  PrintSummary(report, out);
  return report.failures.empty() ? kExitConverted : kExitSomeFailed;
}

}  // namespace quillfen::cli
