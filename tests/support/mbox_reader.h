#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace quillfen::test {

// One record of an .mbox file as a reader that knows nothing of our writer
// sees it.
//
// How our framing maps onto GMime's mbox parser: a record is written as
// From line, CR LF, text, CR LF. GMime reports the From line as the mbox
// marker including its CR (the marker ends at the LF), the headers begin
// right after that LF, and the message ends where the next "From " line
// starts (or at the end of the file). The stored span therefore is the text
// followed by the CR LF that closes the record; ReadMbox takes that CR LF off
// again, and fails when a record does not end with it.
struct StoredRecord {
  std::string fromLine;  // the separator line without its CR LF
  std::string text;      // the message bytes as stored, still mboxrd-quoted
};

// Reads every record of mboxFile with GMime's own mbox parser. Throws
// std::runtime_error when the file cannot be read, does not start with a
// "From " line, or a record is not closed by CR LF. An empty file has no
// records. GMime gives up on a record whose text does not begin with a
// header line (or an empty line), so such records also make it throw.
std::vector<StoredRecord> ReadMbox(const std::filesystem::path& mboxFile);

// Undoes mboxrd quoting: every line that begins with one or more ">" followed
// by "From " loses one ">". A line begins at the start of the text or after LF.
std::string UnquoteMboxrd(std::string_view text);

// What a message file's text looks like after a round trip through an .mbox
// file: its bytes without a first line that is an old mbox envelope line
// ("From ", a sender and a date, up to and including its LF). A first line
// that merely begins with "From " is kept.
std::string WithoutEnvelopeLine(std::string_view emlBytes);

}  // namespace quillfen::test
