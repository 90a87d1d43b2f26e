#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include "ByteFields.h"
#include "authoring/CDataFile.h"
#include "authoring/CDataFileUDF.h"
#include "authoring/CECMA167.h"
#include "authoring/DiscNames.h"
#include "authoring/Ucs2.h"
#include "authoring/FileList.h"
#include "authoring/ImportedEntry.h"
#include "authoring/UdfVolumeTemplate.h"
#include "support/TestFolders.h"
#include "udf/UdfTestSupport.h"

using namespace udftest;

namespace {

struct Layout {
  ScratchFolder dir;
  std::string staging = dir / "staging";
  std::string job = dir / "job.bcd";
  std::string image = dir / "image.iso";
  CDataFileUDF builder;

  bool Build(const std::string& label = "TESTDISC", uint32_t sessionStart = 0) {
    mkdir(staging.c_str(), 0755);
    WriteJob(job, label);
    if (!builder.Build(job, staging, sessionStart)) return false;
    return WriteImage(builder, image, sessionStart);
  }
  std::vector<uint8_t> Sector(uint32_t n) {
    std::vector<uint8_t> s(2048);
    std::ifstream in(image, std::ios::binary);
    in.seekg(std::streamoff(n) * 2048);
    in.read(reinterpret_cast<char*>(s.data()), 2048);
    return s;
  }
};

// udfinfo prints warnings and errors on standard error, which Run merges.
void ExpectUdfinfoAccepts(const std::string& image) {
  int status = 0;
  std::string out = Shell("udfinfo " + Quote(image), &status);
  EXPECT_EQ(status, 0) << out;
  EXPECT_EQ(out.find("Warning"), std::string::npos) << out;
  EXPECT_EQ(out.find("Error"), std::string::npos) << out;
}

void Expect7zzOpensCleanly(const std::string& image) {
  std::string out = Shell("7zz l " + Quote(image));
  EXPECT_NE(out.find("Type = Udf"), std::string::npos) << out;
  EXPECT_EQ(out.find("ERROR"), std::string::npos) << out;
  EXPECT_EQ(out.find("Errors"), std::string::npos) << out;
}

void ExpectTagsVerify(const std::string& image, uint32_t sessionStart, int atLeast) {
  int checked = 0;
  std::string failures = VerifySectorTags(image, sessionStart, &checked);
  EXPECT_EQ(failures, "");
  EXPECT_GE(checked, atLeast);
}

}  // namespace

TEST(UdfImage, EmptyProjectIsAValidVolume) {
  Layout t;
  ASSERT_TRUE(t.Build()) << t.builder.LastError();
  EXPECT_EQ(t.builder.GetTrackLength(), 608u);
  EXPECT_EQ(t.builder.VolumeSectors(), 260u);  // skeleton, root entry, root identifiers
  ExpectUdfinfoAccepts(t.image);
  Expect7zzOpensCleanly(t.image);
  // 12 volume descriptors, 2 integrity, 3 anchors, file set, root entry.
  ExpectTagsVerify(t.image, 0, 19);
  // Anchors close the volume right behind it and in the track's last sector.
  EXPECT_EQ(bytes::LE16(t.Sector(260).data()), udf::kTagAnchor);
  EXPECT_EQ(bytes::LE16(t.Sector(t.builder.GetTrackLength() - 1).data()), udf::kTagAnchor);
}

