#include "os/local_time.h"

#include <climits>
#include <cstdint>

namespace quillfen::os {
namespace {

// The range _localtime64_s takes: 1970-01-01 to 3000-12-31 UTC. Linux takes
// any year an int holds, and a file time or a date far outside this range
// must give the same calendar time (which the From line then clamps) rather
// than none at all.
constexpr std::int64_t kFirst = 0;
constexpr std::int64_t kLast = 32535215999;
constexpr std::int64_t kDay = 86400;

// Days since 1970-01-01 of a date of the proleptic Gregorian calendar, and
// back (Howard Hinnant's algorithms).
std::int64_t DaysFromCivil(std::int64_t year, int month, int day) {
  year -= month <= 2;
  const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
  const std::int64_t yearOfEra = year - era * 400;
  const std::int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

// The calendar time of seconds counted from 1970-01-01 00:00:00; nothing for
// a year an int cannot hold, as localtime_r answers there.
std::optional<std::tm> CivilFromSeconds(std::int64_t seconds) {
  std::int64_t days = seconds / kDay;
  std::int64_t rest = seconds % kDay;
  if (rest < 0) {
    rest += kDay;
    --days;
  }
  const std::int64_t shifted = days + 719468;
  const std::int64_t era = (shifted >= 0 ? shifted : shifted - 146096) / 146097;
  const std::int64_t dayOfEra = shifted - era * 146097;
  const std::int64_t yearOfEra =
      (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const std::int64_t monthIndex = (5 * dayOfYear + 2) / 153;
  const int day = static_cast<int>(dayOfYear - (153 * monthIndex + 2) / 5 + 1);
  const int month = static_cast<int>(monthIndex < 10 ? monthIndex + 3 : monthIndex - 9);
  const std::int64_t year = yearOfEra + era * 400 + (month <= 2);

  if (year - 1900 > INT_MAX || year - 1900 < INT_MIN) return std::nullopt;

  std::tm civil{};
  civil.tm_year = static_cast<int>(year - 1900);
  civil.tm_mon = month - 1;
  civil.tm_mday = day;
  civil.tm_hour = static_cast<int>(rest / 3600);
  civil.tm_min = static_cast<int>(rest / 60 % 60);
  civil.tm_sec = static_cast<int>(rest % 60);
  civil.tm_wday = static_cast<int>(((days % 7) + 11) % 7);  // 1970-01-01 was a Thursday
  civil.tm_yday = static_cast<int>(days - DaysFromCivil(year, 1, 1));
  return civil;
}

std::optional<std::tm> SystemLocalTime(std::int64_t seconds) {
  const __time64_t value = static_cast<__time64_t>(seconds);
  std::tm local{};
  // The 64-bit form, so that dates after 2038 work whatever time_t is.
  if (::_localtime64_s(&local, &value) != 0) return std::nullopt;
  return local;
}

}  // namespace

std::optional<std::tm> LocalTime(std::int64_t seconds) {
  if (seconds >= kFirst && seconds <= kLast) return SystemLocalTime(seconds);
  // Outside the system's range the zone's offset at the nearest end of it
  // stands in: that far out, no rule of daylight saving time is known.
  const std::int64_t end = seconds < kFirst ? kFirst : kLast;
  const std::optional<std::tm> local = SystemLocalTime(end);
  if (!local) return std::nullopt;
  const std::int64_t localSeconds =
      DaysFromCivil(local->tm_year + 1900, local->tm_mon + 1, local->tm_mday) * kDay +
      local->tm_hour * 3600 + local->tm_min * 60 + local->tm_sec;
  const std::int64_t offset = localSeconds - end;
  // An offset is less than a day, so adding it cannot overflow here.
  if (seconds > INT64_MAX - kDay || seconds < INT64_MIN + kDay) return std::nullopt;
  return CivilFromSeconds(seconds + offset);
}

}  // namespace quillfen::os
