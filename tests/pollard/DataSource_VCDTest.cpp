// The sectors of a video disc source: the control track as Mode 2 Form 1,
// the MPEG items as Form 2 with the sub-headers of what each payload holds,
// the margins and gaps around them, and ".DAT" tracks copied sector by sector.

#include <gtest/gtest.h>

#include <memory>

#include "ByteFields.h"
#include "CdSector.h"
#include "DataSource_VCD.h"
#include "VcdTracks.h"
#include "support/TestFolders.h"

namespace {

constexpr int kRaw = 2352;

// One 2324-byte MPEG-1 pack holding a packet of stream `id`.
std::string Pack(uint8_t id) {
  std::string p(2324, '\0');
  const uint8_t head[] = {0, 0, 1, 0xBA, 0x21, 0, 1, 0, 1, 0x80, 0, 1, 0, 0, 1, id, 0x09, 0x06};
  p.replace(0, sizeof head, reinterpret_cast<const char*>(head), sizeof head);
  for (size_t i = sizeof head; i < p.size(); ++i) p[i] = char(i * 7);
  return p;
}

std::vector<uint8_t> ReadSectors(DataSource& s, int track, long from, int count) {
  std::vector<uint8_t> out(size_t(count) * kRaw);
  EXPECT_TRUE(s.OpenTrack(track));
  EXPECT_TRUE(s.SetStartAdd(from)) << s.GetLastError();
  EXPECT_TRUE(s.GetSectorData(out.data(), count)) << s.GetLastError();
  return out;
}

bool Form2EdcHolds(const uint8_t* raw) {
  return bytes::LE32(raw + 2348) == cdsector::Edc(raw + 16, 2332);
}

}  // namespace

TEST(DataSourceVcd, ControlTrackIsForm1AndMpegPayloadsCarryTheirSubheaders) {
  ScratchFolder dir;
  std::string control;
  for (int i = 0; i < 1100; ++i) control += std::string(2048, char('A' + i % 26));
  const std::string image = dir.Write("control.img", control);
  // Video, audio, padding, then a short last payload of video.
  const std::string mpeg = Pack(0xE0) + Pack(0xC0) + Pack(0xBE) + Pack(0xE0).substr(0, 100);
  const std::string item = dir.Write("clip.mpg", mpeg);
  DataSource_VCD source(2, image, 1, {item});
  ASSERT_TRUE(source.IsValid()) << source.GetLastError();

  const DiscLayout& disc = source.Layout();
  ASSERT_EQ(disc.TrackCount(), 2);
  const SourceTrack& t2 = *disc.Track(2);
  EXPECT_EQ(disc.Track(1)->length, 1100);
  EXPECT_EQ(t2.pregapStart, 1100);
  EXPECT_EQ(t2.start, 1251);
  EXPECT_EQ(t2.length, 4 + 90);
  EXPECT_EQ(t2.form, MODE_FORM_MODE2_FORM2);

  std::vector<uint8_t> c = ReadSectors(source, 1, 16, 2);
  EXPECT_EQ(cdsector::ModeOf(c.data()), cdsector::Mode::Mode2Form1);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(c.data()) + 24, 2048), control.substr(16 * 2048, 2048));
  EXPECT_EQ(c[kRaw + 18], 0x89) << "the terminator ends the descriptor set";

  // Gap, front margin, the four payloads, the rear margin.
  std::vector<uint8_t> s = ReadSectors(source, 2, 1100, 151 + 94);
  auto sector = [&](long lba) { return s.data() + size_t(lba - 1100) * kRaw; };
  const uint8_t empty[4] = {0, 0, 0x20, 0};
  for (long lba : {1100L, 1250L, 1251L, 1280L, 1285L, 1344L}) {
    EXPECT_EQ(cdsector::ModeOf(sector(lba)), cdsector::Mode::Mode2Form2) << lba;
    EXPECT_EQ(std::memcmp(sector(lba) + 16, empty, 4), 0) << "empty sector at " << lba;
  }
  const uint8_t video[4] = {1, 1, 0x62, 0x0F}, audio[4] = {1, 1, 0x64, 0x7F}, stuff[4] = {1, 0, 0x60, 0},
                last[4] = {1, 1, 0xE3, 0x0F};
  const uint8_t* want[4] = {video, audio, stuff, last};
  for (int i = 0; i < 4; ++i) {
    const uint8_t* raw = sector(1281 + i);
    EXPECT_EQ(std::memcmp(raw + 16, want[i], 4), 0) << "payload " << i;
    EXPECT_EQ(std::memcmp(raw + 20, want[i], 4), 0) << "second copy of the sub-header " << i;
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(raw) + 24, std::min<size_t>(2324, mpeg.size() - i * 2324)),
              mpeg.substr(size_t(i) * 2324, 2324));
    EXPECT_TRUE(Form2EdcHolds(raw)) << "EDC of payload " << i;
    // The header carries the sector's own address.
    EXPECT_EQ(raw[12], cdsector::ToBcd(int((1281 + i + 150) / 4500)));
    EXPECT_EQ(raw[14], cdsector::ToBcd(int((1281 + i + 150) % 75)));
  }
  EXPECT_EQ(sector(1284)[24 + 100], 0) << "the short last payload is padded with zeros";
  // A second reader gives the same sectors.
  std::unique_ptr<DataSource> clone(source.CloneSource());
  std::vector<uint8_t> again = ReadSectors(*clone, 2, 1281, 4);
  EXPECT_EQ(std::memcmp(again.data(), sector(1281), 4 * kRaw), 0);
}

