#pragma once

#include <string>

namespace quillfen {

// A message's date and time as the message gives it, in its own local time.
struct MessageDateTime {
  int year = 1970;
  int month = 1;  // 1 to 12
  int day = 1;    // 1 to 31
  int hour = 0;
  int minute = 0;
  int second = 0;
};

// "From " + sender + " " + date as "ddd mmm dd hh:mm:ss yyyy", English names.
// A date before 1970-01-01 00:00:00 or after 9999-12-31 23:59:59 is written
// as that nearest end of the range, so the year always has four digits.
std::string FormatFromLine(const std::string& sender, const MessageDateTime& date);

}  // namespace quillfen
