#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <map>
#include <random>
#include <sstream>

#include "ByteFields.h"
#include "authoring/CAnaly_UDF.h"
#include "authoring/CDataFileUDF.h"
#include "authoring/CECMA167.h"
#include "authoring/FileList.h"
#include "support/TestFolders.h"
#include "udf/UdfTestSupport.h"

using namespace udftest;

namespace {

struct Listed {
  bool folder;
  uint64_t size;
  bool operator==(const Listed& o) const { return folder == o.folder && size == o.size; }
};
using Listing = std::map<std::string, Listed>;

class Collector : public UdfWalkListener {
 public:
  bool Entry(const UdfEntry& e) override {
    listing[e.Path()] = {e.folder, e.size};
    entries.push_back(e);
    return true;
  }
  Listing listing;
  std::vector<UdfEntry> entries;
};

std::string Describe(const Listing& l) {
  std::string s;
  for (const auto& [path, item] : l)
    s += path + (item.folder ? "/" : " " + std::to_string(item.size)) + "\n";
  return s;
}

// What 7zz sees in a UDF image: path, kind and size of every entry.
Listing SevenZipListing(const std::string& image) {
  Listing l;
  std::istringstream out(Shell("7zz l -slt -tudf " + Quote(image)));
  std::string line, path;
  bool folder = false, inEntries = false;
  while (std::getline(out, line)) {
    if (line == "----------") inEntries = true;
    if (!inEntries) continue;
    if (line.rfind("Path = ", 0) == 0) path = line.substr(7);
    if (line.rfind("Folder = ", 0) == 0) folder = line == "Folder = +";
    if (line.rfind("Size = ", 0) == 0 && !path.empty()) {
      l[path] = {folder, folder ? 0 : std::stoull("0" + line.substr(7))};
      path.clear();
    }
  }
  return l;
}

bool ReadImage(const std::string& image, Collector* c, CAnaly_UDF* reader, uint32_t start = 0,
               CAnaly_UDF::Mode mode = CAnaly_UDF::kListing) {
  UdfImageSource source(image);
  if (!reader->Open(&source, start, mode)) return false;
  return reader->Walk(c);
}

void StageSample(ScratchFolder& dir, const std::string& staging) {
  std::string src = dir.Mkdir("source");
  dir.Write("source/readme.txt", "read me\n");
  dir.Write("source/empty", "");
  dir.Write("source/Ärger über Öl.txt", "umlauts");
  for (int i = 0; i < 120; ++i)
    dir.Write("source/many/entry-" + std::to_string(i) + ".bin", std::string(size_t(i * 53), 'm'));
  dir.Write("source/a/b/c/d/e/f/g/deep.txt", "deep");
  dir.Write("source/.hidden", "hidden");
  StageHostFolder(src, staging);
}

}  // namespace

TEST(UdfReader, ListsOwnAndGenisoimageVolumesAsSevenZipDoes) {
  ScratchFolder dir;
  std::string staging = dir / "staging", job = dir / "job", image = dir / "own.iso";
  StageSample(dir, staging);
  WriteJob(job, "OWN");
  CDataFileUDF builder;
  ASSERT_TRUE(builder.Build(job, staging, 0)) << builder.LastError();
  ASSERT_TRUE(WriteImage(builder, image));

  Collector own;
  CAnaly_UDF reader;
  ASSERT_TRUE(ReadImage(image, &own, &reader)) << reader.LastError();
  EXPECT_EQ(reader.VolumeLabel(), "OWN");
  EXPECT_EQ(reader.UdfRevision(), "1.02");
  EXPECT_EQ(reader.GetPartitionKind(), CAnaly_UDF::kPlain);
  EXPECT_EQ(own.listing.size(), 4u + 120 + 1 + 8);  // files, deep.txt, folders
  // Dot names stay visible: Linux readers drop entries that carry the hidden bit.
  for (const UdfEntry& e : own.entries) EXPECT_FALSE(e.hidden) << e.Path();
  EXPECT_EQ(Describe(own.listing), Describe(SevenZipListing(image)));

  std::string gen = dir / "gen.iso";
  int status = 0;
  std::string out = Shell("genisoimage -quiet -udf -o " + Quote(gen) + " " + Quote(dir / "source"), &status);
  ASSERT_EQ(status, 0) << out;
  Collector other;
  CAnaly_UDF reader2;
  ASSERT_TRUE(ReadImage(gen, &other, &reader2)) << reader2.LastError();
  EXPECT_EQ(Describe(other.listing), Describe(SevenZipListing(gen)));
  EXPECT_GT(other.listing.size(), 100u);
}

