#include "app/TimingSet.h"

#include <charconv>
#include <ctime>
#include <vector>

#include "foundation/ProfileIni.h"

namespace schedule {

namespace {

const char* kSection = "Timing Set";

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    size_t at = text.find(separator, start);
    parts.push_back(text.substr(start, at == std::string::npos ? std::string::npos : at - start));
    if (at == std::string::npos) return parts;
    start = at + 1;
  }
}

bool ToInt(const std::string& text, int low, int high, int* out) {
  if (text.empty()) return false;
  int v = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (ec != std::errc() || end != text.data() + text.size() || v < low || v > high) return false;
  *out = v;
  return true;
}

bool ParseClock(const std::string& text, Parsed* out) {
  std::vector<std::string> p = Split(text, ':');
  return p.size() == 3 && ToInt(p[0], 0, 23, &out->hour) && ToInt(p[1], 0, 59, &out->minute) &&
         ToInt(p[2], 0, 59, &out->second);
}

// "<first> <clock>": the part before the one blank and the clock after it.
bool SplitAtBlank(const std::string& text, std::string* first, std::string* clock) {
  size_t blank = text.find(' ');
  if (blank == std::string::npos || text.find(' ', blank + 1) != std::string::npos) return false;
  *first = text.substr(0, blank);
  *clock = text.substr(blank + 1);
  return true;
}

std::string Clock(int hour, int minute, int second) {
  return std::to_string(hour) + ":" + std::to_string(minute) + ":" + std::to_string(second);
}

}  // namespace

LocalTime Now() {
  std::time_t t = std::time(nullptr);
  std::tm tm{};
  localtime_r(&t, &tm);
  LocalTime now;
  now.year = tm.tm_year + 1900;
  now.month = tm.tm_mon + 1;
  now.day = tm.tm_mday;
  now.hour = tm.tm_hour;
  now.minute = tm.tm_min;
  now.second = tm.tm_sec;
  now.weekday = tm.tm_wday == 0 ? 7 : tm.tm_wday;
  return now;
}

int64_t MinuteStamp(const LocalTime& t) {
  return ((((int64_t(t.year) * 13 + t.month) * 32 + t.day) * 24 + t.hour) * 60) + t.minute;
}

bool ParseTimeText(int kind, const std::string& text, Parsed* out) {
  std::string first, clock;
  switch (kind) {
    case kOnce: {
      if (!SplitAtBlank(text, &first, &clock) || !ParseClock(clock, out)) return false;
      std::vector<std::string> d = Split(first, '.');
      return d.size() == 3 && ToInt(d[0], 1, 9999, &out->year) && ToInt(d[1], 1, 12, &out->month) &&
             ToInt(d[2], 1, 31, &out->day);
    }
    case kDaily:
      return ParseClock(text, out);
    case kWeekly: {
      if (!SplitAtBlank(text, &first, &clock) || !ParseClock(clock, out)) return false;
      // Every ticked day ends with ","; the last piece after it is empty.
      std::vector<std::string> days = Split(first, ',');
      if (days.size() < 2 || !days.back().empty()) return false;
      days.pop_back();
      for (const std::string& d : days) {
        int day = 0;
        if (!ToInt(d, 1, 7, &day)) return false;
        out->weekdays[day - 1] = true;
      }
      return true;
    }
    case kMonthly:
      return SplitAtBlank(text, &first, &clock) && ParseClock(clock, out) && ToInt(first, 0, 30, &out->dayIndex);
    default:
      return false;
  }
}

bool ScheduleDue(int kind, const std::string& timeText, const LocalTime& now) {
  Parsed p;
  if (!ParseTimeText(kind, timeText, &p)) return false;
  if (p.hour != now.hour || p.minute != now.minute) return false;
  switch (kind) {
    case kOnce: return p.year == now.year && p.month == now.month && p.day == now.day;
    case kDaily: return true;
    case kWeekly: return now.weekday >= 1 && now.weekday <= 7 && p.weekdays[now.weekday - 1];
    // The 31st does not come in a month of 30 days: no burn that month.
    case kMonthly: return now.day == p.dayIndex + 1;
    default: return false;
  }
}

std::string OnceText(int year, int month, int day, int hour, int minute, int second) {
  return std::to_string(year) + "." + std::to_string(month) + "." + std::to_string(day) + " " +
         Clock(hour, minute, second);
}

std::string DailyText(int hour, int minute, int second) { return Clock(hour, minute, second); }

std::string WeeklyText(const bool days[7], int hour, int minute, int second) {
  std::string list;
  for (int d = 0; d < 7; ++d)
    if (days[d]) list += std::to_string(d + 1) + ",";
  return list + " " + Clock(hour, minute, second);
}

std::string MonthlyText(int dayIndex, int hour, int minute, int second) {
  return std::to_string(dayIndex) + " " + Clock(hour, minute, second);
}

const std::string& TimingSet::TimeOfKind() const {
  static const std::string none;
  return kind >= kOnce && kind <= kMonthly ? time[kind - 1] : none;
}

TimingSet LoadTimingSet(const std::string& path, bool forTimer) {
  TimingSet s;
  s.on = ini::GetString(path, kSection, "Timing", "0") != "0";
  s.discType = ini::GetInt(path, kSection, "DiscType", 0);
  s.kind = ini::GetInt(path, kSection, "FType", kOnce);
  for (int i = 0; i < 4; ++i) s.time[i] = ini::GetString(path, kSection, "Time" + std::to_string(i + 1), "");
  s.closeDisc = ini::GetString(path, kSection, "CloseDisc", "0") != "0";
  s.afterBurning = ini::GetInt(path, kSection, "AfterBurning", 0);
  s.recorders = ini::GetString(path, kSection, "SelectRecoder", forTimer ? "0" : "");
  return s;
}

bool SaveTimingSet(const std::string& path, const TimingSet& s) {
  bool ok = ini::WriteString(path, kSection, "DiscType", std::to_string(s.discType));
  ok = ini::WriteString(path, kSection, "Timing", s.on ? "1" : "0") && ok;
  ok = ini::WriteString(path, kSection, "FType", std::to_string(s.kind)) && ok;
  for (int i = 0; i < 4; ++i)
    ok = ini::WriteString(path, kSection, "Time" + std::to_string(i + 1), i + 1 == s.kind ? s.time[i] : "") && ok;
  ok = ini::WriteString(path, kSection, "CloseDisc", s.closeDisc ? "1" : "0") && ok;
  ok = ini::WriteString(path, kSection, "AfterBurning", std::to_string(s.afterBurning)) && ok;
  ok = ini::WriteString(path, kSection, "SelectRecoder", s.recorders) && ok;
  return ok;
}

std::string DriveIndexList(const std::string& letters, int* count) {
  std::string out;
  int n = 0;
  for (const std::string& entry : Split(letters, ',')) {
    if (entry.empty()) continue;
    char c = entry[0];
    if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
    if (c < 'A' || c > 'Z') continue;  // not a drive letter: nothing to burn on
    out += std::to_string(c - 'A') + ",";
    ++n;
  }
  if (count) *count = n;
  return out;
}

}  // namespace schedule
