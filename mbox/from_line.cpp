#include "mbox/from_line.h"

#include <array>
#include <charconv>
#include <chrono>
#include <cstring>
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

// Writes text at out and gives the end.
char* Put(char* out, std::string_view text) {
  // An empty view may hold no pointer at all, which memcpy must not get.
  if (!text.empty()) std::memcpy(out, text.data(), text.size());
  return out + text.size();
}

// Writes separator and value in decimal at out, with leading zeros up to
// width digits, as printf's "%0*d" does, and gives the end; formatting by
// hand keeps the From line off printf's path, which cost as much as the
// rest of the line.
char* PutNumber(char* out, char separator, int value, int width) {
  char digits[16];
  const char* end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  const char* start = digits;
  *out++ = separator;
  // The zeros go after a minus sign, which counts towards the width.
  if (*start == '-') *out++ = *start++;
  const int count = static_cast<int>(end - digits);
  for (int i = count; i < width; ++i) *out++ = '0';
  return Put(out, std::string_view(start, static_cast<std::size_t>(end - start)));
}

}  // namespace

FromLine::FromLine(std::string_view sender, const MessageDateTime& givenDate) : sender_(sender) {
  using namespace std::chrono;
  const MessageDateTime date = WithinFromLineRange(givenDate);
  static constexpr std::array<std::string_view, 7> kDays = {"Sun", "Mon", "Tue", "Wed",
                                                            "Thu", "Fri", "Sat"};
  static constexpr std::array<std::string_view, 12> kMonths = {
      "Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  // The names are fixed English ones whatever the locale: every mbox reader
  // expects them. The weekday comes from the date itself.
  const int month = date.month < 1 ? 1 : (date.month > 12 ? 12 : date.month);
  const year_month_day ymd(year(date.year), std::chrono::month(static_cast<unsigned>(month)),
                           day(static_cast<unsigned>(date.day < 1 ? 1 : date.day)));
  const weekday wd{sys_days(ymd)};
  char* out = date_;
  *out++ = ' ';
  out = Put(out, kDays[wd.c_encoding()]);
  *out++ = ' ';
  out = Put(out, kMonths[static_cast<std::size_t>(month - 1)]);
  out = PutNumber(out, ' ', date.day, 2);
  out = PutNumber(out, ' ', date.hour, 2);
  out = PutNumber(out, ':', date.minute, 2);
  out = PutNumber(out, ':', date.second, 2);
  out = PutNumber(out, ' ', date.year, 4);
  dateSize_ = static_cast<std::size_t>(out - date_);
}

bool FromLine::HoldsLineBreak() const {
  // The rest of the line is letters, digits, spaces, colons and signs.
  return sender_.find_first_of("\r\n") != std::string_view::npos;
}

void FromLine::CopyTo(char* out) const {
  out = Put(out, kFrom);
  out = Put(out, sender_);
  Put(out, std::string_view(date_, dateSize_));
}

void FromLine::AppendTo(std::string& out) const {
  out += kFrom;
  out += sender_;
  out.append(date_, dateSize_);
}

std::string FormatFromLine(std::string_view sender, const MessageDateTime& date) {
  const FromLine line(sender, date);
  std::string text;
  line.AppendTo(text);
  return text;
}

}  // namespace quillfen
