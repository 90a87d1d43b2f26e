#include "authoring/ProjectFile.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <memory>

#include "foundation/ProgramDir.h"
#include "authoring/CFileManager.h"
#include "authoring/FileList.h"
#include "authoring/StagingFolder.h"
#include "foundation/TempFiles.h"
#include "ByteFields.h"
#include "SafeFile.h"
#include "OutputFile.h"

namespace fs = std::filesystem;

namespace {

struct FileCloser {
  void operator()(FILE* f) const {
    if (f) std::fclose(f);
  }
};
using File = std::unique_ptr<FILE, FileCloser>;

void SetError(std::string* error, const std::string& text) {
  if (error) *error = text;
}

bool WriteAll(FILE* f, const std::string& bytes) {
  return std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
}

std::string Le32(uint32_t v) {
  std::string s(4, '\0');
  bytes::PutLE32(reinterpret_cast<uint8_t*>(&s[0]), v);
  return s;
}

std::string TreeRecord(uint8_t kind, const std::string& a, const std::string& b) {
  std::string r(1, char(kind));
  uint8_t len[2];
  bytes::PutLE16(len, uint16_t(a.size()));
  r.append(reinterpret_cast<char*>(len), 2).append(a);
  bytes::PutLE16(len, uint16_t(b.size()));
  r.append(reinterpret_cast<char*>(len), 2).append(b);
  return r;
}

// Writes the tree records of one staging folder (depth first) to `out`.
bool WriteTreeRecords(const std::string& folder, const std::string& discPath, FILE* out,
                      std::string* error) {
  for (const StagingEntry& entry : EnumerateStagingFolder(folder)) {
    std::string path = folder + "/" + entry.name;
    if (entry.kind == StagingEntry::kFolder) {
      std::string childPath = discPath + entry.name + "\\";
      if (!WriteAll(out, TreeRecord(project::kFolderRecord, "", childPath)) ||
          !WriteTreeRecords(path, childPath, out, error))
        return false;
      continue;
    }
    FileListReader reader(path);
    FileListEntry e;
    while (reader.Next(&e)) {
      if (e.sourcePath.size() > 0xFFFF || (discPath + e.discName).size() > 0xFFFF) {
        SetError(error, "a path is too long for the project file: " + e.sourcePath);
        return false;
      }
      if (!WriteAll(out, TreeRecord(project::kFileRecord, e.sourcePath, discPath + e.discName)))
        return false;
    }
    if (!reader.error().empty()) {
      SetError(error, reader.error());
      return false;
    }
  }
  return true;
}

// A file to read: refused at once unless it is a regular file.
File OpenToRead(const std::string& path) {
  int fd = safefile::OpenForReading(path, nullptr);
  if (fd < 0) return File(nullptr);
  FILE* f = ::fdopen(fd, "rb");
  if (!f) ::close(fd);
  return File(f);
}

// A project file is written through the output primitive, so that a failed
// save leaves the old file as it was.
bool FinishProjectFile(OutputFile& out, bool ok, const std::string& projectPath, std::string* error) {
  if (ok && out.Commit()) return true;
  SetError(error, "cannot write the project file " + projectPath + (out.Error().empty() ? "" : " (" + out.Error() + ")"));
  out.Discard();
  return false;
}

bool ReadExact(FILE* f, void* buffer, size_t n) { return std::fread(buffer, 1, n, f) == n; }

}  // namespace