TEST(UdfReader, MountsMkudffsVolumesOfEveryRevisionAndPartitionKind) {
  struct Case {
    const char* options;
    const char* revision;
    int kind;
    bool sevenZip;  // whether 7zz reads it too
  } cases[] = {
      {"--media-type=hd -b 2048 -r 1.02", "1.02", CAnaly_UDF::kPlain, true},
      {"--media-type=hd -b 2048 -r 2.01 --ad=long", "2.01", CAnaly_UDF::kPlain, true},
      {"--media-type=hd -b 2048 -r 2.01 --ad=short --noefe", "2.01", CAnaly_UDF::kPlain, true},
      {"--media-type=cdr -r 2.01", "2.01", CAnaly_UDF::kVirtual, false},
      {"--media-type=cdrw -r 2.01", "2.01", CAnaly_UDF::kSparable, false},
      {"--media-type=dvdr -r 2.01", "2.01", CAnaly_UDF::kVirtual, false},
      {"--media-type=bdr -r 2.50", "2.50", CAnaly_UDF::kVirtual, false},
  };
  ScratchFolder dir;
  int n = 0;
  for (const Case& c : cases) {
    std::string image = dir / ("mk" + std::to_string(n++) + ".img");
    int status = 0;
    std::string out = Shell(std::string("mkudffs ") + c.options + " --label=Mk" + std::to_string(n) +
                                " --new-file " + Quote(image) + " 3000",
                            &status);
    ASSERT_EQ(status, 0) << c.options << "\n" << out;
    Collector listing;
    CAnaly_UDF reader;
    EXPECT_TRUE(ReadImage(image, &listing, &reader)) << c.options << ": " << reader.LastError();
    EXPECT_EQ(reader.UdfRevision(), c.revision) << c.options;
    EXPECT_EQ(reader.GetPartitionKind(), c.kind) << c.options;
    EXPECT_EQ(reader.VolumeLabel(), "Mk" + std::to_string(n)) << c.options;
    if (c.sevenZip) {
      EXPECT_EQ(Describe(listing.listing), Describe(SevenZipListing(image))) << c.options;
    }
  }
}

// A UDF 2.50 volume with a metadata partition, laid out by hand: the
// metadata file (and its mirror) in the physical partition, the file set,
// folders and file entries inside the metadata partition, file data in the
// physical partition through long and extended allocation descriptors, and
// data and identifiers embedded in their entries.
class MetadataVolume {
 public:
  static constexpr uint32_t kPartitionStart = 300, kMetaBlocks = 20;  // metadata file at physical 20..27
  std::vector<uint8_t> image = std::vector<uint8_t>(600 * 2048, 0);

