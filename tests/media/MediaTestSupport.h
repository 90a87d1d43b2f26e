#pragma once
// Shared by the converter and audio CD tests: sound and video files made by
// ffmpeg itself, a stand-in converter written as a shell script, and the PCM
// of a WAV file.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "WavReader.h"
#include "support/RunCommand.h"
#include "support/TestFolders.h"

// A tone of `seconds` made by ffmpeg in the format of the file's extension.
inline std::string MakeTone(const ScratchFolder& dir, const std::string& name, double seconds, int rate = 44100,
                            int channels = 2, int frequency = 440) {
  const std::string path = dir / name;
  CommandResult r = RunCommand("ffmpeg -nostdin -v error -y -f lavfi -i " +
                               Quoted("sine=frequency=" + std::to_string(frequency) +
                                      ":duration=" + std::to_string(seconds) + ":sample_rate=" + std::to_string(rate)) +
                               " -ac " + std::to_string(channels) + " " + Quoted(path));
  EXPECT_EQ(r.status, 0) << "ffmpeg could not make " << name << ": " << r.output;
  return path;
}

// A short test picture with sound, as a user's video file.
inline std::string MakeVideo(const ScratchFolder& dir, const std::string& name, double seconds) {
  const std::string path = dir / name;
  const std::string s = std::to_string(seconds);
  CommandResult r = RunCommand("ffmpeg -nostdin -v error -y -f lavfi -i testsrc=duration=" + s +
                               ":size=320x240:rate=25 -f lavfi -i sine=duration=" + s +
                               " -c:v mpeg4 -c:a mp3 -shortest " + Quoted(path));
  EXPECT_EQ(r.status, 0) << "ffmpeg could not make " << name << ": " << r.output;
  return path;
}

// The sound bytes of a WAV file (its data chunk).
inline std::string WavPcm(const std::string& path) {
  WavInfo info;
  std::string why;
  if (!ReadWavInfo(path, info, &why)) {
    ADD_FAILURE() << path << ": " << why;
    return {};
  }
  return ReadWholeFile(path).substr(size_t(info.dataOffset), size_t(info.dataSize));
}

// Writes an executable shell script and returns its path.
inline std::string WriteScript(const ScratchFolder& dir, const std::string& name, const std::string& body) {
  const std::string path = dir.Write(name, "#!/bin/sh\n" + body);
  ::chmod(path.c_str(), 0755);
  return path;
}

// Sets VARNEX_CONVERTER while it lives.
class ConverterStandIn {
 public:
  explicit ConverterStandIn(const std::string& path) { setenv("VARNEX_CONVERTER", path.c_str(), 1); }
  ~ConverterStandIn() { unsetenv("VARNEX_CONVERTER"); }
};

// A stand-in converter that answers every probe with a five-second clip of
// sound and picture (sound rows take the sound, video rows need the picture)
// and converts nothing: rows can be added quickly by the hundred.
inline std::string ProbeOnlyConverter(const ScratchFolder& dir) {
  return WriteScript(dir, "probe-only",
                     "echo \"  Duration: 00:00:05.00, start: 0.000000, bitrate: 128 kb/s\" >&2\n"
                     "echo \"  Stream #0:0: Audio: mp3, 44100 Hz, stereo, fltp, 128 kb/s\" >&2\n"
                     "echo \"  Stream #0:1: Video: mpeg4 (Simple Profile), yuv420p, 320x240, 25 fps\" >&2\n"
                     "exit 1\n");
}
