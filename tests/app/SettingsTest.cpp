#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <map>

#include "foundation/HelpAndVersion.h"
#include "foundation/LangText.h"
#include "foundation/ProfileIni.h"
#include "foundation/ProgramDir.h"
#include "app/ProjectFileType.h"
#include "foundation/Skin.h"
#include "foundation/SystemSettings.h"
#include "foundation/TempFiles.h"
#include "support/TestFolders.h"

namespace {

// Points the program folder at a scratch folder for the test's lifetime.
class ProgramFolder {
 public:
  ProgramFolder() {
    const char* old = std::getenv("VARNEX_PROGRAM_DIR");
    if (old) saved_ = old;
    hadOld_ = old != nullptr;
    setenv("VARNEX_PROGRAM_DIR", dir.path().c_str(), 1);
  }
  ~ProgramFolder() {
    if (hadOld_) setenv("VARNEX_PROGRAM_DIR", saved_.c_str(), 1);
    else unsetenv("VARNEX_PROGRAM_DIR");
  }
  ScratchFolder dir;

 private:
  std::string saved_;
  bool hadOld_ = false;
};

// Sets an environment variable for the test's lifetime.
class EnvFor {
 public:
  EnvFor(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) saved_ = old, had_ = true;
    setenv(name, value.c_str(), 1);
  }
  ~EnvFor() {
    if (had_) setenv(name_, saved_.c_str(), 1);
    else unsetenv(name_);
  }

 private:
  const char* name_;
  std::string saved_;
  bool had_ = false;
};

}  // namespace

TEST(ProfileIni, ReadsCaseInsensitivelyWithDefaultsAndTheValueBuffer) {
  ScratchFolder dir;
  std::string ini = dir.Write("a.ini", "[Language Set]\r\n LangSel = 2 \r\n[UIText]\n-10000=prefix\n102=\"quoted\"\n"
                                       "300=" + std::string(400, 'x') + "\n[uitext]\n102=second section\n");
  EXPECT_EQ(ini::GetString(ini, "language set", "LANGSEL", "1"), "2");
  EXPECT_EQ(ini::GetString(ini, "UIText", "-10000", ""), "prefix");
  EXPECT_EQ(ini::GetString(ini, "UIText", "102", ""), "quoted");
  EXPECT_EQ(ini::GetString(ini, "UIText", "300", "").size(), 259u);
  EXPECT_EQ(ini::GetString(ini, "UIText", "missing", "dflt"), "dflt");
  EXPECT_EQ(ini::GetString(dir / "none.ini", "UIText", "102", "dflt"), "dflt");
  EXPECT_EQ(ini::GetInt(ini, "Language Set", "langsel", 7), 2);
  EXPECT_EQ(ini::KeyOf(-10000), "-10000");
}

TEST(ProfileIni, WritingAKeyKeepsEveryOtherLine) {
  ScratchFolder dir;
  std::string ini = dir.Write("SoftSet.ini", "; comment\n[Windows]\nIndex=3\n\n[Timing Set]\nTiming=0\n");
  ASSERT_TRUE(ini::WriteString(ini, "windows", "index", "7"));
  ASSERT_TRUE(ini::WriteString(ini, "Timing Set", "Time1", "12:00"));
  ASSERT_TRUE(ini::WriteString(ini, "New", "k", "v"));
  EXPECT_EQ(ReadWholeFile(ini), "; comment\n[Windows]\nindex=7\n\n[Timing Set]\nTiming=0\nTime1=12:00\n[New]\nk=v\n");
  ASSERT_TRUE(ini::WriteString(dir / "fresh.ini", "Windows", "Index", "0"));
  EXPECT_EQ(ini::GetString(dir / "fresh.ini", "Windows", "Index", ""), "0");
}

TEST(LanguageTexts, FollowTheSelectedLanguageAndFallBack) {
  ProgramFolder pf;
  ScratchFolder config;
  EnvFor ownConfig("XDG_CONFIG_HOME", config.path());
  pf.dir.Write("Lang/lang.ini", "[Language]\nLanFile1=en\nFont1=Sans\nLanFile2=zh\n");
  pf.dir.Write("Lang/en.ini", "[Error]\n-10000=Error code:\n-8=No drive.\n[UIText]\n102=Version\n");
  pf.dir.Write("Lang/zh.ini", "[Error]\n-8=zh text\n");
  EXPECT_EQ(GetLanguageFile(), "en");  // "langsel" missing: language 1
  EXPECT_EQ(GetLanguageFont(), "Sans");
  EXPECT_EQ(GetLanguageSubdir(), "en/");
  EXPECT_EQ(LoadErrorText(-8), "No drive.");
  EXPECT_EQ(LoadErrorText(-5), "Error code:-5");
  EXPECT_EQ(LoadLangText("Message", 1), "");

  ASSERT_TRUE(ini::WriteString(SettingsFilePath(), "Language Set", "langsel", "2"));
  EXPECT_EQ(LoadErrorText(-8), "zh text");  // nothing is cached
  EXPECT_EQ(GetLanguageFont(), "");
  ASSERT_TRUE(ini::WriteString(SettingsFilePath(), "Language Set", "langsel", "9"));
  EXPECT_EQ(GetLanguageSubdir(), "");
  EXPECT_EQ(LoadLangText("Error", -8), "");
}

