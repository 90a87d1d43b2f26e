// The ISO 9660 module and its reader: what the writers put into records,
// dates and descriptors comes back out of the reader; names a Linux file
// name cannot hold keep their files through a new session and show the same
// in the disc analysis; Joliet names are cut where the Joliet limit says.

#include <gtest/gtest.h>

#include <map>

#include "ByteFields.h"
#include "analysis/CAnaly_ISO.h"
#include "authoring/CMultiCD.h"
#include "authoring/CVCDFile.h"
#include "authoring/DiscNames.h"
#include "authoring/DvdVolume.h"
#include "authoring/FileList.h"
#include "authoring/ImportedEntry.h"
#include "authoring/Iso9660.h"
#include "authoring/IsoReader.h"
#include "authoring/IsoTestSupport.h"
#include "authoring/Ucs2.h"
#include "support/RunCommand.h"
#include "support/TestFolders.h"

namespace {

constexpr time_t kStamp = 1767225600;  // 2026-01-01 00:00:00 UTC

std::map<std::string, UdfEntry> ReadTree(const std::string& image, uint32_t start, bool* joliet = nullptr,
                                         std::string* error = nullptr) {
  UdfMemorySource disc(reinterpret_cast<const uint8_t*>(image.data()), image.size());
  IsoReader reader;
  std::map<std::string, UdfEntry> tree;
  EXPECT_TRUE(reader.Open(&disc, start)) << reader.LastError();
  const bool ok = reader.Walk([&](const UdfEntry& e) {
    tree[e.Path()] = e;
    return IsoReader::kGoOn;
  });
  if (joliet) *joliet = reader.Joliet();
  if (error) *error = reader.LastError();
  else EXPECT_TRUE(ok) << reader.LastError();
  return tree;
}

std::map<std::string, UdfEntry> Analyse(const std::string& image, uint32_t start) {
  struct Lister : UdfWalkListener {
    std::map<std::string, UdfEntry> tree;
    bool Entry(const UdfEntry& e) override {
      tree[e.Path()] = e;
      return true;
    }
  } lister;
  UdfMemorySource disc(reinterpret_cast<const uint8_t*>(image.data()), image.size());
  CAnaly_ISO iso;
  EXPECT_TRUE(iso.Open(&disc, start)) << iso.LastError();
  EXPECT_TRUE(iso.Walk(&lister)) << iso.LastError();
  return lister.tree;
}

void Replace(std::string* image, const std::string& from, const std::string& to) {
  const size_t at = image->find(from);
  ASSERT_NE(at, std::string::npos);
  image->replace(at, to.size(), to);
}

std::string Ucs2(const std::string& ascii) {
  std::u16string wide(ascii.begin(), ascii.end());
  return Utf16ToBigEndianBytes(wide);
}

}  // namespace

