#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "mbox/from_line.h"
#include "mbox/mbox_quoting.h"

namespace quillfen {

// A message's record as it goes into a mailbox: its From line, CR LF, its
// text with mboxrd quoting, and CR LF. Both the thread that reads messages
// ahead and the converter put records together here, so that the two never
// disagree on a byte.

// Turns a text that is already in memory into its record where it lies:
// text points at size bytes of it, with before bytes in front of it and
// after bytes behind it that may be overwritten. Gives the record, or an
// empty view with the text untouched when it cannot be written there: the
// From line holds a line break, or takes more than before with its line
// end, or the quoting needs more than after less the final line end.
std::string_view WriteRecordInPlace(const FromLine& fromLine, char* text, std::size_t size,
                                    std::size_t before, std::size_t after);

// About the size of text's record, for a batch to make room for.
std::size_t ExpectedRecordSize(const FromLine& fromLine, std::size_t textSize);

// Appends text's record to batch. The text is copied and then quoted where
// it lies, which costs less than quoting it on the way, as nearly every text
// needs no ">" at all; a text whose quoting needs more room than that goes
// through quoter instead. The caller refuses a From line that holds a line
// break before it gets here.
void AppendRecord(const FromLine& fromLine, std::string_view text, std::string& batch,
                  MboxQuoter& quoter);

}  // namespace quillfen
