#include "ImageLayout.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

#include "ByteFields.h"
#include "SectorSizes.h"

using cdsector::Mode;

int32_t ImageLayout::EndLba() const {
  int32_t end = 0;
  for (const ImageExtent& e : extents) end = std::max(end, e.lba + e.count);
  return end;
}

ImageTrackNotes ImageLayout::NotesOf(size_t i) const {
  if (i < notes.size()) return notes[i];
  ImageTrackNotes n;
  n.index0 = i < tracks.size() ? tracks[i].start : 0;
  return n;
}

SheetFiles LocalSheetFiles() {
  SheetFiles f;
  f.sizeOf = [](const std::string& path) -> int64_t {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
    return st.st_size;
  };
  f.list = [](const std::string& folder) {
    std::vector<std::string> names;
    DIR* d = ::opendir(folder.empty() ? "." : folder.c_str());
    if (!d) return names;
    while (dirent* e = ::readdir(d)) names.emplace_back(e->d_name);
    ::closedir(d);
    return names;
  };
  f.read = [](const std::string& path, uint64_t offset, void* out, size_t size) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool ok = ::pread(fd, out, size, off_t(offset)) == ssize_t(size);
    ::close(fd);
    return ok;
  };
  return f;
}

namespace {

bool Fail(std::string* why, const std::string& text) {
  if (why) *why = text;
  return false;
}

// ---- CUE ------------------------------------------------------------------

struct CueTrack {
  int number = 0;
  int session = 1;
  Mode mode = Mode::Mode1;
  int sectorSize = kRawSectorSize;
  int file = 0;
  int64_t index0 = -1, index1 = -1;  // frames in the file
  std::vector<int64_t> indexes;      // INDEX 02 on, frames in the file
  int32_t pregap = 0, postgap = 0;   // sectors not in the file
  uint8_t flags = 0;                 // FLAGS as control bits
  std::string isrc;
  std::string title, performer, songwriter;
};

// Splits a CUE line into words; a quoted word keeps its blanks.
std::vector<std::string> Words(const std::string& line) {
  std::vector<std::string> w;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && std::isspace(uint8_t(line[i]))) ++i;
    if (i >= line.size()) break;
    std::string word;
    if (line[i] == '"') {
      size_t end = line.find('"', i + 1);
      if (end == std::string::npos) end = line.size();
      word = line.substr(i + 1, end - i - 1);
      i = end + 1;
    } else {
      while (i < line.size() && !std::isspace(uint8_t(line[i]))) word += line[i++];
    }
    w.push_back(word);
  }
  return w;
}

bool ParseMsf(const std::string& s, int64_t& frames) {
  int m, sec, f;
  char c1, c2;
  std::istringstream in(s);
  if (!(in >> m >> c1 >> sec >> c2 >> f) || c1 != ':' || c2 != ':') return false;
  if (m < 0 || m > 999 || sec < 0 || sec > 59 || f < 0 || f > 74) return false;
  frames = MsfToFrames(m, sec, f);
  return true;
}

std::string Upper(std::string s) {
  for (char& ch : s) ch = char(std::toupper(uint8_t(ch)));
  return s;
}

// A sheet names files as the system it was written on spells them: a
// backslash separates folders on Windows.
std::string SheetName(std::string name) {
  std::replace(name.begin(), name.end(), '\\', '/');
  return name;
}

}  // namespace

bool FindSheetFile(const std::string& name, const std::string& folder, const SheetFiles& files, std::string* path,
                   std::string* notice, std::string* why) {
  const std::string clean = SheetName(name);
  if (clean.empty()) return Fail(why, "a file without a name");
  const bool absolute = clean[0] == '/';
  std::string full = absolute ? clean : folder + clean;
  if (files.sizeOf(full) >= 0 || !files.list) {
    *path = full;
    return files.sizeOf(full) >= 0 || Fail(why, "the file " + full + " is missing");
  }
  // Only the last part is matched without regard to case, in the folder the
  // name says.
  const size_t slash = full.find_last_of('/');
  const std::string where = slash == std::string::npos ? "" : full.substr(0, slash + 1);
  const std::string last = full.substr(slash == std::string::npos ? 0 : slash + 1);
  std::vector<std::string> matches;
  for (const std::string& n : files.list(where))
    if (n.size() == last.size() && Upper(n) == Upper(last) && files.sizeOf(where + n) >= 0) matches.push_back(n);
  if (matches.empty()) return Fail(why, "the file " + full + " is missing");
  if (matches.size() > 1) {
    std::sort(matches.begin(), matches.end());
    return Fail(why, "the file " + full + " is missing, and " + matches[0] + " and " + matches[1] +
                         " both match it without regard to case");
  }
  *path = where + matches[0];
  if (notice) *notice = "the sheet names " + clean + "; " + *path + " was taken for it";
  return true;
}

namespace {

struct CueSheet {
  std::vector<CueTrack> tracks;
  std::vector<int64_t> fileSizes;   // bytes of sector data in each file
  std::vector<uint64_t> fileStart;  // where that data begins (after a WAVE header)
  std::vector<bool> fileSwap;       // big-endian samples
  std::string title, performer, songwriter;  // of the disc
  std::string catalog;
  std::vector<uint8_t> textFile;  // the packs of a CDTEXTFILE
};

}  // namespace

