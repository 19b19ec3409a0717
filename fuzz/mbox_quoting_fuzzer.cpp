// Any text written as a record must come back exactly from an mboxrd reader,
// and no line of it may pass for a record separator.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "mbox/envelope_line.h"
#include "mbox/mbox_quoting.h"
#include "mbox/record_bytes.h"

namespace {

constexpr std::string_view kFirstFromLine = "From fuzz@example.org Tue Mar 05 14:07:09 2013";
constexpr std::string_view kSecondFromLine = "From next@example.org Wed Mar 06 00:00:00 2013";
constexpr std::string_view kSecondText = "Subject: next\r\n\r\nFrom the next record\r\n";

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "mbox quoting: %s\n", what);
  std::abort();
}

// The mboxrd reading of a record's stored text: a line that begins with one
// or more ">" and then "From " loses one ">".
std::string Unquote(std::string_view text) {
  std::string out;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    end = end == std::string_view::npos ? text.size() : end + 1;
    const std::string_view line = text.substr(start, end - start);
    const std::size_t arrows = line.find_first_not_of('>');
    const bool quoted =
        arrows != 0 && arrows != std::string_view::npos && line.substr(arrows).starts_with("From ");
    out.append(quoted ? line.substr(1) : line);
    start = end;
  }
  return out;
}

// The text the record should carry: without a first line that is itself an
// envelope line, which the record's own From line replaces; any other first
// line is kept.
std::string_view Expected(std::string_view text) {
  return text.substr(quillfen::EnvelopeLineLength(text));
}

// A record as the converter writes it: From line, CR LF, the quoted text,
// CR LF. The text reaches the quoter in pieces cut where seed says, as a
// large message's text does, so that a line split between two pieces is
// checked too.
std::string Record(std::string_view fromLine, std::string_view text, std::uint8_t seed) {
  std::string out(fromLine);
  out += "\r\n";
  quillfen::MboxQuoter quoter;
  text = text.substr(quillfen::EnvelopeLineLength(text));
  const std::size_t step = 1 + seed % 7;
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t length = seed == 0 ? text.size() : std::min(step + at % 5, text.size() - at);
    quoter.Feed(text.substr(at, length), out);
    at += length;
  }
  quoter.Finish(out);
  out += "\r\n";
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
  const std::string stored =
      Record(kFirstFromLine, text, data[0]) + Record(kSecondFromLine, kSecondText, 0);

  // Record separators: lines that begin with "From ". There must be exactly
  // the two that were written.
  std::vector<std::size_t> starts;
  if (stored.starts_with("From ")) starts.push_back(0);
  for (std::size_t at = stored.find("\nFrom "); at != std::string::npos;
       at = stored.find("\nFrom ", at + 1))
    starts.push_back(at + 1);
  if (starts.size() != 2 || starts[0] != 0) Fail("a line of the text passes for a separator");

  const std::string_view first = std::string_view(stored).substr(0, starts[1]);
  const std::string head = std::string(kFirstFromLine) + "\r\n";
  if (!first.starts_with(head) || !first.ends_with("\r\n") || first.size() < head.size() + 2)
    Fail("the first record is not From line, CR LF, text, CR LF");
  const std::string_view body = first.substr(head.size(), first.size() - head.size() - 2);
  if (Unquote(body) != Expected(text)) Fail("the text does not come back exactly");

  // The record as the reading thread and the converter put it together for
  // a text held whole: where the text lies, which gives the streamed
  // record's bytes or leaves the text untouched when the room does not
  // suffice, and in a batch, which always gives them.
  const quillfen::FromLine fromLine("fuzz@example.org", {2013, 3, 5, 14, 7, 9});
  const std::string streamed = Record(kFirstFromLine, text, 0);
  const std::string_view quotedText = Expected(text);
  // One byte short of the From line's room now and then, which must be
  // refused.
  const std::size_t before = fromLine.size() + 2 - (data[0] >> 7);
  const std::size_t after = data[0] % 80;
  std::string inPlace(before, '\0');
  inPlace += quotedText;
  inPlace.append(after, '\0');
  const std::string_view record = quillfen::WriteRecordInPlace(fromLine, inPlace.data() + before,
                                                               quotedText.size(), before, after);
  if (record.empty() || before < fromLine.size() + 2) {
    if (!record.empty() ||
        std::string_view(inPlace).substr(before, quotedText.size()) != quotedText)
      Fail("a record written in place took more room than it had, or changed its text");
  } else if (record != streamed) {
    Fail("the record written in place differs from the quoting on the way");
  }
  std::string batch = "earlier records";
  quillfen::MboxQuoter quoter;
  quillfen::AppendRecord(fromLine, quotedText, batch, quoter);
  if (batch != "earlier records" + streamed) Fail("the record in a batch differs");

  // The body line of the second record is quoted too.
  if (std::string_view(stored).substr(starts[1]) !=
      std::string(kSecondFromLine) + "\r\nSubject: next\r\n\r\n>From the next record\r\n\r\n")
    Fail("the record after it is not intact");
  return 0;
}
