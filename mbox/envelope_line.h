#pragma once

#include <cstddef>
#include <string_view>

namespace quillfen {

// The length, including its line feed, of text's first line when that line
// is an mbox envelope line: "From ", a sender without white space, one or
// more blanks, and a date as mbox separators write it,
// "Www Mmm [d]d [h]h:mm[:ss] yyyy" with English names, optionally with a
// time zone ("+0000", "UTC", "CET DST") before the year or one after it. The
// line ends with LF or CR LF. 0 for anything else, among it a first line
// that has no line feed at all: such text is a message of its own whose
// "From " line must be kept (and quoted), not thrown away.
std::size_t EnvelopeLineLength(std::string_view text);

}  // namespace quillfen