bool WaveData(const std::string& path, const SheetFiles& files, int64_t fileSize, uint64_t* start, int64_t* size,
              std::string* why) {
  uint8_t head[12];
  if (!files.read || !files.read(path, 0, head, sizeof head) || std::memcmp(head, "RIFF", 4) != 0 ||
      std::memcmp(head + 8, "WAVE", 4) != 0)
    return Fail(why, path + " is no WAVE file");
  bool format = false;
  for (uint64_t at = 12; at + 8 <= uint64_t(fileSize);) {
    uint8_t chunk[24];
    if (!files.read(path, at, chunk, 8)) break;
    const uint32_t len = uint32_t(chunk[4]) | uint32_t(chunk[5]) << 8 | uint32_t(chunk[6]) << 16 | uint32_t(chunk[7]) << 24;
    if (std::memcmp(chunk, "fmt ", 4) == 0) {
      if (len < 16 || !files.read(path, at + 8, chunk + 8, 16)) break;
      const uint8_t* f = chunk + 8;
      const unsigned tag = f[0] | f[1] << 8, channels = f[2] | f[3] << 8, bits = f[14] | f[15] << 8;
      const uint32_t rate = uint32_t(f[4]) | uint32_t(f[5]) << 8 | uint32_t(f[6]) << 16 | uint32_t(f[7]) << 24;
      if (tag != 1 || channels != 2 || bits != 16 || rate != 44100)
        return Fail(why, path + " is not 16-bit stereo PCM at 44.1 kHz, as a CD needs");
      format = true;
    } else if (std::memcmp(chunk, "data", 4) == 0) {
      if (!format) break;
      *start = at + 8;
      *size = std::min<int64_t>(len, fileSize - int64_t(at + 8));
      return true;
    }
    at += 8 + uint64_t(len) + (len & 1);
  }
  return Fail(why, path + " is a damaged WAVE file");
}

