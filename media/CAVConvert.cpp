#include "media/CAVConvert.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "WavReader.h"
#include "media/ToolProcess.h"

namespace {

// The converter driver's own argument texts. SOURCE,
// TARGET and IMAGE stand for the paths (the quotes around them belong to the
// template), SEEK and SIZE for numbers, %name% for the substitution values.
constexpr const char* kConvertTemplates[] = {
    "-i \"SOURCE\" -vn -ar 44100 -ac 2 \"TARGET\"",
    "-i \"SOURCE\" -f %type% -target %format%-%type% -mbd rd -aspect %aspect% -trellis -mv0 -cmp 0 -subcmp 2 \"TARGET\"",
    "-i \"SOURCE\" -f %type% -target %format%-%type% -mbd rd -aspect %aspect% -trellis -mv0 -cmp 0 -subcmp 2 \"TARGET\"",
    "-i \"SOURCE\" -f dvd -target %format%-dvd -b 5000kb -r %framerate% -aspect %aspect% -s %hwrate% -ar 48000 -ab 384kb  \"TARGET\"",
};
constexpr const char* kProbeTemplate = "-analyzeduration 3M -threads 2 -i \"SOURCE\"";
constexpr const char* kThumbnailTemplate =
    " -vframes 1 -sws_flags bilinear -ss SEEK -i \"SOURCE\" -s SIZE*SIZE -f image2 \"IMAGE\"";

// Where Debian's ffmpeg rejects one of these arguments, the nearest form it
// accepts. Each change is applied to every template that holds the original
// text; everything else is passed as written.
constexpr ArgumentChange kArgumentChanges[] = {
    {"-trellis -mv0", "-trellis 1 -mpv_flags +mv0",
     "-trellis takes a level today: ffmpeg read \"-mv0\" as its value and refused it; "
     "mv0 is now a flag of -mpv_flags"},
    {"-b 5000kb", "-b 5000k", "\"kb\" is no unit ffmpeg reads (\"5000kb\" is refused); \"k\" is kilobits, as meant"},
    {"-ab 384kb", "-ab 384k", "as for -b: \"384kb\" is refused, \"384k\" is 384 kilobits"},
    {" -vframes 1 -sws_flags bilinear -ss SEEK -i \"SOURCE\"", " -sws_flags bilinear -ss SEEK -i \"SOURCE\" -vframes 1",
     "-vframes is an output option: before -i it is applied to the input and refused"},
    {"-s SIZE*SIZE", "-s SIZExSIZE", "a frame size is written WxH; \"*\" is refused"},
    {"-f image2 \"IMAGE\"", "-f image2 -y \"IMAGE\"",
     "the converter reads no answers (its input is /dev/null), so it cannot be asked to replace an "
     "existing image and would stop; -y replaces it"},
    {"\"SOURCE\"", "\"file:SOURCE\"",
     "a path is always a file: without the prefix a name such as \"concat:a|b\" or \"http:x\" would be "
     "read as a protocol"},
    {"\"TARGET\"", "\"file:TARGET\"", "as for the source"},
    {"\"IMAGE\"", "\"file:IMAGE\"", "as for the source"},
};

std::string WithChanges(std::string text) { return ::WithChanges(std::move(text), kArgumentChanges); }

// The template of a conversion with its substitution values in place and
// the paths still as SOURCE and TARGET.
std::string ConvertTemplate(int type, int ntsc, int aspect) {
  if (type < 0 || type > 3) return {};
  std::string text = WithChanges(kConvertTemplates[type]);
  const std::string format = ntsc ? "ntsc" : "pal";
  const std::string shape = aspect == 1 ? "16:9" : "4:3";
  if (type == 1 || type == 2) {
    ReplaceAll(&text, "%type%", type == 1 ? "vcd" : "svcd");
    ReplaceAll(&text, "%format%", format);
    ReplaceAll(&text, "%aspect%", shape);
  } else if (type == 3) {
    ReplaceAll(&text, "%format%", format);
    ReplaceAll(&text, "%framerate%", ntsc ? "29.97" : "25");
    ReplaceAll(&text, "%aspect%", shape);
    ReplaceAll(&text, "%hwrate%", ntsc ? "720x480" : "720x576");
  }
  return text;
}

std::string ThumbnailTemplate(int size, int seekSeconds) {
  std::string text = WithChanges(kThumbnailTemplate);
  ReplaceAll(&text, "SEEK", std::to_string(seekSeconds));
  ReplaceAll(&text, "SIZE", std::to_string(size));
  return text;
}

// The text form of a template with the paths in place, for people to read.
std::string WithPaths(std::string text, const std::string& source, const std::string& target) {
  ReplaceAll(&text, "file:SOURCE", "file:" + source);
  ReplaceAll(&text, "file:TARGET", "file:" + target);
  ReplaceAll(&text, "file:IMAGE", "file:" + target);
  return text;
}

uint64_t FileLength(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) ? uint64_t(st.st_size) : 0;
}