  MetadataVolume() {
    const char* vrs[] = {"BEA01", "NSR03", "TEA01"};
    for (int i = 0; i < 3; ++i) {
      Sector(16 + i)[0] = 0;
      std::memcpy(Sector(16 + i) + 1, vrs[i], 5);
      Sector(16 + i)[6] = 1;
    }
    uint8_t* avdp = Sector(256);
    bytes::PutLE32(avdp + 16, 16 * 2048);
    bytes::PutLE32(avdp + 20, 32);
    CECMA167::MakeTag(udf::kTagAnchor, avdp, 512, 256);

    uint8_t* pvd = Sector(32);
    CECMA167::PutDString(pvd + 24, 32, u"META");
    CECMA167::MakeTag(udf::kTagPrimaryVolume, pvd, 512, 32);
    uint8_t* pd = Sector(33);
    bytes::PutLE16(pd + 20, 1);
    CECMA167::PutRegid(pd + 24, "+NSR03");
    bytes::PutLE32(pd + 188, kPartitionStart);
    bytes::PutLE32(pd + 192, 250);
    CECMA167::MakeTag(udf::kTagPartition, pd, 512, 33);
    uint8_t* lvd = Sector(34);
    CECMA167::PutDString(lvd + 84, 128, u"MetaVolume");
    bytes::PutLE32(lvd + 212, 2048);
    uint8_t rev[2] = {0x50, 0x02};
    CECMA167::PutRegid(lvd + 216, "*OSTA UDF Compliant", rev, 2);
    bytes::PutLE32(lvd + 248, 2048);
    bytes::PutLE32(lvd + 252, 0);  // file set at metadata block 0
    bytes::PutLE16(lvd + 256, 1);
    bytes::PutLE32(lvd + 264, 70);
    bytes::PutLE32(lvd + 268, 2);
    uint8_t* m = lvd + 440;
    m[0] = 1, m[1] = 6, bytes::PutLE16(m + 2, 1), bytes::PutLE16(m + 4, 0);
    m += 6;
    m[0] = 2, m[1] = 64;
    CECMA167::PutRegid(m + 4, "*UDF Metadata Partition", rev, 2);
    bytes::PutLE16(m + 36, 1);
    bytes::PutLE16(m + 38, 0);
    bytes::PutLE32(m + 40, 0);    // metadata file
    bytes::PutLE32(m + 44, 10);   // mirror
    bytes::PutLE32(m + 48, 0xFFFFFFFF);
    bytes::PutLE32(m + 52, 32);
    bytes::PutLE16(m + 56, 1);
    CECMA167::MakeTag(udf::kTagLogicalVolume, lvd, 440 + 70, 34);
    CECMA167::MakeTag(udf::kTagTerminating, Sector(35), 512, 35);

    uint8_t metaAd[8];
    bytes::PutLE32(metaAd, 8 * 2048);
    bytes::PutLE32(metaAd + 4, kMetaBlocks);
    Entry(Physical(0), 0, true, 250, 8 * 2048, udf::kAdShort, metaAd, 8);
    Entry(Physical(10), 10, true, 251, 8 * 2048, udf::kAdShort, metaAd, 8);

    uint8_t* fsd = Meta(0);
    bytes::PutLE32(fsd + 400, 2048);
    bytes::PutLE32(fsd + 404, 1);
    bytes::PutLE16(fsd + 408, 1);
    CECMA167::PutDString(fsd + 112, 128, u"MetaVolume");
    CECMA167::MakeTag(udf::kTagFileSet, fsd, 512, 0);

    // Root: identifiers at metadata block 2.
    std::vector<uint8_t> root;
    AddFid(&root, u"", CECMA167::kParent, 1);
    AddFid(&root, u"hello.txt", CECMA167::kFile, 3);
    AddFid(&root, u"inline.txt", CECMA167::kFile, 4);
    AddFid(&root, u"sub", CECMA167::kFolder, 5);
    std::memcpy(Meta(2), root.data(), root.size());
    uint8_t rootAd[8];
    bytes::PutLE32(rootAd, uint32_t(root.size()));
    bytes::PutLE32(rootAd + 4, 2);
    Entry(Meta(1), 1, true, udf::kFileTypeDirectory, root.size(), udf::kAdShort, rootAd, 8);

    uint8_t helloAd[16] = {};
    bytes::PutLE32(helloAd, 12);
    bytes::PutLE32(helloAd + 4, 100);  // physical partition, reference 0
    bytes::PutLE16(helloAd + 8, 0);
    Entry(Meta(3), 3, true, udf::kFileTypeFile, 12, udf::kAdLong, helloAd, 16);
    std::memcpy(Sector(kPartitionStart + 100), "hello world\n", 12);

    const char* inlineText = "inline data!";
    Entry(Meta(4), 4, true, udf::kFileTypeFile, 12, udf::kAdEmbedded,
          reinterpret_cast<const uint8_t*>(inlineText), 12);

    std::vector<uint8_t> sub;
    AddFid(&sub, u"", CECMA167::kParent, 1);
    AddFid(&sub, u"deep.bin", CECMA167::kFile, 6);
    Entry(Meta(5), 5, true, udf::kFileTypeDirectory, sub.size(), udf::kAdEmbedded, sub.data(), sub.size());

    uint8_t deepAd[20] = {};
    bytes::PutLE32(deepAd, 3000);
    bytes::PutLE32(deepAd + 4, 3000);
    bytes::PutLE32(deepAd + 8, 3000);
    bytes::PutLE32(deepAd + 12, 101);
    bytes::PutLE16(deepAd + 16, 0);
    Entry(Meta(6), 6, false, udf::kFileTypeFile, 3000, udf::kAdExtended, deepAd, 20);
    for (int i = 0; i < 3000; ++i) Sector(kPartitionStart + 101)[i] = uint8_t(i * 7);
  }