namespace project {

std::string CutLabel(const std::string& label, size_t max) {
  if (label.size() <= max) return label;
  size_t n = max;
  // Step back over continuation bytes so that a character is never split.
  while (n > 0 && (uint8_t(label[n]) & 0xC0) == 0x80) --n;
  return label.substr(0, n);
}

std::string MakeHeader(Kind kind, const std::string& label, uint8_t trackCount, uint8_t discOptions) {
  std::string h(kDiscHeaderSize + kSessionHeaderSize, '\0');
  auto* p = reinterpret_cast<uint8_t*>(&h[0]);
  bytes::PutLE32(p, kHeaderMark);
  p[4] = kind;
  std::string cut = kind == kAudioCD ? std::string() : CutLabel(label, kLabelMax);
  std::memcpy(p + kLabelOffset, cut.data(), cut.size());
  p[kDiscOptionsOffset] = discOptions;
  p[256] = 1;
  p[257] = 1;
  p[258] = 1;
  p[320] = 1;
  p[321] = trackCount;
  p[322] = 1;
  p[323] = trackCount;
  return h;
}

std::string MakeTrackHeader(uint8_t number, uint8_t trackKind) {
  std::string t(kTrackHeaderSize, '\0');
  t[0] = char(number);
  t[1] = char(trackKind);
  if (trackKind == 2) t[2] = 1;
  return t;
}

bool ReadJobLabel(const std::string& jobPath, std::string* label, std::string* error) {
  File f(OpenToRead(jobPath));
  uint8_t head[4], length[4];
  if (!f || !ReadExact(f.get(), head, 4)) {
    SetError(error, "cannot read the burn job " + jobPath);
    return false;
  }
  uint32_t mark = bytes::LE32(head);
  if (mark > (1u << 30) || std::fseek(f.get(), long(mark) + 192, SEEK_SET) != 0 ||
      !ReadExact(f.get(), length, 4)) {
    SetError(error, "the burn job " + jobPath + " is damaged");
    return false;
  }
  char text[kJobLabelMax + 1] = {};
  if (std::fseek(f.get(), long(kLabelOffset), SEEK_SET) != 0 || !ReadExact(f.get(), text, kJobLabelMax)) {
    SetError(error, "the burn job " + jobPath + " is damaged");
    return false;
  }
  *label = CutLabel(std::string(text, strnlen(text, kJobLabelMax)), kJobLabelMax);
  return true;
}

std::string MakeBootBlock(const eltorito::BootOptions& boot) {
  if (!boot.Any()) return {};
  std::string block(kBootTag, 4);
  auto text = [&](const std::string& s) {
    uint8_t len[2];
    bytes::PutLE16(len, uint16_t(std::min<size_t>(s.size(), 0xFFFF)));
    block.append(reinterpret_cast<char*>(len), 2).append(s, 0, 0xFFFF);
  };
  uint8_t sectors[2];
  bytes::PutLE16(sectors, boot.loadSectors);
  text(boot.biosImage);
  block.append(reinterpret_cast<char*>(sectors), 2);
  text(boot.efiImage);
  text(boot.mbrTemplate);
  return block;
}

bool ReadBootBlock(FILE* f, eltorito::BootOptions* boot) {
  char tag[4];
  uint8_t len[2];
  auto text = [&](std::string* s) {
    if (!ReadExact(f, len, 2)) return false;
    s->resize(bytes::LE16(len));
    return s->empty() || ReadExact(f, &(*s)[0], s->size());
  };
  eltorito::BootOptions read;
  uint8_t sectors[2];
  if (!ReadExact(f, tag, 4) || std::memcmp(tag, kBootTag, 4) != 0 || !text(&read.biosImage) ||
      !ReadExact(f, sectors, 2) || !text(&read.efiImage) || !text(&read.mbrTemplate))
    return false;
  read.loadSectors = bytes::LE16(sectors);
  *boot = read;
  return true;
}

uint8_t ReadJobOptions(const std::string& jobPath) {
  File f(OpenToRead(jobPath));
  uint8_t options = 0;
  if (!f || std::fseek(f.get(), long(kDiscOptionsOffset), SEEK_SET) != 0 || !ReadExact(f.get(), &options, 1))
    return 0;
  return options;
}

}  // namespace project

std::string ResolveProjectSource(const std::string& projectPath, const std::string& source) {
  if (source.empty() || source[0] == '/' || source[0] == '<') return source;
  std::error_code ec;
  fs::path folder = fs::absolute(projectPath, ec).parent_path();
  if (ec) return source;
  return (folder / source).lexically_normal().string();
}

int ReadProjectKind(const std::string& projectPath) {
  File f(OpenToRead(projectPath));
  uint8_t head[5];
  if (!f || !ReadExact(f.get(), head, 5)) return 0;
  return (head[4] >= 1 && head[4] <= 6) ? head[4] : 0;
}

bool CFileManager::SaveDataProject(const std::string& stagingRoot, const std::string& projectPath,
                                   const std::string& label, std::string* error, Existing existing) {
  if (stagingRoot.empty() || projectPath.empty() || FolderExists(stagingRoot) != 2) {
    SetError(error, "the project folder " + stagingRoot + " does not exist");
    return false;
  }
  // The tree goes to a temporary file first: its length leads the block.
  TempFile tree("tmp");
  File treeOut(tree.ok() ? std::fopen(tree.path().c_str(), "wb") : nullptr);
  if (!treeOut) {
    SetError(error, "cannot create a temporary file in " + TempFolder());
    return false;
  }
  if (!WriteTreeRecords(StripTrailing(stagingRoot), "\\", treeOut.get(), error)) return false;
  if (std::fflush(treeOut.get()) != 0) {
    SetError(error, "cannot write a temporary file in " + TempFolder());
    return false;
  }
  long treeLength = std::ftell(treeOut.get());
  treeOut.reset();
  if (treeLength < 0 || uint64_t(treeLength) > 0xFFFFFFFFull) {
    SetError(error, "the project is too large for a project file");
    return false;
  }

  OutputFile out;
  if (!out.Open(projectPath, existing)) {
    SetError(error, "cannot create the project file " + out.Error());
    return false;
  }
  project::Kind kind = mode_ == kModeMp3 ? project::kMp3Disc : project::kDataDisc;
  bool ok = out.Write(project::MakeHeader(kind, label, 1, discOptions_)) && out.Write(project::MakeTrackHeader(1, 2)) &&
            out.Write(Le32(uint32_t(treeLength)));
  File in(std::fopen(tree.path().c_str(), "rb"));
  char chunk[8192];
  size_t got;
  while (ok && in && (got = std::fread(chunk, 1, sizeof chunk, in.get())) > 0) ok = out.Write(chunk, got);
  ok = ok && in && !std::ferror(in.get());
  ok = ok && out.Write(project::MakeBootBlock(boot_));
  return FinishProjectFile(out, ok, projectPath, error);
}

