// The addresses a Video CD or Super Video CD gives its player, checked on the
// burnt disc itself: the disc is burnt with varnex-cli on a virtual CD-R and
// exported as BIN/CUE, and every address the control track holds is compared
// with where the sectors of the BIN really are. A player seeks to an entry
// point and starts decoding there: one sector early it meets an empty sector,
// one sector late it loses the stream's first pack and its headers.

#include <gtest/gtest.h>

#include <map>
#include <regex>

#include "MediaTestSupport.h"

namespace {

constexpr size_t kRaw = 2352;

CommandResult Cli(const std::string& args) { return RunCommand(std::string(VARNEX_CLI_PATH) + " " + args); }

int FromBcd(uint8_t b) { return (b >> 4) * 10 + (b & 15); }

// The disc as the exported BIN/CUE shows it.
struct BurntDisc {
  std::string bin;
  std::map<int, long> starts;  // track number -> sector of its INDEX 01
  std::map<int, long> ends;    // track number -> first sector after it (the next pre-gap or the disc's end)
  std::string controlIso;      // the control track's user data as an ISO 9660 image

  long Sectors() const { return long(bin.size() / kRaw); }
  const uint8_t* Sector(long lba) const { return reinterpret_cast<const uint8_t*>(bin.data()) + size_t(lba) * kRaw; }
  // A Mode 2 Form 2 sector whose user data opens an MPEG pack.
  bool PackStart(long lba) const {
    if (lba < 0 || lba >= Sectors()) return false;
    const uint8_t* s = Sector(lba);
    return s[15] == 2 && (s[18] & 0x20) && s[24] == 0 && s[25] == 0 && s[26] == 1 && s[27] == 0xBA;
  }
  // The first and the last sector of the track that open a pack; -1 when none does.
  long FirstPack(int track) const {
    for (long lba = starts.at(track); lba < ends.at(track); ++lba)
      if (PackStart(lba)) return lba;
    return -1;
  }
  long LastPack(int track) const {
    for (long lba = ends.at(track) - 1; lba >= starts.at(track); --lba)
      if (PackStart(lba)) return lba;
    return -1;
  }
};

long CueSector(const std::string& msf) {
  int m = 0, s = 0, f = 0;
  std::sscanf(msf.c_str(), "%d:%d:%d", &m, &s, &f);
  return (long(m) * 60 + s) * 75 + f;
}

// Burns two short clips as a disc of `kind` ("vcd" or "svcd"), exports it
// and reads its tracks from the CUE sheet.
BurntDisc Burn(const ScratchFolder& dir, const std::string& kind) {
  BurntDisc disc;
  const std::string vd = dir / (kind + ".vdisc"), cue = dir / (kind + ".cue");
  const std::string a = MakeVideo(dir, "a.avi", 1), b = MakeVideo(dir, "b.avi", 2);
  EXPECT_EQ(Cli("virtual create --media cd-r " + Quoted(vd)).status, 0);
  CommandResult r = Cli("video --" + kind + " --drive virtual:" + vd + " --label ADDR " + Quoted(a) + " " + Quoted(b));
  EXPECT_EQ(r.status, 0) << r.output;
  r = Cli("virtual export --drive virtual:" + vd + " --cue " + Quoted(cue));
  EXPECT_EQ(r.status, 0) << r.output;
  if (r.status != 0) return disc;
  disc.bin = ReadWholeFile(dir / (kind + ".bin"));
  // One BIN from sector 0: the CUE's times are disc addresses.
  const std::string sheet = ReadWholeFile(cue);
  const std::regex line(R"(TRACK (\d+) MODE2/2352\s+(?:INDEX 00 (\d+:\d+:\d+)\s+)?INDEX 01 (\d+:\d+:\d+))");
  int previous = 0;
  for (std::sregex_iterator it(sheet.begin(), sheet.end(), line), end; it != end; ++it) {
    const int track = std::stoi((*it)[1]);
    disc.starts[track] = CueSector((*it)[3]);
    if (previous) disc.ends[previous] = (*it)[2].matched ? CueSector((*it)[2]) : disc.starts[track];
    previous = track;
  }
  if (previous) disc.ends[previous] = disc.Sectors();
  EXPECT_EQ(disc.starts.size(), 3u) << sheet;
  // The control track is Mode 2 Form 1: 2048 bytes of user data after 24.
  std::string iso;
  const long control = disc.starts.count(2) ? disc.starts[2] : 0;
  for (long s = 0; s < control && s < disc.Sectors(); ++s) iso.append(disc.bin, size_t(s) * kRaw + 24, 2048);
  disc.controlIso = dir.Write(kind + "-control.iso", iso);
  return disc;
}

// A file of the control track, as isoinfo extracts it.
std::string IsoFile(const BurntDisc& disc, const std::string& path) {
  // Its messages must not mix into the file's bytes.
  CommandResult r = RunCommand("{ isoinfo -i " + Quoted(disc.controlIso) + " -x " + Quoted(path) + " 2>/dev/null; }");
  EXPECT_EQ(r.status, 0) << path << ": " << r.output;
  return r.output;
}

struct Entry {
  int track;
  long sector;
};

// The entry table as stored: its header, a big-endian count, 4 bytes an entry.
std::vector<Entry> EntryTable(const std::string& file, int version) {
  std::vector<Entry> entries;
  EXPECT_GE(file.size(), 12u);
  if (file.size() < 12) return entries;
  EXPECT_EQ(file.substr(0, 8), "ENTRYVCD");
  EXPECT_EQ(int(file[8]), version);
  const auto* p = reinterpret_cast<const uint8_t*>(file.data());
  const size_t count = size_t(p[10]) << 8 | p[11];
  EXPECT_LE(12 + 4 * count, file.size());
  for (size_t i = 0; i < count && 12 + 4 * i + 4 <= file.size(); ++i) {
    const uint8_t* e = p + 12 + 4 * i;
    entries.push_back({FromBcd(e[0]), (long(FromBcd(e[1])) * 60 + FromBcd(e[2])) * 75 + FromBcd(e[3]) - 150});
  }
  return entries;
}

// Checks the entries, the MPEG folder and the play lists of a burnt disc
// against its sectors and against vcd-info.
void CheckAddresses(const ScratchFolder& dir, const std::string& kind) {
  const bool vcd = kind == "vcd";
  const BurntDisc disc = Burn(dir, kind);
  ASSERT_EQ(disc.starts.size(), 3u);
  const std::string folder = vcd ? "/VCD/" : "/SVCD/", ext = vcd ? ".VCD;1" : ".SVD;1";

  // Each entry is the first pack of its track: where the MPEG stream begins.
  const std::vector<Entry> entries = EntryTable(IsoFile(disc, folder + "ENTRIES" + ext), vcd ? 2 : 1);
  ASSERT_EQ(entries.size(), 2u);
  for (size_t i = 0; i < entries.size(); ++i) {
    const int track = int(i) + 2;
    SCOPED_TRACE("entry " + std::to_string(i + 1));
    EXPECT_EQ(entries[i].track, track);
    const long first = disc.FirstPack(track);
    // The track opens with its empty front margin, so a sector early is no pack either.
    ASSERT_GT(first, disc.starts.at(track)) << "track " << track << " holds no MPEG pack after a margin";
    EXPECT_EQ(entries[i].sector, first) << "the entry is " << entries[i].sector - first
                                        << " sectors off the track's first pack";
  }

  // vcd-info reads the same table from the image.
  CommandResult info = RunCommand("vcd-info -B -c " + Quoted(dir / (kind + ".cue")) + " -E -p -X");
  ASSERT_EQ(info.status, 0) << info.output;
  const std::regex listed(R"(ENTRY\[(\d+)\]: track#\s+(\d+) \(SEQUENCE\[\d+\]\), LSN\s+(\d+))");
  size_t seen = 0;
  for (std::sregex_iterator it(info.output.begin(), info.output.end(), listed), end; it != end; ++it, ++seen) {
    const size_t i = size_t(std::stoul((*it)[1]));
    ASSERT_LT(i, entries.size()) << info.output;
    EXPECT_EQ(std::stoi((*it)[2]) + 1, entries[i].track) << "vcd-info counts the MPEG tracks from 1";
    EXPECT_EQ(std::stol((*it)[3]), disc.FirstPack(entries[i].track)) << info.output;
  }
  EXPECT_EQ(seen, entries.size()) << info.output;

  // The MPEG folder's files start at their tracks and hold all of their packs.
  CommandResult list = RunCommand("isoinfo -i " + Quoted(disc.controlIso) + " -l");
  ASSERT_EQ(list.status, 0) << list.output;
  const std::regex record(R"((\d+) \w{3} [ \d]\d \d{4} \[ *(\d+) \d+\]\s+AVSEQ(\d\d)\.)");
  seen = 0;
  for (std::sregex_iterator it(list.output.begin(), list.output.end(), record), end; it != end; ++it, ++seen) {
    const int track = std::stoi((*it)[3]) + 1;
    ASSERT_TRUE(disc.starts.count(track)) << list.output;
    const long extent = std::stol((*it)[2]), sectors = std::stol((*it)[1]) / 2048;
    EXPECT_EQ(extent, disc.starts.at(track)) << "AVSEQ" << (*it)[3];
    EXPECT_GT(extent + sectors, disc.LastPack(track)) << "AVSEQ" << (*it)[3] << " ends before its last pack";
    EXPECT_LE(extent + sectors, disc.ends.at(track)) << "AVSEQ" << (*it)[3] << " reaches past its track";
  }
  EXPECT_EQ(seen, 2u) << list.output;

  // The play lists name play items, not addresses: list k plays the k-th
  // MPEG track (play item k+1), which must be on the disc.
  const std::string psd = IsoFile(disc, folder + "PSD" + ext);
  const auto* p = reinterpret_cast<const uint8_t*>(psd.data());
  ASSERT_GE(psd.size(), 2 * 16u);
  for (int k = 1; k <= 2; ++k) {
    const uint8_t* list = p + 16 * (k - 1);
    EXPECT_EQ(list[0], 0x10);
    EXPECT_EQ(list[1], 1) << "one item in list " << k;
    EXPECT_EQ(list[14] << 8 | list[15], k + 1) << "list " << k;
    EXPECT_TRUE(disc.starts.count(k + 1));
    EXPECT_NE(info.output.find("play-item[0]: SEQUENCE[" + std::to_string(k - 1) + "] (0x000" +
                               std::to_string(k + 1) + ")"),
              std::string::npos)
        << info.output;
  }

  // A Super Video CD's scan table lists no points, so it holds no address
  // that could miss its sector.
  if (!vcd) {
    const std::string search = IsoFile(disc, "/SVCD/SEARCH.DAT;1");
    ASSERT_GE(search.size(), 13u);
    EXPECT_EQ(search.substr(0, 8), "SEARCHSV");
    EXPECT_EQ(search[10], 0);
    EXPECT_EQ(search[11], 0) << "scan points listed";
    EXPECT_NE(info.output.find("scanpoints: 0"), std::string::npos) << info.output;
  }
}

}  // namespace

TEST(VcdAddresses, VideoCdEntriesAreTheFirstPackOfEachTrack) {
  ScratchFolder dir;
  CheckAddresses(dir, "vcd");
}

TEST(VcdAddresses, SuperVideoCdEntriesAreTheFirstPackOfEachTrack) {
  ScratchFolder dir;
  CheckAddresses(dir, "svcd");
}
