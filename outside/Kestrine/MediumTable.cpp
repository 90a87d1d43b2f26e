#include "MediumTable.h"

namespace medium {
namespace {

constexpr Family CD = Family::kCd, DVD = Family::kDvd, BD = Family::kBd, OTHER = Family::kOther;

// profile, name, key, family, write-once, sequential, overwritable, blankable,
// nominal capacity of a blank disc (sectors of 2048 bytes; 0 when none is
// written here), layers
constexpr Facts kTable[] = {
    {kCdRom, "CD-ROM", "", CD, false, false, false, false, 0, 1},
    {kCdR, "CD-R", "cd-r", CD, true, true, false, false, 359849, 1},
    {kCdRw, "CD-RW", "cd-rw", CD, false, true, false, true, 359849, 1},
    {kDvdRom, "DVD-ROM", "", DVD, false, false, false, false, 0, 1},
    {kDvdR, "DVD-R", "dvd-r", DVD, true, true, false, false, 2298496, 1},
    {kDvdRam, "DVD-RAM", "dvd-ram", DVD, false, false, true, false, 2236704, 1},
    {kDvdRwRo, "DVD-RW", "dvd-rw-ro", DVD, false, false, true, true, 2298496, 1},
    {kDvdRwSeq, "DVD-RW", "dvd-rw", DVD, false, true, false, true, 2298496, 1},
    {kDvdRDl, "DVD-R DL", "dvd-r-dl", DVD, true, true, false, false, 4171712, 2},
    {kDvdRDlJump, "DVD-R DL", "", DVD, true, true, false, false, 4171712, 2},
    {kDvdRwDl, "DVD-RW DL", "", DVD, false, true, false, true, 0, 2},
    {kDvdPlusRw, "DVD+RW", "dvd+rw", DVD, false, false, true, false, 2295104, 1},
    {kDvdPlusR, "DVD+R", "dvd+r", DVD, true, true, false, false, 2295104, 1},
    {kDdcdRom, "DDCD-ROM", "", CD, false, false, false, false, 0, 1},
    {kDdcdR, "DDCD-R", "", CD, true, true, false, false, 0, 1},
    {kDdcdRw, "DDCD-RW", "", CD, false, true, false, true, 0, 1},
    {kDvdPlusRwDl, "DVD+RW DL", "", DVD, false, false, true, false, 0, 2},
    {kDvdPlusRDl, "DVD+R DL", "dvd+r-dl", DVD, true, true, false, false, 4173824, 2},
    {kBdRom, "BD-ROM", "", BD, false, false, false, false, 0, 1},
    {kBdRSrm, "BD-R", "bd-r", BD, true, true, false, false, 12219392, 1},
    {kBdRRrm, "BD-R", "", BD, true, true, false, false, 12219392, 1},  // random recording: at its next writable addresses
    {kBdRe, "BD-RE", "bd-re", BD, false, false, true, false, 11826176, 1},
    {kHdRom, "HD-ROM", "", OTHER, false, false, false, false, 0, 1},
    {kHdR, "HD-R", "", OTHER, true, true, false, false, 0, 1},
    {kHdRam, "HD-RAM", "", OTHER, false, false, true, false, 0, 1},
    {kHdRw, "HD-RW", "", OTHER, false, true, false, true, 0, 1},
    {kHdRDl, "HD-R DL", "", OTHER, true, true, false, false, 0, 2},
    {kHdRwDl, "HD-RW DL", "", OTHER, false, true, false, true, 0, 2},
    // The drive did not say whether restricted overwrite or sequential.
    {kDvdRwUnknown, "DVD-RW", "", DVD, false, false, false, true, 2298496, 1},
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
bool IsWritable(int profile) {
  const Facts* f = Find(profile);
  return f && (f->writeOnce || f->sequential || f->overwritable || f->blankable);
}
int32_t Capacity(int profile) {
  const Facts* f = Find(profile);
  return f ? f->capacity : 0;
}
int Layers(int profile) {
  const Facts* f = Find(profile);
  return f ? f->layers : 0;
}
bool IsDualLayer(int profile) { return Layers(profile) == 2; }

DiscState StateOf(int profile, bool blank, int discStatus, int lastSessionState) {
  if (!IsWritable(profile)) return DiscState::kClosed;
  if (blank) return DiscState::kBlank;
  if (IsOverwritable(profile)) return DiscState::kAppendable;
  if (discStatus == 2) return DiscState::kClosed;
  if (discStatus == 1 && (lastSessionState == 1 || lastSessionState == 2)) return DiscState::kUnfinished;
  return DiscState::kAppendable;
}

bool TakesData(DiscState state) { return state == DiscState::kBlank || state == DiscState::kAppendable; }

const char* StateKey(DiscState state) {
  switch (state) {
    case DiscState::kBlank: return "blank";
    case DiscState::kAppendable: return "appendable";
    case DiscState::kUnfinished: return "unfinished";
    case DiscState::kClosed: return "closed";
  }
  return "closed";
}

}  // namespace medium
