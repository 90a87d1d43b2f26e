// Bootable images: the catalog as another tool reads it, the boot
// information table, the hybrid master boot record, and the refusals.

#include <gtest/gtest.h>

#include <unistd.h>

#include <regex>

#include "ByteFields.h"
#include "authoring/ElTorito.h"
#include "support/RunCommand.h"
#include "support/TestFolders.h"

namespace {

std::string Cli() { return Quoted(VARNEX_CLI_PATH); }

std::string Pattern(size_t n, uint8_t seed) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = char(uint8_t(i * 7 + seed));
  return s;
}

const uint8_t* U(const std::string& s, size_t at) { return reinterpret_cast<const uint8_t*>(s.data()) + at; }

}  // namespace

TEST(ElTorito, BiosAndEfiEntriesThePatchedTableAndTheHybridRecord) {
  ScratchFolder src, out;
  src.Write("readme.txt", "boot me\n");
  const std::string bios = Pattern(6000, 3), efi = Pattern(9000, 5), mbr = Pattern(432, 9);
  const std::string biosPath = out.Write("boot.bin", bios), efiPath = out.Write("efi.img", efi);
  const std::string mbrPath = out.Write("mbr.bin", mbr);
  const std::string iso = out / "boot.iso";
  CommandResult r = RunCommand(Cli() + " image -o " + Quoted(iso) + " --boot " + Quoted(biosPath) +
                               " --boot-load-size 8 --efi " + Quoted(efiPath) + " --hybrid " + Quoted(mbrPath) + " " +
                               Quoted(src / "readme.txt"));
  ASSERT_EQ(r.status, 0) << r.output;

  CommandResult report = RunCommand("xorriso -indev " + Quoted(iso) + " -report_el_torito plain 2>&1");
  ASSERT_EQ(report.status, 0) << report.output;
  EXPECT_TRUE(std::regex_search(report.output, std::regex("El Torito boot img : +1 +BIOS +y +none +0x0000 +0x00 +8 +"))) << report.output;
  EXPECT_TRUE(std::regex_search(report.output, std::regex("El Torito boot img : +2 +UEFI +y +none +0x0000 +0x00 +18 +"))) << report.output;

  const std::string image = ReadWholeFile(iso);
  ASSERT_GT(image.size(), 40u * 2048);
  // Boot record at sector 17, the catalog where it says.
  EXPECT_EQ(image.substr(17 * 2048 + 1, 5), "CD001");
  EXPECT_EQ(image.substr(17 * 2048 + 7, 23), "EL TORITO SPECIFICATION");
  const uint32_t catalog = bytes::LE32(U(image, 17 * 2048 + 0x47));
  const uint32_t biosAt = bytes::LE32(U(image, size_t(catalog) * 2048 + 40));
  const uint32_t efiAt = bytes::LE32(U(image, size_t(catalog) * 2048 + 104));
  // The BIOS image with its table: the primary descriptor, its own place and
  // length, and the checksum of the rest; everything else as given.
  const std::string served = image.substr(size_t(biosAt) * 2048, bios.size());
  EXPECT_EQ(bytes::LE32(U(served, 8)), 16u);
  EXPECT_EQ(bytes::LE32(U(served, 12)), biosAt);
  EXPECT_EQ(bytes::LE32(U(served, 16)), uint32_t(bios.size()));
  uint32_t sum = 0;
  for (size_t i = 64; i + 4 <= bios.size(); i += 4) sum += bytes::LE32(U(bios, i));
  EXPECT_EQ(bytes::LE32(U(served, 20)), sum);
  EXPECT_EQ(served.substr(0, 8), bios.substr(0, 8));
  EXPECT_EQ(served.substr(64), bios.substr(64));
  EXPECT_EQ(image.substr(size_t(efiAt) * 2048, efi.size()), efi);
  // The master boot record: the template's code, the boot image's place and
  // one partition over the whole image.
  EXPECT_EQ(image.substr(0, 432), mbr);
  EXPECT_EQ(bytes::LE32(U(image, 432)), biosAt * 4);
  EXPECT_EQ(uint8_t(image[446]), 0x80);
  EXPECT_EQ(bytes::LE32(U(image, 446 + 12)), uint32_t(image.size() / 512));
  EXPECT_EQ(uint8_t(image[510]), 0x55);
  EXPECT_EQ(uint8_t(image[511]), 0xAA);
  // The files are still there for every reader.
  EXPECT_NE(RunCommand("7zz l " + Quoted(iso)).output.find("readme.txt"), std::string::npos);
}