bool Exists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

// Size rates in kilobytes per second of play time.
uint32_t RateOf(int type) {
  switch (type) {
    case 0: return 175;
    case 1:
    case 2: return 170;
    case 3: return 600;
    default: return 0;
  }
}

}  // namespace

CAVConvert::CAVConvert() {
  if (const char* over = std::getenv("VARNEX_CONVERTER"); over && *over)
    converterPath_ = over;
  else
    converterPath_ = FindTool("ffmpeg");
}

bool CAVConvert::Run(const std::string& argumentText, const std::string& source, const std::string& target,
                     const std::atomic<bool>* stop, int* exitStatus) {
  output_.clear();
  failed_ = true;
  *exitStatus = -1;
  if (converterPath_.empty()) return false;
  // The paths become arguments of their own after the text is split, so no
  // character of a file name (a blank, a quote) changes the command.
  std::vector<std::string> args = SplitArguments(argumentText);
  for (std::string& a : args) {
    if (a == "file:SOURCE") a = "file:" + source;
    else if (a == "file:TARGET" || a == "file:IMAGE") a = "file:" + target;
  }
  ToolRun run;
  run.stop = stop;
  if (!RunTool(converterPath_, args, &output_, &run)) return false;
  *exitStatus = run.exitStatus;
  return true;
}

bool CAVConvert::Convert(const std::string& source, const std::string& target, int type, int ntsc, int aspect,
                         const std::atomic<bool>* stop) {
  ::unlink(target.c_str());
  const std::string text = ConvertTemplate(type, ntsc, aspect);
  if (text.empty()) return false;
  int status = -1;
  bool ok = Run(text, source, target, stop, &status) && status == 0 && FileLength(target) > 0;
  if (ok && type == kSoundToWav) {
    // A WAV that holds no sound would burn as an empty track.
    WavInfo info;
    std::string why;
    ok = ReadWavInfo(target, info, &why) && info.dataSize > 0;
    if (!ok) output_ += "\nvarnex: the converted file holds no CD sound: " + why + "\n";
  }
  if (stop && *stop) ok = false;
  // A stopped, failed or empty conversion leaves nothing behind that could
  // be taken for a track.
  if (!ok && Exists(target)) ::unlink(target.c_str());
  failed_ = !ok;
  return ok;
}

std::string CAVConvert::GetMediaInfo(const std::string& source) {
  int status = -1;
  // With no output file the converter describes the input and stops.
  if (!Run(WithChanges(kProbeTemplate), source, "", nullptr, &status)) return {};
  failed_ = false;
  const std::string audio = ExtractBetween(output_, "Audio: ", ",");
  // AMR narrow-band sound is treated as undecodable.
  if (audio.find("samr") != std::string::npos && audio.find("0x") != std::string::npos) return {};
  return ExtractBetween(output_, "Duration: ", ",");
}

bool CAVConvert::LastProbeHadAudio() const { return !ExtractBetween(output_, "Audio: ", ",").empty(); }

bool CAVConvert::LastProbeHadVideo() const {
  for (size_t at = output_.find("Video: "); at != std::string::npos; at = output_.find("Video: ", at + 1)) {
    const size_t end = output_.find('\n', at);
    if (output_.substr(at, end == std::string::npos ? std::string::npos : end - at).find("attached pic") ==
        std::string::npos)
      return true;
  }
  return false;
}