TEST(LanguageTexts, ShippedEnglishFileHoldsEveryErrorText) {
  std::string en = std::string(VARNEX_SOURCE_DIR) + "/data/Lang/en.ini";
  for (int code : {0, -5, -6, -7, -8, -15, -113, -124, -511, -550, -700, -701, -702, -901, -902, -903,
                   -904, -905, -906, -907, -908, -909})
    EXPECT_NE(ini::GetString(en, "Error", ini::KeyOf(code), ""), "") << "no Error text for " << code;
}

TEST(SkinAndVersion, ColourHelpAndVersionLabel) {
  ProgramFolder pf;
  EXPECT_EQ(ReadSkinColour(), kDefaultSkinColour);
  pf.dir.Write("Skin/RGB.txt", "10\n20\n");
  EXPECT_EQ(ReadSkinColour(), kDefaultSkinColour);
  pf.dir.Write("Skin/RGB.txt", "266\n20\n30\n");
  EXPECT_EQ(ReadSkinColour(), 0x001E140Au);  // red masked to 8 bits, in the low byte

  EXPECT_EQ(VersionFromFileVersion("4, 1, 9, 0"), "4.1.9");
  EXPECT_EQ(VersionFromFileVersion("4, 1, 9, 1"), "");
  pf.dir.Write("Lang/lang.ini", "[Language]\nLanFile1=de\n");
  pf.dir.Write("Lang/de.ini", "[UIText]\n102=Fassung\n");
  EXPECT_EQ(VersionLabel(), "Fassung " + VersionFromFileVersion(CompiledFileVersion()));
  pf.dir.Write("lang/Varnex-en.html", "en");
  EXPECT_EQ(ChooseHelpFile(), pf.dir.path() + "/lang/Varnex-en.html");
  pf.dir.Write("lang/Varnex-de.html", "de");
  EXPECT_EQ(ChooseHelpFile(), pf.dir.path() + "/lang/Varnex-de.html");
}

TEST(SystemSettings, MachineWideFileOrDefaults) {
  ScratchFolder dir;
  setenv("VARNEX_SYSTEM_CONF", (dir / "varnex.conf").c_str(), 1);
  EXPECT_EQ(ReadSystemSetting("WriteType", "0"), "0");
  EXPECT_EQ(WriteToFileTarget(), "") << "no settings file: burns go to the recorder";
  dir.Write("varnex.conf", "[Varnex]\nWriteType=1\nTempFile=/tmp/out.iso\n");
  EXPECT_EQ(ReadSystemSetting("WriteType", "0"), "1");
  EXPECT_EQ(ReadSystemSetting("tempfile"), "/tmp/out.iso");
  EXPECT_EQ(WriteToFileTarget(), "/tmp/out.iso");
  dir.Write("varnex.conf", "[Varnex]\nWriteType=0\nTempFile=/tmp/out.iso\n");
  EXPECT_EQ(WriteToFileTarget(), "") << "a file is named, but the mode is off";
  unsetenv("VARNEX_SYSTEM_CONF");
}

TEST(ProjectFileType, RegistersOnceAndNeverOverwritesAnAssociation) {
  ScratchFolder home, system;
  XdgDataFolders folders{home.path(), {system.path()}};
  ASSERT_TRUE(RegisterProjectFileType("/opt/varnex/Varnex", folders));
  EXPECT_NE(ReadWholeFile(home / "applications/varnex.desktop").find("Exec=\"/opt/varnex/Varnex\" %f"),
            std::string::npos);
  EXPECT_FALSE(RegisterProjectFileType("/elsewhere/Varnex", folders));  // already claimed: left alone
  EXPECT_EQ(ReadWholeFile(home / "applications/varnex.desktop").find("/elsewhere"), std::string::npos);

  ScratchFolder otherHome;
  system.Write("mime/globs2", "50:application/x-other:*.bcd\n");
  XdgDataFolders claimed{otherHome.path(), {system.path()}};
  EXPECT_FALSE(RegisterProjectFileType("/opt/varnex/Varnex", claimed));
  EXPECT_FALSE(std::filesystem::exists(otherHome / "applications/varnex.desktop"));
}

