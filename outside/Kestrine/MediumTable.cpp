#include "MediumTable.h"

namespace medium {
namespace {

constexpr Family CD = Family::kCd, DVD = Family::kDvd, BD = Family::kBd, OTHER = Family::kOther;

// profile, name, key, family, write-once, sequential, overwritable, blankable
constexpr Facts kTable[] = {
    {kCdRom, "CD-ROM", "", CD, false, false, false, false},
    {kCdR, "CD-R", "cd-r", CD, true, true, false, false},
    {kCdRw, "CD-RW", "cd-rw", CD, false, true, false, true},
    {kDvdRom, "DVD-ROM", "", DVD, false, false, false, false},
    {kDvdR, "DVD-R", "dvd-r", DVD, true, true, false, false},
    {kDvdRam, "DVD-RAM", "dvd-ram", DVD, false, false, true, false},
    {kDvdRwRo, "DVD-RW", "dvd-rw-ro", DVD, false, false, true, true},
    {kDvdRwSeq, "DVD-RW", "dvd-rw", DVD, false, true, false, true},
    {kDvdRDl, "DVD-R DL", "dvd-r-dl", DVD, true, true, false, false},
    {kDvdRDlJump, "DVD-R DL", "", DVD, true, true, false, false},
    {kDvdRwDl, "DVD-RW DL", "", DVD, false, true, false, true},
    {kDvdPlusRw, "DVD+RW", "dvd+rw", DVD, false, false, true, false},
    {kDvdPlusR, "DVD+R", "dvd+r", DVD, true, true, false, false},
    {kDdcdRom, "DDCD-ROM", "", CD, false, false, false, false},
    {kDdcdR, "DDCD-R", "", CD, true, true, false, false},
    {kDdcdRw, "DDCD-RW", "", CD, false, true, false, true},
    {kDvdPlusRwDl, "DVD+RW DL", "", DVD, false, false, true, false},
    {kDvdPlusRDl, "DVD+R DL", "dvd+r-dl", DVD, true, true, false, false},
    {kBdRom, "BD-ROM", "", BD, false, false, false, false},
    {kBdRSrm, "BD-R", "bd-r", BD, true, true, false, false},
    {kBdRRrm, "BD-R", "", BD, true, true, false, false},  // random recording: at its next writable addresses
    {kBdRe, "BD-RE", "bd-re", BD, false, false, true, false},
    {kHdRom, "HD-ROM", "", OTHER, false, false, false, false},
    {kHdR, "HD-R", "", OTHER, true, true, false, false},
    {kHdRam, "HD-RAM", "", OTHER, false, false, true, false},
    {kHdRw, "HD-RW", "", OTHER, false, true, false, true},
    {kHdRDl, "HD-R DL", "", OTHER, true, true, false, false},
    {kHdRwDl, "HD-RW DL", "", OTHER, false, true, false, true},
    // The drive did not say whether restricted overwrite or sequential.
    {kDvdRwUnknown, "DVD-RW", "", DVD, false, false, false, true},
};

}  // namespace

const Facts* Find(int profile) {
  for (const Facts& f : kTable)
    if (f.profile == profile) return &f;
  return nullptr;
}

int FromKey(const std::string& key) {
  if (key.empty()) return -1;
  for (const Facts& f : kTable)
    if (key == f.key) return f.profile;
  return -1;
}

const char* Name(int profile) {
  const Facts* f = Find(profile);
  return f ? f->name : nullptr;
}

bool IsCd(int profile) {
  const Facts* f = Find(profile);
  return f && f->family == Family::kCd;
}
bool IsDvd(int profile) {
  const Facts* f = Find(profile);
  return f && f->family == Family::kDvd;
}
bool IsBd(int profile) {
  const Facts* f = Find(profile);
  return f && f->family == Family::kBd;
}
bool IsWriteOnce(int profile) {
  const Facts* f = Find(profile);
  return f && f->writeOnce;
}
bool IsSequential(int profile) {
  const Facts* f = Find(profile);
  return f && f->sequential;
}
bool IsOverwritable(int profile) {
  const Facts* f = Find(profile);
  return f && f->overwritable;
}
bool IsBlankable(int profile) {
  const Facts* f = Find(profile);
  return f && f->blankable;
}
bool IsErasable(int profile) { return IsBlankable(profile) || IsOverwritable(profile); }

}  // namespace medium
