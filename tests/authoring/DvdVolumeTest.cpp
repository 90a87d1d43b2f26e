// The DVD-Video header: a VIDEO_TS folder of made-up files laid out behind
// it and read back by isoinfo, 7zz and udfinfo; the ISO 9660, Joliet and UDF
// views give every file the same sectors and size, in player order.

#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "ByteFields.h"
#include "authoring/CECMA167.h"
#include "authoring/DvdVolume.h"
#include "media/DvdTestSupport.h"

namespace {

struct Disc {
  std::vector<DvdFileRecord> records;
  std::vector<std::string> contents;
  std::vector<uint8_t> header;
  uint32_t total = 0;
};

// A title set with three VOBs of odd sizes, as the authoring tool writes it.
Disc MakeDisc(const ScratchFolder& dir, const std::string& label) {
  Disc d;
  const std::vector<std::pair<std::string, uint32_t>> files = {
      {"VIDEO_TS.IFO", 6144}, {"VIDEO_TS.BUP", 6144},    {"VTS_01_0.IFO", 12288}, {"VTS_01_1.VOB", 500001},
      {"VTS_01_2.VOB", 2048}, {"VTS_01_3.VOB", 70000},   {"VTS_01_0.BUP", 12288}};
  std::mt19937 random(7);
  for (const auto& [name, size] : files) {
    std::string bytes(size, '\0');
    for (char& c : bytes) c = char(random());
    d.contents.push_back(bytes);
    d.records.push_back({dir.Write("VIDEO_TS/" + name, bytes), name, 0, 0, size});
  }
  PackDvdRecords(&d.records);
  std::string why;
  EXPECT_TRUE(LayOutDvdHeader(MakeDvdHeaderTemplate(), MakeDvdFileEntryTemplate(), MakeDvdEndTemplate(), label,
                              d.records, 1767225600, &d.header, &d.total, &why))
      << why;
  return d;
}

std::string WriteImage(const ScratchFolder& dir, const Disc& d) {
  std::string image(d.header.begin(), d.header.end());
  for (size_t i = 0; i < d.records.size(); ++i) {
    image += d.contents[i];
    image.resize((image.size() + 2047) / 2048 * 2048, '\0');
  }
  const std::vector<uint8_t> anchor = DvdClosingAnchor(d.header, d.total);
  image.append(anchor.begin(), anchor.end());
  EXPECT_EQ(image.size(), size_t(d.total) * 2048);
  return dir.Write("dvd.iso", image);
}

TEST(DvdVolume, FilesFollowEachOtherInPlayerOrder) {
  ScratchFolder dir;
  Disc d = MakeDisc(dir, "HOLIDAY");
  const char* order[] = {"VIDEO_TS.IFO", "VIDEO_TS.BUP", "VTS_01_0.IFO", "VTS_01_1.VOB",
                         "VTS_01_2.VOB", "VTS_01_3.VOB", "VTS_01_0.BUP"};
  uint32_t next = 0;
  for (size_t i = 0; i < d.records.size(); ++i) {
    EXPECT_EQ(d.records[i].discName, order[i]);
    EXPECT_EQ(d.records[i].startSector, next) << order[i] << " does not start right after the file before it";
    EXPECT_EQ(d.records[i].sectorCount, (d.records[i].byteSize + 2047) / 2048);
    next += d.records[i].sectorCount;
  }
  EXPECT_EQ(d.header.size(), size_t(dvdvol::kFileEntries + d.records.size() + 1) * 2048);
  EXPECT_EQ(d.total, d.header.size() / 2048 + next + 1) << "the closing anchor ends the disc";
}

TEST(DvdVolume, IsoJolietAndUdfAgreeOnEverySectorAndSize) {
  ScratchFolder dir;
  Disc d = MakeDisc(dir, "HOLIDAY");
  const std::string image = WriteImage(dir, d);
  const uint32_t first = uint32_t(d.header.size() / 2048);
  for (bool joliet : {false, true}) {
    SCOPED_TRACE(joliet ? "Joliet" : "ISO 9660");
    std::vector<IsoListed> listed = IsoinfoFolder(image, "/VIDEO_TS/", joliet);
    ASSERT_EQ(listed.size(), d.records.size()) << RunCommand("isoinfo -l -i " + image).output;
    for (const IsoListed& l : listed) {
      const auto r = std::find_if(d.records.begin(), d.records.end(),
                                  [&](const DvdFileRecord& x) { return l.name.rfind(x.discName, 0) == 0; });
      ASSERT_NE(r, d.records.end()) << l.name;
      EXPECT_EQ(l.sector, first + r->startSector) << l.name;
      EXPECT_EQ(l.size, r->byteSize) << l.name;
    }
    EXPECT_TRUE(IsoinfoFolder(image, "/AUDIO_TS/", joliet).empty());
  }
  // The UDF entries: each file's extent starts where the ISO 9660 record says.
  for (size_t i = 0; i < d.records.size(); ++i) {
    const uint8_t* fe = d.header.data() + (dvdvol::kFileEntries + i) * 2048;
    uint32_t location = dvdvol::kFileEntries + uint32_t(i) - dvdvol::kPartitionStart;
    std::string why;
    EXPECT_TRUE(CECMA167::VerifyTag(fe, 2048, &why, &location)) << d.records[i].discName << ": " << why;
    EXPECT_EQ(bytes::LE64(fe + udf::fe::kInfoLength), d.records[i].byteSize);
    EXPECT_EQ(bytes::LE32(fe + udf::fe::kAds + 4) + dvdvol::kPartitionStart, first + d.records[i].startSector);
  }
  // Every file comes back byte for byte through UDF (7zz) and ISO 9660 (isoinfo).
  CommandResult r = RunCommand("cd " + Quoted(dir.path()) + " && 7zz x -tudf -oudf " + Quoted(image));
  ASSERT_EQ(r.status, 0) << r.output;
  for (size_t i = 0; i < d.records.size(); ++i) {
    EXPECT_EQ(ReadWholeFile(dir / ("udf/VIDEO_TS/" + d.records[i].discName)), d.contents[i])
        << d.records[i].discName << " differs through UDF";
    r = RunCommand("isoinfo -i " + Quoted(image) + " -x '/VIDEO_TS/" + d.records[i].discName + ";1'");
    EXPECT_TRUE(r.output == d.contents[i]) << d.records[i].discName << " differs through ISO 9660";
  }
  EXPECT_TRUE(std::filesystem::is_directory(dir / "udf/AUDIO_TS"));
  r = RunCommand("udfinfo " + Quoted(image));
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("label=HOLIDAY"), std::string::npos) << r.output;
}

