#pragma once
// A bootable data disc: the boot record descriptor, the boot catalog with a
// BIOS entry (no emulation) and an EFI entry, the boot information table
// that some BIOS boot loaders expect patched into their image, and the
// master boot record of an image that also boots from a USB stick.

#include <cstdint>
#include <string>

namespace eltorito {

struct BootOptions {
  std::string biosImage;     // "" for none
  uint16_t loadSectors = 4;  // 512-byte sectors the BIOS loads of it
  std::string efiImage;      // an EFI System Partition image, "" for none
  std::string mbrTemplate;   // the first 432 bytes of the master boot record, "" for none
  bool Any() const { return !biosImage.empty() || !efiImage.empty(); }
};

// The largest boot image: its sector count (512-byte sectors) must fit the
// catalog's 16-bit field.
constexpr uint64_t kMaxImageBytes = 0xFFFFull * 512;
constexpr size_t kMbrCodeBytes = 432;

// Whether the options can make a bootable disc; `why` says why not, in
// words for the user.
bool CheckBootOptions(const BootOptions& boot, bool udfOnly, bool appended, std::string* why);

// The boot record volume descriptor (one sector) naming the catalog's sector.
std::string BootRecord(uint32_t catalogSector);

// The boot catalog (one sector): the validation entry, the BIOS entry as the
// default one when there is a BIOS image, and the EFI entry in a section of
// its own. A sector of 0 leaves an entry out.
struct CatalogEntries {
  uint32_t biosSector = 0;
  uint16_t biosLoadSectors = 4;
  uint32_t efiSector = 0;
  uint64_t efiBytes = 0;
};
std::string BootCatalog(const CatalogEntries& entries);

// Patches the boot information table into a BIOS boot image: the primary
// descriptor's sector, the image's own sector and length, and the checksum
// of everything from byte 64 on. False when the image is too short to hold
// the table.
bool PatchBootInfoTable(std::string* image, uint32_t primarySector, uint32_t imageSector);

// The first 512 bytes of a hybrid image: the template's boot code, the boot
// image's place where that code looks for it, and one partition spanning
// the whole image of `imageSectors` 2048-byte sectors.
std::string HybridMbr(const std::string& code, uint32_t imageSectors, uint32_t biosSector);

}  // namespace eltorito
