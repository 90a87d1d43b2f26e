#include "media/CDVDFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

#include "SafeFile.h"
#include "foundation/LangText.h"
#include "foundation/ProgramDir.h"
#include "foundation/TempFiles.h"
#include "media/CAVConvert.h"
#include "media/ToolProcess.h"

namespace {

using namespace result;

// The second engine's argument texts as designed. SOURCE and BASE stand for
// the input and for the title's files in the work folder; %name% for the
// substitution values.
constexpr const char* kVideoTemplate =
    "-i \"SOURCE\" -vcodec %compress% -s %hwrate% -padleft 24 -padright 24 -r %framerate% -g 14 -bufsize 1835008 "
    "-packetsize 2048 -muxrate 10080000 -aspect %aspect% -minrate 4950k -maxrate 4950k -b 4950k -preme 1 -precmp 2 "
    "-subcmp 8 -mbd 1 -sws_flags fast_bilinear -sc_threshold -3000 -dc 8 -an -threads 2 -fflags +genpts -f "
    "mpeg2video -shortest -map 0:0 \"BASE.m2v\"";
constexpr const char* kSoundTemplate =
    "-i \"SOURCE\" -i \"BASE.m2v\" -map 0:1:1:0 -acodec ac3 -ab 192k -ac 2 -ar 48000 -threads 2 -async 0 -shortest "
    "\"BASE.ac3\"";
constexpr const char* kMultiplexTemplate = "-f 8 --vbr -o \"BASE.mpg\" \"BASE.m2v\" \"BASE.ac3\"";

// Where Debian's tools reject a designed argument, the nearest accepted
// form; everything else is passed as written.
constexpr ArgumentChange kArgumentChanges[] = {
    {"-vcodec %compress%", "-vcodec mpeg2video",
     "\"copy\" (the old choice without re-encoding) would put the source's own video, H.264 or MPEG-4, "
     "into an MPEG-2 stream file; MPEG inputs that need no encoding are used directly and never come here"},
    {"-padleft 24 -padright 24", "-vf scale=672:%height%,pad=720:%height%:24:0",
     "the padding options are gone; the picture is scaled to 672 pixels and padded with 24 on each side, "
     "which is what they did"},
    {" -preme 1", "", "the option is gone; it only tuned the motion search"},
    {"-map 0:1:1:0", "-map 0:a:0",
     "the stream-synchronisation form of -map is gone; the first sound stream of the source is meant"},
    {"\"SOURCE\"", "\"file:SOURCE\"",
     "a path is always a file: without the prefix a name such as \"concat:a|b\" would be read as a protocol"},
    {"\"BASE.m2v\" -map", "\"file:BASE.m2v\" -map", "as for the source"},
    {"-shortest -map 0:0 \"BASE.m2v\"", "-shortest -map 0:0 \"file:BASE.m2v\"", "as for the source"},
    {"-shortest \"BASE.ac3\"", "-shortest \"file:BASE.ac3\"", "as for the source"},
};

std::string WithChanges(std::string text) { return ::WithChanges(std::move(text), kArgumentChanges); }

std::string Substitute(std::string text, int tvSystem, int aspect) {
  const bool ntsc = tvSystem == CDVDFile::kNtsc;
  ReplaceAll(&text, "%hwrate%", ntsc ? "720x480" : "720x576");
  ReplaceAll(&text, "%height%", ntsc ? "480" : "576");
  ReplaceAll(&text, "%framerate%", ntsc ? "29.97" : "25");
  ReplaceAll(&text, "%aspect%", aspect == CDVDFile::kAspect16x9 ? "16:9" : "4:3");
  ReplaceAll(&text, "%format%", ntsc ? "ntsc" : "pal");
  return text;
}

// The arguments of a template with the placeholders replaced one argument
// at a time, so no character of a path changes the command.
std::vector<std::string> Expand(const std::string& text, const std::string& source, const std::string& base) {
  std::vector<std::string> args = SplitArguments(text);
  for (std::string& a : args) {
    const bool file = a.rfind("file:", 0) == 0;
    std::string bare = file ? a.substr(5) : a;
    if (bare == "SOURCE") bare = source;
    else if (bare.rfind("BASE.", 0) == 0) bare = base + bare.substr(4);
    else continue;
    a = (file ? "file:" : "") + bare;
  }
  return args;
}

std::string Shown(const std::vector<std::string>& args) {
  std::string out;
  for (const std::string& a : args) {
    if (!out.empty()) out += ' ';
    out += a.find(' ') == std::string::npos ? a : "\"" + a + "\"";
  }
  return out;
}

uint64_t FileSize(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) ? uint64_t(st.st_size) : 0;
}

