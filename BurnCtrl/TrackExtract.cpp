#include "BurnCtrl/TrackExtract.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>

#include "BurnCtrl/Results.h"
#include "SafeFile.h"

int ExtractResult(bool encoded, CAuEncode::Error error) {
  if (encoded) return result::kSuccess;
  switch (error) {
    case CAuEncode::kStopped: return result::kExtractStopped;
    case CAuEncode::kUnreadable: return result::kTrackSectorUnreadable;
    case CAuEncode::kUnstable: return result::kTrackSectorUnstable;
    case CAuEncode::kNotAudio:
    case CAuEncode::kBadRange: return result::kNoAudioTrack;
    default: return result::kOutputFailed;
  }
}

bool TargetCanBeCreated(const std::string& path, std::string* why) {
  if (path.empty() || path.back() == '/') {
    if (why) *why = "no file name was given";
    return false;
  }
  const size_t slash = path.rfind('/');
  const std::string dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
  struct stat st;
  if (::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
    if (why) *why = path + " is a folder";
    return false;
  }
  const std::string probe = dir + "/.varnex-probe-" + std::to_string(::getpid()) + ".tmp";
  int fd = safefile::CreateNew(probe, O_WRONLY, 0600);
  if (fd < 0) {
    if (why) *why = dir + ": " + safefile::ErrorText(errno);
    return false;
  }
  ::close(fd);
  ::unlink(probe.c_str());
  return true;
}

std::string TrackFileName(int track, const std::string& title, const std::string& extension) {
  char number[8];
  std::snprintf(number, sizeof number, "%02d", track);
  std::string name;
  if (title.empty()) {
    name = std::string("Track ") + number;
  } else {
    name = std::string(number) + " ";
    for (unsigned char c : title) name += (c < 0x20 || c == '/' || c == 0x7F) ? '_' : char(c);
    if (name.size() > 200) {
      name.resize(200);
      while (!name.empty() && (uint8_t(name.back()) & 0x80)) name.pop_back();  // no half a character
    }
  }
  return name + "." + extension;
}