  uint8_t* Sector(uint32_t n) { return image.data() + size_t(n) * 2048; }
  uint8_t* Physical(uint32_t block) { return Sector(kPartitionStart + block); }
  uint8_t* Meta(uint32_t block) { return Physical(kMetaBlocks + block); }

  // A file entry (or, with `extended`, an extended file entry).
  static void Entry(uint8_t* d, uint32_t location, bool extended, uint8_t fileType, uint64_t size,
                    uint8_t adType, const uint8_t* ads, size_t adLength) {
    std::memset(d, 0, 2048);
    bytes::PutLE16(d + 20, 4);
    bytes::PutLE16(d + 24, 1);
    d[27] = fileType;
    bytes::PutLE16(d + 34, adType);
    bytes::PutLE64(d + 56, size);
    uint8_t stamp[12];
    CECMA167::MakeTimestamp(stamp, 1700000000);
    std::memcpy(d + (extended ? 92 : 84), stamp, 12);
    size_t base = extended ? 216 : 176;
    bytes::PutLE32(d + (extended ? 212 : 172), uint32_t(adLength));
    std::memcpy(d + base, ads, adLength);
    CECMA167::MakeTag(extended ? udf::kTagExtendedFileEntry : udf::kTagFileEntry, d,
                      uint32_t(base + adLength), location);
  }
  // Identifiers in the metadata partition (reference 1).
  static void AddFid(std::vector<uint8_t>* stream, const std::u16string& name,
                     CECMA167::IdentifierKind kind, uint32_t block) {
    uint8_t fid[CECMA167::kMaxFileIdentifierLength];
    uint32_t n = CECMA167::MakeFileIdentifier(fid, name, 2, kind, false, block);
    bytes::PutLE16(fid + 28, 1);
    CECMA167::RefreshTag(fid);
    stream->insert(stream->end(), fid, fid + n);
  }
};

TEST(UdfReader, ReadsAMetadataPartitionWithEveryDescriptorForm) {
  MetadataVolume v;
  UdfMemorySource source(v.image.data(), v.image.size());
  CAnaly_UDF reader;
  ASSERT_TRUE(reader.Open(&source, 0, CAnaly_UDF::kImport)) << reader.LastError();
  EXPECT_TRUE(reader.HasMetadataPartition());
  EXPECT_EQ(reader.UdfRevision(), "2.50");
  EXPECT_EQ(reader.VolumeLabel(), "MetaVolume");
  Collector c;
  ASSERT_TRUE(reader.Walk(&c)) << reader.LastError();
  EXPECT_EQ(Describe(c.listing), "hello.txt 12\ninline.txt 12\nsub/\nsub/deep.bin 3000\n");

  std::map<std::string, UdfEntry> byPath;
  for (const UdfEntry& e : c.entries) byPath[e.Path()] = e;
  using Runs = std::vector<std::pair<uint32_t, uint64_t>>;
  EXPECT_EQ(byPath["hello.txt"].sectors, (Runs{{400, 12}}));
  EXPECT_EQ(byPath["sub/deep.bin"].sectors, (Runs{{401, 3000}}));
  EXPECT_TRUE(byPath["inline.txt"].embedded);
  ImportedEntry imported;
  EXPECT_FALSE(byPath["inline.txt"].ToImportedEntry(&imported));  // no sectors to point at
  ASSERT_TRUE(byPath["sub/deep.bin"].ToImportedEntry(&imported));
  EXPECT_EQ(imported.location, 401u);
  EXPECT_EQ(imported.size, 3000u);

  // A damaged metadata file: the mirror takes over.
  v.Physical(0)[100] ^= 0xFF;
  Collector again;
  CAnaly_UDF mirrored;
  ASSERT_TRUE(mirrored.Open(&source, 0, CAnaly_UDF::kListing)) << mirrored.LastError();
  ASSERT_TRUE(mirrored.Walk(&again)) << mirrored.LastError();
  EXPECT_EQ(again.listing, c.listing);
}