TEST(Iso9660, RecordsAndDatesComeBackFromTheReaderInBothTrees) {
  FixedZone zone("XST+3:15");  // west of UTC: -13 quarter hours
  ScratchFolder src, staging;
  const time_t mtime = kStamp - 86400 * 3 - 3725;
  Stamp(src.Write("Notes for the trip.txt", "notes"), mtime);
  Stamp(src.Write("empty", ""), mtime + 1);
  ASSERT_TRUE(AppendFileListEntry(staging.path(), {src / "Notes for the trip.txt", "Notes for the trip.txt"}));
  ASSERT_TRUE(AppendFileListEntry(staging.Mkdir("Sub folder"), {src / "empty", "empty"}));
  // The two plain trees: Rock Ridge, where present, is read before either.
  std::string image = ServeDataTrack(staging.path(), 0, kStamp, "Golden Disc", project::kNoRockRidge);

  bool joliet = false;
  std::map<std::string, UdfEntry> tree = ReadTree(image, 0, &joliet);
  EXPECT_TRUE(joliet);
  ASSERT_EQ(tree.size(), 3u) << ::testing::PrintToString(tree.size());
  const UdfEntry& notes = tree.at("Notes for the trip.txt");
  EXPECT_EQ(notes.size, 5u);
  EXPECT_EQ(image.substr(size_t(notes.sectors.at(0).first) * 2048, 5), "notes");
  std::tm local{};
  localtime_r(&mtime, &local);
  EXPECT_EQ(notes.time.year, local.tm_year + 1900);
  EXPECT_EQ(notes.time.day, local.tm_mday);
  EXPECT_EQ(notes.time.hour, local.tm_hour);
  EXPECT_EQ(notes.time.minute, local.tm_min);
  EXPECT_EQ(notes.time.offsetMinutes, -195);
  EXPECT_TRUE(tree.at("Sub folder").folder);
  EXPECT_EQ(tree.at("Sub folder/empty").size, 0u);
  EXPECT_EQ(tree.at("Sub folder").time.offsetMinutes, -195) << "the build time of a folder, local too";

  // Without the Joliet escapes the primary tree is read, with its own names.
  image[17 * 2048 + iso9660::kEscapes] = 0;
  image[17 * 2048 + iso9660::kEscapes + 1] = 0;
  image[17 * 2048 + iso9660::kEscapes + 2] = 0;
  tree = ReadTree(image, 0, &joliet);
  EXPECT_FALSE(joliet);
  EXPECT_EQ(tree.count("Notes fo.txt"), 1u);
  EXPECT_EQ(tree.count("Sub fold/empty"), 1u);
  EXPECT_EQ(tree.at("Notes fo.txt").time.offsetMinutes, -195);
}

TEST(Iso9660, RecordsKeepTheirSystemUseAndNeverOutgrowTheirLength) {
  const iso9660::RecordDate date = iso9660::MakeRecordDate(kStamp);
  const std::string su = "XA-like system use";  // even length, as entries are
  for (const std::string& ident : {std::string("A.TXT;1"), std::string("AB"), std::string(300, 'n')}) {
    SCOPED_TRACE(ident.size());
    const std::string rec = iso9660::MakeRecord({19, 7, date, 0, ident, su});
    ASSERT_LE(rec.size(), iso9660::kMaxRecord);
    EXPECT_EQ(rec.size() % 2, 0u);
    EXPECT_EQ(uint8_t(rec[0]), rec.size());
    EXPECT_EQ(rec.substr(rec.size() - su.size()), su) << "the system use ends the record";
    iso9660::ReadRecord r;
    ASSERT_TRUE(iso9660::DecodeRecord(reinterpret_cast<const uint8_t*>(rec.data()), rec.size(), &r));
    EXPECT_EQ(r.extent, 19u);
    EXPECT_EQ(r.size, 7u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(r.ident), r.identBytes),
              ident.substr(0, r.identBytes));
    EXPECT_EQ(33 + r.identBytes + (r.identBytes + 1) % 2 + su.size(), rec.size());
    // Damage: a length beyond the sector, or too short for the identifier.
    EXPECT_FALSE(iso9660::DecodeRecord(reinterpret_cast<const uint8_t*>(rec.data()), rec.size() - 1, &r));
    std::string cut = rec;
    cut[0] = char(33 + r.identBytes - 1);
    EXPECT_FALSE(iso9660::DecodeRecord(reinterpret_cast<const uint8_t*>(cut.data()), cut.size(), &r));
  }
}

TEST(Iso9660, NameRules) {
  bool changed = false;
  const std::string slash = Ucs2("a/b.txt;1");
  EXPECT_EQ(iso9660::RecordName(reinterpret_cast<const uint8_t*>(slash.data()), slash.size(), true, &changed),
            "a_b.txt");
  EXPECT_TRUE(changed);
  EXPECT_EQ(iso9660::RecordName(reinterpret_cast<const uint8_t*>("README.;1"), 9, false, &changed), "README");
  EXPECT_FALSE(changed);
  const std::string up = Ucs2("..");
  EXPECT_EQ(iso9660::RecordName(reinterpret_cast<const uint8_t*>(up.data()), up.size(), true, &changed), "__");
  EXPECT_TRUE(changed);
  EXPECT_EQ(iso9660::IsoLabel("Summer holiday 2026!"), "SUMMER_HOLIDAY_2026_");
  EXPECT_EQ(iso9660::IsoLabel(std::string(40, 'x')).size(), 32u);
  // Joliet: the data disc's limit, the extension kept; never half a pair.
  const std::string cut = iso9660::JolietName(std::string(150, 'n') + ".txt", false);
  EXPECT_EQ(cut.size(), 2 * discnames::kJolietMaxChars);
  EXPECT_EQ(cut.substr(cut.size() - 8), Ucs2(".txt"));
  EXPECT_EQ(iso9660::JolietText("ab\xf0\x9f\x93\xb7", 3), Ucs2("ab"));
  EXPECT_EQ(iso9660::ReadText(reinterpret_cast<const uint8_t*>("LABEL   "), 8, false), "LABEL");
}