bool Exists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

std::string Upper(std::string text) {
  for (char& c : text)
    if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
  return text;
}

std::string Extension(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  const size_t dot = path.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
  return Upper(path.substr(dot));
}

// An attribute value of the authoring script: the characters XML gives a
// meaning to are written as references, so no file name changes the script.
std::string XmlValue(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

std::string FindNamedTool(const char* variable, const char* name) {
  if (const char* over = std::getenv(variable); over && *over) return over;
  return FindTool(name);
}

bool ReadWhole(const std::string& path, std::vector<uint8_t>* out) {
  std::string why;
  const int fd = safefile::OpenForReading(path, &why);
  if (fd < 0) return false;
  out->clear();
  uint8_t buffer[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      ::close(fd);
      return false;
    }
    if (n == 0) break;
    out->insert(out->end(), buffer, buffer + n);
  }
  return ::close(fd) == 0;
}

}  // namespace

CDVDFile::CDVDFile() = default;

CDVDFile::~CDVDFile() { CleanUp(); }

std::string CDVDFile::CurrentStep() const {
  StepText text;
  size_t title, titles;
  {
    std::lock_guard<std::mutex> hold(stepLock_);
    text = step_;
    title = stepTitle_;
    titles = stepTitles_;
  }
  if (text == kStepNone) return {};
  std::string caption = LoadLangText("UIText", text);
  ReplaceAll(&caption, "%1", std::to_string(title));
  ReplaceAll(&caption, "%2", std::to_string(titles));
  return caption;
}

void CDVDFile::SetStep(StepText text, size_t title, size_t titles) {
  std::lock_guard<std::mutex> hold(stepLock_);
  step_ = text;
  stepTitle_ = title;
  stepTitles_ = titles;
}

std::string CDVDFile::LastLines(const std::string& output, int lines) {
  // Progress lines end in "\r": each counts as a line of its own.
  std::vector<std::string> kept;
  size_t at = 0;
  while (at < output.size()) {
    size_t end = output.find_first_of("\r\n", at);
    if (end == std::string::npos) end = output.size();
    std::string line = output.substr(at, end - at);
    if (line.find_first_not_of(" \t") != std::string::npos) kept.push_back(line);
    at = end + 1;
  }
  std::string out;
  for (size_t i = kept.size() > size_t(lines) ? kept.size() - size_t(lines) : 0; i < kept.size(); ++i)
    out += kept[i] + "\n";
  return out;
}

int CDVDFile::Fail(int code, const std::string& why, const std::string& toolOutput) {
  lastError_ = why;
  if (!toolOutput.empty()) lastError_ += ":\n" + LastLines(toolOutput);
  return code;
}

bool CDVDFile::MakeWorkFolder() {
  RemoveWorkFolder();
  const std::string folder = ::MakeWorkFolder("varnex-dvd-");
  if (folder.empty()) return false;
  workFolder_ = folder + "/";
  return true;
}

void CDVDFile::RemoveWorkFolder() {
  if (workFolder_.empty()) return;
  RemoveTree(workFolder_.substr(0, workFolder_.size() - 1));
  workFolder_.clear();
}