TEST(UdfReader, HostileVolumesEndWithAClearErrorNeverAHang) {
  struct Damage {
    const char* what;
    void (*apply)(MetadataVolume&);
    const char* expected;
  } damages[] = {
      {"a folder that contains its own parent",
       [](MetadataVolume& v) {
         std::vector<uint8_t> sub;
         MetadataVolume::AddFid(&sub, u"", CECMA167::kParent, 1);
         MetadataVolume::AddFid(&sub, u"again", CECMA167::kFolder, 1);  // the root once more
         MetadataVolume::Entry(v.Meta(5), 5, true, udf::kFileTypeDirectory, sub.size(), udf::kAdEmbedded,
                               sub.data(), sub.size());
       },
       "leads back"},
      {"a folder claiming a gigabyte of identifiers",
       [](MetadataVolume& v) {
         uint8_t ad[8];
         bytes::PutLE32(ad, 0x3FFFF800);
         bytes::PutLE32(ad + 4, 2);
         MetadataVolume::Entry(v.Meta(1), 1, true, udf::kFileTypeDirectory, 0x3FFFF800, udf::kAdShort, ad, 8);
       },
       "larger than accepted"},
      {"identifiers beyond the metadata file",
       [](MetadataVolume& v) {
         uint8_t ad[8];
         bytes::PutLE32(ad, 4096);
         bytes::PutLE32(ad + 4, 7);  // blocks 7 and 8; the file holds 0..7
         MetadataVolume::Entry(v.Meta(1), 1, true, udf::kFileTypeDirectory, 4096, udf::kAdShort, ad, 8);
       },
       "beyond the metadata file"},
      {"allocation extents that continue in themselves",
       [](MetadataVolume& v) {
         uint8_t ad[8];
         bytes::PutLE32(ad, (3u << 30) | 2048);  // the list goes on at metadata block 7
         bytes::PutLE32(ad + 4, 7);
         MetadataVolume::Entry(v.Meta(3), 3, true, udf::kFileTypeFile, 12, udf::kAdShort, ad, 8);
         uint8_t* aed = v.Meta(7);
         bytes::PutLE32(aed + 20, 8);
         std::memcpy(aed + 24, ad, 8);  // ... and again at block 7
         CECMA167::MakeTag(udf::kTagAllocationExtent, aed, 32, 7);
       },
       "circle"},
      {"a file entry with a bad CRC", [](MetadataVolume& v) { v.Meta(3)[60] ^= 1; }, "bad descriptor CRC"},
      {"allocation descriptors longer than their entry",
       [](MetadataVolume& v) {
         bytes::PutLE32(v.Meta(1) + 212, 0xFFFFFFF0);
         CECMA167::RefreshTag(v.Meta(1));
       },
       "run past its block"},
      {"an identifier running past its folder",
       [](MetadataVolume& v) {
         uint8_t* fid = v.Meta(2) + 40;  // the second identifier
         bytes::PutLE16(fid + 36, 2000);
         CECMA167::RefreshTag(fid);
       },
       "runs past its folder"},
      {"a partition map table past its descriptor",
       [](MetadataVolume& v) {
         bytes::PutLE32(v.Sector(34) + 264, 5000);
         CECMA167::RefreshTag(v.Sector(34));
       },
       "runs past its descriptor"},
      {"file data far beyond the volume",
       [](MetadataVolume& v) {
         uint8_t ad[16] = {};
         bytes::PutLE32(ad, 12);
         bytes::PutLE32(ad + 4, 0xFFFFFF00);
         MetadataVolume::Entry(v.Meta(3), 3, true, udf::kFileTypeFile, 12, udf::kAdLong, ad, 16);
       },
       "beyond"},
  };
  for (const Damage& d : damages) {
    MetadataVolume v;
    d.apply(v);
    UdfMemorySource source(v.image.data(), v.image.size());
    CAnaly_UDF reader;
    Collector c;
    bool ok = reader.Open(&source, 0, CAnaly_UDF::kImport) && reader.Walk(&c);
    EXPECT_FALSE(ok) << d.what;
    EXPECT_NE(reader.LastError().find(d.expected), std::string::npos) << d.what << ": " << reader.LastError();
  }
}

