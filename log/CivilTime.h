// Calendar arithmetic for the time stamps of the logs: days since 1970-01-01 of a proleptic
// Gregorian date and back, without the system's time zone tables, so that a log reads and writes
// the same on every machine.
#pragma once

#include <cstdint>

namespace csvlog {

inline constexpr std::int64_t MsPerDay = 86400000;

// Days since 1970-01-01 of year-month-day (month 1 to 12).
constexpr std::int64_t DaysFromCivil(int year, int month, int day) {
  year -= month <= 2 ? 1 : 0;
  const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
  const int yearOfEra = static_cast<int>(year - era * 400);
  const int dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

// A calendar date and the milliseconds since its midnight.
struct TCivilTime {
  int Year = 1970, Month = 1, Day = 1;
  std::int64_t DayMs = 0;
};

// The date and time of day of `ms` milliseconds since 1970-01-01 00:00 (before it too).
constexpr TCivilTime CivilTimeOf(std::int64_t ms) {
  std::int64_t days = ms / MsPerDay;
  std::int64_t dayMs = ms % MsPerDay;
  if (dayMs < 0) {
    dayMs += MsPerDay;
    --days;
  }
  days += 719468;
  const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const int dayOfEra = static_cast<int>(days - era * 146097);
  const int yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const int dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const int monthIndex = (5 * dayOfYear + 2) / 153;
  TCivilTime civil;
  civil.Day = dayOfYear - (153 * monthIndex + 2) / 5 + 1;
  civil.Month = monthIndex < 10 ? monthIndex + 3 : monthIndex - 9;
  civil.Year = static_cast<int>(yearOfEra + era * 400 + (civil.Month <= 2 ? 1 : 0));
  civil.DayMs = dayMs;
  return civil;
}

}  // namespace csvlog
