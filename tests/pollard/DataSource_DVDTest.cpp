// The DVD source of the burn library: the header and the files back to back,
// each padded to whole sectors; a file that changes or vanishes after the
// source was made fails the read with its name instead of giving a disc
// whose file systems point at other bytes.

#include <gtest/gtest.h>

#include <cstring>

#include "DataSource_DVD.h"
#include "support/TestFolders.h"

namespace {

std::vector<unsigned char> Table(const std::vector<std::string>& paths) {
  std::vector<unsigned char> table(paths.size() * DataSource_DVD::kPathSize, 0);
  for (size_t i = 0; i < paths.size(); ++i)
    std::memcpy(table.data() + i * DataSource_DVD::kPathSize, paths[i].data(), paths[i].size());
  return table;
}

std::string ReadAll(DataSource& source, long sectors) {
  std::string out(size_t(sectors) * 2048, '\x55');
  EXPECT_TRUE(source.OpenSession(1) && source.OpenTrack(1));
  // Odd run lengths cross every file boundary somewhere.
  for (long at = 0, step = 1; at < sectors; step = step % 5 + 1) {
    const long n = std::min(step, sectors - at);
    if (!source.GetSectorData(reinterpret_cast<uint8_t*>(&out[size_t(at) * 2048]), int(n))) {
      ADD_FAILURE() << source.GetLastError();
      break;
    }
    at += n;
  }
  return out;
}

TEST(DataSourceDvd, HeaderAndFilesFollowEachOtherInWholeSectors) {
  ScratchFolder dir;
  const std::string header = dir.Write("header", std::string(4096, 'H'));
  const std::vector<std::string> files = {dir.Write("a", std::string(3000, 'a')), dir.Write("b", "b"),
                                          dir.Write("c", std::string(2048, 'c'))};
  const auto table = Table(files);
  DataSource_DVD source(header, 3, table.data());
  ASSERT_TRUE(source.IsValid()) << source.GetLastError();
  EXPECT_EQ(source.GetDiscType(), CD_TYPE_DVD);
  ASSERT_EQ(source.TotalSectors(), 2 + 2 + 1 + 1);
  std::string expected = std::string(4096, 'H') + std::string(3000, 'a') + std::string(1096, '\0') + "b" +
                         std::string(2047, '\0') + std::string(2048, 'c');
  EXPECT_TRUE(ReadAll(source, source.TotalSectors()) == expected) << "the sectors differ from the files";
  std::unique_ptr<DataSource> clone(source.CloneSource());
  ASSERT_TRUE(clone);
  EXPECT_TRUE(ReadAll(*clone, source.TotalSectors()) == expected);
  uint8_t one[2048];
  EXPECT_FALSE(source.GetSectorData(one, 1)) << "a read past the end";
}

TEST(DataSourceDvd, ChangedMissingOrUnnamedFilesAreRefusedByName) {
  ScratchFolder dir;
  const std::string header = dir.Write("header", std::string(2048, 'H'));
  const std::string a = dir.Write("a", std::string(5000, 'a'));
  auto table = Table({a});
  DataSource_DVD source(header, 1, table.data());
  ASSERT_TRUE(source.IsValid());
  dir.Write("a", std::string(100, 'a'));  // shrinks after the layout
  std::vector<uint8_t> buffer(4 * 2048);
  ASSERT_TRUE(source.OpenSession(1) && source.OpenTrack(1));
  EXPECT_FALSE(source.GetSectorData(buffer.data(), 4));
  EXPECT_NE(source.GetLastError().find(a), std::string::npos) << source.GetLastError();

  auto gone = Table({dir / "gone.VOB"});
  DataSource_DVD missing(header, 1, gone.data());
  EXPECT_FALSE(missing.IsValid());
  EXPECT_NE(missing.GetLastError().find("gone.VOB"), std::string::npos) << missing.GetLastError();
  std::vector<unsigned char> blank(DataSource_DVD::kPathSize, 0);
  EXPECT_FALSE(DataSource_DVD(header, 1, blank.data()).IsValid());
  EXPECT_FALSE(DataSource_DVD(header, 1, nullptr).IsValid());
  EXPECT_FALSE(DataSource_DVD(dir / "no-header", 0, nullptr).IsValid());
}

}  // namespace