ProbeTags CAVConvert::ParseProbeTags(const std::string& description) {
  ProbeTags tags;
  const size_t input = description.find("Input #0");
  if (input == std::string::npos) return tags;
  size_t at = description.find('\n', input);
  bool inBlock = false;
  size_t blockIndent = 0;
  while (at != std::string::npos && at + 1 < description.size()) {
    const size_t begin = at + 1;
    at = description.find('\n', begin);
    std::string line = description.substr(begin, at == std::string::npos ? std::string::npos : at - begin);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const size_t indent = line.find_first_not_of(' ');
    if (indent == std::string::npos) continue;
    const std::string content = line.substr(indent);
    if (!inBlock) {
      // The file's block comes before its play time and its streams.
      if (content.rfind("Duration:", 0) == 0 || content.rfind("Stream #", 0) == 0 || content.rfind("Input #", 0) == 0)
        break;
      if (content.rfind("Metadata:", 0) == 0) inBlock = true, blockIndent = indent;
      continue;
    }
    if (indent <= blockIndent) break;
    const size_t colon = content.find(" : ");
    const size_t keyEnd = content.find_last_not_of(' ', colon == std::string::npos ? 0 : colon);
    if (colon == std::string::npos || keyEnd == std::string::npos) continue;
    std::string key = content.substr(0, keyEnd + 1);
    for (char& c : key) c = char(std::tolower(static_cast<unsigned char>(c)));
    const std::string value = content.substr(colon + 3);
    std::string* field = key == "title" ? &tags.title
                         : key == "artist" ? &tags.artist
                         : key == "composer" ? &tags.composer
                         : key == "lyricist" ? &tags.lyricist
                         : key == "album" ? &tags.album
                         : (key == "album_artist" || key == "album artist") ? &tags.albumArtist
                                                                            : nullptr;
    // The first of a key that is given twice is the one players show.
    if (field && field->empty()) *field = value;
  }
  return tags;
}

bool CAVConvert::MakeThumbnail(int size, int seekSeconds, const std::string& source, const std::string& imageFile) {
  int status = -1;
  const bool ok = Run(ThumbnailTemplate(size, seekSeconds), source, imageFile, nullptr, &status) && status == 0 &&
                  FileLength(imageFile) > 0;
  failed_ = !ok;
  return ok;
}

float CAVConvert::EstimateSizeMB(int type, const std::string& durationText) {
  if (durationText.empty()) return 0;
  const uint32_t seconds = uint32_t(ParseDuration(durationText));
  const uint32_t kilobytes = seconds * RateOf(type);
  return float(double(kilobytes) * 0.0009765625);
}

int32_t CAVConvert::ParseDuration(const std::string& durationText) {
  if (durationText.empty()) return 0;
  std::string rest = durationText + ":";
  auto field = [&rest]() {
    const size_t colon = rest.find(':');
    const int value = std::atoi(rest.substr(0, colon).c_str());
    rest = colon == std::string::npos ? std::string() : rest.substr(colon + 1);
    return value;
  };
  const int hours = field();
  const int minutes = field();
  // atoi stops at the "." or ":" that ends the seconds.
  const int seconds = std::atoi(rest.c_str());
  return seconds + (minutes + hours * 60) * 60;
}

std::string CAVConvert::ConvertArguments(const std::string& source, const std::string& target, int type, int ntsc,
                                         int aspect) {
  return WithPaths(ConvertTemplate(type, ntsc, aspect), source, target);
}

std::string CAVConvert::ProbeArguments(const std::string& source) {
  return WithPaths(WithChanges(kProbeTemplate), source, "");
}

std::string CAVConvert::ThumbnailArguments(int size, int seekSeconds, const std::string& source,
                                           const std::string& imageFile) {
  return WithPaths(ThumbnailTemplate(size, seekSeconds), source, imageFile);
}

std::string CAVConvert::LastError() const {
  if (!failed_) return {};
  if (converterPath_.empty()) return "the converter ffmpeg was not found (install the Debian package ffmpeg)";
  // The last line the converter printed (progress lines end in "\r").
  size_t end = output_.find_last_not_of("\r\n ");
  if (end == std::string::npos) return "the converter printed nothing";
  size_t begin = output_.find_last_of("\r\n", end);
  begin = begin == std::string::npos ? 0 : begin + 1;
  return output_.substr(begin, end - begin + 1);
}