TEST(UdfImage, TreeOfManyKindsExtractsByteForByte) {
  Layout t;
  std::string src = t.dir.Mkdir("source");
  t.dir.Write("source/plain.txt", "plain text\n");
  t.dir.Write("source/empty-1", "");
  t.dir.Write("source/empty-2", "");
  t.dir.Write("source/.hidden", "hidden");
  t.dir.Write("source/Grüße aus Köln — 東京.txt", "non-ASCII name");
  t.dir.Write("source/" + std::string(120, 'n') + ".dat", "a long name");
  std::string deep = "source/deep";
  for (int i = 0; i < 40; ++i) deep += "/level-" + std::to_string(i);
  t.dir.Write(deep + "/bottom.bin", std::string(5000, '\x5A'));
  for (int i = 0; i < 300; ++i)
    t.dir.Write("source/many/file-with-a-longish-name-" + std::to_string(i) + ".txt",
                std::string(size_t(i * 37 % 4100), char('a' + i % 26)));
  t.dir.Mkdir("source/empty folder");
  StageHostFolder(src, t.staging);
  ASSERT_TRUE(t.Build()) << t.builder.LastError();
  EXPECT_TRUE(t.builder.SkippedSources().empty());

  ExpectUdfinfoAccepts(t.image);
  std::string info = Shell("udfinfo " + Quote(t.image));
  EXPECT_NE(info.find("numfiles=307"), std::string::npos) << info;
  EXPECT_NE(info.find("numdirs=44"), std::string::npos) << info;
  Expect7zzOpensCleanly(t.image);
  ExpectTagsVerify(t.image, 0, 18 + 307 + 43);

  // No identifier's tag crosses a block boundary, in the folder of 300 files
  // whose identifiers fill many blocks.
  auto stream = [&](uint32_t entrySector) {
    std::vector<uint8_t> fe = t.Sector(entrySector);
    uint64_t length = bytes::LE64(fe.data() + 56);
    uint32_t first = bytes::LE32(fe.data() + udf::fe::kAds + 4) + 257;
    std::string bytesOfStream;
    for (uint32_t s = 0; s * 2048 < length; ++s) {
      std::vector<uint8_t> sector = t.Sector(first + s);
      bytesOfStream.append(sector.begin(), sector.end());
    }
    bytesOfStream.resize(length);
    return bytesOfStream;
  };
  std::string root = stream(258);
  uint32_t manyEntry = 0;
  for (size_t at = 0; at < root.size();) {
    const auto* f = reinterpret_cast<const uint8_t*>(root.data() + at);
    std::string name;
    CECMA167::DecodeCS0(f + 38 + bytes::LE16(f + 36), f[19], &name);
    if (name == "many") manyEntry = bytes::LE32(f + 24) + 257;
    at += (38 + bytes::LE16(f + 36) + f[19] + 3) & ~size_t(3);
  }
  ASSERT_NE(manyEntry, 0u);
  std::string many = stream(manyEntry);
  int identifiers = 0;
  for (size_t at = 0; at < many.size(); ++identifiers) {
    const auto* f = reinterpret_cast<const uint8_t*>(many.data() + at);
    EXPECT_LE(at % 2048, 2048u - 16) << "identifier " << identifiers << " at byte " << at;
    ASSERT_TRUE(CECMA167::VerifyTag(f, many.size() - at)) << "identifier " << identifiers;
    at += (38 + bytes::LE16(f + 36) + f[19] + 3) & ~size_t(3);
  }
  EXPECT_EQ(identifiers, 301);
  EXPECT_GT(many.size(), 5u * 2048);

  std::string out = t.dir.Mkdir("extracted");
  Shell("cd " + Quote(out) + " && 7zz x -y " + Quote(t.image));
  EXPECT_EQ(CompareTrees(src, out), "");
}

