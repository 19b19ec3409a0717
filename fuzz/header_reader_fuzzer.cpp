// Arbitrary bytes as a message: the header reader must not crash, and its
// answers must make a From line that every mbox reader can take apart.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "mbox/from_line.h"
#include "source/message_readers.h"

namespace {

[[noreturn]] void Fail(const char* what, const std::string& value) {
  std::fprintf(stderr, "header reader: %s: [%s]\n", what, value.c_str());
  std::abort();
}

// A field of the From line may hold neither white space nor control
// characters: a reader would split the line there or end it.
void CheckField(const char* what, const std::string& value) {
  if (value.empty()) Fail(what, "empty");
  for (const unsigned char c : value)
    if (c <= 0x20 || c == 0x7F) Fail(what, value);
}

bool IsLeapYear(int year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysIn(int year, int month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  quillfen::MessageReader reader;
  reader.OpenMessageBytes(bytes, 1362492429);  // a Tuesday in March 2013

  const std::string sender = reader.SenderAddress();
  CheckField("sender", sender);

  const quillfen::MessageDateTime date = reader.MessageDate();
  const std::string shown = std::to_string(date.year) + "-" + std::to_string(date.month) + "-" +
                            std::to_string(date.day) + " " + std::to_string(date.hour) + ":" +
                            std::to_string(date.minute) + ":" + std::to_string(date.second);
  if (date.year < 1 || date.year > 9999) Fail("year", shown);
  if (date.month < 1 || date.month > 12) Fail("month", shown);
  if (date.day < 1 || date.day > DaysIn(date.year, date.month)) Fail("day", shown);
  if (date.hour < 0 || date.hour > 23) Fail("hour", shown);
  if (date.minute < 0 || date.minute > 59) Fail("minute", shown);
  if (date.second < 0 || date.second > 60) Fail("second", shown);

  // "From " sender " " "Ddd Mmm dd hh:mm:ss yyyy": one line of known length.
  const std::string line = quillfen::FormatFromLine(sender, date);
  if (line.find_first_of("\r\n") != std::string::npos) Fail("From line breaks", line);
  if (line.size() != 5 + sender.size() + 1 + 24) Fail("From line length", line);
  if (line.compare(0, 5 + sender.size() + 1, "From " + sender + " ") != 0)
    Fail("From line start", line);
  return 0;
}