// A Joliet name with "/" (another system's disc) is kept, under the
// stand-in, by the import into a new session and by the analysis alike.
TEST(IsoReader, ANameWithSlashKeepsItsFileThroughANewSessionAndShowsTheSameInTheAnalysis) {
  ScratchFolder src, staging, next;
  ASSERT_TRUE(AppendFileListEntry(staging.path(), {src.Write("a_b.txt", "slash"), "a_b.txt"}));
  ASSERT_TRUE(AppendFileListEntry(staging.Mkdir("keep"), {src.Write("in.txt", "in"), "in.txt"}));
  // Another system's disc: Joliet only.
  std::string disc = ServeDataTrack(staging.path(), 0, kStamp, "Golden Disc", project::kNoRockRidge);
  Replace(&disc, Ucs2("a_b"), Ucs2("a/b"));

  const std::map<std::string, UdfEntry> before = Analyse(disc, 0);
  ASSERT_EQ(before.count("a_b.txt"), 1u);
  EXPECT_TRUE(before.at("a_b.txt").nameChanged);

  UdfMemorySource source(reinterpret_cast<const uint8_t*>(disc.data()), disc.size());
  CMultiCD import(&source, next.path(), [](const std::string& descriptor, const std::string& folder) {
    ImportedEntry e;
    if (!ParseImportedEntry(descriptor, &e)) return false;
    if (e.kind == ImportedEntry::kFolder) return ::mkdir((folder + "/" + e.name).c_str(), 0755) == 0;
    return AppendFileListEntry(folder, {descriptor, e.name});
  });
  uint32_t start = 0;
  ASSERT_TRUE(import.Import(0, false, &start)) << import.Error();
  EXPECT_EQ(import.EntriesAdded(), 3);
  EXPECT_EQ(start % 16, 0u);
  ASSERT_TRUE(AppendFileListEntry(next.path(), {src.Write("new.txt", "new"), "new.txt"}));

  // The new session starts behind the old track (600 sectors at least on a CD).
  start = std::max(start, uint32_t(disc.size() / 2048));
  disc.resize(size_t(start) * 2048, '\0');
  disc += ServeDataTrack(next.path(), start, kStamp + 60);
  const std::map<std::string, UdfEntry> after = Analyse(disc, start);
  ASSERT_EQ(after.count("a_b.txt"), 1u) << "the file was lost in the new session";
  EXPECT_EQ(after.at("a_b.txt").sectors, before.at("a_b.txt").sectors);
  EXPECT_EQ(disc.substr(size_t(after.at("a_b.txt").sectors[0].first) * 2048, 5), "slash");
  EXPECT_EQ(after.count("keep/in.txt"), 1u);
  EXPECT_EQ(after.count("new.txt"), 1u);
}