TEST(UdfReader, RandomDamageToOurOwnImageNeverCrashesTheReader) {
  ScratchFolder dir;
  std::string staging = dir / "staging", job = dir / "job", image = dir / "own.iso";
  StageSample(dir, staging);
  WriteJob(job, "FLIPS");
  CDataFileUDF builder;
  ASSERT_TRUE(builder.Build(job, staging, 0)) << builder.LastError();
  ASSERT_TRUE(WriteImage(builder, image));
  std::string pristine = ReadWholeFile(image);
  std::mt19937 random(1234);
  int mounted = 0;
  for (int round = 0; round < 300; ++round) {
    std::vector<uint8_t> damaged(pristine.begin(), pristine.end());
    // Damage the metadata only, where it matters, and re-tag some of it so
    // that the damage passes the checksums and reaches the walk.
    uint32_t meta = builder.MetadataSectors();
    for (int i = 0; i < 4; ++i) {
      uint32_t sector = 32 + random() % (meta - 32);
      size_t at = size_t(sector) * 2048 + random() % 512;
      damaged[at] = uint8_t(random());
      if (random() % 2) CECMA167::RefreshTag(damaged.data() + size_t(sector) * 2048);
    }
    UdfMemorySource source(damaged.data(), damaged.size());
    CAnaly_UDF reader;
    Collector c;
    if (reader.Open(&source, 0, CAnaly_UDF::kImport)) {
      ++mounted;
      reader.Walk(&c);
    }
    EXPECT_TRUE(reader.Mounted() || !reader.LastError().empty());
  }
  EXPECT_GT(mounted, 0);
}