void CDVDFile::CleanUp() {
  if (!headerFile_.empty()) ::unlink(headerFile_.c_str());
  headerFile_.clear();
  closingFile_.clear();
  RemoveWorkFolder();
  records_.clear();
  totalSectors_ = 0;
}

bool CDVDFile::UsedDirectly(const std::string& path, int reencode) {
  const std::string ext = Extension(path);
  return ext == ".VOB" || (reencode == 0 && (ext == ".MPG" || ext == ".MPEG"));
}

std::string CDVDFile::VideoArguments(const std::string& source, const std::string& base, int tvSystem, int aspect) {
  return Shown(Expand(Substitute(WithChanges(kVideoTemplate), tvSystem, aspect), source, base));
}

std::string CDVDFile::SoundArguments(const std::string& source, const std::string& base) {
  return Shown(Expand(WithChanges(kSoundTemplate), source, base));
}

std::string CDVDFile::MultiplexArguments(const std::string& base) {
  return Shown(Expand(WithChanges(kMultiplexTemplate), "", base));
}

std::string CDVDFile::AuthoringScript(const std::string& workFolder, const std::vector<Title>& titles, int tvSystem,
                                      int aspect) {
  const std::string format = tvSystem == kNtsc ? "ntsc" : "pal";
  const std::string ratio = aspect == kAspect16x9 ? "16:9" : "4:3";
  std::string s = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  s += "<dvdauthor dest=\"" + XmlValue(workFolder) + "\">\n";
  s += "<vmgm><fpc>";
  char rule[64];
  for (size_t k = 1; k <= titles.size(); ++k) {
    std::snprintf(rule, sizeof rule, "if (g0 == %zu) { jump title %zu; }", k, k);
    s += rule;
  }
  s += " jump title 1;</fpc>";
  s += "<menus lang=\"en\"><video aspect=\"" + ratio + "\" format=\"" + format + "\" /></menus></vmgm>";
  for (size_t k = 1; k <= titles.size(); ++k) {
    const Title& t = titles[k - 1];
    // One chapter a title, at its start: a mark at the title's length (all
    // the tools report) would open a stub chapter of the last picture group.
    const std::string chapters = "0:00";
    std::string post;
    if (k < titles.size()) {
      std::snprintf(rule, sizeof rule, "g0 = %zu; call vmgm fpc;", k + 1);
      post = rule;
    }
    s += "<titleset><titles><audio lang=\"EN\" format=\"ac3\" channels=\"2\" /><video format=\"" + format +
         "\" aspect=\"" + ratio + "\" /><pgc><pre></pre><vob file=\"" + XmlValue(t.file) + "\" chapters=\"" +
         chapters + "\"  /><post>" + post + "</post></pgc></titles></titleset>";
  }
  s += "</dvdauthor>";
  return s;
}

int CDVDFile::Build(const std::string& label, int reencode, int tvSystem, int aspect, int count,
                    const char* table) {
  if (count < 1 || count > kMaxTitles || !table) return Fail(0, "1 to 260 video files are needed");
  std::vector<std::string> inputs;
  for (int i = 0; i < count; ++i) {
    const char* slot = table + size_t(i) * kPathSize;
    inputs.emplace_back(slot, strnlen(slot, kPathSize));
  }
  return Build(label, reencode, tvSystem, aspect, inputs);
}