namespace {

// FILE name type: the file the following tracks are read from.
bool CueFile(const std::vector<std::string>& w, const std::string& where, const std::string& folder,
             const SheetFiles& files, ImageLayout& out, CueSheet* sheet, std::string* why) {
  if (w.size() < 3) return Fail(why, where + "FILE needs a name and a type");
  std::string type = Upper(w[2]);
  if (type != "BINARY" && type != "MOTOROLA" && type != "WAVE")
    return Fail(why, where + "only BINARY, MOTOROLA and WAVE files are read, not " + w[2]);
  std::string path, notice, missing;
  if (!FindSheetFile(w[1], folder, files, &path, &notice, &missing)) return Fail(why, where + missing);
  if (!notice.empty()) out.notices.push_back(notice);
  int64_t size = files.sizeOf(path);
  uint64_t start = 0;
  if (type == "WAVE" && !WaveData(path, files, size, &start, &size, &missing)) return Fail(why, where + missing);
  out.files.push_back(path);
  sheet->fileSizes.push_back(size);
  sheet->fileStart.push_back(start);
  sheet->fileSwap.push_back(type == "MOTOROLA");
  return true;
}

// TRACK number mode: a new track in the current file and session.
bool CueTrackLine(const std::vector<std::string>& w, const std::string& where, int session, const ImageLayout& out,
                  CueSheet* sheet, std::string* why) {
  std::vector<CueTrack>& tracks = sheet->tracks;
  if (out.files.empty()) return Fail(why, where + "TRACK before FILE");
  if (w.size() < 3) return Fail(why, where + "TRACK needs a number and a mode");
  CueTrack t;
  t.number = std::atoi(w[1].c_str());
  int expected = tracks.empty() ? t.number : tracks.back().number + 1;
  if (t.number < 1 || t.number > 99 || t.number != expected)
    return Fail(why, where + "track numbers must run from 1 to 99 without gaps");
  std::string mode = Upper(w[2]);
  // Mode 2 tracks are CD-ROM XA: each sector says its form in its sub-header.
  if (mode == "AUDIO") t.mode = Mode::Audio, t.sectorSize = kRawSectorSize;
  else if (mode == "MODE1/2048") t.mode = Mode::Mode1, t.sectorSize = kDataSectorSize;
  else if (mode == "MODE1/2352") t.mode = Mode::Mode1, t.sectorSize = kRawSectorSize;
  else if (mode == "MODE2/2352" || mode == "CDI/2352") t.mode = Mode::Mode2Form1, t.sectorSize = kRawSectorSize;
  else if (mode == "MODE2/2336" || mode == "CDI/2336") t.mode = Mode::Mode2Formless, t.sectorSize = kMode2Size;
  else if (mode == "MODE2/2048") t.mode = Mode::Mode2Form1, t.sectorSize = kDataSectorSize;
  else if (mode == "MODE2/2324") t.mode = Mode::Mode2Form2, t.sectorSize = kForm2Size;
  else return Fail(why, where + "the track mode " + w[2] + " is not supported");
  if (t.mode == Mode::Audio && sheet->fileStart.back() > 0 && t.sectorSize != kRawSectorSize)
    return Fail(why, where + "a WAVE file holds audio tracks only");
  t.file = int(out.files.size()) - 1;
  t.session = session;
  tracks.push_back(t);
  return true;
}

// INDEX number time: where the current track's pause (00) or data (01) begins.
bool CueIndex(const std::vector<std::string>& w, const std::string& where, const ImageLayout& out,
              std::vector<CueTrack>& tracks, std::string* why) {
  if (tracks.empty() || w.size() < 3) return Fail(why, where + "INDEX outside a track");
  int number = std::atoi(w[1].c_str());
  int64_t frames;
  if (!ParseMsf(w[2], frames)) return Fail(why, where + "bad time " + w[2]);
  CueTrack& t = tracks.back();
  if (t.file != int(out.files.size()) - 1) return Fail(why, where + "a track spread over two files");
  if (number < 0 || number > 99) return Fail(why, where + "bad index number");
  // Index points come in order, each once, each later than the one before.
  const int64_t last = !t.indexes.empty() ? t.indexes.back() : t.index1 >= 0 ? t.index1 : t.index0;
  const int expected = !t.indexes.empty() ? int(t.indexes.size()) + 2 : t.index1 >= 0 ? 2 : t.index0 >= 0 ? 1 : -1;
  if ((expected >= 0 && number != expected) || (expected < 0 && number > 1))
    return Fail(why, where + "INDEX " + w[1] + " out of order" +
                         (expected >= 0 ? " (INDEX " + std::string(expected < 10 ? "0" : "") + std::to_string(expected) +
                                              " comes next)"
                                        : " (a track begins with INDEX 00 or 01)"));
  if (last >= 0 && frames <= last) return Fail(why, where + "INDEX " + w[1] + " is not later than the index before it");
  if (number == 0) t.index0 = frames;
  else if (number == 1) t.index1 = frames;
  else t.indexes.push_back(frames);
  return true;
}

// PREGAP or POSTGAP time: silence written around the current track.
bool CueGap(const std::vector<std::string>& w, const std::string& key, const std::string& where,
            std::vector<CueTrack>& tracks, std::string* why) {
  if (tracks.empty() || w.size() < 2) return Fail(why, where + key + " outside a track");
  int64_t frames;
  if (!ParseMsf(w[1], frames) || frames > 450000) return Fail(why, where + "bad time");
  (key == "PREGAP" ? tracks.back().pregap : tracks.back().postgap) = int32_t(frames);
  return true;
}

// REM SESSION n: the session the following tracks belong to.
bool CueSession(const std::vector<std::string>& w, const std::string& where, const std::vector<CueTrack>& tracks,
                int* session, std::string* why) {
  if (w.size() >= 3 && Upper(w[1]) == "SESSION") {
    int s = std::atoi(w[2].c_str());
    if (s != *session && s != *session + 1) return Fail(why, where + "sessions must follow each other");
    if (s == *session + 1 && tracks.empty()) return Fail(why, where + "an empty session");
    *session = s;
  }
  return true;
}

// TITLE, PERFORMER or SONGWRITER: of the disc before the first track, else of the current track.
void CueText(const std::vector<std::string>& w, const std::string& key, CueSheet* sheet) {
  std::vector<CueTrack>& tracks = sheet->tracks;
  std::string value = w.size() > 1 ? w[1] : "";
  if (value.size() > 159) value.resize(159);
  std::string& field = key == "TITLE" ? (tracks.empty() ? sheet->title : tracks.back().title)
                       : key == "PERFORMER" ? (tracks.empty() ? sheet->performer : tracks.back().performer)
                                            : (tracks.empty() ? sheet->songwriter : tracks.back().songwriter);
  field = value;
}

bool CueCatalog(const std::vector<std::string>& w, const std::string& where, CueSheet* sheet, std::string* why) {
  const std::string digits = w.size() > 1 ? w[1] : "";
  if (digits.size() != 13 || !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return Fail(why, where + "CATALOG needs 13 digits");
  sheet->catalog = digits;
  return true;
}

bool CueIsrc(const std::vector<std::string>& w, const std::string& where, std::vector<CueTrack>& tracks,
             std::string* why) {
  if (tracks.empty()) return Fail(why, where + "ISRC outside a track");
  const std::string code = Upper(w.size() > 1 ? w[1] : "");
  // What a recorder takes into the sub-channel: anything else fails the burn.
  if (!IsValidIsrc(code))
    return Fail(why, where + "ISRC needs 12 characters: 5 letters or digits, then 7 digits");
  tracks.back().isrc = code;
  return true;
}

bool CueFlags(const std::vector<std::string>& w, const std::string& where, std::vector<CueTrack>& tracks,
              std::string* why) {
  if (tracks.empty()) return Fail(why, where + "FLAGS outside a track");
  for (size_t i = 1; i < w.size(); ++i) {
    const std::string f = Upper(w[i]);
    if (f == "DCP") tracks.back().flags |= 0x2;
    else if (f == "PRE") tracks.back().flags |= 0x1;
    else if (f == "4CH") tracks.back().flags |= 0x8;
    else if (f != "SCMS") return Fail(why, where + "unknown flag " + w[i]);
  }
  return true;
}

// CDTEXTFILE name: the disc's CD-Text as packs of 18 bytes, with or
// without the 4-byte header READ TOC gives them with (and the zero some
// tools write after them). Its texts take the place of the sheet's.
bool CueTextFile(const std::vector<std::string>& w, const std::string& where, const std::string& folder,
                 const SheetFiles& files, ImageLayout& out, CueSheet* sheet, std::string* why) {
  if (w.size() < 2) return Fail(why, where + "CDTEXTFILE needs a name");
  std::string path, notice, missing;
  if (!FindSheetFile(w[1], folder, files, &path, &notice, &missing)) return Fail(why, where + missing);
  if (!notice.empty()) out.notices.push_back(notice);
  const int64_t size = files.sizeOf(path);
  if (size < 18 || size > 4 + 18 * 255 * 8 + 1) return Fail(why, where + path + " holds no CD-Text packs");
  std::vector<uint8_t> data(size_t(size), 0);
  if (!files.read || !files.read(path, 0, data.data(), data.size())) return Fail(why, where + "cannot read " + path);
  size_t skip = 0;
  if (size % 18 != 0) {
    if ((size - 4) % 18 == 0 || (size - 5) % 18 == 0) skip = 4;
    else if ((size - 1) % 18 != 0) return Fail(why, where + path + " holds no whole CD-Text packs");
  }
  const size_t count = (data.size() - skip) / 18;
  for (size_t i = 0; i < count; ++i) {
    const uint8_t* p = data.data() + skip + 18 * i;
    if (CdTextCrc(p) != uint16_t(p[16] << 8 | p[17]))
      return Fail(why, where + path + ": CD-Text pack " + std::to_string(i + 1) + " is damaged (its CRC is wrong)");
  }
  FS_CDTEXT_INFO parsed;
  if (!ParseCdTextPacks(data.data() + skip, count * 18, parsed)) return Fail(why, where + path + " holds no CD-Text");
  sheet->textFile.assign(data.begin() + long(skip), data.begin() + long(skip + count * 18));
  return true;
}

// The sheet's lines: files, tracks, indexes, gaps, sessions and texts.
bool ReadCueLines(const std::string& text, const std::string& folder, const SheetFiles& files, ImageLayout& out,
                  CueSheet* sheet, std::string* why) {
  std::vector<CueTrack>& tracks = sheet->tracks;
  int session = 1;
  std::istringstream in(text);
  std::string line;
  int lineNo = 0;
  while (std::getline(in, line)) {
    ++lineNo;
    if (lineNo > 100000) return Fail(why, "the CUE sheet is too long");
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (lineNo == 1 && line.size() >= 3 && uint8_t(line[0]) == 0xEF) line.erase(0, 3);  // byte order mark
    std::vector<std::string> w = Words(line);
    if (w.empty()) continue;
    std::string key = Upper(w[0]);
    std::string where = "CUE line " + std::to_string(lineNo) + ": ";
    bool good = true;
    if (key == "FILE") good = CueFile(w, where, folder, files, out, sheet, why);
    else if (key == "TRACK") good = CueTrackLine(w, where, session, out, sheet, why);
    else if (key == "INDEX") good = CueIndex(w, where, out, tracks, why);
    else if (key == "PREGAP" || key == "POSTGAP") good = CueGap(w, key, where, tracks, why);
    else if (key == "REM") good = CueSession(w, where, tracks, &session, why);
    else if (key == "TITLE" || key == "PERFORMER" || key == "SONGWRITER") CueText(w, key, sheet);
    else if (key == "CATALOG") good = CueCatalog(w, where, sheet, why);
    else if (key == "ISRC") good = CueIsrc(w, where, tracks, why);
    else if (key == "FLAGS") good = CueFlags(w, where, tracks, why);
    else if (key == "CDTEXTFILE") good = CueTextFile(w, where, folder, files, out, sheet, why);
    // Others carry nothing we need.
    if (!good) return false;
  }
  return true;
}

// Byte offset of track i's first frame (`dataStart`) in its file: the frames
// before it, each of the size of the track it belongs to.
uint64_t FileOffsetOf(const std::vector<CueTrack>& tracks, size_t i, int64_t dataStart) {
  const CueTrack& t = tracks[i];
  uint64_t byteAt = 0;
  int64_t prevPos = 0;
  int prevSize = t.sectorSize;
  bool any = false;
  for (size_t j = 0; j < i; ++j)
    if (tracks[j].file == t.file) {
      int64_t pos = tracks[j].index0 >= 0 ? tracks[j].index0 : tracks[j].index1;
      if (any) byteAt += uint64_t(pos - prevPos) * uint64_t(prevSize);
      else byteAt = uint64_t(pos) * uint64_t(tracks[j].sectorSize);
      prevPos = pos, prevSize = tracks[j].sectorSize, any = true;
    }
  if (any) byteAt += uint64_t(dataStart - prevPos) * uint64_t(prevSize);
  else byteAt = uint64_t(dataStart) * uint64_t(t.sectorSize);
  return byteAt;
}

// Byte offset of each track's first sector in its file, and disc addresses.
bool PlaceCueTracks(const CueSheet& sheet, ImageLayout& out, std::string* why) {
  const std::vector<CueTrack>& tracks = sheet.tracks;
  if (tracks.empty()) return Fail(why, "the CUE sheet names no track");
  int32_t fileBase = 0, shift = 0;
  for (size_t i = 0; i < tracks.size(); ++i) {
    const CueTrack& t = tracks[i];
    if (t.index1 < 0) return Fail(why, "track " + std::to_string(t.number) + " has no INDEX 01");
    bool firstInFile = i == 0 || tracks[i - 1].file != t.file;
    if (firstInFile && i > 0) {
      // The previous file ended where its last track's data ended.
      const CueTrack& p = tracks[i - 1];
      fileBase = out.tracks.back().start + out.tracks.back().size - shift;
      shift += p.postgap;
    } else if (i > 0) {
      shift += tracks[i - 1].postgap;
    }
    int64_t dataStart = t.index0 >= 0 ? t.index0 : t.index1;
    int64_t dataEnd;
    const CueTrack* next = (i + 1 < tracks.size() && tracks[i + 1].file == t.file) ? &tracks[i + 1] : nullptr;
    const uint64_t byteAt = FileOffsetOf(tracks, i, dataStart);
    if (byteAt > uint64_t(sheet.fileSizes[t.file])) return Fail(why, "track " + std::to_string(t.number) + " starts past the end of its file");
    if (next) {
      dataEnd = next->index0 >= 0 ? next->index0 : next->index1;
      if (dataEnd <= t.index1) return Fail(why, "track " + std::to_string(next->number) + " starts before the track before it");
      if (byteAt + uint64_t(dataEnd - dataStart) * uint64_t(t.sectorSize) > uint64_t(sheet.fileSizes[t.file]))
        return Fail(why, "track " + std::to_string(t.number) + " runs past the end of its file");
    } else {
      dataEnd = dataStart + int64_t((uint64_t(sheet.fileSizes[t.file]) - byteAt) / uint64_t(t.sectorSize));
      if (dataEnd <= t.index1) return Fail(why, "track " + std::to_string(t.number) + " has no data in its file");
    }
    if (fileBase + dataEnd + shift + t.pregap > 4500000) return Fail(why, "the image is too long for a disc");
    ImageTrackNotes notes;
    notes.index0 = int32_t(fileBase + dataStart + shift);
    notes.flags = t.flags;
    notes.isrc = t.isrc;
    for (int64_t at : t.indexes) {
      if (at >= dataEnd) return Fail(why, "track " + std::to_string(t.number) + " has an index point past its end");
      notes.indexes.push_back(int32_t(fileBase + at + shift + t.pregap));
    }
    out.notes.push_back(notes);
    if (t.pregap > 0) {
      out.extents.push_back({int32_t(fileBase + dataStart + shift), t.pregap, -1, 0, t.sectorSize});
      shift += t.pregap;
    }
    ImageExtent data{int32_t(fileBase + dataStart + shift), int32_t(dataEnd - dataStart), t.file,
                     sheet.fileStart[size_t(t.file)] + byteAt, t.sectorSize};
    data.swapBytes = sheet.fileSwap[size_t(t.file)];
    out.extents.push_back(data);
    DiscTrack d;
    d.number = t.number;
    d.session = t.session;
    d.start = int32_t(fileBase + t.index1 + shift);
    d.size = d.recorded = int32_t(dataEnd - t.index1);
    d.mode = t.mode;
    d.closed = true;
    out.tracks.push_back(d);
    if (t.postgap > 0) out.extents.push_back({int32_t(fileBase + dataEnd + shift), t.postgap, -1, 0, t.sectorSize});
  }
  out.sessions = tracks.back().session;
  out.catalog = sheet.catalog;
  out.fromSheet = true;
  return true;
}

// CD-Text from the sheet's texts.
void AddCueText(const CueSheet& sheet, ImageLayout& out) {
  const std::vector<CueTrack>& tracks = sheet.tracks;
  std::vector<std::vector<std::string>> texts(3, std::vector<std::string>(tracks.size() + 1));
  texts[0][0] = sheet.title, texts[1][0] = sheet.performer, texts[2][0] = sheet.songwriter;
  bool anyText = !sheet.title.empty() || !sheet.performer.empty() || !sheet.songwriter.empty();
  for (size_t i = 0; i < tracks.size(); ++i) {
    texts[0][i + 1] = tracks[i].title, texts[1][i + 1] = tracks[i].performer, texts[2][i + 1] = tracks[i].songwriter;
    anyText = anyText || !tracks[i].title.empty() || !tracks[i].performer.empty() || !tracks[i].songwriter.empty();
  }
  if (anyText) out.cdText = BuildCdTextPacks(texts);
}

}  // namespace

bool ParseCueSheet(const std::string& text, const std::string& folder, const SheetFiles& files, ImageLayout& out,
                   std::string* why) {
  out = ImageLayout();
  CueSheet sheet;
  if (!ReadCueLines(text, folder, files, out, &sheet, why) || !PlaceCueTracks(sheet, out, why)) return false;
  AddCueText(sheet, out);
  if (!sheet.textFile.empty()) out.cdText = sheet.textFile;
  return true;
}

bool ParseCueSheet(const std::string& text, const std::string& folder, const FileSizeOf& sizeOf,
                   ImageLayout& out, std::string* why) {
  SheetFiles files;
  files.sizeOf = sizeOf;
  return ParseCueSheet(text, folder, files, out, why);
}

// ---- NRG ------------------------------------------------------------------

uint64_t NrgChunkOffset(const uint8_t* last12, uint64_t fileSize) {
  if (fileSize >= 12 && std::memcmp(last12, "NER5", 4) == 0) return bytes::BE64(last12 + 4);
  if (fileSize >= 8 && std::memcmp(last12 + 4, "NERO", 4) == 0) return bytes::BE32(last12 + 8);
  return 0;
}

namespace {

struct NrgTrack {
  uint64_t index0 = 0, index1 = 0, end = 0;
  int sectorSize = 0;
  Mode mode = Mode::Mode1;
  int32_t lba = INT32_MIN;  // from the cue chunk or the track-at-once entry
};

// Sector size and mode of an NRG mode code.
bool NrgMode(uint32_t code, int& size, Mode& mode) {
  switch (code) {
    case 0x00: size = kDataSectorSize, mode = Mode::Mode1; return true;
    case 0x02: size = kDataSectorSize, mode = Mode::Mode2Form1; return true;
    case 0x03: size = kMode2Size, mode = Mode::Mode2Formless; return true;
    case 0x05: size = kRawSectorSize, mode = Mode::Mode1; return true;
    case 0x06: size = kRawSectorSize, mode = Mode::Mode2Form1; return true;
    case 0x07: size = kRawSectorSize, mode = Mode::Audio; return true;
    default: return false;
  }
}

}  // namespace

namespace {

// What the chunk area tells.
struct NrgChunks {
  uint64_t chunks = 0;  // where the chunk area starts: the image data ends there
  std::vector<NrgTrack> tracks;
  std::vector<int> sessionSizes;
  std::vector<std::pair<int, int32_t>> cueIndex1;  // track, LBA
  std::vector<std::pair<int, int32_t>> cueIndex0;
};

// A disc-at-once chunk (DAOX with 64-bit offsets, DAOI with 32-bit ones).
bool ReadNrgDaoChunk(const uint8_t* body, uint32_t len, bool x, NrgChunks* nrg, std::string* why) {
  size_t entry = x ? 42 : 30;
  if (len < 22 || (len - 22) % entry != 0) return Fail(why, "damaged NRG disc-at-once chunk");
  for (size_t p = 22; p + entry <= len; p += entry) {
    const uint8_t* e = body + p;
    NrgTrack t;
    t.sectorSize = bytes::BE16(e + 12);
    int sizeFromMode = 0;
    if (!NrgMode(e[14], sizeFromMode, t.mode)) return Fail(why, "NRG track mode " + std::to_string(e[14]) + " is not supported");
    if (t.sectorSize != sizeFromMode) return Fail(why, "NRG sector size does not match its mode");
    if (x) t.index0 = bytes::BE64(e + 18), t.index1 = bytes::BE64(e + 26), t.end = bytes::BE64(e + 34);
    else t.index0 = bytes::BE32(e + 18), t.index1 = bytes::BE32(e + 22), t.end = bytes::BE32(e + 26);
    nrg->tracks.push_back(t);
  }
  return true;
}

// A track-at-once chunk (ETN2 with 64-bit offsets, ETNF with 32-bit ones).
bool ReadNrgTaoChunk(const uint8_t* body, uint32_t len, bool v2, NrgChunks* nrg, std::string* why) {
  size_t entry = v2 ? 32 : 20;
  if (len % entry != 0) return Fail(why, "damaged NRG track-at-once chunk");
  for (size_t p = 0; p + entry <= len; p += entry) {
    const uint8_t* e = body + p;
    NrgTrack t;
    uint64_t offset = v2 ? bytes::BE64(e) : bytes::BE32(e);
    uint64_t length = v2 ? bytes::BE64(e + 8) : bytes::BE32(e + 4);
    uint32_t mode = bytes::BE32(e + (v2 ? 16 : 8));
    uint32_t lba = bytes::BE32(e + (v2 ? 20 : 12));
    if (!NrgMode(mode, t.sectorSize, t.mode)) return Fail(why, "NRG track mode " + std::to_string(mode) + " is not supported");
    if (length > UINT64_MAX - offset) return Fail(why, "damaged NRG track entry");
    t.index0 = t.index1 = offset;
    t.end = offset + length;
    t.lba = int32_t(lba);
    nrg->tracks.push_back(t);
  }
  return true;
}

// A cue chunk: a cue point per index of each track, from the lead-in to the
// lead-out. The extended form (CUEX) gives each point as a signed LBA; the
// first form (CUES) as minutes, seconds and frames from the lead-in's end.
// Those are read as BCD, as the chunk's track and index numbers are, unless
// only binary makes a time of them that never goes backwards.
bool ReadNrgCueChunk(const uint8_t* body, uint32_t len, bool extended, NrgChunks* nrg, std::string* why) {
  if (len % 8 != 0) return Fail(why, "damaged NRG cue chunk");
  bool bcd = !extended, binary = !extended;
  int32_t lastBcd = INT32_MIN, lastBinary = INT32_MIN;
  for (size_t p = 0; p + 8 <= len && !extended; p += 8) {
    const uint8_t* e = body + p;
    if (bcd) {
      const int32_t at = int32_t(MsfToFrames(FromBcd(e[5]), FromBcd(e[6]), FromBcd(e[7]))) - kMsfOfLbaZero;
      bcd = IsBcd(e[5]) && IsBcd(e[6]) && IsBcd(e[7]) && FromBcd(e[6]) < 60 && FromBcd(e[7]) < 75 && at >= lastBcd;
      lastBcd = at;
    }
    if (binary) {
      const int32_t at = int32_t(MsfToFrames(e[5], e[6], e[7])) - kMsfOfLbaZero;
      binary = e[6] < 60 && e[7] < 75 && at >= lastBinary;
      lastBinary = at;
    }
  }
  if (!extended && !bcd && !binary) return Fail(why, "damaged NRG cue chunk (its times go backwards)");
  for (size_t p = 0; p + 8 <= len; p += 8) {
    const uint8_t* e = body + p;
    if (e[1] == 0 || e[1] == 0xAA) continue;  // lead-in and lead-out
    const int track = FromBcd(e[1]), index = FromBcd(e[2]);
    int32_t lba;
    if (extended) lba = int32_t(bytes::BE32(e + 4));
    else if (bcd) lba = int32_t(MsfToFrames(FromBcd(e[5]), FromBcd(e[6]), FromBcd(e[7]))) - kMsfOfLbaZero;
    else lba = int32_t(MsfToFrames(e[5], e[6], e[7])) - kMsfOfLbaZero;
    if (index == 1) nrg->cueIndex1.push_back({track, lba});
    if (index == 0) nrg->cueIndex0.push_back({track, lba});
  }
  return true;
}

bool ReadNrgChunks(const uint8_t* tail, size_t tailSize, uint64_t fileSize, NrgChunks* nrg, std::string* why) {
  if (tailSize < 12 || tailSize > fileSize) return Fail(why, "not an NRG image");
  nrg->chunks = NrgChunkOffset(tail + tailSize - 12, fileSize);
  const uint64_t tailStart = fileSize - tailSize;
  if (nrg->chunks == 0 || nrg->chunks < tailStart || nrg->chunks >= fileSize)
    return Fail(why, "not an NRG image (no chunk area)");
  for (uint64_t off = nrg->chunks - tailStart; off + 8 <= tailSize;) {
    const uint8_t* c = tail + off;
    uint32_t len = bytes::BE32(c + 4);
    if (off + 8 + uint64_t(len) > tailSize) return Fail(why, "NRG chunk runs past the end of the file");
    const uint8_t* body = c + 8;
    std::string id(reinterpret_cast<const char*>(c), 4);
    if (id == "END!") return true;
    bool ok = true;
    if (id == "DAOX" || id == "DAOI") {
      ok = ReadNrgDaoChunk(body, len, id == "DAOX", nrg, why);
    } else if (id == "ETN2" || id == "ETNF") {
      ok = ReadNrgTaoChunk(body, len, id == "ETN2", nrg, why);
    } else if (id == "CUEX" || id == "CUES") {
      ok = ReadNrgCueChunk(body, len, id == "CUEX", nrg, why);
    } else if (id == "SINF") {
      if (len < 4) return Fail(why, "damaged NRG session chunk");
      nrg->sessionSizes.push_back(int(bytes::BE32(body)));
    }
    if (!ok) return false;
    off += 8 + uint64_t(len);
  }
  return Fail(why, "the NRG chunk area has no end");
}

// Sessions: SINF gives the number of tracks in each, in order.
bool AssignNrgSessions(const NrgChunks& nrg, std::vector<int>* sessionOf, std::string* why) {
  sessionOf->assign(nrg.tracks.size(), 1);
  if (!nrg.sessionSizes.empty()) {
    size_t k = 0;
    for (size_t s = 0; s < nrg.sessionSizes.size(); ++s)
      for (int n = 0; n < nrg.sessionSizes[s] && k < nrg.tracks.size(); ++n) (*sessionOf)[k++] = int(s) + 1;
    if (k != nrg.tracks.size()) return Fail(why, "the NRG sessions do not match its tracks");
  }
  return true;
}

int32_t CuePoint(const std::vector<std::pair<int, int32_t>>& points, int track, int32_t otherwise) {
  for (const auto& [t, lba] : points)
    if (t == track) return lba;
  return otherwise;
}

// Each track where the cue chunk puts it. A pre-gap longer than the file
// holds (an image that leaves out the gaps' empty sectors) is made up of
// empty sectors before the ones the file has.
bool PlaceNrgTracks(const NrgChunks& nrg, const std::vector<int>& sessionOf, ImageLayout& out, std::string* why) {
  int32_t cursor = 0;
  for (size_t i = 0; i < nrg.tracks.size(); ++i) {
    const NrgTrack& t = nrg.tracks[i];
    const int number = int(i) + 1;
    uint64_t ss = uint64_t(t.sectorSize);
    if (t.index0 > t.index1 || t.index1 >= t.end || t.end > nrg.chunks || (t.index1 - t.index0) % ss || (t.end - t.index1) % ss)
      return Fail(why, "NRG track " + std::to_string(number) + " lies outside the image data");
    const int32_t filePregap = int32_t((t.index1 - t.index0) / ss);
    uint64_t length = (t.end - t.index1) / ss;
    if (length > 4500000) return Fail(why, "NRG track too long");
    int32_t start = t.lba != INT32_MIN ? t.lba : (i == 0 ? 0 : cursor + filePregap);
    start = CuePoint(nrg.cueIndex1, number, start);
    if (start < 0 || start < cursor || int64_t(start) + int64_t(length) > 4500000)
      return Fail(why, "NRG track " + std::to_string(number) + " has an impossible address");
    // The first track's pre-gap lies before sector 0, in the lead-in's time.
    int32_t gapStart = i == 0 ? start : std::max(cursor, CuePoint(nrg.cueIndex0, number, start - filePregap));
    if (gapStart > start) return Fail(why, "NRG track " + std::to_string(number) + " has its pre-gap after its start");
    const int32_t fromFile = std::min(filePregap, start - gapStart);
    if (start - fromFile > gapStart) out.extents.push_back({gapStart, start - fromFile - gapStart, -1, 0, t.sectorSize});
    if (fromFile > 0) out.extents.push_back({start - fromFile, fromFile, 0, t.index1 - uint64_t(fromFile) * ss, t.sectorSize});
    out.extents.push_back({start, int32_t(length), 0, t.index1, t.sectorSize});
    DiscTrack d;
    d.number = number;
    d.session = sessionOf[i];
    d.start = start;
    d.size = d.recorded = int32_t(length);
    d.mode = t.mode;
    d.closed = true;
    out.tracks.push_back(d);
    ImageTrackNotes notes;
    notes.index0 = gapStart;
    out.notes.push_back(notes);
    cursor = start + int32_t(length);
  }
  out.fromSheet = true;
  return true;
}

}  // namespace

bool ParseNrg(const uint8_t* tail, size_t tailSize, uint64_t fileSize, const std::string& path,
              ImageLayout& out, std::string* why) {
  out = ImageLayout();
  NrgChunks nrg;
  if (!ReadNrgChunks(tail, tailSize, fileSize, &nrg, why)) return false;
  if (nrg.tracks.empty() || nrg.tracks.size() > 99) return Fail(why, "the NRG image lists no usable tracks");
  std::vector<int> sessionOf;
  if (!AssignNrgSessions(nrg, &sessionOf, why)) return false;
  out.files.push_back(path);
  if (!PlaceNrgTracks(nrg, sessionOf, out, why)) return false;
  out.sessions = sessionOf.back();
  return true;
}

// ---- ISO and raw BIN --------------------------------------------------------

bool LayoutPlainImage(const std::string& path, uint64_t fileSize, bool raw, Mode rawMode, ImageLayout& out,
                      std::string* why) {
  out = ImageLayout();
  int size = raw ? kRawSectorSize : kDataSectorSize;
  uint64_t sectors = fileSize / uint64_t(size);
  if (sectors == 0) return Fail(why, path + " holds no whole sector");
  // A cut-off last sector means a damaged or misnamed image: burning it
  // would silently drop its end.
  if (fileSize % uint64_t(size) != 0)
    return Fail(why, path + " is " + std::to_string(fileSize) + " bytes, not a whole number of " +
                         std::to_string(size) + "-byte sectors");
  if (sectors > 0x7FFFFFFF / 2) return Fail(why, path + " is too large for a disc");
  out.files.push_back(path);
  out.extents.push_back({0, int32_t(sectors), 0, 0, size});
  DiscTrack t;
  t.number = 1;
  t.session = 1;
  t.start = 0;
  t.size = t.recorded = int32_t(sectors);
  t.mode = raw ? rawMode : Mode::Mode1;
  t.closed = true;
  out.tracks.push_back(t);
  out.cd = raw || sectors <= 405000;
  return true;
}

// ---- any image ----------------------------------------------------------------

namespace {

// A data track given as raw 2352-byte sectors starts with the sync pattern of
// a data sector; one that does not is audio or a damaged image, and burning it
// as data would write rubbish that no reader accepts.
bool RawDataTracksHaveSync(const ImageLayout& layout, std::string* why) {
  static const uint8_t kSync[12] = {0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0};
  for (const ImageExtent& e : layout.extents) {
    if (e.sectorSize != kRawSectorSize || e.file < 0 || e.count <= 0) continue;
    const DiscTrack* track = nullptr;
    for (const DiscTrack& t : layout.tracks)
      if (e.lba >= t.start && e.lba < t.start + t.size) track = &t;
    if (!track || track->mode == Mode::Audio) continue;
    const std::string& file = layout.files[size_t(e.file)];
    uint8_t head[12] = {};
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    const bool read = fd >= 0 && pread(fd, head, sizeof head, off_t(e.offset)) == ssize_t(sizeof head);
    if (fd >= 0) ::close(fd);
    if (!read || std::memcmp(head, kSync, sizeof kSync) != 0)
      return Fail(why, "track " + std::to_string(track->number) + " (" + file +
                           ") is described as raw data sectors, but its first sector has no data sync pattern");
  }
  return true;
}

std::string Extension(const std::string& path) {
  size_t dot = path.find_last_of('.'), slash = path.find_last_of('/');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
  std::string ext = path.substr(dot + 1);
  for (char& c : ext) c = char(std::tolower(uint8_t(c)));
  return ext;
}

// A sheet's text; sheets are small.
bool ReadSheetText(const std::string& path, int64_t size, std::string* text, std::string* why) {
  if (size > (1 << 20)) return Fail(why, "too large for a sheet");
  std::ifstream in(path, std::ios::binary);
  std::stringstream all;
  all << in.rdbuf();
  if (!in.good() && !in.eof()) return Fail(why, std::string("cannot be read: ") + std::strerror(errno));
  *text = all.str();
  return true;
}

// An NRG image, a raw BIN or an ISO image, told apart by their content.
bool ReadBinaryImage(const std::string& path, int64_t size, ImageLayout& out, std::string* why) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return Fail(why, std::strerror(errno));
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  uint8_t last[12] = {};
  if (size >= 12 && pread(fd, last, 12, size - 12) == 12) {
    // A file that ends in an NRG footer is read as one or refused, never
    // taken for plain sectors.
    const uint64_t chunks = NrgChunkOffset(last, uint64_t(size));
    if (chunks > 0) {
      if (chunks >= uint64_t(size) || uint64_t(size) - chunks > (16u << 20))
        return Fail(why, "not a readable NRG image: its NRG footer points outside the file");
      std::vector<uint8_t> tail(size_t(uint64_t(size) - chunks));
      if (pread(fd, tail.data(), tail.size(), off_t(chunks)) != ssize_t(tail.size()))
        return Fail(why, std::string("not a readable NRG image: cannot read its NRG chunks: ") + std::strerror(errno));
      std::string nrgWhy;
      if (!ParseNrg(tail.data(), tail.size(), uint64_t(size), path, out, &nrgWhy))
        return Fail(why, "not a readable NRG image: " + nrgWhy);
      return true;
    }
  }
  uint8_t head[16] = {};
  static const uint8_t sync[12] = {0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0};
  const bool raw = pread(fd, head, 16, 0) == 16 && std::memcmp(head, sync, 12) == 0 && size % kRawSectorSize == 0;
  const std::string ext = Extension(path);
  if (!raw && size % kDataSectorSize != 0 && size % kRawSectorSize == 0 && (ext == "bin" || ext == "img"))
    return LayoutPlainImage(path, uint64_t(size), true, Mode::Audio, out, why);  // raw sectors without a sync: audio
  const Mode m = raw ? (head[15] == 2 ? Mode::Mode2Form1 : Mode::Mode1) : Mode::Mode1;
  return LayoutPlainImage(path, uint64_t(size), raw, m, out, why);
}

}  // namespace

bool ReadImageLayout(const std::string& path, ImageLayout& out, std::string* why) {
  out = ImageLayout();
  const SheetFiles files = LocalSheetFiles();
  const int64_t size = files.sizeOf(path);
  auto fail = [&](const std::string& text) { return Fail(why, path + ": " + text); };
  if (size < 0) return fail(errno == ENOENT ? "no such file" : "not a regular file");
  if (size == 0) return fail("the file is empty");
  std::string reason, text;
  const std::string ext = Extension(path);
  const size_t slash = path.find_last_of('/');
  const std::string folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
  bool ok;
  if (ext == "cue")
    ok = ReadSheetText(path, size, &text, &reason) && ParseCueSheet(text, folder, files, out, &reason);
  else if (ext == "toc")
    ok = ReadSheetText(path, size, &text, &reason) && ParseTocFile(text, folder, files, out, &reason);
  else
    ok = ReadBinaryImage(path, size, out, &reason);
  if (!ok || !RawDataTracksHaveSync(out, &reason)) return fail(reason);
  return true;
}
