#include <gtest/gtest.h>

#include "authoring/FileList.h"
#include "authoring/ImportedEntry.h"
#include "support/TestFolders.h"

TEST(FileList, EntriesAre520BytesAndRoundTrip) {
  ScratchFolder dir;
  ASSERT_TRUE(AppendFileListEntry(dir.path(), {"/home/u/a.txt", "a.txt"}));
  ASSERT_TRUE(AppendFileListEntry(dir.path(), {"/home/u/b.txt", "Renamed b.txt"}));
  EXPECT_EQ(ReadWholeFile(dir / "file.ls").size(), 2 * filels::kEntrySize);
  std::vector<FileListEntry> entries;
  ASSERT_TRUE(ReadFileList(dir.path(), &entries));
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[1].sourcePath, "/home/u/b.txt");
  EXPECT_EQ(entries[1].discName, "Renamed b.txt");
}

TEST(FileList, LongSourcePathKeepsEveryByteInWholeUnits) {
  ScratchFolder dir;
  std::string longPath = "/" + std::string(700, 'x') + "/file.bin";
  ASSERT_TRUE(AppendFileListEntry(dir.path(), {longPath, "file.bin"}));
  ASSERT_TRUE(AppendFileListEntry(dir.path(), {"/short", "short"}));
  EXPECT_EQ(ReadWholeFile(dir / "file.ls").size() % filels::kEntrySize, 0u);
  std::vector<FileListEntry> entries;
  ASSERT_TRUE(ReadFileList(dir.path(), &entries));
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].sourcePath, longPath);
  EXPECT_FALSE(entries[0].IsImported());
  EXPECT_EQ(entries[1].discName, "short");
}

TEST(FileList, DamagedListIsReportedNotMisread) {
  ScratchFolder dir;
  dir.Write("FILE.LS", std::string(700, 'a'));  // found case-insensitively, cut short
  std::vector<FileListEntry> entries;
  std::string error;
  EXPECT_FALSE(ReadFileList(dir.path(), &entries, &error));
  EXPECT_NE(error.find("damaged"), std::string::npos);

  dir.Write("FILE.LS", "<L>99999999" + std::string(filels::kEntrySize - 11, '\0'));
  EXPECT_FALSE(ReadFileList(dir.path(), &entries, &error));
}

TEST(ImportedEntry, EveryDateByteSurvivesTheText) {
  ImportedEntry e;
  e.name = "odd<name>.txt";
  e.date = {0x00, '<', '>', 0xFF, '[', 0x00, 0xF0};
  e.size = 5000000000ull;
  e.location = 123456;
  e.extents = {{200000, 16}, {300000, 4}};
  std::string text = FormatImportedEntry(e);
  EXPECT_EQ(text.find('\0'), std::string::npos);
  ImportedEntry back;
  ASSERT_TRUE(ParseImportedEntry(text, &back)) << text;
  EXPECT_EQ(back.name, e.name);
  EXPECT_EQ(back.date, e.date);
  EXPECT_EQ(back.size, e.size);
  EXPECT_EQ(back.location, e.location);
  EXPECT_EQ(back.extents, e.extents);
}

TEST(ImportedEntry, FoldersAndMalformedTexts) {
  ImportedEntry folder;
  ASSERT_TRUE(ParseImportedEntry("<2><Music>", &folder));
  EXPECT_EQ(folder.kind, ImportedEntry::kFolder);
  EXPECT_EQ(folder.name, "Music");
  ImportedEntry e;
  for (const char* bad : {"", "<", "<1>", "<1><a><zz><1><2>", "<1><a><00112233445566><x><2>",
                          "<1><a><00112233445566><1><99999999999>", "<3><a>",
                          "<1><a><00112233445566><1><2>[5]"})
    EXPECT_FALSE(ParseImportedEntry(bad, &e)) << bad;
}
