#pragma once
// Shared by the DVD-Video tests: clips made by ffmpeg, what lsdvd, isoinfo
// and 7zz say about a disc image, and the command the tests run.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "MediaTestSupport.h"

// The varnex-cli command that makes DVD-Video discs, named in this one place.
inline std::string DvdCommand() { return "video --dvd"; }

// A clip with a test picture and a tone, encoded as the extension says.
inline std::string MakeClip(const ScratchFolder& dir, const std::string& name, double seconds,
                            const std::string& codecs = "-c:v mpeg4 -c:a mp3") {
  const std::string path = dir / name;
  const std::string s = std::to_string(seconds);
  CommandResult r = RunCommand("ffmpeg -nostdin -v error -y -f lavfi -i testsrc=duration=" + s +
                               ":size=320x240:rate=25 -f lavfi -i sine=duration=" + s + " " + codecs +
                               " -pix_fmt yuv420p -shortest " + Quoted(path));
  EXPECT_EQ(r.status, 0) << "ffmpeg could not make " << name << ": " << r.output;
  return path;
}

// The title lengths lsdvd reads from a disc image or a folder holding VIDEO_TS.
inline std::vector<double> LsdvdLengths(const std::string& disc, std::string* output = nullptr) {
  CommandResult r = RunCommand("lsdvd " + Quoted(disc));
  if (output) *output = r.output;
  std::vector<double> lengths;
  std::regex title(R"(Title: (\d+), Length: (\d+):(\d+):(\d+)\.(\d+))");
  for (std::sregex_iterator it(r.output.begin(), r.output.end(), title), end; it != end; ++it)
    lengths.push_back(std::stoi((*it)[2]) * 3600 + std::stoi((*it)[3]) * 60 + std::stoi((*it)[4]) +
                      std::stoi((*it)[5]) / 1000.0);
  return lengths;
}

// The files isoinfo lists in a folder of the image: name, first sector, size.
struct IsoListed {
  std::string name;
  uint32_t sector = 0;
  uint64_t size = 0;
};
inline std::vector<IsoListed> IsoinfoFolder(const std::string& image, const std::string& folder, bool joliet) {
  CommandResult r = RunCommand("isoinfo -l " + std::string(joliet ? "-J " : "") + "-i " + Quoted(image));
  std::vector<IsoListed> files;
  const size_t at = r.output.find("Directory listing of " + folder);
  if (at == std::string::npos) return files;
  const size_t end = r.output.find("Directory listing of", at + 1);
  const std::string part = r.output.substr(at, end == std::string::npos ? std::string::npos : end - at);
  std::regex line(R"(\s(\d+)\s+\w{3}\s+\d+\s+\d+\s+\[\s*(\d+)\s+\d+\]\s+(\S+)\s*)");
  for (std::sregex_iterator it(part.begin(), part.end(), line), e; it != e; ++it) {
    const std::string name = (*it)[3];
    if (name == "." || name == "..") continue;
    files.push_back({name, uint32_t(std::stoul((*it)[2])), std::stoull((*it)[1])});
  }
  return files;
}
