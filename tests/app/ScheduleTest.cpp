// When a schedule fires, on a clock the test sets, and how it is stored.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "app/TimingSet.h"
#include "foundation/ProfileIni.h"

using namespace schedule;

namespace {

// 2026-11-30 is a Monday.
LocalTime At(int year, int month, int day, int hour, int minute, int second = 0) {
  static const int kDaysBefore[] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
  // Days since 2026-01-01 (a Thursday, weekday 4); enough for the test's dates.
  int days = (year - 2026) * 365 + kDaysBefore[month - 1] + day - 1 + (year > 2028 || (year == 2028 && month > 2));
  LocalTime t;
  t.year = year;
  t.month = month;
  t.day = day;
  t.hour = hour;
  t.minute = minute;
  t.second = second;
  t.weekday = (days + 3) % 7 + 1;
  return t;
}

}  // namespace

TEST(ScheduleDue, OnceMatchesItsMinuteOnItsDayOnly) {
  const std::string text = OnceText(2026, 12, 8, 20, 30, 0);
  EXPECT_EQ(text, "2026.12.8 20:30:0");
  EXPECT_TRUE(ScheduleDue(kOnce, text, At(2026, 12, 8, 20, 30, 0)));
  EXPECT_TRUE(ScheduleDue(kOnce, text, At(2026, 12, 8, 20, 30, 59))) << "seconds are not compared";
  EXPECT_FALSE(ScheduleDue(kOnce, text, At(2026, 12, 8, 20, 31)));
  EXPECT_FALSE(ScheduleDue(kOnce, text, At(2026, 12, 9, 20, 30)));
  EXPECT_FALSE(ScheduleDue(kOnce, text, At(2027, 12, 8, 20, 30)));
  EXPECT_FALSE(ScheduleDue(kOnce, text, At(2026, 11, 8, 20, 30)));
}

TEST(ScheduleDue, DailyMatchesEveryDayAtItsMinute) {
  EXPECT_EQ(DailyText(20, 30, 0), "20:30:0");
  for (int day = 1; day <= 7; ++day) EXPECT_TRUE(ScheduleDue(kDaily, "20:30:0", At(2026, 12, day, 20, 30)));
  EXPECT_FALSE(ScheduleDue(kDaily, "20:30:0", At(2026, 12, 1, 21, 30)));
  EXPECT_FALSE(ScheduleDue(kDaily, "20:30:0", At(2026, 12, 1, 20, 29)));
}

TEST(ScheduleDue, WeeklyWithMondayOnlyFiresOnMondays) {
  bool monday[7] = {true, false, false, false, false, false, false};
  const std::string text = WeeklyText(monday, 20, 30, 0);
  EXPECT_EQ(text, "1, 20:30:0");
  ASSERT_EQ(At(2026, 11, 30, 0, 0).weekday, 1) << "the test's calendar is off";
  for (int day = 30; day <= 36; ++day) {
    LocalTime t = day <= 30 ? At(2026, 11, day, 20, 30) : At(2026, 12, day - 30, 20, 30);
    EXPECT_EQ(ScheduleDue(kWeekly, text, t), t.weekday == 1) << "weekday " << t.weekday;
  }
  bool mwf[7] = {true, false, true, false, true, false, false};
  EXPECT_EQ(WeeklyText(mwf, 20, 30, 0), "1,3,5, 20:30:0");
  EXPECT_TRUE(ScheduleDue(kWeekly, "1,3,5, 20:30:0", At(2026, 12, 4, 20, 30)));   // Friday
  EXPECT_FALSE(ScheduleDue(kWeekly, "1,3,5, 20:30:0", At(2026, 12, 6, 20, 30)));  // Sunday
  // No day ticked never fires.
  EXPECT_FALSE(ScheduleDue(kWeekly, " 20:30:0", At(2026, 11, 30, 20, 30)));
}

