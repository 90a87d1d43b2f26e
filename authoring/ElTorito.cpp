#include "authoring/ElTorito.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "ByteFields.h"
#include "SafeFile.h"
#include "authoring/Iso9660.h"

namespace eltorito {
namespace {

constexpr uint8_t kPlatformBios = 0x00, kPlatformEfi = 0xEF;
constexpr uint8_t kBootable = 0x88, kFinalSection = 0x91, kNoEmulation = 0;

uint8_t* At(std::string& s, size_t i) { return reinterpret_cast<uint8_t*>(&s[i]); }

// The size of a regular file, or why it cannot serve as `what`.
bool BootFileSize(const std::string& path, const std::string& what, uint64_t* size, std::string* why) {
  std::string error;
  const int fd = safefile::OpenForReading(path, &error);
  if (fd < 0) {
    *why = "the " + what + " " + path + " cannot be read (" + error + ")";
    return false;
  }
  struct stat st;
  const bool ok = ::fstat(fd, &st) == 0;
  ::close(fd);
  if (!ok) {
    *why = "the " + what + " " + path + " cannot be read";
    return false;
  }
  *size = uint64_t(st.st_size);
  return true;
}

uint32_t Sum16(const uint8_t* p, size_t n) {
  uint32_t sum = 0;
  for (size_t i = 0; i + 1 < n; i += 2) sum += bytes::LE16(p + i);
  return sum;
}

}  // namespace

bool CheckBootOptions(const BootOptions& boot, bool udfOnly, bool appended, std::string* why) {
  if (!boot.Any()) {
    if (!boot.mbrTemplate.empty()) {
      *why = "a hybrid image needs a boot image: give --boot or --efi with --hybrid";
      return false;
    }
    return true;
  }
  if (udfOnly) {
    *why = "a disc with UDF only cannot boot: El Torito needs the ISO 9660 volume; leave out --udf";
    return false;
  }
  if (appended) {
    *why = "a boot disc cannot be appended to a disc with sessions: computers boot from the first session only";
    return false;
  }
  uint64_t size = 0;
  if (!boot.biosImage.empty()) {
    if (!BootFileSize(boot.biosImage, "boot image", &size, why)) return false;
    if (size == 0 || size > kMaxImageBytes) {
      *why = "the boot image " + boot.biosImage + " holds " + std::to_string(size) +
             " bytes; a boot image holds 1 to " + std::to_string(kMaxImageBytes) + " bytes";
      return false;
    }
    if (size < 64) {
      *why = "the boot image " + boot.biosImage + " is too short for the boot information table (64 bytes)";
      return false;
    }
    if (boot.loadSectors == 0) {
      *why = "--boot-load-size must be 1 or more";
      return false;
    }
  }
  if (!boot.efiImage.empty()) {
    if (!BootFileSize(boot.efiImage, "EFI image", &size, why)) return false;
    if (size == 0 || size > kMaxImageBytes) {
      *why = "the EFI image " + boot.efiImage + " holds " + std::to_string(size) + " bytes; an EFI image holds 1 to " +
             std::to_string(kMaxImageBytes) + " bytes";
      return false;
    }
  }
  if (!boot.mbrTemplate.empty()) {
    if (!BootFileSize(boot.mbrTemplate, "MBR template", &size, why)) return false;
    if (size < kMbrCodeBytes || size > 512) {
      *why = "the MBR template " + boot.mbrTemplate + " holds " + std::to_string(size) +
             " bytes; a template holds 432 to 512 bytes of boot code";
      return false;
    }
    if (boot.biosImage.empty()) {
      *why = "a hybrid image boots through its BIOS boot image: give --boot with --hybrid";
      return false;
    }
  }
  return true;
}

std::string BootRecord(uint32_t catalogSector) {
  std::string d(iso9660::kBlock, '\0');
  iso9660::PutDescriptorHead(At(d, 0), 0);
  const char system[] = "EL TORITO SPECIFICATION";
  std::memcpy(&d[7], system, sizeof system - 1);
  bytes::PutLE32(At(d, 0x47), catalogSector);
  return d;
}

std::string BootCatalog(const CatalogEntries& e) {
  std::string c(iso9660::kBlock, '\0');
  // Validation entry: header, platform, the checksum that makes its words sum to 0, and the key bytes.
  const bool bios = e.biosSector != 0;
  c[0] = 1;
  c[1] = char(bios ? kPlatformBios : kPlatformEfi);
  c[30] = char(0x55);
  c[31] = char(0xAA);
  bytes::PutLE16(At(c, 28), uint16_t(0x10000 - (Sum16(At(c, 0), 32) & 0xFFFF)));
  // The default entry.
  auto entry = [&](size_t at, uint32_t sector, uint16_t count) {
    c[at] = char(kBootable);
    c[at + 1] = char(kNoEmulation);
    bytes::PutLE16(At(c, at + 6), count);
    bytes::PutLE32(At(c, at + 8), sector);
  };
  const uint16_t efiCount = uint16_t(std::min<uint64_t>((e.efiBytes + 511) / 512, 0xFFFF));
  if (bios) {
    entry(32, e.biosSector, e.biosLoadSectors);
    if (e.efiSector) {
      c[64] = char(kFinalSection);
      c[65] = char(kPlatformEfi);
      bytes::PutLE16(At(c, 66), 1);
      entry(96, e.efiSector, efiCount);
    }
  } else {
    entry(32, e.efiSector, efiCount);
  }
  return c;
}

bool PatchBootInfoTable(std::string* image, uint32_t primarySector, uint32_t imageSector) {
  if (image->size() < 64) return false;
  uint32_t sum = 0;
  std::string padded = *image;
  padded.resize((padded.size() + 3) / 4 * 4, '\0');
  for (size_t i = 64; i < padded.size(); i += 4) sum += bytes::LE32(At(padded, i));
  bytes::PutLE32(At(*image, 8), primarySector);
  bytes::PutLE32(At(*image, 12), imageSector);
  bytes::PutLE32(At(*image, 16), uint32_t(image->size()));
  bytes::PutLE32(At(*image, 20), sum);
  std::memset(At(*image, 24), 0, 40);
  return true;
}

std::string HybridMbr(const std::string& code, uint32_t imageSectors, uint32_t biosSector) {
  std::string m(512, '\0');
  std::memcpy(&m[0], code.data(), std::min(code.size(), kMbrCodeBytes));
  // Where the boot code finds the BIOS boot image, in 512-byte sectors.
  bytes::PutLE32(At(m, 432), biosSector * 4);
  uint8_t* p = At(m, 446);
  const uint32_t blocks = uint32_t(std::min<uint64_t>(uint64_t(imageSectors) * 4, 0xFFFFFFFFull));
  // Cylinders of 64 heads and 32 sectors, as USB sticks are commonly seen.
  auto chs = [](uint8_t* at, uint32_t lba) {
    const uint32_t cylinder = lba / (64 * 32);
    if (cylinder > 1023) {
      at[0] = 0xFE, at[1] = 0xFF, at[2] = 0xFF;
      return;
    }
    at[0] = uint8_t((lba / 32) % 64);
    at[1] = uint8_t((lba % 32 + 1) | ((cylinder >> 2) & 0xC0));
    at[2] = uint8_t(cylinder & 0xFF);
  };
  p[0] = 0x80;
  chs(p + 1, 0);
  p[4] = 0x17;
  chs(p + 5, blocks - 1);
  bytes::PutLE32(p + 8, 0);
  bytes::PutLE32(p + 12, blocks);
  m[510] = char(0x55);
  m[511] = char(0xAA);
  return m;
}

}  // namespace eltorito
