#pragma once
// Scheduled burning: the "Timing Set" section of SoftSet.ini and the test
// whether a schedule is due at a given local time. The time comes in from
// the caller, so that the windows and the tests can use a clock of their own.

#include <cstdint>
#include <string>

namespace schedule {

enum Kind { kOnce = 1, kDaily = 2, kWeekly = 3, kMonthly = 4 };

struct LocalTime {
  int year = 0, month = 0, day = 0;  // month 1-12, day 1-31
  int hour = 0, minute = 0, second = 0;
  int weekday = 1;  // 1 = Monday ... 7 = Sunday
};

// The system's local time now.
LocalTime Now();
// One number per minute, to tell two checks in the same minute apart.
int64_t MinuteStamp(const LocalTime& t);

// Whether a schedule of `kind` with its stored time text fires at `now`.
// Seconds are not compared. A text that does not parse is never due.
bool ScheduleDue(int kind, const std::string& timeText, const LocalTime& now);

// The stored forms of the four kinds.
std::string OnceText(int year, int month, int day, int hour, int minute, int second);
std::string DailyText(int hour, int minute, int second);
// `days[0]` is Monday ... `days[6]` Sunday.
std::string WeeklyText(const bool days[7], int hour, int minute, int second);
// `dayIndex` is the day of the month minus 1.
std::string MonthlyText(int dayIndex, int hour, int minute, int second);

// The parts of a stored time text; false when it does not parse.
struct Parsed {
  int year = 0, month = 0, day = 0;
  int hour = 0, minute = 0, second = 0;
  bool weekdays[7] = {};
  int dayIndex = 0;
};
bool ParseTimeText(int kind, const std::string& text, Parsed* out);

// The section as stored. `forTimer` chooses the defaults the timer uses
// ("SelectRecoder" defaults to "0" there, to empty for the dialog).
struct TimingSet {
  bool on = false;
  int discType = 0;  // 0 audio CD, 1 data disc, 2 MP3 disc, 3 VCD, 4 SVCD, 5 DVD
  int kind = kOnce;
  std::string time[4];  // Time1 ... Time4
  bool closeDisc = false;
  int afterBurning = 0;
  std::string recorders;  // drive letters, each followed by ","

  const std::string& TimeOfKind() const;
};

TimingSet LoadTimingSet(const std::string& iniPath, bool forTimer);
// Writes every key; false when a key could not be written.
bool SaveTimingSet(const std::string& iniPath, const TimingSet& set);

// "E,F," -> "4,5,": each drive letter as its drive index.
std::string DriveIndexList(const std::string& letters, int* count);

}  // namespace schedule