TEST(IsoReader, AFileInSeveralExtentsComesOnceWithAllOfThemAndImportRefusesIt) {
  ScratchFolder src, staging;
  ASSERT_TRUE(AppendFileListEntry(staging.path(), {src.Write("part.bin", "one"), "part.bin"}));
  ASSERT_TRUE(AppendFileListEntry(staging.path(), {src.Write("part.bio", "two"), "part.bio"}));
  std::string disc = ServeDataTrack(staging.path(), 0, kStamp, "Golden Disc", project::kNoRockRidge);
  // The second record becomes the first one's continuation.
  Replace(&disc, Ucs2("part.bio"), Ucs2("part.bin"));
  const size_t first = disc.find(Ucs2("part.bin")) - iso9660::kRecordId;
  disc[first + iso9660::kRecordFlags] = char(iso9660::kMultiExtent);
  const std::map<std::string, UdfEntry> tree = ReadTree(disc, 0);
  ASSERT_EQ(tree.count("part.bin"), 1u);
  EXPECT_EQ(tree.at("part.bin").sectors.size(), 2u);
  EXPECT_EQ(tree.at("part.bin").size, 6u);

  UdfMemorySource source(reinterpret_cast<const uint8_t*>(disc.data()), disc.size());
  CMultiCD import(&source, "/nowhere", [](const std::string&, const std::string&) { return true; });
  uint32_t start = 0;
  EXPECT_FALSE(import.Import(0, false, &start));
  EXPECT_NE(import.Error().find("several extents"), std::string::npos) << import.Error();
}

TEST(DvdVolume, AJolietNameOf90CharactersIsKeptWhole) {
  const std::string longName = std::string(86, 'L') + ".VOB";
  std::vector<DvdFileRecord> records = {{"", "VIDEO_TS.IFO", 0, 0, 6144}, {"", longName, 0, 0, 4096}};
  PackDvdRecords(&records);
  std::vector<uint8_t> header;
  uint32_t total = 0;
  std::string why;
  ASSERT_TRUE(LayOutDvdHeader(MakeDvdHeaderTemplate(), MakeDvdFileEntryTemplate(), MakeDvdEndTemplate(), "LONG",
                              records, kStamp, &header, &total, &why))
      << why;
  std::string image(header.begin(), header.end());
  image.resize(size_t(total - 1) * 2048, '\0');
  const std::vector<uint8_t> anchor = DvdClosingAnchor(header, total);
  image.append(anchor.begin(), anchor.end());
  bool joliet = false;
  const std::map<std::string, UdfEntry> tree = ReadTree(image, 0, &joliet);
  EXPECT_TRUE(joliet);
  EXPECT_EQ(tree.count("VIDEO_TS/" + longName), 1u) << ::testing::PrintToString(tree.size());

  ScratchFolder dir;
  const std::string path = dir.Write("long.iso", image);
  CommandResult r = RunCommand("isoinfo -J -f -i " + Quoted(path));
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("/VIDEO_TS/" + longName), std::string::npos) << r.output;
}

TEST(VcdLayout, DatesAreLocalTimeWithItsOffset) {
  FixedZone zone("XST-5:30");
  ScratchFolder dir;
  CVCDFile vcd;
  vcd.SetBuildTime(kStamp);
  ASSERT_TRUE(vcd.Prepare("ZONE", 1, {dir.Write("a.mpg", std::string(2324 * 10, 'm'))})) << vcd.LastError();
  const std::string image = ReadWholeFile(vcd.GetControlImage());
  const std::string track = image.substr(vcdtpl::kMpegRecords + iso9660::kRecordDate, 7);
  EXPECT_EQ(track, std::string("\x7e\x01\x01\x05\x1e\x00\x16", 7)) << "2026-01-01 05:30 at +5:30";
  // The template's own dates follow the same rule.
  const std::vector<uint8_t> tpl = vcdtpl::MakeVcdControlTemplate(vcdtpl::Kind::VideoCd);
  const uint8_t* pvd = tpl.data() + vcdtpl::kPrimary * vcdtpl::kSector;
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(pvd + iso9660::kCreated), 16), "2026010105300000");
  EXPECT_EQ(pvd[iso9660::kCreated + 16], 22);
  EXPECT_EQ(pvd[iso9660::kRootRecord + iso9660::kRecordDate + 6], 22);

  CommandResult r = RunCommand("isoinfo -l -i " + Quoted(vcd.GetControlImage()));
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("Jan  1 2026"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("AVSEQ01.DAT;1"), std::string::npos) << r.output;
}