TEST(DataSourceVcd, DatTracksAreCopiedSectorBySectorAtTheirNewAddresses) {
  ScratchFolder dir;
  const std::string image = dir.Write("control.img", std::string(1100 * 2048, '\0'));
  // Two raw Form 2 sectors written for addresses far away, behind a RIFF header.
  std::string dat(44, 'R');
  uint8_t payload[2324];
  for (int i = 0; i < 2; ++i) {
    std::memset(payload, 0x30 + i, sizeof payload);
    const uint8_t sub[4] = {1, 1, uint8_t(i ? 0x64 : 0x62), 0x0F};
    uint8_t raw[kRaw];
    cdsector::Encode(90000 + i, cdsector::Mode::Mode2Form2, payload, raw, sub);
    dat.append(reinterpret_cast<char*>(raw), kRaw);
  }
  const std::string item = dir.Write("AVSEQ01.DAT", dat);
  DataSource_VCD source(2, image, 1, {item});
  ASSERT_TRUE(source.IsValid()) << source.GetLastError();
  EXPECT_EQ(source.Layout().Track(2)->length, 2 + 90);
  std::vector<uint8_t> s = ReadSectors(source, 2, 1281, 2);
  for (int i = 0; i < 2; ++i) {
    const uint8_t* raw = s.data() + size_t(i) * kRaw;
    EXPECT_EQ(raw[18], i ? 0x64 : 0x62) << "the file's own sub-header";
    EXPECT_EQ(raw[24], 0x30 + i);
    EXPECT_EQ(raw[14], cdsector::ToBcd((1281 + i + 150) % 75)) << "re-addressed";
    EXPECT_TRUE(Form2EdcHolds(raw));
  }
}

TEST(DataSourceVcd, AMissingItemOrControlTrackMakesNoSource) {
  ScratchFolder dir;
  const std::string image = dir.Write("control.img", std::string(1100 * 2048, '\0'));
  const std::string gone = dir / "gone.mpg";
  DataSource_VCD missing(2, image, 1, {gone});
  EXPECT_FALSE(missing.IsValid());
  EXPECT_NE(missing.GetLastError().find(gone), std::string::npos) << missing.GetLastError();
  DataSource_VCD noControl(2, dir / "none.img", 1, {dir.Write("a.mpg", "x")});
  EXPECT_FALSE(noControl.IsValid());
  uint8_t buffer[kRaw];
  EXPECT_FALSE(noControl.GetSectorData(buffer, 1));

  // An item that shrinks after the layout fails the read instead of writing zeros.
  const std::string item = dir.Write("b.mpg", std::string(2324 * 3, 'x'));
  DataSource_VCD source(2, image, 1, {item});
  ASSERT_TRUE(source.IsValid());
  dir.Write("b.mpg", std::string(10, 'x'));
  ASSERT_TRUE(source.OpenTrack(2));
  ASSERT_TRUE(source.SetStartAdd(1281 + 1));
  EXPECT_FALSE(source.GetSectorData(buffer, 1));
  EXPECT_NE(source.GetLastError().find(item), std::string::npos) << source.GetLastError();
}
