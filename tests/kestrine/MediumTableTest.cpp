// The medium table against what MMC says of each medium: what BLANK empties,
// what is written anywhere, what stays once written.

#include <gtest/gtest.h>

#include <iterator>
#include <set>
#include <string>

#include "MediumTable.h"

using namespace medium;

TEST(MediumTable, WriteOnceMediaAreNeitherBlankedNorOverwritten) {
  for (int p : {kCdR, kDvdR, kDvdRDl, kDvdRDlJump, kDvdPlusR, kDvdPlusRDl, kBdRSrm, kBdRRrm}) {
    SCOPED_TRACE(p);
    EXPECT_TRUE(IsWriteOnce(p));
    EXPECT_TRUE(IsSequential(p));
    EXPECT_FALSE(IsBlankable(p));
    EXPECT_FALSE(IsOverwritable(p));
    EXPECT_FALSE(IsErasable(p));
  }
}

TEST(MediumTable, BlankEmptiesCdRwAndDvdRwInEveryRecordingMode) {
  for (int p : {kCdRw, kDvdRwSeq, kDvdRwRo, kDvdRwDl, kDvdRwUnknown}) {
    EXPECT_TRUE(IsBlankable(p)) << p;
    EXPECT_TRUE(IsErasable(p)) << p;
  }
  // DVD+RW, DVD-RAM and BD-RE refuse BLANK; they are formatted anew instead,
  // which a user still sees as erasing.
  for (int p : {kDvdPlusRw, kDvdPlusRwDl, kDvdRam, kBdRe}) {
    EXPECT_FALSE(IsBlankable(p)) << p;
    EXPECT_TRUE(IsOverwritable(p)) << p;
    EXPECT_TRUE(IsErasable(p)) << p;
  }
  EXPECT_TRUE(IsOverwritable(kDvdRwRo)) << "restricted overwrite is written anywhere";
  EXPECT_FALSE(IsOverwritable(kDvdRwSeq));
  for (int p : {int(kCdRom), int(kDvdRom), int(kBdRom), int(kNone), 12345}) {
    EXPECT_FALSE(IsErasable(p)) << p;
    EXPECT_FALSE(IsWriteOnce(p)) << p;
  }
}

TEST(MediumTable, FamiliesNamesAndKeys) {
  for (int p : {kCdRom, kCdR, kCdRw}) EXPECT_TRUE(IsCd(p) && !IsDvd(p) && !IsBd(p)) << p;
  for (int p : {kDvdR, kDvdRam, kDvdRwRo, kDvdRwSeq, kDvdPlusRw, kDvdPlusRDl, kDvdRwUnknown})
    EXPECT_TRUE(IsDvd(p) && !IsCd(p) && !IsBd(p)) << p;
  for (int p : {kBdRom, kBdRSrm, kBdRRrm, kBdRe}) EXPECT_TRUE(IsBd(p) && !IsDvd(p)) << p;
  EXPECT_FALSE(IsCd(kNone));

  for (int p : {kDvdRwRo, kDvdRwSeq, kDvdRwUnknown}) EXPECT_STREQ(Name(p), "DVD-RW");
  EXPECT_STREQ(Name(kBdRRrm), "BD-R");
  EXPECT_EQ(Name(12345), nullptr);

  // Every key names exactly one medium, and names it back.
  std::set<std::string> keys;
  for (int p = 0; p <= kDvdRwUnknown; ++p) {
    const Facts* f = Find(p);
    if (!f || !*f->key) continue;
    EXPECT_TRUE(keys.insert(f->key).second) << "key " << f->key << " used twice";
    EXPECT_EQ(FromKey(f->key), p) << f->key;
  }
  EXPECT_EQ(FromKey("dvd+rw"), kDvdPlusRw);
  EXPECT_EQ(FromKey("dvd-rw"), kDvdRwSeq);
  EXPECT_EQ(FromKey("cd-rom"), -1) << "nothing is burnt onto a pressed disc";
  EXPECT_EQ(FromKey(""), -1);
}

