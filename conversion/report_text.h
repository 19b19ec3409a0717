#pragma once

#include <string>
#include <string_view>

namespace quillfen {

// text made safe for one line of a report: every control character (a byte
// below 0x20, and 0x7F) is written as an escape, "\n", "\r", "\t" or "\xHH"
// (two capital hex digits); every other byte, UTF-8 sequences included, is
// kept. A file name may hold a line feed, and printed as it is it would
// start a line that looks like a report line of its own. A backslash is
// kept as it is, so a name that already reads "\n" is not told apart from
// one holding a line feed; the report only has to stay one line per message.
std::string EscapedForReport(std::string_view text);

// text with every byte that is not printable ASCII written as "\xHH", so
// that two names that look alike (a letter composed and decomposed) read
// apart; empty when text is printable ASCII, which needs no such spelling.
std::string BytesSpelledOut(std::string_view text);

// Why a mailbox was written under another name than its folder's, as both
// front ends' reports say it. On Windows a name may also be one that Windows
// refuses (a device name such as CON, a final dot, a colon).
#ifdef _WIN32
inline constexpr std::string_view kRenamedWhy = "to stay apart on a Mac and be allowed on Windows";
#else
inline constexpr std::string_view kRenamedWhy = "to stay apart on a Mac";
#endif

}  // namespace quillfen