// The desktop's cache refreshers get the folders as they are, however they
// are named: no shell reads the names, so blanks and quotes reach the tools.
TEST(ProjectFileType, RefreshesTheCachesOfAFolderWithBlanksAndQuotes) {
  ScratchFolder root, tools;
  const std::string home = root.Mkdir("it's a \"home\" $HOME; x");
  for (const char* tool : {"update-mime-database", "update-desktop-database"}) {
    const std::string path = tools.Write(tool, std::string("#!/bin/sh\nprintf '%s' \"$1\" > \"$1/seen-by-") + tool + "\"\n");
    ASSERT_EQ(chmod(path.c_str(), 0755), 0);
  }
  const std::string oldPath = std::getenv("PATH") ? std::getenv("PATH") : "";
  setenv("PATH", tools.path().c_str(), 1);
  const bool registered = RegisterProjectFileType("/opt/varnex/Varnex", XdgDataFolders{home, {}});
  setenv("PATH", oldPath.c_str(), 1);
  ASSERT_TRUE(registered);
  EXPECT_EQ(ReadWholeFile(home + "/mime/seen-by-update-mime-database"), home + "/mime");
  EXPECT_EQ(ReadWholeFile(home + "/applications/seen-by-update-desktop-database"), home + "/applications");
}

TEST(ProgramDir, DataBesideTheProgramElseInShareVarnexBesideItsBinFolder) {
  ScratchFolder dir;
  // A build tree or a portable copy: the data lies beside the program.
  dir.Write("portable/Lang/lang.ini", "[Language]\n");
  EXPECT_EQ(DataFolderFor(dir / "portable"), dir / "portable/");
  // An installed program: PREFIX/bin/Varnex with PREFIX/share/varnex/.
  dir.Mkdir("prefix/bin");
  dir.Write("prefix/share/varnex/Lang/lang.ini", "[Language]\n");
  EXPECT_EQ(DataFolderFor(dir / "prefix/bin"), dir / "prefix/share/varnex/");
  // Data in both places: the copy beside the program wins.
  dir.Write("prefix/bin/Lang/lang.ini", "[Language]\n");
  EXPECT_EQ(DataFolderFor(dir / "prefix/bin"), dir / "prefix/bin/");
  // No data anywhere: the program's own folder, which the messages then name.
  dir.Mkdir("bare/bin");
  EXPECT_EQ(DataFolderFor(dir / "bare/bin"), dir / "bare/bin/");
}

namespace {

// Every file below `root` with its bytes, to see that nothing was written there.
std::map<std::string, std::string> Snapshot(const std::string& root) {
  std::map<std::string, std::string> files;
  for (const auto& e : std::filesystem::recursive_directory_iterator(root))
    files[e.path().string()] = e.is_regular_file() ? ReadWholeFile(e.path().string()) : "<folder>";
  return files;
}

}  // namespace

TEST(FilesInTheirFolders, SettingsGoOnlyToTheConfigurationFolderAndTheCopyFileToTheCache) {
  ProgramFolder pf;
  ScratchFolder home;
  EnvFor config("XDG_CONFIG_HOME", home / "config");
  EnvFor cache("XDG_CACHE_HOME", home / "cache");
  std::filesystem::create_directories(home / "cache");
  pf.dir.Write("Lang/lang.ini", "[Language]\nLanFile1=en\nLanFile2=de\n");
  pf.dir.Write("Lang/de.ini", "[UIText]\n102=Fassung\n");
  // What an earlier run left beside the program: the language and a registered recorder.
  pf.dir.Write("SoftSet.ini", "[Language Set]\nlangsel=2\n[Recorders]\nCount=1\n");
  const auto before = Snapshot(pf.dir.path());
  ::chmod(pf.dir.path().c_str(), 0555);  // an installed program's folder

  const std::string own = home / "config/varnex/SoftSet.ini";
  EXPECT_EQ(SettingsFilePath(), own);
  EXPECT_EQ(LoadLangText("UIText", 102), "Fassung") << "the old settings are carried over";
  EXPECT_EQ(ini::GetString(SettingsFilePath(), "Recorders", "Count", ""), "1");
  ASSERT_TRUE(ini::WriteString(SettingsFilePath(), "Windows", "Index", "4"));
  ASSERT_TRUE(ini::WriteString(SettingsFilePath(), "Language Set", "langsel", "1"));
  EXPECT_EQ(ini::GetString(own, "Windows", "Index", ""), "4");
  EXPECT_EQ(LoadLangText("UIText", 102), "") << "the user's own choice counts, not the old file's";

  // The disc copy's default copy file lies in a work folder root, never beside the program.
  const std::string copyFile = DefaultCopyFile();
  EXPECT_EQ(copyFile.rfind(pf.dir.path(), 0), std::string::npos) << copyFile;
  EXPECT_EQ(copyFile, WorkFolderRoot() + "Temp.bcl");

  ::chmod(pf.dir.path().c_str(), 0755);
  EXPECT_EQ(Snapshot(pf.dir.path()), before) << "the program folder was written";

  // A portable copy (marked beside the program) keeps its settings there.
  pf.dir.Write("portable", "");
  EXPECT_EQ(SettingsFilePath(), pf.dir.path() + "/SoftSet.ini");
}