TEST(UdfImage, FileOver512MiBIsSplitIntoExtentsAndReadsBack) {
  Layout t;
  // Sparse: marks at the start, around the 512 MiB boundary and at the end.
  const uint64_t size = 600ull << 20;
  std::string big = t.dir / "big.bin";
  {
    FILE* f = std::fopen(big.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    for (uint64_t at : {uint64_t(0), uint64_t(0x20000000) - 3, size - 5}) {
      std::fseek(f, long(at), SEEK_SET);
      std::fwrite("MARKS", 1, 5, f);
    }
    std::fclose(f);
    ASSERT_EQ(truncate(big.c_str(), off_t(size)), 0);
  }
  mkdir(t.staging.c_str(), 0755);
  ASSERT_TRUE(AppendFileListEntry(t.staging, {big, "big.bin"}));
  ASSERT_TRUE(AppendFileListEntry(t.staging, {t.dir.Write("after.txt", "after the big one"), "after.txt"}));
  ASSERT_TRUE(t.Build()) << t.builder.LastError();

  // The file entries follow the root's identifiers; find the big one.
  bool found = false;
  for (uint32_t s = 259; s < t.builder.MetadataSectors(); ++s) {
    std::vector<uint8_t> fe = t.Sector(s);
    if (bytes::LE16(fe.data()) != udf::kTagFileEntry || bytes::LE64(fe.data() + 56) != size) continue;
    found = true;
    const uint8_t* ad = fe.data() + udf::fe::kAds;
    EXPECT_EQ(bytes::LE32(fe.data() + udf::fe::kAdLength), 16u);
    EXPECT_EQ(bytes::LE32(ad), 0x20000000u);
    EXPECT_EQ(bytes::LE32(ad + 8), uint32_t(size - 0x20000000));
    EXPECT_EQ(bytes::LE32(ad + 12), bytes::LE32(ad + 4) + 0x40000u);
    // The data follows the metadata directly.
    EXPECT_EQ(bytes::LE32(ad + 4), t.builder.MetadataSectors() - 257);
  }
  EXPECT_TRUE(found);
  ExpectUdfinfoAccepts(t.image);
  Expect7zzOpensCleanly(t.image);
  EXPECT_EQ(Shell("7zz x -so " + Quote(t.image) + " big.bin | cmp - " + Quote(big) + " && echo same"), "same\n");
  EXPECT_EQ(Shell("7zz x -so " + Quote(t.image) + " after.txt"), "after the big one");
}

TEST(UdfImage, LabelIsCutAtWholeCharactersAndItsLengthIsRecorded) {
  Layout t;
  ASSERT_TRUE(t.Build("ÄÖÜÄÖÜÄ"));  // 14 bytes: the job keeps 13, half a character
  std::vector<uint8_t> pvd = t.Sector(32);
  EXPECT_EQ(CECMA167::DecodeDString(pvd.data() + udftpl::kPrimaryVolumeId, 32), "ÄÖÜÄÖÜ");
  EXPECT_EQ(pvd[udftpl::kPrimaryVolumeId + 31], 13);  // compression id and six characters
  std::vector<uint8_t> fsd = t.Sector(257);
  EXPECT_EQ(CECMA167::DecodeDString(fsd.data() + udftpl::kFileSetId, 32), "ÄÖÜÄÖÜ");
  EXPECT_EQ(CECMA167::DecodeDString(t.Sector(51).data() + udftpl::kLogicalVolumeId, 128), "ÄÖÜÄÖÜ");

  // Nothing of a longer template label stays behind a shorter one.
  Layout u;
  ASSERT_TRUE(u.Build("AB"));
  std::vector<uint8_t> lvd = u.Sector(35);
  EXPECT_EQ(CECMA167::DecodeDString(lvd.data() + udftpl::kLogicalVolumeId, 128), "AB");
  for (size_t i = 5; i < 127; ++i) EXPECT_EQ(lvd[udftpl::kLogicalVolumeId + i], 0) << i;
}

TEST(UdfImage, LaterSessionRebasesLocationsAndKeepsImportedExtents) {
  Layout t;
  const uint32_t S = 30000;
  mkdir(t.staging.c_str(), 0755);
  ImportedEntry old;
  old.kind = ImportedEntry::kFile;
  old.name = "old.txt";
  old.date = {120, 5, 17, 10, 30, 0, 8};
  old.size = 5000;
  old.location = 1000;
  ASSERT_TRUE(AppendFileListEntry(t.staging, {FormatImportedEntry(old), "old.txt"}));
  ASSERT_TRUE(AppendFileListEntry(t.staging, {t.dir.Write("new.txt", "new"), "new.txt"}));
  ASSERT_TRUE(t.Build("MULTI", S)) << t.builder.LastError();

  std::vector<uint8_t> anchor = t.Sector(S + 256);
  EXPECT_EQ(bytes::LE32(anchor.data() + 12), S + 256);
  EXPECT_EQ(bytes::LE32(anchor.data() + udftpl::kAnchorMainLocation), S + 32);
  EXPECT_EQ(bytes::LE32(anchor.data() + udftpl::kAnchorReserveLocation), S + 48);
  std::vector<uint8_t> fsd = t.Sector(S + 257);
  EXPECT_EQ(bytes::LE32(fsd.data() + 12), S);
  EXPECT_EQ(bytes::LE32(fsd.data() + udftpl::kFileSetRoot), S + 1);
  EXPECT_EQ(bytes::LE32(t.Sector(S + 35).data() + udftpl::kLogicalVolumeFileSet), S);
  EXPECT_EQ(bytes::LE32(t.Sector(S + 34).data() + udftpl::kPartitionLengthField),
            S + t.builder.VolumeSectors() - 257);
  ExpectTagsVerify(t.image, S, 20);

  // Entries: root identifiers at S+259, then the two file entries.
  std::vector<uint8_t> oldEntry = t.Sector(S + 260), newEntry = t.Sector(S + 261);
  EXPECT_EQ(bytes::LE32(oldEntry.data() + udf::fe::kAds + 4), 1000u - 257);
  EXPECT_EQ(oldEntry[udf::fe::kImplId], 0);  // the mark is cleared
  EXPECT_EQ(bytes::LE64(oldEntry.data() + 56), 5000u);
  uint16_t zone = bytes::LE16(oldEntry.data() + udf::fe::kModifyTime);
  EXPECT_EQ(zone, 0x1000 | 120);  // +8 quarter hours kept as +120 minutes
  EXPECT_EQ(bytes::LE32(newEntry.data() + udf::fe::kAds + 4), S + t.builder.MetadataSectors() - 257);
  EXPECT_NE(bytes::LE64(oldEntry.data() + udf::fe::kUniqueId), bytes::LE64(newEntry.data() + udf::fe::kUniqueId));
}

TEST(UdfImage, SessionsAbove2To24SectorsCarryTagsThatAddUp) {
  // Tag locations of 2^24 and more fill the location's highest byte, which
  // the tag checksum covers too.
  Layout t;
  const uint32_t S = (1u << 24) + 4096;
  t.dir.Write("src/a.txt", "alpha");
  mkdir(t.staging.c_str(), 0755);
  ASSERT_TRUE(AppendFileListEntry(t.staging, {t.dir / "src/a.txt", "a.txt"}));
  ASSERT_TRUE(t.Build("HIGH", S)) << t.builder.LastError();
  std::vector<uint8_t> anchor = t.Sector(S + 256);
  EXPECT_EQ(bytes::LE32(anchor.data() + 12), S + 256);
  EXPECT_EQ(anchor[4], IndependentTagChecksum(anchor.data()));
  ExpectTagsVerify(t.image, S, 20);
}

namespace {
class RecordingListener : public TrackSourceListener {
 public:
  void SourceUnreadable(const std::string& path) override { paths.push_back(path); }
  std::vector<std::string> paths;
};
}  // namespace

TEST(UdfImage, SourcesThatVanishOrChangeAfterBuildDoNotShiftLaterFiles) {
  Layout t;
  mkdir(t.staging.c_str(), 0755);
  std::string a = t.dir.Write("a.bin", std::string(5000, 'a'));
  std::string b = t.dir.Write("b.bin", std::string(3000, 'b'));
  std::string c = t.dir.Write("c.bin", std::string(4100, 'c'));
  std::string gone = t.dir / "never-there";
  for (auto [path, name] : {std::pair{a, "a.bin"}, {b, "b.bin"}, {gone, "gone"}, {c, "c.bin"}})
    ASSERT_TRUE(AppendFileListEntry(t.staging, {path, name}));
  WriteJob(t.job, "CHANGES");
  RecordingListener listener;
  t.builder.SetSourceListener(&listener);
  ASSERT_TRUE(t.builder.Build(t.job, t.staging, 0)) << t.builder.LastError();
  ASSERT_EQ(t.builder.SkippedSources(), std::vector<std::string>{gone});

  unlink(a.c_str());                                         // vanished
  std::ofstream(b, std::ios::app) << std::string(9000, 'B');  // grew
  ASSERT_TRUE(WriteImage(t.builder, t.image));
  EXPECT_EQ(listener.paths, std::vector<std::string>{a});

  EXPECT_EQ(Shell("7zz x -so " + Quote(t.image) + " a.bin"), std::string(5000, '\0'));
  EXPECT_EQ(Shell("7zz x -so " + Quote(t.image) + " b.bin"), std::string(3000, 'b'));
  EXPECT_EQ(Shell("7zz x -so " + Quote(t.image) + " c.bin"), std::string(4100, 'c'));
}

TEST(UdfImage, ServingInRunsGivesTheSameBytesAsSectorBySector) {
  // Two builders of the same tree: one served a sector at a time, the other
  // in runs of changing length that start and end inside files, across the
  // metadata, empty files, a vanished file, a shrunk one and the anchors.
  ScratchFolder dir;
  std::string staging = dir / "staging", job = dir / "job.bcd";
  mkdir(staging.c_str(), 0755);
  std::string text;
  for (int i = 0; i < 9000; ++i) text += char('a' + i % 26);
  std::string big;
  for (int i = 0; i < 70; ++i) big += text;  // over the direct-read threshold
  std::vector<std::pair<std::string, std::string>> files = {
      {dir.Write("a", text), "a"}, {dir.Write("b", ""), "b-empty"}, {dir.Write("c", big), "c"},
      {dir.Write("d", text), "d-gone"}, {dir.Write("e", text + text + text), "e-shrinks"}, {dir.Write("f", "tail"), "f"}};
  for (auto& [path, name] : files) ASSERT_TRUE(AppendFileListEntry(staging, {path, name}));
  WriteJob(job, "RUNS");
  CDataFileUDF one, runs;
  RecordingListener heardOne, heardRuns;
  one.SetSourceListener(&heardOne);
  runs.SetSourceListener(&heardRuns);
  ASSERT_TRUE(one.Build(job, staging, 0)) << one.LastError();
  ASSERT_TRUE(runs.Build(job, staging, 0)) << runs.LastError();
  unlink(files[3].first.c_str());
  ASSERT_EQ(truncate(files[4].first.c_str(), 10000), 0);

  const uint32_t length = one.GetTrackLength();
  ASSERT_EQ(runs.GetTrackLength(), length);
  std::vector<uint8_t> expected(size_t(length) * 2048), got(expected.size(), 0x55);
  for (uint32_t i = 0; i < length; ++i) one.GetSectorData(expected.data() + size_t(i) * 2048, 2048);
  for (uint32_t done = 0, step = 1; done < length; step = step % 300 + 37) {
    uint32_t n = std::min(step, length - done);
    runs.GetSectors(got.data() + size_t(done) * 2048, n);
    done += n;
  }
  // Each build stamps its own time and volume serial into the descriptors:
  // there the two agree on which descriptor sits in which sector; from the
  // file data on, byte for byte.
  for (uint32_t i = 0; i < length; ++i) {
    const uint8_t* a = got.data() + size_t(i) * 2048;
    const uint8_t* b = expected.data() + size_t(i) * 2048;
    if (i < runs.MetadataSectors())
      ASSERT_EQ(bytes::LE16(a), bytes::LE16(b)) << "sector " << i << " holds another descriptor";
    else
      ASSERT_EQ(std::memcmp(a, b, 2048), 0) << "sector " << i << " differs between runs and single sectors";
  }
  EXPECT_EQ(heardRuns.paths, heardOne.paths);
  EXPECT_EQ(heardRuns.paths, std::vector<std::string>{files[3].first});
}

TEST(UdfImage, BuildFailsWithAReasonForBadInput) {
  {
    Layout t;
    t.builder.SetResourceFolder(t.dir / "nowhere/");
    EXPECT_FALSE(t.Build());
    EXPECT_NE(t.builder.LastError().find("resource missing"), std::string::npos) << t.builder.LastError();
  }
  {
    Layout t;
    mkdir(t.staging.c_str(), 0755);
    t.dir.Write("job.bcd", std::string(100, '\0'));  // no tree length where the job says
    EXPECT_FALSE(t.builder.Build(t.job, t.staging, 0));
    EXPECT_NE(t.builder.LastError().find("damaged"), std::string::npos) << t.builder.LastError();
    EXPECT_EQ(t.builder.VolumeSectors(), 0u);  // nothing to serve
  }
  {
    Layout t;
    mkdir(t.staging.c_str(), 0755);
    ASSERT_TRUE(AppendFileListEntry(t.staging, {t.dir.Write("x", "x"), std::string("bad\xff name")}));
    EXPECT_FALSE(t.Build());
    EXPECT_NE(t.builder.LastError().find("UTF-8"), std::string::npos) << t.builder.LastError();
  }
}

TEST(UdfImage, ReservedAreaAlignmentAndMinimumPlaceTheFileData) {
  Layout t;
  mkdir(t.staging.c_str(), 0755);
  ASSERT_TRUE(AppendFileListEntry(t.staging, {t.dir.Write("v.bin", std::string(70000, 'v')), "v.bin"}));
  WriteJob(t.job, "VIDEO");
  ASSERT_TRUE(t.builder.Build(t.job, t.staging, 0, 10, 32, 4096)) << t.builder.LastError();
  ASSERT_TRUE(WriteImage(t.builder, t.image));
  const uint32_t dataStart = (t.builder.MetadataSectors() + 10 + 31) / 32 * 32;
  std::vector<uint8_t> fe = t.Sector(t.builder.MetadataSectors() - 1);  // the one file's entry
  ASSERT_EQ(bytes::LE16(fe.data()), udf::kTagFileEntry);
  EXPECT_EQ(bytes::LE32(fe.data() + udf::fe::kAds + 4), dataStart - 257);
  EXPECT_EQ(t.Sector(dataStart)[0], 'v');
  EXPECT_EQ(t.builder.VolumeSectors(), dataStart + 35);  // 70000 bytes
  EXPECT_EQ(t.builder.GetTrackLength(), 4096u);
  ExpectUdfinfoAccepts(t.image);
  Expect7zzOpensCleanly(t.image);
  EXPECT_EQ(Shell("7zz x -so " + Quote(t.image) + " v.bin"), std::string(70000, 'v'));
}

TEST(UdfImage, LongNamesKeepTheirExtensionStayDistinctAndAreReported) {
  Layout t;
  mkdir(t.staging.c_str(), 0755);
  const std::string stem(140, 'n');  // longer than the 127 characters an identifier holds
  for (int i = 0; i < 3; ++i)
    ASSERT_TRUE(AppendFileListEntry(t.staging, {t.dir.Write("f" + std::to_string(i), std::to_string(i)),
                                                stem + std::to_string(i) + ".txt"}));
  ASSERT_TRUE(t.Build()) << t.builder.LastError();
  std::string out = t.dir.Mkdir("extracted");
  Shell("cd " + Quote(out) + " && 7zz x -y " + Quote(t.image));
  const std::string first = std::string(123, 'n') + ".txt";
  EXPECT_EQ(ReadWholeFile(out + "/" + first), "0");
  EXPECT_EQ(ReadWholeFile(out + "/" + std::string(121, 'n') + "~1.txt"), "1");
  EXPECT_EQ(ReadWholeFile(out + "/" + std::string(121, 'n') + "~2.txt"), "2");
  const std::vector<LayoutNotice>& notices = t.builder.Notices();
  ASSERT_EQ(notices.size(), 3u);
  EXPECT_EQ(notices[0].kind, LayoutNotice::kUdfNameChanged);
  EXPECT_EQ(notices[0].discPath, "/" + stem + "0.txt");
  EXPECT_EQ(notices[0].detail, first);
  // The review before the burn names every file as the layout then does.
  std::vector<LayoutNotice> review;
  ASSERT_TRUE(CDataFile::ReviewProject(t.staging, &review, true));
  ASSERT_EQ(review.size(), notices.size());
  for (size_t i = 0; i < notices.size(); ++i) {
    EXPECT_EQ(review[i].kind, notices[i].kind);
    EXPECT_EQ(review[i].discPath, notices[i].discPath);
    EXPECT_EQ(review[i].detail, notices[i].detail);
  }
}

TEST(UdfImage, OneDiscPathGivenTwiceIsNumberedAsTheJolietNamesAre) {
  Layout t;
  mkdir(t.staging.c_str(), 0755);
  for (int i = 0; i < 2; ++i)
    ASSERT_TRUE(AppendFileListEntry(t.staging, {t.dir.Write("src" + std::to_string(i) + "/same.txt", std::to_string(i)),
                                                "same.txt"}));
  ASSERT_TRUE(t.Build()) << t.builder.LastError();
  std::vector<discnames::FolderEntryName> joliet(2);
  joliet[0].discName = joliet[1].discName = "same.txt";
  discnames::NameFolderEntries(&joliet);
  ASSERT_EQ(Utf16ToUtf8(joliet[1].joliet), "same~1.txt");
  std::string out = t.dir.Mkdir("extracted");
  Shell("cd " + Quote(out) + " && 7zz x -y " + Quote(t.image));
  EXPECT_EQ(ReadWholeFile(out + "/same.txt"), "0");
  EXPECT_EQ(ReadWholeFile(out + "/same~1.txt"), "1") << "the second entry must get its own name";
  ASSERT_EQ(t.builder.Notices().size(), 1u);
  EXPECT_EQ(t.builder.Notices()[0].detail, "same~1.txt");
  ExpectUdfinfoAccepts(t.image);
}

TEST(UdfImage, ImageCommandWritesAUdfVolume) {
  ScratchFolder dir;
  std::string src = dir.Mkdir("My Files");
  dir.Write("My Files/one.txt", "one");
  dir.Write("My Files/sub/two.txt", "two");
  std::string image = dir / "out.iso";
  int status = 0;
  std::string out = Shell(std::string(VARNEX_CLI_PATH) + " image --udf --label Backup -o " + Quote(image) +
                            " " + Quote(src),
                        &status);
  ASSERT_EQ(status, 0) << out;
  ExpectUdfinfoAccepts(image);
  EXPECT_NE(Shell("udfinfo " + Quote(image)).find("label=Backup"), std::string::npos);
  EXPECT_EQ(Shell("7zz x -so " + Quote(image) + " 'My Files/sub/two.txt'"), "two");
}

TEST(UdfImage, MetadataThatCannotBeReadBackIsReportedNotServedAsZeros) {
  ScratchFolder dir;
  dir.Write("staging/a.txt", "some data");
  WriteJob(dir / "job.bcd", "GONE");
  PrivateTemp temp;
  struct : TrackSourceListener {
    std::vector<std::string> paths;
    void SourceUnreadable(const std::string& path) override { paths.push_back(path); }
  } unreadable;
  CDataFileUDF builder;
  builder.SetSourceListener(&unreadable);
  ASSERT_TRUE(builder.Build(dir / "job.bcd", dir / "staging", 0)) << builder.LastError();
  TruncateEveryFile(temp.path());
  std::vector<uint8_t> sector(2048);
  int worst = 0;
  for (uint32_t i = 0; i < builder.GetTrackLength(); ++i) worst = std::min(worst, builder.GetSectorData(sector.data(), 2048));
  EXPECT_EQ(worst, -1);
  ASSERT_EQ(unreadable.paths.size(), 1u) << "the loss is told once";
  EXPECT_EQ(unreadable.paths[0].rfind(temp.path(), 0), 0u) << unreadable.paths[0];
}
