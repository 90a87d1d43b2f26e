// The medium table against what MMC says of each medium: what BLANK empties,
// what is written anywhere, what stays once written.

#include <gtest/gtest.h>

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
