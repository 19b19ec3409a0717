#pragma once

#include <cstddef>
#include <string>
#include <string_view>

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

// A record's From line: "From " + sender + " " + date as
// "ddd mmm dd hh:mm:ss yyyy", English names. A date before 1970-01-01
// 00:00:00 or after 9999-12-31 23:59:59 is written as that nearest end of
// the range, so the year always has four digits. It is put together without
// a heap allocation, straight where it goes: this runs for every message.
// It refers to sender, which must outlive it.
class FromLine {
 public:
  FromLine(std::string_view sender, const MessageDateTime& date);

  std::size_t size() const { return kFrom.size() + sender_.size() + dateSize_; }
  // A line break inside the From line would split its record in two.
  bool HoldsLineBreak() const;
  // Writes the size() bytes of the line at out.
  void CopyTo(char* out) const;
  void AppendTo(std::string& out) const;

 private:
  static constexpr std::string_view kFrom = "From ";
  // " ddd mmm dd hh:mm:ss yyyy", with room for fields out of their range:
  // each number may take eleven characters.
  static constexpr std::size_t kMostDateSize = 72;

  std::string_view sender_;
  char date_[kMostDateSize];
  std::size_t dateSize_ = 0;
};

// The From line as a string.
std::string FormatFromLine(std::string_view sender, const MessageDateTime& date);

}  // namespace quillfen