// Every profile the table knows, with what the rest of the system takes from
// it: the name shown, the blank capacity a drive reports (sectors), the
// recording layers, the family and whether anything can be written.
TEST(MediumTable, EveryProfileHasItsCapacityLayersAndFamily) {
  struct Row {
    int profile;
    const char* name;
    int32_t capacity;
    int layers;
    Family family;
    bool writable;
  };
  const Family CD = Family::kCd, DVD = Family::kDvd, BD = Family::kBd, HD = Family::kOther;
  const Row rows[] = {
      {kCdRom, "CD-ROM", 0, 1, CD, false},          {kCdR, "CD-R", 359849, 1, CD, true},
      {kCdRw, "CD-RW", 359849, 1, CD, true},         {kDvdRom, "DVD-ROM", 0, 1, DVD, false},
      {kDvdR, "DVD-R", 2298496, 1, DVD, true},       {kDvdRam, "DVD-RAM", 2236704, 1, DVD, true},
      {kDvdRwRo, "DVD-RW", 2298496, 1, DVD, true},   {kDvdRwSeq, "DVD-RW", 2298496, 1, DVD, true},
      {kDvdRDl, "DVD-R DL", 4171712, 2, DVD, true},  {kDvdRDlJump, "DVD-R DL", 4171712, 2, DVD, true},
      {kDvdRwDl, "DVD-RW DL", 0, 2, DVD, true},      {kDvdPlusRw, "DVD+RW", 2295104, 1, DVD, true},
      {kDvdPlusR, "DVD+R", 2295104, 1, DVD, true},   {kDdcdRom, "DDCD-ROM", 0, 1, CD, false},
      {kDdcdR, "DDCD-R", 0, 1, CD, true},            {kDdcdRw, "DDCD-RW", 0, 1, CD, true},
      {kDvdPlusRwDl, "DVD+RW DL", 0, 2, DVD, true},  {kDvdPlusRDl, "DVD+R DL", 4173824, 2, DVD, true},
      {kBdRom, "BD-ROM", 0, 1, BD, false},           {kBdRSrm, "BD-R", 12219392, 1, BD, true},
      {kBdRRrm, "BD-R", 12219392, 1, BD, true},      {kBdRe, "BD-RE", 11826176, 1, BD, true},
      {kHdRom, "HD-ROM", 0, 1, HD, false},           {kHdR, "HD-R", 0, 1, HD, true},
      {kHdRam, "HD-RAM", 0, 1, HD, true},            {kHdRw, "HD-RW", 0, 1, HD, true},
      {kHdRDl, "HD-R DL", 0, 2, HD, true},           {kHdRwDl, "HD-RW DL", 0, 2, HD, true},
      {kDvdRwUnknown, "DVD-RW", 2298496, 1, DVD, true},
  };
  int known = 0;
  for (int p = 0; p <= kDvdRwUnknown; ++p) known += Find(p) != nullptr;
  EXPECT_EQ(known, int(std::size(rows))) << "a profile of the table is missing here";

  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    ASSERT_NE(Find(r.profile), nullptr) << r.profile;
    EXPECT_STREQ(Name(r.profile), r.name);
    EXPECT_EQ(Capacity(r.profile), r.capacity);
    EXPECT_EQ(Layers(r.profile), r.layers);
    EXPECT_EQ(IsDualLayer(r.profile), r.layers == 2);
    EXPECT_EQ(IsCd(r.profile), r.family == CD);
    EXPECT_EQ(IsDvd(r.profile), r.family == DVD);
    EXPECT_EQ(IsBd(r.profile), r.family == BD);
    EXPECT_EQ(IsWritable(r.profile), r.writable);
    // A medium that is written once, in sequence, anew or blanked is writable.
    EXPECT_EQ(IsWritable(r.profile), IsWriteOnce(r.profile) || IsSequential(r.profile) || IsErasable(r.profile));
    // A key on the command line is offered only for a medium with a capacity
    // to make a blank disc of.
    if (*Find(r.profile)->key) EXPECT_GT(Capacity(r.profile), 0);
  }
  for (int p : {int(kNone), 12345, -1}) {
    EXPECT_EQ(Capacity(p), 0) << p;
    EXPECT_EQ(Layers(p), 0) << p;
    EXPECT_FALSE(IsDualLayer(p)) << p;
    EXPECT_FALSE(IsWritable(p)) << p;
  }
}