int CDVDFile::Build(const std::string& label, int reencode, int tvSystem, int aspect,
                    const std::vector<std::string>& inputs) {
  progress = 0;
  engine_ = 0;
  lastError_.clear();
  CleanUp();
  if (inputs.empty() || inputs.size() > size_t(kMaxTitles)) return Fail(0, "1 to 260 video files are needed");
  if (tvSystem != kNtsc) tvSystem = kPal;
  if (aspect != kAspect16x9) aspect = kAspect4x3;
  label_ = label;
  titleCount_ = int(inputs.size());
  for (const std::string& in : inputs) {
    std::string why;
    if (!safefile::IsRegularFile(in, &why)) return Fail(kDvdInputMissing, why);
  }

  int r = FirstEngine(reencode, tvSystem, aspect, inputs);
  if (r == kDvdStopped || StopAsked()) return (CleanUp(), Fail(kDvdStopped, "cancelled"));
  if (r != 1) {
    const std::string first = lastError_;
    r = SecondEngine(reencode, tvSystem, aspect, inputs);
    if (r == kDvdStopped || StopAsked()) return (CleanUp(), Fail(kDvdStopped, "cancelled"));
    if (r != 1) {
      lastError_ = "first way: " + first + "\nsecond way: " + lastError_;
      CleanUp();
      return r;
    }
    engine_ = 2;
  } else {
    engine_ = 1;
  }
  r = CollectFiles();
  if (r != 1) {
    CleanUp();
    engine_ = 0;
    return r;
  }
  SetStep(kStepNone);
  progress = 100;
  return 1;
}

int CDVDFile::FirstEngine(int reencode, int tvSystem, int aspect, const std::vector<std::string>& inputs) {
  if (!MakeWorkFolder()) return Fail(kNoWorkFolder, "no work folder could be made in " + WorkFolderRoot());
  const size_t n = inputs.size();
  std::vector<Title> titles;
  for (size_t i = 0; i < n; ++i) {
    if (StopAsked()) return kDvdStopped;
    const std::string& source = inputs[i];
    Title t;
    CAVConvert converter;
    SetStep(kStepConvert, i + 1, n);
    if (UsedDirectly(source, reencode)) {
      t.file = source;
    } else {
      t.file = workFolder_ + std::to_string(i) + ".mpg";
      t.converted = true;
      if (!converter.Convert(source, t.file, CAVConvert::kDvdMpeg, tvSystem == kNtsc ? 1 : 0,
                             aspect == kAspect16x9 ? 1 : 0, &cancel)) {
        if (StopAsked()) return kDvdStopped;
        return Fail(kDvdTitleNotConverted, "the converter could not make a DVD stream of " + source,
                    converter.LastOutput().empty() ? converter.LastError() : converter.LastOutput());
      }
    }
    titles.push_back(t);
    progress = int(100 * i / n + 90 / n);
  }
  return Author(titles, tvSystem, aspect);
}

int CDVDFile::SecondEngine(int reencode, int tvSystem, int aspect, const std::vector<std::string>& inputs) {
  if (!MakeWorkFolder()) return Fail(kNoWorkFolder, "no work folder could be made in " + WorkFolderRoot());
  const std::string converter = CAVConvert().ConverterPath();
  const std::string multiplexer = FindNamedTool("VARNEX_MULTIPLEXER", "mplex");
  const size_t n = inputs.size();
  std::vector<Title> titles;
  ToolRun run;
  run.stop = &cancel;
  for (size_t i = 0; i < n; ++i) {
    if (StopAsked()) return kDvdStopped;
    const std::string& source = inputs[i];
    const std::string base = workFolder_ + std::to_string(i);
    Title t;
    if (UsedDirectly(source, reencode)) {
      t.file = source;
      titles.push_back(t);
      progress = int(100 * i / n + 100 / n);
      continue;
    }
    std::string output;
    // a. video
    SetStep(kStepVideo, i + 1, n);
    if (converter.empty() ||
        !RunTool(converter, Expand(Substitute(WithChanges(kVideoTemplate), tvSystem, aspect), source, base), &output,
                 &run))
      return Fail(kDvdVideoNotStarted, "the converter ffmpeg could not be started");
    if (StopAsked()) return kDvdStopped;
    if (run.exitStatus != 0 || FileSize(base + ".m2v") == 0)
      return Fail(kDvdNoVideo, "the converter made no MPEG-2 video of " + source, output);
    progress = int(100 * i / n + 30 / n);
    // b. sound; a source without sound gets none
    CAVConvert probe;
    probe.GetMediaInfo(source);
    const bool sound = probe.LastProbeHadAudio();
    if (sound) {
      SetStep(kStepSound, i + 1, n);
      output.clear();
      if (!RunTool(converter, Expand(WithChanges(kSoundTemplate), source, base), &output, &run))
        return Fail(kDvdSoundNotStarted, "the converter ffmpeg could not be started");
      if (StopAsked()) return kDvdStopped;
      if (run.exitStatus != 0 || FileSize(base + ".ac3") == 0)
        return Fail(kDvdNoSound, "the converter made no AC-3 sound of " + source, output);
    }
    progress = int(100 * i / n + 60 / n);
    // c. multiplex
    SetStep(kStepMultiplex, i + 1, n);
    output.clear();
    std::vector<std::string> muxArgs = Expand(WithChanges(kMultiplexTemplate), "", base);
    if (!sound) muxArgs.pop_back();
    if (multiplexer.empty() || !RunTool(multiplexer, muxArgs, &output, &run))
      return Fail(kDvdMultiplexerNotStarted, "the multiplexer mplex could not be started (Debian package mjpegtools)");
    if (StopAsked()) return kDvdStopped;
    if (run.exitStatus != 0 || FileSize(base + ".mpg") == 0)
      return Fail(kDvdNoProgramStream, "the multiplexer made no program stream of " + source, output);
    ::unlink((base + ".m2v").c_str());
    ::unlink((base + ".ac3").c_str());
    t.file = base + ".mpg";
    t.converted = true;
    titles.push_back(t);
    progress = int(100 * i / n + 100 / n);
  }
  return Author(titles, tvSystem, aspect);
}

