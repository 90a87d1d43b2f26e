#pragma once
// What the ISO 9660 tests share: a fixed time zone, files with fixed dates
// and a data track laid out and served whole into memory.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <ctime>
#include <string>

#include "authoring/CDataFile.h"
#include "authoring/CFileManager.h"
#include "authoring/ProjectFile.h"
#include "foundation/TempFiles.h"

// Sets TZ while it lives.
class FixedZone {
 public:
  explicit FixedZone(const char* zone) {
    if (const char* old = std::getenv("TZ")) saved_ = old, had_ = true;
    setenv("TZ", zone, 1);
    tzset();
  }
  ~FixedZone() {
    if (had_) setenv("TZ", saved_.c_str(), 1);
    else unsetenv("TZ");
    tzset();
  }
  FixedZone(const FixedZone&) = delete;
  FixedZone& operator=(const FixedZone&) = delete;

 private:
  std::string saved_;
  bool had_ = false;
};

inline void Stamp(const std::string& path, time_t when) {
  const timespec times[2] = {{when, 0}, {when, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
}

// The data track of a staging tree for a session at `start`, every sector of it.
inline std::string ServeDataTrack(const std::string& staging, uint32_t start, time_t stamp,
                                  const std::string& label = "Golden Disc", uint8_t discOptions = 0) {
  TempFile job{"bcd"};
  CFileManager m;
  m.SetDiscOptions(discOptions);
  EXPECT_TRUE(m.SaveDataProject(staging, job.path(), label, nullptr, Existing::kReplace));
  CDataFile track;
  track.SetBuildStamp(stamp, 7);
  EXPECT_TRUE(track.Build(job.path(), false, false, staging, start)) << track.LastError();
  std::string image(size_t(track.GetTrackLength()) * kSectorSize, '\0');
  track.GetSectors(reinterpret_cast<uint8_t*>(&image[0]), track.GetTrackLength());
  return image;
}
