#include "mbox/envelope_line.h"

#include <array>
#include <vector>

namespace quillfen {
namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// The value of one or two decimal digits, or -1 for anything else.
int SmallNumber(std::string_view token) {
  if (token.empty() || token.size() > 2) return -1;
  int value = 0;
  for (const char c : token) {
    if (!IsDigit(c)) return -1;
    value = value * 10 + (c - '0');
  }
  return value;
}

bool IsOneOf(std::string_view token, const std::array<std::string_view, 12>& names,
             std::size_t count) {
  for (std::size_t i = 0; i < count; ++i)
    if (token == names[i]) return true;
  return false;
}

bool IsWeekday(std::string_view token) {
  static constexpr std::array<std::string_view, 12> kDays = {"Sun", "Mon", "Tue", "Wed",
                                                             "Thu", "Fri", "Sat"};
  return IsOneOf(token, kDays, 7);
}

bool IsMonth(std::string_view token) {
  static constexpr std::array<std::string_view, 12> kMonths = {
      "Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  return IsOneOf(token, kMonths, 12);
}

// h:mm or h:mm:ss, each field one or two digits, within a day's range (a
// leap second allowed).
bool IsTime(std::string_view token) {
  std::array<int, 3> fields{};
  std::size_t count = 0;
  while (count < fields.size()) {
    const std::size_t colon = token.find(':');
    fields[count++] = SmallNumber(token.substr(0, colon));
    if (fields[count - 1] < 0) return false;
    if (colon == std::string_view::npos) break;
    token.remove_prefix(colon + 1);
    if (count == fields.size()) return false;
  }
  return count >= 2 && fields[0] <= 23 && fields[1] <= 59 && fields[2] <= 60;
}

bool IsYear(std::string_view token) {
  if (token.size() != 4) return false;
  for (const char c : token)
    if (!IsDigit(c)) return false;
  return true;
}

// "+hhmm" / "-hhmm", or a zone name of two to five capital letters ("UTC",
// "PST", "CEST", and "DST" as in "CET DST").
bool IsZone(std::string_view token) {
  if (token.size() == 5 && (token[0] == '+' || token[0] == '-')) {
    for (const char c : token.substr(1))
      if (!IsDigit(c)) return false;
    return true;
  }
  if (token.size() < 2 || token.size() > 5) return false;
  for (const char c : token)
    if (c < 'A' || c > 'Z') return false;
  return true;
}

// weekday month day time [zone [zone]] year [zone]
bool IsMboxDate(const std::vector<std::string_view>& tokens) {
  if (tokens.size() < 5 || tokens.size() > 7) return false;
  const int day = SmallNumber(tokens[2]);
  if (!IsWeekday(tokens[0]) || !IsMonth(tokens[1]) || day < 1 || day > 31 || !IsTime(tokens[3]))
    return false;
  std::size_t at = 4;
  while (at < tokens.size() && !IsYear(tokens[at])) {
    if (!IsZone(tokens[at])) return false;
    ++at;
  }
  // Up to two zone words before the year, or one after it, never both.
  const std::size_t before = at - 4;
  if (at == tokens.size() || before > 2) return false;
  const std::size_t after = tokens.size() - at - 1;
  if (after == 0) return true;
  return after == 1 && before == 0 && IsZone(tokens.back());
}

}  // namespace

std::size_t EnvelopeLineLength(std::string_view text) {
  static constexpr std::string_view kFrom = "From ";
  if (!text.starts_with(kFrom)) return 0;
  const std::size_t lineFeed = text.find('\n');
  if (lineFeed == std::string_view::npos) return 0;
  std::string_view line = text.substr(kFrom.size(), lineFeed - kFrom.size());
  if (line.ends_with('\r')) line.remove_suffix(1);

  // The sender: one word without control characters, then at least one
  // blank. A bare CR is a line end to some readers, so a line holding one is
  // never taken for an envelope line.
  std::size_t senderEnd = 0;
  while (senderEnd < line.size() && !IsBlank(line[senderEnd])) {
    const auto c = static_cast<unsigned char>(line[senderEnd]);
    if (c < 0x20 || c == 0x7F) return 0;
    ++senderEnd;
  }
  if (senderEnd == 0 || senderEnd == line.size()) return 0;

  // The date's words, separated by blanks; runs of blanks also cover a
  // space-padded day ("Mar  5").
  std::vector<std::string_view> tokens;
  std::size_t at = senderEnd;
  while (at < line.size()) {
    while (at < line.size() && IsBlank(line[at])) ++at;
    const std::size_t start = at;
    while (at < line.size() && !IsBlank(line[at])) ++at;
    if (at > start) tokens.push_back(line.substr(start, at - start));
    if (tokens.size() > 7) return 0;
  }
  return IsMboxDate(tokens) ? lineFeed + 1 : 0;
}

}  // namespace quillfen