TEST(ScheduleDue, MonthlyOnThe31stSkipsShorterMonths) {
  const std::string text = MonthlyText(30, 8, 0, 0);
  EXPECT_EQ(text, "30 8:0:0");
  EXPECT_TRUE(ScheduleDue(kMonthly, text, At(2026, 12, 31, 8, 0)));
  EXPECT_TRUE(ScheduleDue(kMonthly, text, At(2027, 1, 31, 8, 0)));
  for (int day = 28; day <= 30; ++day) EXPECT_FALSE(ScheduleDue(kMonthly, text, At(2026, 11, day, 8, 0)));
  EXPECT_FALSE(ScheduleDue(kMonthly, text, At(2026, 12, 1, 8, 0))) << "no catching up on the 1st";
  EXPECT_TRUE(ScheduleDue(kMonthly, "0 8:0:0", At(2026, 12, 1, 8, 0)));
}

TEST(ScheduleDue, DamagedTextsAreNeverDue) {
  const LocalTime t = At(2026, 12, 8, 20, 30);
  for (const char* text : {"", "20:30", "20:30:0:0", "x:30:0", "2026.12 20:30:0", "2026.12.8", "2026.12.8  20:30:0",
                           "31 20:30:0", "-1 20:30:0", "8,1, 20:30:0", "1,2 20:30:0", "25:30:0"})
    for (int kind = kOnce; kind <= kMonthly; ++kind) EXPECT_FALSE(ScheduleDue(kind, text, t)) << kind << " " << text;
  EXPECT_FALSE(ScheduleDue(0, "20:30:0", t));
  EXPECT_FALSE(ScheduleDue(5, "20:30:0", t));
}

TEST(ScheduleDue, TwoChecksInOneMinuteShareTheirStamp) {
  EXPECT_EQ(MinuteStamp(At(2026, 12, 8, 20, 30, 1)), MinuteStamp(At(2026, 12, 8, 20, 30, 31)));
  EXPECT_NE(MinuteStamp(At(2026, 12, 8, 20, 30)), MinuteStamp(At(2026, 12, 8, 20, 31)));
  EXPECT_NE(MinuteStamp(At(2026, 12, 8, 20, 30)), MinuteStamp(At(2026, 12, 9, 20, 30)));
  EXPECT_NE(MinuteStamp(At(2026, 11, 8, 20, 30)), MinuteStamp(At(2026, 12, 8, 20, 30)));
}

TEST(TimingSetFile, DefaultsSaveAndRecorderIndexes) {
  char name[] = "/tmp/varnex-timing-XXXXXX";
  int fd = mkstemp(name);
  ASSERT_GE(fd, 0);
  close(fd);
  const std::string path = name;
  ini::WriteString(path, "Other", "Keep", "me");
  TimingSet none = LoadTimingSet(path, true);
  EXPECT_FALSE(none.on);
  EXPECT_EQ(none.kind, kOnce) << "a missing kind counts as once";
  EXPECT_EQ(none.recorders, "0");
  EXPECT_EQ(LoadTimingSet(path, false).recorders, "");

  TimingSet s;
  s.on = true;
  s.discType = 1;
  s.kind = kWeekly;
  s.time[0] = "2026.1.1 1:1:0";  // only the chosen kind's text is kept
  s.time[2] = "1, 20:30:0";
  s.closeDisc = true;
  s.afterBurning = 3;
  s.recorders = "E,F,";
  ASSERT_TRUE(SaveTimingSet(path, s));
  TimingSet back = LoadTimingSet(path, true);
  EXPECT_TRUE(back.on);
  EXPECT_EQ(back.discType, 1);
  EXPECT_EQ(back.kind, kWeekly);
  EXPECT_EQ(back.time[0], "");
  EXPECT_EQ(back.TimeOfKind(), "1, 20:30:0");
  EXPECT_TRUE(back.closeDisc);
  EXPECT_EQ(back.afterBurning, 3);
  EXPECT_EQ(ini::GetString(path, "Other", "Keep", ""), "me");

  int count = -1;
  EXPECT_EQ(DriveIndexList("E,F,", &count), "4,5,");
  EXPECT_EQ(count, 2);
  EXPECT_EQ(DriveIndexList("0", &count), "");
  EXPECT_EQ(count, 0);
  std::remove(name);
}
