#include "mbox/from_line.h"

#include <array>
#include <charconv>
#include <chrono>
#include <tuple>

namespace quillfen {
namespace {

// The From line's date must have a four-digit year, or mbox readers reject
// the record, and readers that turn it into a time since 1970 cannot hold an
// earlier one; e-mail itself is younger than that. A date outside 1970 to
// 9999 (an impossible header date or file time) therefore becomes the
// nearest end of that range, to the second.
MessageDateTime WithinFromLineRange(const MessageDateTime& date) {
  static constexpr MessageDateTime kFirst{1970, 1, 1, 0, 0, 0};
  static constexpr MessageDateTime kLast{9999, 12, 31, 23, 59, 59};
  const auto key = [](const MessageDateTime& d) {
    return std::tie(d.year, d.month, d.day, d.hour, d.minute, d.second);
  };
  if (key(date) < key(kFirst)) return kFirst;
  if (key(kLast) < key(date)) return kLast;
  return date;
}

// Appends separator and value in decimal, with leading zeros up to width
// digits, as printf's "%0*d" does; formatting by hand keeps the From line
// off printf's path, which cost as much as the rest of the line.
void AppendNumber(std::string& line, char separator, int value, int width) {
  char digits[16];
  const char* end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  const char* start = digits;
  line += separator;
  // The zeros go after a minus sign, which counts towards the width.
  if (*start == '-') line += *start++;
  const int count = static_cast<int>(end - digits);
  if (count < width) line.append(static_cast<std::size_t>(width - count), '0');
  line.append(start, end);
}

}  // namespace

std::string FormatFromLine(const std::string& sender, const MessageDateTime& givenDate) {
  using namespace std::chrono;
  const MessageDateTime date = WithinFromLineRange(givenDate);
  static constexpr std::array<const char*, 7> kDays = {"Sun", "Mon", "Tue", "Wed",
                                                       "Thu", "Fri", "Sat"};
  static constexpr std::array<const char*, 12> kMonths = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  // The names are fixed English ones whatever the locale: every mbox reader
  // expects them. The weekday comes from the date itself.
  const int month = date.month < 1 ? 1 : (date.month > 12 ? 12 : date.month);
  const year_month_day ymd(year(date.year), std::chrono::month(static_cast<unsigned>(month)),
                           day(static_cast<unsigned>(date.day < 1 ? 1 : date.day)));
  const weekday wd{sys_days(ymd)};
  std::string line;
  line.reserve(sender.size() + 30);
  line += "From ";
  line += sender;
  line += ' ';
  line += kDays[wd.c_encoding()];
  line += ' ';
  line += kMonths[month - 1];
  AppendNumber(line, ' ', date.day, 2);
  AppendNumber(line, ' ', date.hour, 2);
  AppendNumber(line, ':', date.minute, 2);
  AppendNumber(line, ':', date.second, 2);
  AppendNumber(line, ' ', date.year, 4);
  return line;
}

}  // namespace quillfen