TEST(DvdVolume, ALongLabelIsCutOnlyWhereTheFieldIsShort) {
  ScratchFolder dir;
  Disc d = MakeDisc(dir, "SUMMER_HOLIDAY_2026_ITALY");
  const std::string image = WriteImage(dir, d);
  CommandResult r = RunCommand("isoinfo -d -i " + Quoted(image));
  EXPECT_NE(r.output.find("Volume id: SUMMER_HOLIDAY_2026_ITALY"), std::string::npos) << r.output;
  // The Joliet descriptor's field takes 16 characters of 16 bits.
  std::string joliet;
  for (char c : std::string("SUMMER_HOLIDAY_2")) joliet += std::string(1, '\0') + c;
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(d.header.data()) + 17 * 2048 + 40, 32), joliet);
  r = RunCommand("xorriso -indev " + Quoted(image) + " -pvd_info");
  EXPECT_NE(r.output.find("Volume Id    : SUMMER_HOLIDAY_2026_ITALY"), std::string::npos) << r.output;
  r = RunCommand("udfinfo " + Quoted(image));
  EXPECT_NE(r.output.find("lvid=SUMMER_HOLIDAY_2026_ITALY"), std::string::npos) << r.output;
}

TEST(DvdVolume, DamagedTemplatesAndUnpackedTablesAreRefused) {
  ScratchFolder dir;
  Disc d = MakeDisc(dir, "X");
  std::vector<uint8_t> header;
  uint32_t total = 0;
  std::string why;
  std::vector<uint8_t> broken = MakeDvdHeaderTemplate();
  broken[256 * 2048 + 5] ^= 1;  // the anchor's tag
  EXPECT_FALSE(LayOutDvdHeader(broken, MakeDvdFileEntryTemplate(), MakeDvdEndTemplate(), "X", d.records, 0, &header,
                               &total, &why));
  EXPECT_NE(why.find("1002"), std::string::npos) << why;
  EXPECT_FALSE(LayOutDvdHeader(MakeDvdHeaderTemplate(), std::vector<uint8_t>(100), MakeDvdEndTemplate(), "X",
                               d.records, 0, &header, &total, &why));
  EXPECT_NE(why.find("2004"), std::string::npos) << why;
  d.records[2].startSector += 1;  // a gap between two files
  EXPECT_FALSE(LayOutDvdHeader(MakeDvdHeaderTemplate(), MakeDvdFileEntryTemplate(), MakeDvdEndTemplate(), "X",
                               d.records, 0, &header, &total, &why));
  EXPECT_TRUE(header.empty());
}

}  // namespace