bool CFileManager::StartLoadProject(ProjectTree* tree, const std::string& projectPath, Done done) {
  return StartWorker([this, tree, projectPath] { return LoadDataProject(tree, projectPath); },
                     std::move(done));
}

namespace {

// The block of texts, codes and pauses after the tracks: a mark, its version,
// the length of what follows, then the disc's fields and each track's. A later
// version appends its fields after all of these.
constexpr char kAudioBlockMark[4] = {'V', 'X', 'A', 'D'};
// Version 2 appends the files of the disc besides its sound.
constexpr uint32_t kAudioBlockVersion = 2;
constexpr uint32_t kAudioBlockMax = 16u << 20;
enum : uint8_t { kPreEmphasisFlag = 0x01, kCopyPermittedFlag = 0x02 };

void PutText(std::string& out, const std::string& text) {
  const std::string cut = text.substr(0, 0xFFFF);
  uint8_t len[2];
  bytes::PutLE16(len, uint16_t(cut.size()));
  out.append(reinterpret_cast<char*>(len), 2).append(cut);
}

std::string AudioBlock(const AudioProjectDisc& disc, size_t tracks) {
  std::string body;
  PutText(body, disc.title);
  PutText(body, disc.performer);
  PutText(body, disc.mcn);
  body.push_back(char(tracks));
  for (size_t i = 0; i < tracks; ++i) {
    const AudioProjectTrack& t = disc.tracks[i];
    for (const std::string* text : {&t.title, &t.performer, &t.songwriter, &t.composer, &t.isrc}) PutText(body, *text);
    uint8_t pause[2];
    bytes::PutLE16(pause, t.pauseFrames);
    body.append(reinterpret_cast<char*>(pause), 2);
    body.push_back(char((t.preEmphasis ? kPreEmphasisFlag : 0) | (t.copyPermitted ? kCopyPermittedFlag : 0)));
  }
  body.push_back(char(disc.filesPlace));
  PutText(body, disc.filesLabel);
  const size_t files = std::min<size_t>(disc.files.size(), 0xFFFF);
  uint8_t count[2];
  bytes::PutLE16(count, uint16_t(files));
  body.append(reinterpret_cast<char*>(count), 2);
  for (size_t i = 0; i < files; ++i) PutText(body, disc.files[i]);
  return std::string(kAudioBlockMark, 4) + Le32(kAudioBlockVersion) + Le32(uint32_t(body.size())) + body;
}

// Reads the fields of the block in `body`; false when it ends too early.
class BlockReader {
 public:
  explicit BlockReader(const std::string& body) : body_(body) {}
  bool Text(std::string* out) {
    if (at_ + 2 > body_.size()) return false;
    const size_t n = bytes::LE16(reinterpret_cast<const uint8_t*>(body_.data() + at_));
    if (at_ + 2 + n > body_.size()) return false;
    *out = body_.substr(at_ + 2, n);
    at_ += 2 + n;
    return true;
  }
  bool Byte(uint8_t* out) {
    if (at_ + 1 > body_.size()) return false;
    *out = uint8_t(body_[at_++]);
    return true;
  }
  bool Word(uint16_t* out) {
    if (at_ + 2 > body_.size()) return false;
    *out = bytes::LE16(reinterpret_cast<const uint8_t*>(body_.data() + at_));
    at_ += 2;
    return true;
  }

