// TOC files: a disc described track by track, each track put together from
// pieces of files, silence and zeros, with its pre-gap, flags, ISRC and
// CD-Text. Every statement is checked against the files it names before the
// layout is built, so a layout never points past the end of a file.
#include <algorithm>
#include <array>
#include <cctype>
#include <map>

#include "ImageLayout.h"
#include "SectorSizes.h"

using cdsector::Mode;

namespace {

constexpr int64_t kMaxSectors = 4500000;  // longer than any disc

bool Fail(std::string* why, const std::string& text) {
  if (why) *why = text;
  return false;
}

std::string Upper(std::string s) {
  for (char& ch : s) ch = char(std::toupper(uint8_t(ch)));
  return s;
}

// ---- words ------------------------------------------------------------------

struct Token {
  enum Kind { Word, String, Open, Close, Comma, End } kind = End;
  std::string text;
  int line = 0;
};

// Splits the text into words, quoted strings (with their \" and octal \ooo
// escapes undone), braces and commas; `//` starts a comment.
bool Tokenize(const std::string& text, std::vector<Token>* out, std::string* why) {
  size_t i = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
  int line = 1;
  auto where = [&] { return "TOC line " + std::to_string(line) + ": "; };
  while (i < text.size()) {
    const char c = text[i];
    if (c == '\n') {
      ++line, ++i;
    } else if (std::isspace(uint8_t(c))) {
      ++i;
    } else if (text.compare(i, 2, "//") == 0) {
      while (i < text.size() && text[i] != '\n') ++i;
    } else if (c == '{' || c == '}' || c == ',') {
      out->push_back({c == '{' ? Token::Open : c == '}' ? Token::Close : Token::Comma, std::string(1, c), line});
      ++i;
    } else if (c == '"') {
      Token t{Token::String, "", line};
      for (++i;; ++i) {
        if (i >= text.size() || text[i] == '\n') return Fail(why, where() + "a string without its closing quote");
        if (text[i] == '"') break;
        if (text[i] != '\\' || i + 1 >= text.size()) {
          t.text += text[i];
          continue;
        }
        if (text[i + 1] >= '0' && text[i + 1] <= '7') {
          int value = 0, digits = 0;
          while (digits < 3 && i + 1 < text.size() && text[i + 1] >= '0' && text[i + 1] <= '7')
            value = value * 8 + (text[++i] - '0'), ++digits;
          t.text += char(value & 0xFF);
        } else {
          t.text += text[++i];
        }
      }
      ++i;
      out->push_back(t);
    } else {
      Token t{Token::Word, "", line};
      while (i < text.size() && !std::isspace(uint8_t(text[i])) && text[i] != '"' && text[i] != '{' &&
             text[i] != '}' && text[i] != ',' && text.compare(i, 2, "//") != 0)
        t.text += text[i++];
      out->push_back(t);
    }
  }
  out->push_back({Token::End, "", line});
  return true;
}

// A count of at most 18 digits.
bool ParseCount(const std::string& s, int64_t* value) {
  if (s.empty() || s.size() > 18 || !std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return false;
  *value = std::stoll(s);
  return true;
}

// MM:SS:FF, each part one to three digits; minutes up to 999.
bool ParseMsf(const std::string& s, int64_t* frames) {
  int64_t part[3];
  size_t at = 0;
  for (int k = 0; k < 3; ++k) {
    const size_t end = k < 2 ? s.find(':', at) : s.size();
    if (end == std::string::npos || end - at > 3 || !ParseCount(s.substr(at, end - at), &part[k])) return false;
    at = end + 1;
  }
  if (part[1] > 59 || part[2] > 74) return false;
  *frames = MsfToFrames(part[0], part[1], part[2]);
  return true;
}

// ---- statements -------------------------------------------------------------

// A run of sectors of a track: from a file, or zeros.
struct Piece {
  int file = -1;
  uint64_t offset = 0;
  int64_t sectors = 0;
  bool swapBytes = false;
};

using Texts = std::array<std::string, 3>;  // title, performer, songwriter

struct TocTrack {
  int line = 0;
  Mode mode = Mode::Audio;
  int sectorSize = kRawSectorSize;
  uint8_t flags = 0;
  std::string isrc;
  std::map<int, Texts> texts;  // by language
  std::vector<Piece> pieces;
  int64_t sectors = 0;
  int64_t startAt = -1;     // sectors of pre-gap before index 1; -1: none given
  int startLine = 0;
  bool audioPieces = false, dataPieces = false;  // FILE/SILENCE, DATAFILE/ZERO
  std::vector<std::pair<int64_t, int>> indexes;  // frames after index 1, line
  bool IsAudio() const { return mode == Mode::Audio; }
};

struct TrackMode {
  const char* name;
  Mode mode;
  int size;
};
// Bytes of each sector in the file. A mixed-form Mode 2 track is stored like
// a formless one: each sector's sub-header leads its 2336 bytes.
constexpr TrackMode kModes[] = {
    {"AUDIO", Mode::Audio, kRawSectorSize},         {"MODE1", Mode::Mode1, kDataSectorSize},
    {"MODE1_RAW", Mode::Mode1, kRawSectorSize},     {"MODE2", Mode::Mode2Formless, kMode2Size},
    {"MODE2_FORM1", Mode::Mode2Form1, kDataSectorSize}, {"MODE2_FORM2", Mode::Mode2Form2, kForm2Size},
    {"MODE2_FORM_MIX", Mode::Mode2Formless, kMode2Size}, {"MODE2_RAW", Mode::Mode2Form1, kRawSectorSize},
};

const TrackMode* FindMode(const std::string& word) {
  for (const TrackMode& m : kModes)
    if (word == m.name) return &m;
  return nullptr;
}

struct FileInfo {
  int index = 0;         // in ImageLayout::files
  uint64_t dataStart = 0;  // after a WAVE header
  int64_t dataSize = 0;
};

class TocReader {
 public:
  TocReader(const std::vector<Token>& tokens, const std::string& folder, const SheetFiles& files, ImageLayout& out)
      : t_(tokens), folder_(folder), files_(files), out_(out) {}

  bool Read(std::string* why);

 private:
  const Token& Peek() const { return t_[pos_]; }
  const Token& Next() { return t_[pos_ < t_.size() - 1 ? pos_++ : pos_]; }
  bool PeekWord(const char* word) const { return Peek().kind == Token::Word && Peek().text == word; }
  bool Error(int line, const std::string& text) {
    return Fail(why_, "TOC line " + std::to_string(line) + ": " + text);
  }

  bool Header(const Token& w);
  bool TrackStatement(const Token& w, TocTrack& track);
  bool DataStatement(const Token& w, TocTrack& track);
  bool FileStatement(const Token& w, TocTrack& track);
  bool Length(const TocTrack& track, bool samples, int64_t* bytes);
  bool AddPiece(int line, TocTrack& track, Piece piece, int64_t bytes, const std::string& what);
  bool Family(int line, TocTrack& track, bool audioKind);
  bool CdText(int line, std::map<int, Texts>* texts);
  bool TextValue(const std::string& item, std::string* value);
  bool OpenFile(const Token& name, bool wave, FileInfo* info);
  bool EndTrack(TocTrack& track);
  void Place();

  const std::vector<Token>& t_;
  size_t pos_ = 0;
  const std::string& folder_;
  const SheetFiles& files_;
  ImageLayout& out_;
  std::string* why_ = nullptr;
  std::map<std::string, FileInfo> opened_;  // by path, and WAVE or not
  std::map<int, Texts> discTexts_;
  std::vector<TocTrack> tracks_;
  int64_t discSectors_ = 0;
};

bool TocReader::Read(std::string* why) {
  why_ = why;
  while (Peek().kind != Token::End) {
    const Token& w = Next();
    if (w.kind == Token::Close) return Error(w.line, "a '}' without its '{'");
    if (w.kind != Token::Word) return Error(w.line, "\"" + w.text + "\" stands where a keyword belongs");
    if (w.text == "TRACK") {
      if (!tracks_.empty() && !EndTrack(tracks_.back())) return false;
      if (tracks_.size() == 99) return Error(w.line, "a disc holds at most 99 tracks");
      TocTrack track;
      track.line = w.line;
      const Token& mode = Next();
      const TrackMode* m = FindMode(mode.text);
      if (mode.kind != Token::Word || mode.text.empty()) return Error(w.line, "TRACK needs a mode (AUDIO, MODE1, ...)");
      if (!m) return Error(w.line, "the track mode " + mode.text + " is not supported");
      track.mode = m->mode, track.sectorSize = m->size;
      if (PeekWord("RW") || PeekWord("RW_RAW"))
        return Error(w.line, "sub-channel data in the image (" + Next().text + ") is not read");
      tracks_.push_back(track);
    } else if (tracks_.empty()) {
      if (!Header(w)) return false;
    } else if (!TrackStatement(w, tracks_.back())) {
      return false;
    }
  }
  if (tracks_.empty()) return Fail(why, "the TOC file names no track");
  if (!EndTrack(tracks_.back())) return false;
  Place();
  return true;
}

bool TocReader::Header(const Token& w) {
  if (w.text == "CD_DA" || w.text == "CD_ROM" || w.text == "CD_ROM_XA") return true;
  if (w.text == "CD_I") return Error(w.line, "CD-i discs are not written");
  if (w.text == "CATALOG") {
    const Token& s = Next();
    if (s.kind != Token::String || s.text.size() != 13 ||
        !std::all_of(s.text.begin(), s.text.end(), [](char c) { return c >= '0' && c <= '9'; }))
      return Error(w.line, "CATALOG needs 13 digits in quotes");
    out_.catalog = s.text;
    return true;
  }
  if (w.text == "CD_TEXT") return CdText(w.line, &discTexts_);
  return Error(w.line, "unknown keyword " + w.text + " before the first TRACK");
}

bool TocReader::TrackStatement(const Token& w, TocTrack& track) {
  auto flag = [&](uint8_t bit, bool on) {
    track.flags = on ? uint8_t(track.flags | bit) : uint8_t(track.flags & ~bit);
    return true;
  };
  if (w.text == "NO") {
    const Token& what = Next();
    if (what.text == "COPY") return flag(0x2, false);
    if (what.text == "PRE_EMPHASIS") return flag(0x1, false);
    return Error(w.line, "NO must be followed by COPY or PRE_EMPHASIS");
  }
  if (w.text == "COPY") return flag(0x2, true);
  if (w.text == "PRE_EMPHASIS") return flag(0x1, true);
  if (w.text == "FOUR_CHANNEL_AUDIO") return flag(0x8, true);
  if (w.text == "TWO_CHANNEL_AUDIO") return flag(0x8, false);
  if (w.text == "ISRC") {
    const Token& s = Next();
    const std::string code = Upper(s.text);
    bool ok = s.kind == Token::String && code.size() == 12;
    for (size_t i = 0; ok && i < code.size(); ++i)
      ok = i < 5 ? std::isalnum(uint8_t(code[i])) != 0 : std::isdigit(uint8_t(code[i])) != 0;
    if (!ok) return Error(w.line, "ISRC needs \"CCOOOYYSSSSS\": 5 letters or digits, then 7 digits");
    track.isrc = code;
    return true;
  }
  if (w.text == "CD_TEXT") return CdText(w.line, &track.texts);
  if (w.text == "CATALOG" || w.text == "CD_DA" || w.text == "CD_ROM" || w.text == "CD_ROM_XA" || w.text == "CD_I")
    return Error(w.line, w.text + " belongs before the first TRACK");
  return DataStatement(w, track);
}

bool TocReader::DataStatement(const Token& w, TocTrack& track) {
  const int line = w.line;
  if (w.text == "FILE" || w.text == "AUDIOFILE" || w.text == "DATAFILE") return FileStatement(w, track);
  if (w.text == "SILENCE" || w.text == "ZERO") {
    const bool silence = w.text == "SILENCE";
    if (silence && !track.IsAudio()) return Error(line, "SILENCE belongs in audio tracks; data tracks take ZERO");
    if (!silence) {
      // The zeros' own mode and sub-channel change nothing in sectors that
      // are zeros throughout.
      if (Peek().kind == Token::Word && FindMode(Peek().text)) Next();
      if (PeekWord("RW") || PeekWord("RW_RAW")) Next();
    }
    int64_t bytes;
    if (!Family(line, track, silence) || !Length(track, silence, &bytes)) return false;
    return AddPiece(line, track, Piece{}, bytes, w.text);
  }
  if (w.text == "PREGAP") {
    if (track.startAt >= 0) return Error(line, "the track's start is given twice (START or PREGAP)");
    if (!track.pieces.empty()) return Error(line, "PREGAP must come before the track's data");
    int64_t frames;
    if (!ParseMsf(Next().text, &frames)) return Error(line, "PREGAP needs a time MM:SS:FF");
    if (!Family(line, track, track.IsAudio())) return false;
    if (!AddPiece(line, track, Piece{}, frames * track.sectorSize, "PREGAP")) return false;
    track.startAt = frames, track.startLine = line;
    return true;
  }
  if (w.text == "START") {
    if (track.startAt >= 0) return Error(line, "the track's start is given twice (START or PREGAP)");
    track.startAt = track.sectors, track.startLine = line;
    if (Peek().kind == Token::Word && Peek().text.find(':') != std::string::npos &&
        !ParseMsf(Next().text, &track.startAt))
      return Error(line, "START needs a time MM:SS:FF");
    return true;
  }
  if (w.text == "INDEX") {
    int64_t frames;
    if (!ParseMsf(Next().text, &frames)) return Error(line, "INDEX needs a time MM:SS:FF");
    if (frames == 0) return Error(line, "INDEX at the track's start");
    // Index 2, 3, ... in turn: a point at or before the one before it would
    // number them out of order.
    if (!track.indexes.empty() && frames <= track.indexes.back().first)
      return Error(line, "INDEX points must follow each other; this one is not after the one before");
    if (track.indexes.size() == 98) return Error(line, "a track holds at most 99 index points");
    track.indexes.push_back({frames, line});
    return true;
  }
  if (w.text == "FIFO") return Error(line, "a FIFO cannot be read as an image");
  return Error(line, "unknown keyword " + w.text);
}

// FILE|AUDIOFILE "name" [SWAP] [#offset] start [length]
// DATAFILE "name" [#offset] [length]
bool TocReader::FileStatement(const Token& w, TocTrack& track) {
  const int line = w.line;
  const bool audioFile = w.text != "DATAFILE";
  if (audioFile && !track.IsAudio()) return Error(line, w.text + " belongs in audio tracks; data tracks take DATAFILE");
  const Token& name = Next();
  if (name.kind != Token::String) return Error(line, w.text + " needs a file name in quotes");
  if (!Family(line, track, audioFile)) return false;
  if (name.text == "-") return Error(line, "standard input cannot be read as an image");
  bool swap = false;
  if (audioFile && PeekWord("SWAP")) Next(), swap = true;
  int64_t skip = 0;
  if (Peek().kind == Token::Word && !Peek().text.empty() && Peek().text[0] == '#' &&
      !ParseCount(Next().text.substr(1), &skip))
    return Error(line, "a byte offset is # and digits");
  int64_t start = 0;
  if (audioFile) {
    if (Peek().kind != Token::Word) return Error(line, w.text + " needs the start in the file");
    if (!Length(track, true, &start)) return false;
  }
  int64_t bytes = 0;  // 0: to the end of the file
  const Token& more = Peek();
  if (more.kind == Token::Word && !more.text.empty() && (std::isdigit(uint8_t(more.text[0])) != 0) &&
      !Length(track, audioFile, &bytes))
    return false;

  // Raw samples lie in the file most significant byte first, unlike a CD's.
  std::string ending = name.text.size() >= 4 ? Upper(name.text.substr(name.text.size() - 4)) : "";
  const bool wave = audioFile && ending == ".WAV";
  if (wave && skip > 0) return Error(line, "a byte offset (#) is not taken with a WAVE file");
  FileInfo info;
  if (!OpenFile(name, wave, &info)) return false;
  const int64_t from = skip + start;
  if (from > info.dataSize)
    return Error(line, "\"" + name.text + "\" is too short: it has " + std::to_string(info.dataSize) +
                           " bytes of data, and the statement starts at byte " + std::to_string(from));
  if (bytes == 0) bytes = info.dataSize - from;
  if (bytes > info.dataSize - from)
    return Error(line, "\"" + name.text + "\" is too short: the statement takes " + std::to_string(bytes) +
                           " bytes from byte " + std::to_string(from) + ", and the file has " +
                           std::to_string(info.dataSize) + " bytes of data");
  if (bytes == 0) return Error(line, "\"" + name.text + "\" gives no data from byte " + std::to_string(from));
  Piece p;
  p.file = info.index;
  p.offset = info.dataStart + uint64_t(from);
  p.swapBytes = audioFile && (wave == swap);
  return AddPiece(line, track, p, bytes, "\"" + name.text + "\"");
}

// A length or position: MM:SS:FF in the track's sectors, else a count of
// samples (4 bytes each) or of bytes.
bool TocReader::Length(const TocTrack& track, bool samples, int64_t* bytes) {
  const Token& w = Next();
  int64_t n;
  if (w.kind == Token::Word && w.text.find(':') != std::string::npos) {
    if (!ParseMsf(w.text, &n)) return Error(w.line, "bad time " + w.text);
    *bytes = n * track.sectorSize;
    return true;
  }
  if (w.kind != Token::Word || !ParseCount(w.text, &n) || n > kMaxSectors * kRawSectorSize)
    return Error(w.line, "bad length \"" + w.text + "\"");
  *bytes = samples ? n * 4 : n;
  return true;
}

bool TocReader::AddPiece(int line, TocTrack& track, Piece piece, int64_t bytes, const std::string& what) {
  // A sector is read from one place: data that ends inside one cannot be
  // laid out, and padding it would make up samples the file does not have.
  if (bytes % track.sectorSize != 0)
    return Error(line, what + " gives " + std::to_string(bytes) + " bytes, not whole sectors of " +
                           std::to_string(track.sectorSize) + " bytes; give its length as MM:SS:FF");
  piece.sectors = bytes / track.sectorSize;
  if (piece.sectors == 0) return true;
  track.sectors += piece.sectors;
  if (track.sectors > kMaxSectors) return Error(line, "the track is too long for a disc");
  track.pieces.push_back(piece);
  return true;
}

// A track is made of FILE, AUDIOFILE and SILENCE statements, or of DATAFILE
// and ZERO ones: the two differ in byte order and in the unit of a bare
// length, and a track of both has no one meaning.
bool TocReader::Family(int line, TocTrack& track, bool audioKind) {
  (audioKind ? track.audioPieces : track.dataPieces) = true;
  if (track.audioPieces && track.dataPieces)
    return Error(line, "a track mixes FILE, AUDIOFILE or SILENCE with DATAFILE or ZERO"
                       " (PREGAP counts as SILENCE in audio tracks, as ZERO in data tracks)");
  return true;
}

bool TocReader::OpenFile(const Token& name, bool wave, FileInfo* info) {
  std::string path, notice, missing;
  if (!FindSheetFile(name.text, folder_, files_, &path, &notice, &missing)) return Error(name.line, missing);
  const std::string key = path + (wave ? "\n1" : "\n0");
  auto found = opened_.find(key);
  if (found != opened_.end()) {
    *info = found->second;
    return true;
  }
  if (!notice.empty()) out_.notices.push_back(notice);
  info->dataSize = files_.sizeOf(path);
  info->dataStart = 0;
  if (wave && !WaveData(path, files_, info->dataSize, &info->dataStart, &info->dataSize, &missing))
    return Error(name.line, missing);
  auto same = std::find(out_.files.begin(), out_.files.end(), path);
  info->index = int(same - out_.files.begin());
  if (same == out_.files.end()) out_.files.push_back(path);
  opened_[key] = *info;
  return true;
}

// CD_TEXT { LANGUAGE_MAP { ... } LANGUAGE n { ITEM value ... } ... }
bool TocReader::CdText(int line, std::map<int, Texts>* texts) {
  if (Next().kind != Token::Open) return Error(line, "CD_TEXT needs a block in braces");
  static const char* const kItems[] = {"TITLE",     "PERFORMER", "SONGWRITER", "COMPOSER",  "ARRANGER",
                                       "MESSAGE",   "DISC_ID",   "GENRE",      "TOC_INFO1", "TOC_INFO2",
                                       "UPC_EAN",   "ISRC",      "SIZE_INFO"};
  for (;;) {
    const Token& w = Next();
    if (w.kind == Token::Close) return true;
    if (w.kind == Token::End || w.text == "TRACK") return Error(line, "the CD_TEXT block opened here has no closing '}'");
    if (w.text == "LANGUAGE_MAP") {
      // Which country each language number stands for matters to players
      // only; the texts are kept by number.
      if (Next().kind != Token::Open) return Error(w.line, "LANGUAGE_MAP needs a block in braces");
      while (Peek().kind != Token::Close) {
        if (Peek().kind == Token::End || Peek().kind == Token::Open)
          return Error(w.line, "the LANGUAGE_MAP block opened here has no closing '}'");
        Next();
      }
      Next();
    } else if (w.text == "LANGUAGE") {
      int64_t number;
      if (!ParseCount(Next().text, &number) || number > 7) return Error(w.line, "LANGUAGE needs a number from 0 to 7");
      if (Next().kind != Token::Open) return Error(w.line, "LANGUAGE needs a block in braces");
      Texts& into = (*texts)[int(number)];
      for (;;) {
        const Token& item = Next();
        if (item.kind == Token::Close) break;
        if (item.kind == Token::End || item.text == "TRACK")
          return Error(w.line, "the LANGUAGE block opened here has no closing '}'");
        if (item.kind != Token::Word ||
            std::none_of(std::begin(kItems), std::end(kItems), [&](const char* k) { return item.text == k; }))
          return Error(item.line, "unknown CD-Text item " + item.text);
        std::string value;
        if (!TextValue(item.text, &value)) return false;
        const int kind = item.text == "TITLE" ? 0 : item.text == "PERFORMER" ? 1 : item.text == "SONGWRITER" ? 2 : -1;
        if (kind >= 0) into[size_t(kind)] = value.substr(0, 159);
      }
    } else {
      return Error(w.line, "a CD_TEXT block holds LANGUAGE_MAP and LANGUAGE blocks, not " + w.text);
    }
  }
}

// A string, or binary data as numbers in braces.
bool TocReader::TextValue(const std::string& item, std::string* value) {
  const Token& v = Next();
  if (v.kind == Token::String) {
    *value = v.text;
    return true;
  }
  if (v.kind != Token::Open) return Error(v.line, item + " needs a string or numbers in braces");
  for (bool number = true;; number = !number) {
    const Token& n = Next();
    if (n.kind == Token::Close) return true;
    int64_t byte;
    if (number ? !ParseCount(n.text, &byte) || byte > 255 : n.kind != Token::Comma)
      return Error(n.line, item + " data are numbers from 0 to 255 between commas, in braces");
  }
}

bool TocReader::EndTrack(TocTrack& track) {
  const std::string which = "track " + std::to_string(tracks_.size());
  if (track.sectors == 0) return Error(track.line, which + " holds no data");
  if (track.startAt >= track.sectors)
    return Error(track.startLine, "the pre-gap reaches to or past the end of " + which);
  const int64_t length = track.sectors - std::max<int64_t>(track.startAt, 0);
  for (const auto& [frames, line] : track.indexes)
    if (frames >= length) return Error(line, "INDEX past the end of " + which);
  discSectors_ += track.sectors;
  if (discSectors_ > kMaxSectors) return Error(track.line, "the image is too long for a disc");
  return true;
}

// The tracks one after the other from sector 0; each pre-gap lies in front
// of its track's start, the first track's too.
void TocReader::Place() {
  int32_t cursor = 0;
  int lastLanguage = discTexts_.empty() ? -1 : discTexts_.begin()->first;
  for (const TocTrack& t : tracks_)
    if (!t.texts.empty() && (lastLanguage < 0 || t.texts.begin()->first < lastLanguage))
      lastLanguage = t.texts.begin()->first;
  std::vector<std::vector<std::string>> texts(3, std::vector<std::string>(tracks_.size() + 1));
  bool anyText = false;
  auto keep = [&](const std::map<int, Texts>& from, size_t slot) {
    auto it = from.find(lastLanguage);
    if (it == from.end()) return;
    for (size_t k = 0; k < 3; ++k) texts[k][slot] = it->second[k], anyText = anyText || !it->second[k].empty();
  };
  keep(discTexts_, 0);
  for (size_t i = 0; i < tracks_.size(); ++i) {
    const TocTrack& t = tracks_[i];
    keep(t.texts, i + 1);
    const int32_t start = cursor + int32_t(std::max<int64_t>(t.startAt, 0));
    ImageTrackNotes notes;
    notes.index0 = cursor;
    notes.flags = t.flags;
    notes.isrc = t.isrc;
    // INDEX times count from the track's start, its pre-gap left out.
    for (const auto& [frames, line] : t.indexes) notes.indexes.push_back(start + int32_t(frames));
    out_.notes.push_back(notes);
    int32_t at = cursor;
    for (const Piece& p : t.pieces) {
      ImageExtent e{at, int32_t(p.sectors), p.file, p.offset, t.sectorSize};
      e.swapBytes = p.swapBytes;
      out_.extents.push_back(e);
      at += int32_t(p.sectors);
    }
    DiscTrack d;
    d.number = int(i) + 1;
    d.session = 1;
    d.start = start;
    d.size = d.recorded = at - d.start;
    d.mode = t.mode;
    d.closed = true;
    out_.tracks.push_back(d);
    cursor = at;
  }
  if (anyText) out_.cdText = BuildCdTextPacks(texts);
  out_.sessions = 1;
  out_.cd = true;
  out_.fromSheet = true;
}

}  // namespace

bool ParseTocFile(const std::string& text, const std::string& folder, const SheetFiles& files, ImageLayout& out,
                  std::string* why) {
  out = ImageLayout();
  std::vector<Token> tokens;
  if (!Tokenize(text, &tokens, why)) return false;
  TocReader reader(tokens, folder, files, out);
  if (reader.Read(why)) return true;
  out = ImageLayout();
  return false;
}