int CDVDFile::Author(const std::vector<Title>& titles, int tvSystem, int aspect) {
  if (StopAsked()) return kDvdStopped;
  const std::string script = workFolder_ + "1.XML";
  {
    const std::string text = AuthoringScript(workFolder_, titles, tvSystem, aspect);
    const int fd = safefile::CreateNew(script, O_WRONLY);
    if (fd < 0) return Fail(kDvdScriptNotWritten, script + ": " + safefile::ErrorText(errno));
    const bool ok = safefile::WriteAll(fd, text.data(), text.size());
    if (::close(fd) != 0 || !ok) return Fail(kDvdScriptNotWritten, script + ": " + safefile::ErrorText(errno));
  }
  SetStep(kStepAuthor);
  const std::string author = FindNamedTool("VARNEX_AUTHORING", "dvdauthor");
  std::string output;
  ToolRun run;
  run.stop = &cancel;
  if (author.empty() || !RunTool(author, std::vector<std::string>{"-x", script}, &output, &run))
    return Fail(kDvdAuthoringNotStarted, "the authoring tool dvdauthor could not be started");
  if (StopAsked()) return kDvdStopped;
  if (run.exitStatus != 0 || FileSize(workFolder_ + "VIDEO_TS/VIDEO_TS.IFO") == 0 ||
      FileSize(workFolder_ + "VIDEO_TS/VTS_01_1.VOB") == 0)
    return Fail(kDvdAuthoringFailed, "the authoring tool dvdauthor made no DVD-Video folder", output);
  progress = 100;
  for (const Title& t : titles)
    if (t.converted) ::unlink(t.file.c_str());
  ::unlink(script.c_str());
  return 1;
}

