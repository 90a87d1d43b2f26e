#include "ImageLayout.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <sstream>

#include "ByteFields.h"

using cdsector::Mode;

int32_t ImageLayout::EndLba() const {
  int32_t end = 0;
  for (const ImageExtent& e : extents) end = std::max(end, e.lba + e.count);
  return end;
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
  int sectorSize = 2352;
  int file = 0;
  int64_t index0 = -1, index1 = -1;  // frames in the file
  int32_t pregap = 0, postgap = 0;   // sectors not in the file
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
  frames = (int64_t(m) * 60 + sec) * 75 + f;
  return true;
}

std::string Upper(std::string s) {
  for (char& ch : s) ch = char(std::toupper(uint8_t(ch)));
  return s;
}

}  // namespace

namespace {

struct CueSheet {
  std::vector<CueTrack> tracks;
  std::vector<int64_t> fileSizes;
  std::string title, performer, songwriter;  // of the disc
};

// The sheet's lines: files, tracks, indexes, gaps, sessions and texts.
bool ReadCueLines(const std::string& text, const std::string& folder, const FileSizeOf& sizeOf, ImageLayout& out,
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
    if (key == "FILE") {
      if (w.size() < 3) return Fail(why, where + "FILE needs a name and a type");
      std::string type = Upper(w[2]);
      if (type != "BINARY" && type != "MOTOROLA") return Fail(why, where + "only BINARY files are read, not " + w[2]);
      std::string path = (!w[1].empty() && w[1][0] == '/') ? w[1] : folder + w[1];
      int64_t size = sizeOf(path);
      if (size < 0) return Fail(why, where + "the file " + path + " is missing");
      out.files.push_back(path);
      sheet->fileSizes.push_back(size);
    } else if (key == "TRACK") {
      if (out.files.empty()) return Fail(why, where + "TRACK before FILE");
      if (w.size() < 3) return Fail(why, where + "TRACK needs a number and a mode");
      CueTrack t;
      t.number = std::atoi(w[1].c_str());
      int expected = tracks.empty() ? t.number : tracks.back().number + 1;
      if (t.number < 1 || t.number > 99 || t.number != expected)
        return Fail(why, where + "track numbers must run from 1 to 99 without gaps");
      std::string mode = Upper(w[2]);
      if (mode == "AUDIO") t.mode = Mode::Audio, t.sectorSize = 2352;
      else if (mode == "MODE1/2048") t.mode = Mode::Mode1, t.sectorSize = 2048;
      else if (mode == "MODE1/2352") t.mode = Mode::Mode1, t.sectorSize = 2352;
      else if (mode == "MODE2/2352") t.mode = Mode::Mode2Form1, t.sectorSize = 2352;
      else if (mode == "MODE2/2336") t.mode = Mode::Mode2Formless, t.sectorSize = 2336;
      else return Fail(why, where + "the track mode " + w[2] + " is not supported");
      t.file = int(out.files.size()) - 1;
      t.session = session;
      tracks.push_back(t);
    } else if (key == "INDEX") {
      if (tracks.empty() || w.size() < 3) return Fail(why, where + "INDEX outside a track");
      int number = std::atoi(w[1].c_str());
      int64_t frames;
      if (!ParseMsf(w[2], frames)) return Fail(why, where + "bad time " + w[2]);
      CueTrack& t = tracks.back();
      if (t.file != int(out.files.size()) - 1) return Fail(why, where + "a track spread over two files");
      if (number == 0) t.index0 = frames;
      else if (number == 1) t.index1 = frames;
      else if (number < 0 || number > 99) return Fail(why, where + "bad index number");
      if (t.index0 >= 0 && t.index1 >= 0 && t.index0 > t.index1) return Fail(why, where + "INDEX 00 after INDEX 01");
    } else if (key == "PREGAP" || key == "POSTGAP") {
      if (tracks.empty() || w.size() < 2) return Fail(why, where + key + " outside a track");
      int64_t frames;
      if (!ParseMsf(w[1], frames) || frames > 450000) return Fail(why, where + "bad time");
      (key == "PREGAP" ? tracks.back().pregap : tracks.back().postgap) = int32_t(frames);
    } else if (key == "REM") {
      if (w.size() >= 3 && Upper(w[1]) == "SESSION") {
        int s = std::atoi(w[2].c_str());
        if (s != session && s != session + 1) return Fail(why, where + "sessions must follow each other");
        if (s == session + 1 && tracks.empty()) return Fail(why, where + "an empty session");
        session = s;
      }
    } else if (key == "TITLE" || key == "PERFORMER" || key == "SONGWRITER") {
      std::string value = w.size() > 1 ? w[1] : "";
      if (value.size() > 159) value.resize(159);
      std::string& field = key == "TITLE" ? (tracks.empty() ? sheet->title : tracks.back().title)
                           : key == "PERFORMER" ? (tracks.empty() ? sheet->performer : tracks.back().performer)
                                                : (tracks.empty() ? sheet->songwriter : tracks.back().songwriter);
      field = value;
    }
    // CATALOG, ISRC, FLAGS, CDTEXTFILE and others carry nothing we need.
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
    if (t.pregap > 0) {
      out.extents.push_back({int32_t(fileBase + dataStart + shift), t.pregap, -1, 0, t.sectorSize});
      shift += t.pregap;
    }
    out.extents.push_back({int32_t(fileBase + dataStart + shift), int32_t(dataEnd - dataStart), t.file, byteAt, t.sectorSize});
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

bool ParseCueSheet(const std::string& text, const std::string& folder, const FileSizeOf& sizeOf,
                   ImageLayout& out, std::string* why) {
  out = ImageLayout();
  CueSheet sheet;
  if (!ReadCueLines(text, folder, sizeOf, out, &sheet, why) || !PlaceCueTracks(sheet, out, why)) return false;
  AddCueText(sheet, out);
  return true;
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
    case 0x00: size = 2048, mode = Mode::Mode1; return true;
    case 0x02: size = 2048, mode = Mode::Mode2Form1; return true;
    case 0x03: size = 2336, mode = Mode::Mode2Formless; return true;
    case 0x05: size = 2352, mode = Mode::Mode1; return true;
    case 0x06: size = 2352, mode = Mode::Mode2Form1; return true;
    case 0x07: size = 2352, mode = Mode::Audio; return true;
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

// A cue chunk: only the extended form (CUEX) carries addresses we use.
bool ReadNrgCueChunk(const uint8_t* body, uint32_t len, bool extended, NrgChunks* nrg, std::string* why) {
  if (len % 8 != 0) return Fail(why, "damaged NRG cue chunk");
  for (size_t p = 0; p + 8 <= len; p += 8) {
    const uint8_t* e = body + p;
    int track = (e[1] >> 4) * 10 + (e[1] & 15);
    int index = (e[2] >> 4) * 10 + (e[2] & 15);
    if (e[1] != 0 && e[1] != 0xAA && index == 1 && extended) nrg->cueIndex1.push_back({track, int32_t(bytes::BE32(e + 4))});
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

bool PlaceNrgTracks(const NrgChunks& nrg, const std::vector<int>& sessionOf, ImageLayout& out, std::string* why) {
  int32_t cursor = 0;
  for (size_t i = 0; i < nrg.tracks.size(); ++i) {
    const NrgTrack& t = nrg.tracks[i];
    uint64_t ss = uint64_t(t.sectorSize);
    if (t.index0 > t.index1 || t.index1 >= t.end || t.end > nrg.chunks || (t.index1 - t.index0) % ss || (t.end - t.index1) % ss)
      return Fail(why, "NRG track " + std::to_string(i + 1) + " lies outside the image data");
    int32_t pregap = int32_t((t.index1 - t.index0) / ss);
    uint64_t length = (t.end - t.index1) / ss;
    if (length > 4500000) return Fail(why, "NRG track too long");
    int32_t start = t.lba != INT32_MIN ? t.lba : (i == 0 ? 0 : cursor + pregap);
    for (const auto& [track, lba] : nrg.cueIndex1)
      if (track == int(i) + 1) start = lba;
    if (start < 0 || start < cursor || int64_t(start) + int64_t(length) > 4500000)
      return Fail(why, "NRG track " + std::to_string(i + 1) + " has an impossible address");
    if (pregap > 0 && start - pregap >= cursor)
      out.extents.push_back({start - pregap, pregap, 0, t.index0, t.sectorSize});
    out.extents.push_back({start, int32_t(length), 0, t.index1, t.sectorSize});
    DiscTrack d;
    d.number = int(i) + 1;
    d.session = sessionOf[i];
    d.start = start;
    d.size = d.recorded = int32_t(length);
    d.mode = t.mode;
    d.closed = true;
    out.tracks.push_back(d);
    cursor = start + int32_t(length);
  }
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
  int size = raw ? 2352 : 2048;
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