TEST(UdfReader, ImportedFilesReappearInTheNextSessionWithTheirOldData) {
  ScratchFolder dir;
  std::string staging = dir / "staging", job = dir / "job", disc = dir / "disc.img";
  StageSample(dir, staging);
  WriteJob(job, "FIRST");
  CDataFileUDF first;
  ASSERT_TRUE(first.Build(job, staging, 0)) << first.LastError();
  ASSERT_TRUE(WriteImage(first, disc));

  // Import the first session into a fresh staging folder, add a new file.
  Collector c;
  CAnaly_UDF reader;
  ASSERT_TRUE(ReadImage(disc, &c, &reader, 0, CAnaly_UDF::kImport)) << reader.LastError();
  EXPECT_EQ(reader.NextSessionStart() % 16, 0u);
  for (const UdfEntry& e : c.entries)
    for (const auto& [sector, length] : e.sectors) EXPECT_LT(sector, reader.NextSessionStart()) << e.Path();
  // The drive reports the next writable address behind the whole track.
  const uint32_t next = first.GetTrackLength();
  std::string second = dir / "second";
  mkdir(second.c_str(), 0755);
  for (const UdfEntry& e : c.entries) {
    std::string folder = second + (e.parentPath.empty() ? "" : "/" + e.parentPath);
    if (e.folder) {
      mkdir((folder + "/" + e.name).c_str(), 0755);
      continue;
    }
    ImportedEntry imported;
    ASSERT_TRUE(e.ToImportedEntry(&imported)) << e.Path();
    ASSERT_TRUE(AppendFileListEntry(folder, {FormatImportedEntry(imported), e.name}));
  }
  ASSERT_TRUE(AppendFileListEntry(second, {dir.Write("added.txt", "new in session two"), "added.txt"}));

  // The second session goes behind the first on the same disc.
  WriteJob(job, "SECOND");
  CDataFileUDF track;
  ASSERT_TRUE(track.Build(job, second, next)) << track.LastError();
  {
    FILE* f = std::fopen(disc.c_str(), "r+b");
    ASSERT_NE(f, nullptr);
    std::fseek(f, long(next) * 2048, SEEK_SET);
    std::vector<uint8_t> sector(2048);
    for (uint32_t i = 0; i < track.GetTrackLength(); ++i) {
      std::fill(sector.begin(), sector.end(), 0);
      track.GetSectorData(sector.data(), 2048);
      std::fwrite(sector.data(), 1, 2048, f);
    }
    std::fclose(f);
  }

  Collector after;
  CAnaly_UDF reader2;
  ASSERT_TRUE(ReadImage(disc, &after, &reader2, next, CAnaly_UDF::kImport)) << reader2.LastError();
  EXPECT_EQ(reader2.VolumeLabel(), "SECOND");
  Listing expected = c.listing;
  expected["added.txt"] = {false, 18};
  EXPECT_EQ(Describe(after.listing), Describe(expected));
  // Every old file still points at its old data.
  std::string bytesOnDisc = ReadWholeFile(disc);
  for (const UdfEntry& e : after.entries) {
    if (e.folder || e.size == 0) continue;
    std::string content;
    for (const auto& [sector, length] : e.sectors) content += bytesOnDisc.substr(size_t(sector) * 2048, length);
    std::string source = e.name == "added.txt" ? dir / "added.txt" : dir / ("source/" + e.Path());
    EXPECT_EQ(content, ReadWholeFile(source)) << e.Path();
  }
}

TEST(UdfReader, ListCommandPrintsTheTreeOrSaysWhyNot) {
  ScratchFolder dir;
  std::string image = dir / "list.iso";
  dir.Write("src/Notes/todo.txt", "todo");
  int status = 0;
  std::string out = Shell(std::string(VARNEX_CLI_PATH) + " image --udf --label Listed -o " + Quote(image) + " " +
                              Quote(dir / "src/Notes"),
                          &status);
  ASSERT_EQ(status, 0) << out;
  out = Shell(std::string(VARNEX_CLI_PATH) + " udf-list " + Quote(image), &status);
  EXPECT_EQ(status, 0) << out;
  EXPECT_NE(out.find("Listed\t(UDF 1.02)\n"), std::string::npos) << out;
  EXPECT_NE(out.find("Notes\t"), std::string::npos) << out;
  EXPECT_NE(out.find("\tFolder\t"), std::string::npos) << out;
  EXPECT_NE(out.find("  todo.txt\t"), std::string::npos) << out;
  EXPECT_NE(out.find("\tFile\t4\n"), std::string::npos) << out;
  // The same through the image-file device, as from a drive.
  std::string viaDrive = Shell(std::string(VARNEX_CLI_PATH) + " udf-list --drive image:" + Quote(image), &status);
  EXPECT_EQ(status, 0) << viaDrive;
  EXPECT_EQ(viaDrive, out);

  std::string notUdf = dir.Write("plain.bin", std::string(700 * 2048, 'x'));
  out = Shell(std::string(VARNEX_CLI_PATH) + " udf-list " + Quote(notUdf), &status);
  EXPECT_NE(status, 0);
  EXPECT_NE(out.find("anchor"), std::string::npos) << out;
}