TEST(ElTorito, RefusalsSayWhyAndWriteNothing) {
  ScratchFolder src, out;
  src.Write("a.txt", "a");
  const std::string boot = out.Write("boot.bin", Pattern(4096, 1));
  const std::string huge = out / "huge.bin";
  { std::ofstream(huge) << ""; }
  ASSERT_EQ(truncate(huge.c_str(), off_t(eltorito::kMaxImageBytes + 1)), 0);
  const std::string a = Quoted(src / "a.txt");
  const struct {
    std::string args, says;
  } cases[] = {
      {"--boot " + Quoted(out / "missing.bin") + " " + a, "cannot be read"},
      {"--boot " + Quoted(huge) + " " + a, "a boot image holds 1 to"},
      {"--efi " + Quoted(huge) + " " + a, "an EFI image holds 1 to"},
      {"--udf --boot " + Quoted(boot) + " " + a, "UDF only cannot boot"},
      {"--session-start 5000 --boot " + Quoted(boot) + " " + a, "cannot be appended"},
      {"--hybrid " + Quoted(boot) + " " + a, "needs a boot image"},
      {"--boot " + Quoted(boot) + " --boot-load-size 0 " + a, "--boot-load-size"},
  };
  for (const auto& c : cases) {
    const std::string iso = out / "no.iso";
    CommandResult r = RunCommand(Cli() + " image -o " + Quoted(iso) + " " + c.args);
    EXPECT_NE(r.status, 0) << c.args;
    EXPECT_NE(r.output.find(c.says), std::string::npos) << c.args << "\n" << r.output;
    EXPECT_FALSE(std::filesystem::exists(iso)) << c.args;
  }
}

TEST(ElTorito, BurntDiscsBootAsImagesDoAndRefusalsLeaveTheDiscBlank) {
  ScratchFolder src, out;
  src.Write("readme.txt", "boot me\n");
  const std::string bios = out.Write("boot.bin", Pattern(6000, 3)), efi = out.Write("efi.img", Pattern(9000, 5));
  auto create = [&](const std::string& name, const std::string& media) {
    CommandResult c = RunCommand(Cli() + " virtual create --media " + media + " " + Quoted(out / name));
    EXPECT_EQ(c.status, 0) << c.output;
    return "virtual:" + (out / name);
  };
  // A CD-R, left open: the same catalog as an image has.
  const std::string cd = create("cd.vr", "cd-r");
  CommandResult r = RunCommand(Cli() + " burn --drive " + Quoted(cd) + " --multisession --boot " + Quoted(bios) +
                               " --efi " + Quoted(efi) + " " + Quoted(src / "readme.txt"));
  ASSERT_EQ(r.status, 0) << r.output;
  const std::string iso = out / "cd.iso";
  ASSERT_EQ(RunCommand(Cli() + " virtual export --drive " + Quoted(cd) + " -o " + Quoted(iso)).status, 0);
  CommandResult report = RunCommand("xorriso -indev " + Quoted(iso) + " -report_el_torito plain 2>&1");
  EXPECT_TRUE(std::regex_search(report.output, std::regex("El Torito boot img : +1 +BIOS +y +none"))) << report.output;
  EXPECT_TRUE(std::regex_search(report.output, std::regex("El Torito boot img : +2 +UEFI +y +none"))) << report.output;

  // A second session cannot carry the boot entries; a DVD carries UDF only;
  // an image is burnt as it is. Nothing is written in any of them.
  r = RunCommand(Cli() + " burn --drive " + Quoted(cd) + " --boot " + Quoted(bios) + " " + Quoted(src / "readme.txt"));
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.output.find("cannot be appended"), std::string::npos) << r.output;
  const std::string dvd = create("dvd.vr", "dvd-r");
  r = RunCommand(Cli() + " burn --drive " + Quoted(dvd) + " --boot " + Quoted(bios) + " " + Quoted(src / "readme.txt"));
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.output.find("UDF only cannot boot"), std::string::npos) << r.output;
  r = RunCommand(Cli() + " burn --drive " + Quoted(dvd) + " --boot " + Quoted(bios) + " --image " + Quoted(iso));
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.output.find("burnt as it is"), std::string::npos) << r.output;
  CommandResult info = RunCommand(Cli() + " disc-info --drive " + Quoted(dvd));
  EXPECT_NE(info.output.find("state: blank"), std::string::npos) << info.output;
}