 private:
  const std::string& body_;
  size_t at_ = 0;
};

bool ReadAudioBlock(FILE* f, AudioProjectDisc* disc, const std::string& projectPath, std::string* error) {
  char mark[4];
  // A file that ends with its tracks, or goes on with something else, was
  // written before the block existed.
  if (!ReadExact(f, mark, 4) || std::memcmp(mark, kAudioBlockMark, 4) != 0) return true;
  uint8_t head[8];
  std::string body;
  bool ok = ReadExact(f, head, 8) && bytes::LE32(head) >= 1 && bytes::LE32(head + 4) <= kAudioBlockMax;
  if (ok) {
    body.resize(bytes::LE32(head + 4));
    ok = body.empty() || ReadExact(f, &body[0], body.size());
  }
  BlockReader in(body);
  uint8_t count = 0;
  ok = ok && in.Text(&disc->title) && in.Text(&disc->performer) && in.Text(&disc->mcn) && in.Byte(&count);
  for (size_t i = 0; ok && i < count; ++i) {
    AudioProjectTrack scratch;
    AudioProjectTrack& t = i < disc->tracks.size() ? disc->tracks[i] : scratch;
    uint8_t flags = 0;
    ok = in.Text(&t.title) && in.Text(&t.performer) && in.Text(&t.songwriter) && in.Text(&t.composer) &&
         in.Text(&t.isrc) && in.Word(&t.pauseFrames) && in.Byte(&flags);
    t.preEmphasis = (flags & kPreEmphasisFlag) != 0;
    t.copyPermitted = (flags & kCopyPermittedFlag) != 0;
  }
  if (ok && bytes::LE32(head) >= 2) {
    uint16_t files = 0;
    ok = in.Byte(&disc->filesPlace) && in.Text(&disc->filesLabel) && in.Word(&files) && disc->filesPlace <= 2;
    for (uint16_t i = 0; ok && i < files; ++i) {
      std::string path;
      ok = in.Text(&path);
      disc->files.push_back(ResolveProjectSource(projectPath, path));
    }
  }
  if (!ok) SetError(error, projectPath + " is damaged in its CD-Text block");
  return ok;
}

}  // namespace

bool SaveAudioProject(const std::string& projectPath, const std::vector<std::string>& rows, std::string* error,
                      Existing existing) {
  AudioProjectDisc disc;
  for (const std::string& row : rows) disc.tracks.push_back(AudioProjectTrack{row});
  return SaveAudioProject(projectPath, disc, error, existing);
}

bool SaveAudioProject(const std::string& projectPath, const AudioProjectDisc& disc, std::string* error,
                      Existing existing) {
  std::vector<std::string> tracks;
  for (const AudioProjectTrack& row : disc.tracks) {
    if (tracks.size() == project::kMaxAudioRows) break;
    std::string path = TrimBlanks(row.source);
    struct stat st;
    if (path.empty() || stat(path.c_str(), &st) != 0) break;
    tracks.push_back(path);
  }
  OutputFile out;
  if (!out.Open(projectPath, existing)) {
    SetError(error, "cannot create the project file " + out.Error());
    return false;
  }
  bool ok = out.Write(project::MakeHeader(project::kAudioCD, "", uint8_t(tracks.size())));
  for (size_t i = 0; ok && i < tracks.size(); ++i) {
    ok = out.Write(project::MakeTrackHeader(uint8_t(i + 1), 1)) && out.Write(Le32(uint32_t(tracks[i].size()))) &&
         out.Write(tracks[i]) && out.Write(std::string(64, '\0'));
  }
  ok = ok && out.Write(AudioBlock(disc, tracks.size()));
  return FinishProjectFile(out, ok, projectPath, error);
}

bool LoadAudioProject(const std::string& projectPath, std::vector<std::string>* rows, std::string* error) {
  AudioProjectDisc disc;
  rows->clear();
  if (!LoadAudioProject(projectPath, &disc, error)) return false;
  for (const AudioProjectTrack& t : disc.tracks) rows->push_back(t.source);
  return true;
}

bool LoadAudioProject(const std::string& projectPath, AudioProjectDisc* disc, std::string* error) {
  *disc = AudioProjectDisc();
  File f(OpenToRead(projectPath));
  uint8_t head[project::kDiscHeaderSize + project::kSessionHeaderSize];
  if (!f || !ReadExact(f.get(), head, sizeof head) || head[4] != project::kAudioCD) {
    SetError(error, projectPath + " is not an audio project");
    return false;
  }
  unsigned count = head[321];
  for (unsigned i = 0; i < count && i < project::kMaxAudioRows; ++i) {
    uint8_t track[project::kTrackHeaderSize], len[4];
    if (!ReadExact(f.get(), track, sizeof track) || !ReadExact(f.get(), len, 4) ||
        bytes::LE32(len) > 65536) {
      SetError(error, projectPath + " is damaged at track " + std::to_string(i + 1));
      return false;
    }
    std::string path(bytes::LE32(len), '\0');
    uint8_t pad[64];
    if ((!path.empty() && !ReadExact(f.get(), &path[0], path.size())) || !ReadExact(f.get(), pad, 64)) {
      SetError(error, projectPath + " is damaged at track " + std::to_string(i + 1));
      return false;
    }
    AudioProjectTrack t;
    t.source = ResolveProjectSource(projectPath, path);
    disc->tracks.push_back(t);
  }
  // A file of more than 99 tracks keeps its block after all of them.
  if (count > project::kMaxAudioRows) return true;
  return ReadAudioBlock(f.get(), disc, projectPath, error);
}