int CDVDFile::CollectFiles() {
  SetStep(kStepLayOut);
  const std::string folder = workFolder_ + "VIDEO_TS/";
  // The label goes into the disc's information file, as players show it.
  {
    const std::string ifo = folder + "VIDEO_TS.IFO";
    const int fd = ::open(ifo.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return Fail(kDvdHeaderFailed, ifo + ": " + safefile::ErrorText(errno));
    uint8_t field[16] = {};
    std::memcpy(field, label_.data(), std::min<size_t>(16, label_.size()));
    const bool ok = safefile::PwriteAll(fd, field, sizeof field, 64) && ::fsync(fd) == 0;
    if (::close(fd) != 0 || !ok) return Fail(kDvdHeaderFailed, ifo + ": " + safefile::ErrorText(errno));
  }
  records_.clear();
  auto add = [&](const std::string& name) {
    DvdFileRecord r;
    r.sourcePath = folder + name;
    r.discName = name;
    r.byteSize = uint32_t(FileSize(r.sourcePath));
    records_.push_back(r);
  };
  // In the order players read them: the menu's VOB between its IFO and BUP.
  add("VIDEO_TS.IFO");
  if (Exists(folder + "VIDEO_TS.VOB")) add("VIDEO_TS.VOB");
  add("VIDEO_TS.BUP");
  char name[32];
  for (int t = 1; t <= 99; ++t) {
    std::snprintf(name, sizeof name, "VTS_%02d_0.IFO", t);
    if (!Exists(folder + name)) break;
    add(name);
    for (int k = 0; k <= 9; ++k) {
      std::snprintf(name, sizeof name, "VTS_%02d_%d.VOB", t, k);
      if (Exists(folder + name)) add(name);
      else if (k > 0) break;
    }
    std::snprintf(name, sizeof name, "VTS_%02d_0.BUP", t);
    add(name);
  }
  for (const DvdFileRecord& r : records_)
    if (r.byteSize == 0 && !Exists(r.sourcePath)) return Fail(kDvdHeaderFailed, r.sourcePath + " is missing");
  PackDvdRecords(&records_);

  std::vector<uint8_t> headerTemplate, entryTemplate, endTemplate;
  const std::string dir = GetProgramDir();
  if (!ReadWhole(dir + "TamsinEx/1002.dat", &headerTemplate) || !ReadWhole(dir + "Tamsin/2004.dat", &entryTemplate) ||
      !ReadWhole(dir + "Tamsin/2006.dat", &endTemplate))
    return Fail(kDvdHeaderFailed, "the disc header templates are missing from " + dir + "Tamsin/ and " + dir +
                                   "TamsinEx/");
  std::vector<uint8_t> header;
  std::string why;
  if (!LayOutDvdHeader(headerTemplate, entryTemplate, endTemplate, label_, records_, std::time(nullptr), &header,
                       &totalSectors_, &why))
    return Fail(kDvdHeaderFailed, why);
  const std::string path = MakeTempFile("tmp");
  if (path.empty()) return Fail(kDvdHeaderFailed, "no temporary file could be made in " + TempFolder());
  headerFile_ = path;
  const int fd = ::open(path.c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return Fail(kDvdHeaderFailed, path + ": " + safefile::ErrorText(errno));
  bool ok = safefile::WriteAll(fd, header.data(), header.size()) && ::fsync(fd) == 0;
  if (::close(fd) != 0 || !ok) return Fail(kDvdHeaderFailed, path + ": " + safefile::ErrorText(errno));
  closingFile_ = workFolder_ + "closing.anchor";
  const std::vector<uint8_t> anchor = DvdClosingAnchor(header, totalSectors_);
  const int afd = safefile::CreateNew(closingFile_, O_WRONLY);
  if (afd < 0) return Fail(kDvdHeaderFailed, closingFile_ + ": " + safefile::ErrorText(errno));
  ok = safefile::WriteAll(afd, anchor.data(), anchor.size()) && ::fsync(afd) == 0;
  if (::close(afd) != 0 || !ok) return Fail(kDvdHeaderFailed, closingFile_ + ": " + safefile::ErrorText(errno));
  return 1;
}

int CDVDFile::GetFileTable(char* table) const {
  if (!table || records_.empty()) return 0;
  auto put = [table](size_t i, const std::string& path) {
    char* slot = table + i * kPathSize;
    std::memset(slot, 0, kPathSize);
    std::memcpy(slot, path.data(), std::min<size_t>(kPathSize - 1, path.size()));
  };
  for (size_t i = 0; i < records_.size(); ++i) put(i, records_[i].sourcePath);
  put(records_.size(), closingFile_);
  return TableCount();
}
