#include "VirtualRecorder.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>

#include "BinCue.h"
#include "ByteFields.h"
#include "ImageFileDevice.h"
#include "ImageLayout.h"
#include "MmcCommands.h"
#include "OutputFile.h"
#include "SafeFile.h"
#include "Writeback.h"
#include "WavReader.h"

using cdsector::Mode;

namespace {

// The blank media a virtual recorder can be made with, by the key the medium
// table gives them.
struct MediumKind {
  int profile;
};

const MediumKind kMedia[] = {
    {medium::kCdR},      {medium::kCdRw},   {medium::kDvdR},      {medium::kDvdRwSeq},
    {medium::kDvdPlusR}, {medium::kDvdPlusRw}, {medium::kDvdRam}, {medium::kDvdRDl},
    {medium::kDvdPlusRDl}, {medium::kBdRSrm}, {medium::kBdRe},
};

const char* KeyOf(const MediumKind& k) { return medium::Find(k.profile)->key; }

std::string SectorPath(const std::string& state) { return state + ".sectors"; }
std::string LockPath(const std::string& state) { return state + ".lock"; }

std::string Hex(const std::vector<uint8_t>& v) {
  static const char* d = "0123456789abcdef";
  std::string s;
  for (uint8_t b : v) s += d[b >> 4], s += d[b & 15];
  return s;
}

bool Unhex(const std::string& s, std::vector<uint8_t>& out) {
  if (s.size() % 2) return false;
  out.clear();
  for (size_t i = 0; i < s.size(); i += 2) {
    auto nib = [](char ch) {
      if (ch >= '0' && ch <= '9') return ch - '0';
      if (ch >= 'a' && ch <= 'f') return ch - 'a' + 10;
      if (ch >= 'A' && ch <= 'F') return ch - 'A' + 10;
      return -1;
    };
    int hi = nib(s[i]), lo = nib(s[i + 1]);
    if (hi < 0 || lo < 0) return false;
    out.push_back(uint8_t(hi << 4 | lo));
  }
  return true;
}

// The sector and lock files of a recorder are opened only as regular files
// of their own: a link planted in their place is refused, never followed, so
// a burn or an erase cannot write or truncate whatever it points to.
int OpenOwnFile(const std::string& path, std::string* why) {
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
  if (fd < 0) {
    if (why) *why = path + (errno == ELOOP ? " is a symbolic link" : ": " + safefile::ErrorText(errno));
    return -1;
  }
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    if (why) *why = path + " is not a regular file";
    errno = EINVAL;
    return -1;
  }
  int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  return fd;
}

bool Stamp(const std::string& path, long long out[3]) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return false;
  out[0] = (long long)st.st_ino;
  out[1] = (long long)st.st_size;
  out[2] = (long long)st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec;
  return true;
}

}  // namespace

const std::vector<std::string>& VirtualRecorder::MediaNames() {
  static const std::vector<std::string> names = [] {
    std::vector<std::string> v;
    for (const auto& k : kMedia) v.push_back(KeyOf(k));
    return v;
  }();
  return names;
}

VirtualRecorder::~VirtualRecorder() {
  if (sectorFd_ >= 0) {
    // Only what this program changed is saved: a reader that changed nothing
    // must not put back a state another program has moved on from.
    if (dirty_) Save();
    ::close(sectorFd_);
  }
  if (lockFd_ >= 0) ::close(lockFd_);
}

// ---- state file ----------------------------------------------------------

bool VirtualRecorder::Open(const std::string& statePath, std::string* error) {
  // A link is followed to the disc it names: the state is always rewritten
  // there, never in place of the link.
  char* real = ::realpath(statePath.c_str(), nullptr);
  statePath_ = real ? real : statePath;
  std::free(real);
  std::string why;
  if (real && !safefile::IsRegularFile(statePath_, &why)) {
    if (error) *error = why;
    return false;
  }
  if (!Load(error)) return false;
  if (!OpenSectors(&why)) {
    if (error) *error = "cannot open the sector file: " + why;
    return false;
  }
  // The lock file is checked now (and opened without following a link
  // whenever it is used), so that a planted link is named at once rather
  // than making the drive look busy later.
  struct stat st;
  if (::lstat(LockPath(statePath_).c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
    if (error)
      *error = "cannot use the lock file: " + LockPath(statePath_) +
               (S_ISLNK(st.st_mode) ? " is a symbolic link" : " is not a regular file");
    return false;
  }
  return true;
}

bool VirtualRecorder::OpenSectors(std::string* error) {
  if (sectorFd_ >= 0) return true;
  sectorFd_ = OpenOwnFile(SectorPath(statePath_), error);
  return sectorFd_ >= 0;
}

// A disc replaced by another program (a new disc made in the recorder's
// place) comes with a sector file of its own: the one we hold is the old,
// removed disc, and writing on there would be writing nowhere.
void VirtualRecorder::ReopenIfReplaced() {
  if (sectorFd_ < 0) return;
  struct stat held, named;
  if (::fstat(sectorFd_, &held) != 0) return;
  if (::lstat(SectorPath(statePath_).c_str(), &named) == 0 && named.st_dev == held.st_dev &&
      named.st_ino == held.st_ino)
    return;
  ::close(sectorFd_);
  sectorFd_ = -1;
  std::string ignored;
  OpenSectors(&ignored);  // without it every read and write fails, as on a drive gone bad
}

bool VirtualRecorder::Load(std::string* error) {
  std::ifstream in(statePath_);
  auto fail = [&](const std::string& why) {
    if (error) *error = statePath_ + ": " + why;
    return false;
  };
  if (!in) return fail("no virtual recorder here (cannot read the state file)");
  std::string line;
  if (!std::getline(in, line) || line != "varnex-virtual-recorder 1") return fail("not a virtual recorder state file");
  DiscModel m;
  VirtualFaults f;
  std::string medium;
  int lineNo = 1;
  while (std::getline(in, line)) {
    ++lineNo;
    std::istringstream s(line);
    std::string key;
    if (!(s >> key)) continue;
    bool ok = true;
    long long v = 0;
    if (key == "media") ok = bool(s >> medium);
    else if (key == "profile") ok = bool(s >> v), m.profile = uint16_t(v);
    else if (key == "capacity") ok = bool(s >> v), m.capacity = int32_t(v);
    else if (key == "pressed") ok = bool(s >> v), m.pressed = v;
    else if (key == "tray") { std::string t; ok = bool(s >> t); m.trayOpen = t == "open"; }
    else if (key == "finalized") ok = bool(s >> v), m.finalized = v;
    else if (key == "formatted") ok = bool(s >> v), m.formatted = v;
    else if (key == "sessions") ok = bool(s >> v), m.closedSessions = int(v);
    else if (key == "sessionformat") ok = bool(s >> v), m.sessionFormat = uint8_t(v);
    else if (key == "layer0") ok = bool(s >> v), m.layer0 = int32_t(v);
    else if (key == "cdtext") { std::string h; ok = bool(s >> h) && Unhex(h, m.cdText) && m.cdText.size() % 18 == 0; }
    else if (key == "mcn") ok = bool(s >> m.mcn) && IsValidMcn(m.mcn);
    else if (key == "cdtext-session") {
      // Lines of their own, so that older programs pass them by.
      int session = 0;
      std::string h;
      std::vector<uint8_t> packs;
      ok = bool(s >> session >> h) && session >= 2 && session <= 99 && Unhex(h, packs) && !packs.empty() &&
           packs.size() % 18 == 0;
      if (ok) m.laterCdText.emplace_back(session, packs);
    }
    else if (key == "isrc" || key == "index") {
      // Lines of their own after the track they belong to, so that state
      // files written before them still load and older programs pass them by.
      int number = 0;
      ok = bool(s >> number) && !m.tracks.empty() && m.tracks.back().number == number;
      DiscTrack* t = ok ? &m.tracks.back() : nullptr;
      if (ok && key == "isrc") {
        ok = bool(s >> t->isrc) && IsValidIsrc(t->isrc);
      } else if (ok) {
        int32_t at = 0;
        while (ok && s >> at) {
          ok = at > (t->indexes.empty() ? t->start : t->indexes.back());
          t->indexes.push_back(at);
        }
        ok = ok && !t->indexes.empty() && t->indexes.size() <= 98;
      }
    }
    else if (key == "track") {
      DiscTrack t;
      int mode = 0, closed = 0, reserved = 0;
      ok = bool(s >> t.number >> t.session >> t.start >> t.size >> t.recorded >> mode >> closed >> reserved) &&
           mode >= 0 && mode <= 4 && t.number >= 1 && t.number <= 99 && t.session >= 1 && t.start >= 0 &&
           t.size >= 0 && t.recorded >= 0;
      t.mode = Mode(mode);
      t.closed = closed;
      t.reserved = reserved;
      int flags = 0;
      if (s >> flags) t.flags = uint8_t(flags & 0x0B);  // older state files have none
      m.tracks.push_back(t);
    } else if (key == "fault-write") {
      int k, a, q;
      ok = bool(s >> f.writeFailAt >> f.writeFailCount >> k >> a >> q >> f.writesSeen);
      f.writeKey = uint8_t(k), f.writeAsc = uint8_t(a), f.writeAscq = uint8_t(q);
    } else if (key == "fault-notready") ok = bool(s >> f.notReadyPolls);
    else if (key == "fault-longwrite") ok = bool(s >> f.longWritePolls);
    else if (key == "fault-noerase") ok = bool(s >> v), f.cannotErase = v;
    else if (key == "fault-noreadcd") ok = bool(s >> v), f.refuseReadCd = v;
    else if (key == "speed") ok = bool(s >> f.speed) && f.speed >= 0 && f.speed <= kMaxSpeed;
    else if (key == "fault-hold") ok = bool(s >> f.holdAt >> f.holdSeen) && f.holdAt >= 0 && f.holdSeen >= 0;
    else if (key == "fault-corrupt") ok = bool(s >> f.corruptAt >> f.corruptSeen) && f.corruptAt >= 0 && f.corruptSeen >= 0;
    else if (key == "fault-unreadable" || key == "fault-slowread") {
      int32_t first = -1, last = -1;
      ok = bool(s >> first >> last) && first >= 0 && last >= first;
      (key == "fault-unreadable" ? f.unreadable : f.slowRead).emplace_back(first, last);
    }
    if (!ok) return fail("damaged line " + std::to_string(lineNo));
  }
  if (m.profile == 0 || m.capacity <= 0 || m.capacity > 0x7FFFFFFF / 2) return fail("no medium described");
  if (m.closedSessions < 0 || m.closedSessions > 99) return fail("impossible number of sessions");
  for (const DiscTrack& t : m.tracks)
    if (int64_t(t.start) + std::max(t.size, t.recorded) > m.capacity)
      return fail("track " + std::to_string(t.number) + " lies beyond the end of the disc");
  model_ = m;
  faults_ = f;
  medium_ = medium;
  SetPace();
  Stamp(statePath_, stamp_);
  return true;
}

bool VirtualRecorder::Save(std::string* why) {
  std::ostringstream o;
  const DiscModel& m = model_;
  o << "varnex-virtual-recorder 1\n"
    << "media " << (medium_.empty() ? "unknown" : medium_) << "\n"
    << "profile " << m.profile << "\ncapacity " << m.capacity << "\npressed " << int(m.pressed) << "\n"
    << "tray " << (m.trayOpen ? "open" : "closed") << "\nfinalized " << int(m.finalized) << "\n"
    << "formatted " << int(m.formatted) << "\nsessions " << m.closedSessions << "\n"
    << "sessionformat " << int(m.sessionFormat) << "\nlayer0 " << m.layer0 << "\n";
  for (const DiscTrack& t : m.tracks) {
    o << "track " << t.number << ' ' << t.session << ' ' << t.start << ' ' << t.size << ' ' << t.recorded << ' '
      << int(t.mode) << ' ' << int(t.closed) << ' ' << int(t.reserved) << ' ' << int(t.flags) << "\n";
    if (!t.isrc.empty()) o << "isrc " << t.number << ' ' << t.isrc << "\n";
    if (!t.indexes.empty()) {
      o << "index " << t.number;
      for (int32_t at : t.indexes) o << ' ' << at;
      o << "\n";
    }
  }
  if (!m.cdText.empty()) o << "cdtext " << Hex(m.cdText) << "\n";
  for (const auto& [session, packs] : m.laterCdText) o << "cdtext-session " << session << ' ' << Hex(packs) << "\n";
  if (!m.mcn.empty()) o << "mcn " << m.mcn << "\n";
  const VirtualFaults& f = faults_;
  if (f.writeFailCount > 0)
    o << "fault-write " << f.writeFailAt << ' ' << f.writeFailCount << ' ' << int(f.writeKey) << ' '
      << int(f.writeAsc) << ' ' << int(f.writeAscq) << ' ' << f.writesSeen << "\n";
  if (f.notReadyPolls > 0) o << "fault-notready " << f.notReadyPolls << "\n";
  if (f.longWritePolls > 0) o << "fault-longwrite " << f.longWritePolls << "\n";
  if (f.cannotErase) o << "fault-noerase 1\n";
  if (f.refuseReadCd) o << "fault-noreadcd 1\n";
  if (f.speed > 0) o << "speed " << f.speed << "\n";
  if (f.holdAt > 0) o << "fault-hold " << f.holdAt << ' ' << f.holdSeen << "\n";
  if (f.corruptAt > 0) o << "fault-corrupt " << f.corruptAt << ' ' << f.corruptSeen << "\n";
  for (const auto& [first, last] : f.unreadable) o << "fault-unreadable " << first << ' ' << last << "\n";
  for (const auto& [first, last] : f.slowRead) o << "fault-slowread " << first << ' ' << last << "\n";
  // A whole new file replaces the old one, so a reader never sees half a
  // state.
  if (!WriteWholeFile(statePath_, o.str(), Existing::kReplace, why)) return false;
  Stamp(statePath_, stamp_);
  dirty_ = false;
  return true;
}

void VirtualRecorder::ReloadIfChanged() {
  if (dirty_) return;  // our own writes are newer than any file
  long long now[3];
  if (!Stamp(statePath_, now)) return;
  if (now[0] == stamp_[0] && now[1] == stamp_[1] && now[2] == stamp_[2]) return;
  std::string ignored;
  if (Load(&ignored)) ReopenIfReplaced();
}

void VirtualRecorder::ModelChanged() { Save(); }

bool VirtualRecorder::SetFaults(const VirtualFaults& faults, std::string* error) {
  faults_ = faults;
  SetPace();
  std::string why;
  if (!Save(&why)) {
    if (error) *error = "cannot write " + why;
    return false;
  }
  return true;
}

// ---- sectors --------------------------------------------------------------

int VirtualRecorder::ReadStored(int32_t lba, uint8_t* buf) {
  if (lba < 0 || sectorFd_ < 0) return 0;
  int slot = SlotSize();
  ssize_t n = pread(sectorFd_, buf, size_t(slot), off_t(lba) * slot);
  if (n != slot) return 0;
  if (slot == 2352) {
    // A hole of the sparse file: nothing was written there.
    bool zero = std::all_of(buf, buf + 2352, [](uint8_t b) { return b == 0; });
    if (zero) return 0;
  }
  return slot;
}

bool VirtualRecorder::ReadStoredRun(int32_t lba, uint8_t* out, uint32_t count) {
  return lba >= 0 && sectorFd_ >= 0 && SlotSize() == 2048 &&
         safefile::PreadAll(sectorFd_, out, size_t(count) * 2048, off_t(lba) * 2048);
}

bool VirtualRecorder::ReadWholeRun(int32_t lba, uint8_t* out, uint32_t count) {
  // A hole of the sparse file reads as zeros, as a sector never written
  // reads as silence one at a time.
  return lba >= 0 && sectorFd_ >= 0 && SlotSize() == 2352 &&
         safefile::PreadAll(sectorFd_, out, size_t(count) * 2352, off_t(lba) * 2352);
}

namespace {
// Where a spoiled sector differs: inside the user data of every sector form
// (raw Mode 1 and Mode 2 begin theirs at 16 and 24, PCM everywhere).
constexpr size_t kSpoiledByte = 200;
}  // namespace

bool VirtualRecorder::SpoilsNextSector() {
  VirtualFaults& f = faults_;
  if (f.corruptAt <= 0) return false;
  if (++f.corruptSeen < f.corruptAt) return false;
  // Disarmed at once and on disc: the fault spoils one sector, not every
  // later one, nor one of the next program's (a write to an overwritable
  // disc changes no state that would be saved).
  f.corruptAt = f.corruptSeen = 0;
  Save();
  return true;
}

bool VirtualRecorder::WriteStored(int32_t lba, const uint8_t* buf, int size) {
  if (lba < 0 || sectorFd_ < 0 || size != SlotSize()) return false;
  dirty_ = true;
  if (SpoilsNextSector()) {
    std::vector<uint8_t> spoiled(buf, buf + size);
    spoiled[kSpoiledByte] ^= 0xFF;
    return safefile::PwriteAll(sectorFd_, spoiled.data(), size_t(size), off_t(lba) * size);
  }
  return safefile::PwriteAll(sectorFd_, buf, size_t(size), off_t(lba) * size);
}

bool VirtualRecorder::SpoilsWithin(uint32_t count) const {
  return faults_.corruptAt > 0 && faults_.corruptAt - faults_.corruptSeen <= int64_t(count);
}

bool VirtualRecorder::StoreSlots(int32_t lba, const uint8_t* data, uint32_t count) {
  if (lba < 0 || sectorFd_ < 0) return false;
  if (faults_.corruptAt > 0) faults_.corruptSeen += count;
  dirty_ = true;
  const size_t slot = size_t(SlotSize()), bytes = size_t(count) * slot;
  if (!safefile::PwriteAll(sectorFd_, data, bytes, off_t(lba) * off_t(slot))) return false;
  safefile::StartWriteback(sectorFd_, off_t(lba) * off_t(slot), bytes);
  return true;
}

// A run with a spoiled write due inside it goes sector by sector, so that
// exactly that sector is spoiled.
bool VirtualRecorder::WriteStoredRun(int32_t lba, const uint8_t* buf, uint32_t count) {
  if (SlotSize() != 2048 || SpoilsWithin(count)) return MmcDiscTarget::WriteStoredRun(lba, buf, count);
  return StoreSlots(lba, buf, count);
}

bool VirtualRecorder::WriteStoredRawRun(int32_t lba, const uint8_t* raw, uint32_t count) {
  if (SlotSize() != 2352 || SpoilsWithin(count)) return MmcDiscTarget::WriteStoredRawRun(lba, raw, count);
  return StoreSlots(lba, raw, count);
}

bool VirtualRecorder::FlushStore() { return sectorFd_ < 0 || fdatasync(sectorFd_) == 0; }

void VirtualRecorder::StoreErased() {
  if (sectorFd_ >= 0 && ftruncate(sectorFd_, 0) != 0) {
    // The model says blank; stale sectors are never read back from a blank disc.
  }
}

// ---- locks and faults ---------------------------------------------------------

bool VirtualRecorder::LockExclusive(bool lock) { return SetLock(&volumeLock_, lock); }

bool VirtualRecorder::HoldForJob(bool hold) { return SetLock(&jobLock_, hold); }

// One lock file, one descriptor: a burn's own exclusive use inside a job we
// hold must not find the drive busy, nor its end let the job's hold go.
bool VirtualRecorder::SetLock(bool* which, bool on) {
  std::lock_guard<std::mutex> guard(lockMutex_);
  if (!on) {
    *which = false;
    if (!volumeLock_ && !jobLock_ && lockFd_ >= 0) {
      ::close(lockFd_);
      lockFd_ = -1;
    }
    return true;
  }
  if (lockFd_ < 0) {
    int fd = OpenOwnFile(LockPath(statePath_), nullptr);
    if (fd < 0) return false;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
      ::close(fd);
      return false;
    }
    lockFd_ = fd;
  }
  *which = true;
  return true;
}

bool VirtualRecorder::Intercept(ScsiCommand& c) {
  ReloadIfChanged();
  uint8_t op = c.opcode();
  bool changes = op == 0x2A || op == 0xAA || op == 0x5B || op == 0x53 || op == 0xA1 || op == 0x04 ||
                 op == 0x5D || op == 0xBF;
  bool held;
  {
    std::lock_guard<std::mutex> guard(lockMutex_);
    held = lockFd_ >= 0;
  }
  if (changes && !held) {
    // Another program holding the drive for a burn keeps us from changing it.
    // A lock file that cannot be opened (a planted link) refuses as well.
    int fd = OpenOwnFile(LockPath(statePath_), nullptr);
    bool busy = fd < 0 || flock(fd, LOCK_EX | LOCK_NB) != 0;
    if (fd >= 0) ::close(fd);
    if (busy) {
      c.SetSense(2, 0x04, 0x00);
      return true;
    }
  }
  VirtualFaults& f = faults_;
  if (op == 0x00 && f.notReadyPolls > 0) {
    --f.notReadyPolls;
    Save();
    c.SetSense(2, 0x04, 0x01);
    return true;
  }
  if ((op == 0x00 || op == 0x2A || op == 0xAA || op == 0x51) && f.longWritePolls > 0) {
    --f.longWritePolls;
    Save();
    c.SetSense(2, 0x04, 0x08);
    return true;
  }
  if ((op == 0x2A || op == 0xAA) && f.writeFailCount > 0) {
    ++f.writesSeen;
    if (f.writesSeen >= f.writeFailAt) {
      --f.writeFailCount;
      Save();
      c.SetSense(f.writeKey, f.writeAsc, f.writeAscq);
      return true;
    }
    Save();
  }
  if (op == 0xBE && f.refuseReadCd) {
    c.SetSense(5, 0x20, 0x00);
    return true;
  }
  if ((op == 0x28 || op == 0xA8 || op == 0xBE) && ReadFault(c)) return true;
  if ((op == 0x2A || op == 0xAA) && f.holdAt > 0) {
    // Counted and disarmed on disc first: a program killed while it waits
    // leaves a recorder that does not hold again.
    const bool hold = ++f.holdSeen >= f.holdAt;
    if (hold) f.holdAt = f.holdSeen = 0;
    Save();
    if (hold) HoldUntilReleased();
  }
  if ((op == 0xA1 || op == 0x04) && f.cannotErase) {
    c.SetSense(5, 0x20, 0x00);
    return true;
  }
  if ((op == 0x2A || op == 0xAA) && PaceWrite(c)) return true;
  // The drive answers once the laser has written what its buffer holds.
  if (op == 0x35 || op == 0x5B) pacer_.Drain();
  return false;
}

void VirtualRecorder::SetPace() {
  const int p = model_.profile;
  const uint64_t one = medium::IsBd(p) ? WritePacer::kBd1x : medium::IsDvd(p) ? WritePacer::kDvd1x : WritePacer::kCd1x;
  uint64_t rate = uint64_t(faults_.speed) * one;
  // A host that asks for less is written for at its speed, as drives do; an
  // unpaced recorder stays as fast as the machine.
  const uint64_t asked = uint64_t(HostWriteSpeed()) * 1000;
  if (rate > 0 && HostWriteSpeed() != 0xFFFF && asked > 0 && asked < rate) rate = asked;
  if (pacer_.Rate() != rate) pacer_.SetRate(rate);
}

// In the units the speed lists use: 1x is 176 kB/s on CD, 1,385 on DVD and
// 4,495 on BD.
uint32_t VirtualRecorder::PacedWriteSpeed() const {
  const int p = model_.profile;
  const uint32_t one = medium::IsBd(p) ? 4495 : medium::IsDvd(p) ? 1385 : 176;
  return uint32_t(std::max(0, faults_.speed)) * one;
}

bool VirtualRecorder::PaceWrite(ScsiCommand& c) {
  const bool ten = c.opcode() == 0x2A;
  const uint32_t count = ten ? uint32_t(c.cdb[7]) << 8 | c.cdb[8]
                             : uint32_t(c.cdb[6]) << 24 | uint32_t(c.cdb[7]) << 16 | uint32_t(c.cdb[8]) << 8 | c.cdb[9];
  // A CD takes 75 sectors a second at 1x whatever each sector carries.
  const uint64_t bytes = uint64_t(count) * (medium::IsCd(model_.profile) ? 2352 : 2048);
  SetPace();
  if (pacer_.Write(bytes, BurnProof()) == WritePacer::Outcome::kWritten) return false;
  c.SetSense(3, 0x0C, 0x09);  // write error: loss of streaming
  return true;
}

bool VirtualRecorder::ReadFault(ScsiCommand& c) {
  const uint8_t op = c.opcode();
  const int32_t lba = int32_t(uint32_t(c.cdb[2]) << 24 | uint32_t(c.cdb[3]) << 16 | uint32_t(c.cdb[4]) << 8 | c.cdb[5]);
  const uint32_t count = op == 0x28   ? uint32_t(c.cdb[7]) << 8 | c.cdb[8]
                         : op == 0xA8 ? uint32_t(c.cdb[6]) << 24 | uint32_t(c.cdb[7]) << 16 | uint32_t(c.cdb[8]) << 8 | c.cdb[9]
                                      : uint32_t(c.cdb[6]) << 16 | uint32_t(c.cdb[7]) << 8 | c.cdb[8];
  auto touches = [&](const std::vector<std::pair<int32_t, int32_t>>& ranges) {
    const int64_t last = int64_t(lba) + count - 1;
    for (const auto& [first, end] : ranges)
      if (count > 0 && lba <= end && last >= first) return true;
    return false;
  };
  PaceRead(lba, count, touches(faults_.slowRead));
  if (!touches(faults_.unreadable)) return false;
  c.SetSense(3, 0x11, 0x00);
  return true;
}

namespace {
std::mutex gPaceMutex;
VirtualRecorder::ReadPace gPace;
}  // namespace

void VirtualRecorder::SetReadPace(ReadPace pace) {
  std::lock_guard<std::mutex> guard(gPaceMutex);
  gPace = std::move(pace);
}

void VirtualRecorder::PaceRead(int32_t lba, uint32_t count, bool slow) {
  ReadPace pace;
  {
    std::lock_guard<std::mutex> guard(gPaceMutex);
    pace = gPace;
  }
  if (pace) return pace(lba, count, slow);
  if (slow) ::usleep(useconds_t(count) * kSlowSectorMs * 1000);
}

void VirtualRecorder::HoldUntilReleased() {
  const std::string held = HeldPath(statePath_);
  ::unlink(held.c_str());  // left by a program killed while it waited
  int fd = safefile::CreateNew(held, O_WRONLY);
  if (fd < 0) return;  // nobody could release it: the write goes on
  const std::string pid = std::to_string(::getpid()) + "\n";
  const bool written = safefile::WriteAll(fd, pid.data(), pid.size());
  if (::close(fd) != 0 || !written) {
    ::unlink(held.c_str());
    return;
  }
  struct stat st;
  while (::lstat(held.c_str(), &st) == 0) ::usleep(10000);
}

// ---- creation -------------------------------------------------------------------

namespace {

// A new disc is made under names of its own beside its place ("X.part" and
// "X.part.sectors") and renamed into place only when it is complete and on
// disk; a disc that could not be made is removed and an earlier disc of the
// same name stays as it was.
class NewDisc {
 public:
  explicit NewDisc(const std::string& path) : path_(path), part_(path + ".part") {}
  ~NewDisc() {
    if (done_) return;
    ::unlink(part_.c_str());
    ::unlink(SectorPath(part_).c_str());
  }
  const std::string& part() const { return part_; }

  // A minimal state file and an empty sector file, so the recorder can be
  // opened and given its disc.
  bool Start(const DiscModel& m, const std::string& medium, std::string* error) {
    struct stat st;
    if (::lstat(path_.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
      if (error) *error = path_ + (S_ISLNK(st.st_mode) ? " is a symbolic link" : " is not a regular file");
      done_ = true;  // nothing of ours to remove
      return false;
    }
    std::ostringstream o;
    o << "varnex-virtual-recorder 1\nmedia " << medium << "\nprofile " << m.profile << "\ncapacity " << m.capacity
      << "\n";
    const std::string text = o.str();
    int fd = safefile::CreateNew(part_, O_WRONLY);
    if (fd < 0) {
      if (error) *error = "cannot create " + part_ + ": " + safefile::ErrorText(errno);
      done_ = errno == EEXIST;  // somebody else's file: leave it
      return false;
    }
    bool ok = safefile::WriteAll(fd, text.data(), text.size());
    ok = ::close(fd) == 0 && ok;
    if (!ok) return Fail(part_, error);
    fd = safefile::CreateNew(SectorPath(part_));
    if (fd < 0) return Fail(SectorPath(part_), error);
    ::close(fd);
    return true;
  }

  // Puts the disc in its place once its state is saved and its sectors are
  // on disk (`stored`).
  bool Finish(bool stored, std::string* error) {
    if (!stored) return Fail(part_, error);
    if (std::rename(SectorPath(part_).c_str(), SectorPath(path_).c_str()) != 0 ||
        std::rename(part_.c_str(), path_.c_str()) != 0)
      return Fail(path_, error);
    done_ = true;
    return true;
  }

  bool Fail(const std::string& what, std::string* error) {
    if (error) *error = "cannot write " + what + ": " + safefile::ErrorText(errno);
    return false;
  }

 private:
  std::string path_, part_;
  bool done_ = false;
};

}  // namespace

bool VirtualRecorder::Create(const std::string& statePath, const std::string& medium, std::string* error, int speed) {
  if (speed < 0 || speed > kMaxSpeed) {
    if (error) *error = "a speed from 1x to " + std::to_string(kMaxSpeed) + "x";
    return false;
  }
  const MediumKind* kind = nullptr;
  for (const auto& k : kMedia)
    if (medium == KeyOf(k)) kind = &k;
  if (!kind) {
    if (error) *error = "unknown medium \"" + medium + "\"";
    return false;
  }
  DiscModel m = BlankModel(uint16_t(kind->profile), medium::Capacity(kind->profile));
  NewDisc disc(statePath);
  if (!disc.Start(m, medium, error)) return false;
  VirtualRecorder r;
  if (!r.Open(disc.part(), error)) return false;
  r.model_ = m;
  r.medium_ = medium;
  r.faults_.speed = speed;
  return disc.Finish(r.Save() && r.FlushStore(), error);
}

bool VirtualRecorder::CreatePressedData(const std::string& statePath, const std::string& medium,
                                        const std::string& isoPath, std::string* error) {
  bool cd = medium == "cd-rom";
  if (!cd && medium != "dvd-rom") {
    if (error) *error = "a pressed data disc is \"cd-rom\" or \"dvd-rom\", not \"" + medium + "\"";
    return false;
  }
  std::string why;
  int in = safefile::OpenForReading(isoPath, &why);
  if (in < 0) {
    if (error) *error = "cannot read " + why;
    return false;
  }
  struct stat st;
  fstat(in, &st);
  int64_t sectors = (int64_t(st.st_size) + 2047) / 2048;
  int32_t limit = cd ? 405000 : medium::Capacity(medium::kDvdPlusRDl);  // 90 minutes; a dual-layer DVD
  if (sectors <= 0 || sectors > limit) {
    ::close(in);
    if (error) *error = isoPath + (sectors <= 0 ? " is empty" : " does not fit on a " + medium);
    return false;
  }
  DiscModel m;
  m.profile = cd ? 8 : 16;
  m.pressed = true;
  m.finalized = true;
  m.closedSessions = 1;
  m.capacity = int32_t(sectors);
  m.tracks = {DiscTrack{1, 1, 0, int32_t(sectors), int32_t(sectors), Mode::Mode1, true, false}};
  NewDisc disc(statePath);
  if (!disc.Start(m, medium, error)) {
    ::close(in);
    return false;
  }
  VirtualRecorder r;
  if (!r.Open(disc.part(), error)) {
    ::close(in);
    return false;
  }
  r.model_ = m;
  r.medium_ = medium;
  // The image is read and the disc written a piece at a time: one read and
  // one write for many sectors, the disk starting on each as it is done.
  constexpr int64_t kPieceSectors = 256;
  std::vector<uint8_t> user(size_t(kPieceSectors) * 2048), raw(cd ? size_t(kPieceSectors) * 2352 : 0);
  for (int64_t first = 0; first < sectors; first += kPieceSectors) {
    const int64_t n = std::min(kPieceSectors, sectors - first);
    const size_t wanted = size_t(std::min<int64_t>(n * 2048, int64_t(st.st_size) - first * 2048));
    std::fill(user.begin(), user.begin() + n * 2048, 0);  // the last sector's tail is zeros
    errno = 0;
    if (!safefile::PreadAll(in, user.data(), wanted, off_t(first) * 2048)) {
      ::close(in);
      if (error) *error = "cannot read " + isoPath + ": " + (errno ? std::strerror(errno) : "it ended early");
      return false;
    }
    const uint8_t* out = user.data();
    if (cd) {
      for (int64_t i = 0; i < n; ++i)
        cdsector::Encode(int32_t(first + i), Mode::Mode1, user.data() + i * 2048, raw.data() + i * 2352);
      out = raw.data();
    }
    if (!r.StoreSlots(int32_t(first), out, uint32_t(n))) {
      ::close(in);
      return disc.Fail(statePath, error);
    }
  }
  ::close(in);
  return disc.Finish(r.Save() && r.FlushStore(), error);
}

bool VirtualRecorder::CreatePressedAudio(const std::string& statePath, const std::vector<AudioTrack>& tracks,
                                         const std::string& albumTitle, const std::string& albumPerformer,
                                         std::string* error) {
  if (tracks.empty() || tracks.size() > 99) {
    if (error) *error = "an audio CD has 1 to 99 tracks";
    return false;
  }
  std::vector<WavInfo> infos;
  int64_t total = 0;
  for (const auto& t : tracks) {
    WavInfo w;
    std::string why;
    if (!ReadWavInfo(t.wavPath, w, &why) || w.dataSize == 0) {
      if (error) *error = t.wavPath + ": " + (why.empty() ? "no audio data" : why);
      return false;
    }
    infos.push_back(w);
    total += (int64_t(w.dataSize) + 2351) / 2352;
  }
  if (total > 405000) {
    if (error) *error = "the tracks do not fit on a CD";
    return false;
  }
  DiscModel m;
  m.profile = 8;
  m.pressed = true;
  m.finalized = true;
  m.closedSessions = 1;
  int32_t at = 0;
  for (size_t i = 0; i < tracks.size(); ++i) {
    int32_t n = int32_t((int64_t(infos[i].dataSize) + 2351) / 2352);
    m.tracks.push_back(DiscTrack{int(i) + 1, 1, at, n, n, Mode::Audio, true, false});
    at += n;
  }
  m.capacity = at;
  std::vector<std::vector<std::string>> texts(2, std::vector<std::string>(tracks.size() + 1));
  texts[0][0] = albumTitle;
  texts[1][0] = albumPerformer;
  for (size_t i = 0; i < tracks.size(); ++i) {
    texts[0][i + 1] = tracks[i].title;
    texts[1][i + 1] = tracks[i].performer;
  }
  m.cdText = BuildCdTextPacks(texts);
  NewDisc disc(statePath);
  if (!disc.Start(m, "audio", error)) return false;
  VirtualRecorder r;
  if (!r.Open(disc.part(), error)) return false;
  r.model_ = m;
  r.medium_ = "audio";
  std::vector<uint8_t> pcm(2352);
  for (size_t i = 0; i < tracks.size(); ++i) {
    std::string why;
    int fd = safefile::OpenForReading(tracks[i].wavPath, &why);
    if (fd < 0) {
      if (error) *error = "cannot read " + why;
      return false;
    }
    const DiscTrack& t = m.tracks[i];
    for (int32_t s = 0; s < t.size; ++s) {
      std::fill(pcm.begin(), pcm.end(), 0);
      uint64_t off = uint64_t(s) * 2352;
      uint64_t want = std::min<uint64_t>(2352, infos[i].dataSize - off);
      if (pread(fd, pcm.data(), want, off_t(infos[i].dataOffset + off)) < 0) {
        ::close(fd);
        if (error) *error = "cannot read " + tracks[i].wavPath;
        return false;
      }
      if (!r.WriteStored(t.start + s, pcm.data(), 2352)) {
        ::close(fd);
        return disc.Fail(statePath, error);
      }
    }
    ::close(fd);
  }
  return disc.Finish(r.Save() && r.FlushStore(), error);
}

bool VirtualRecorder::CreatePressedImage(const std::string& statePath, const std::string& sheetPath,
                                         std::string* error) {
  ImageFileDevice image;
  std::string why;
  if (LocalSheetFiles().sizeOf(sheetPath) <= 0) {
    if (error) *error = sheetPath + ": no such image";
    return false;
  }
  if (!image.Open(sheetPath, &why)) {
    if (error) *error = why;
    return false;
  }
  DiscModel m = image.Model();
  if (!medium::IsCd(m.profile)) {
    if (error) *error = sheetPath + " is no CD image";
    return false;
  }
  NewDisc disc(statePath);
  if (!disc.Start(m, "audio", error)) return false;
  VirtualRecorder r;
  if (!r.Open(disc.part(), error)) return false;
  r.model_ = m;
  r.medium_ = "audio";
  // Every sector as a drive reads it from the image, pre-gaps included.
  std::vector<uint8_t> raw(2352);
  for (int32_t lba = 0; lba < m.capacity; ++lba) {
    if (!image.TrackAt(lba) && !image.PregapTrack(lba)) continue;
    ScsiCommand c;
    c.cdb[0] = mmc::kReadCd;
    bytes::PutBE32(c.cdb + 2, uint32_t(lba));
    c.cdb[8] = 1;
    c.cdb[9] = 0xF8;
    c.direction = ScsiCommand::kIn;
    c.data = raw.data();
    c.dataLength = 2352;
    if (!image.Execute(c) || c.status != 0 || c.transferred != 2352) {
      if (error) *error = sheetPath + ": sector " + std::to_string(lba) + " cannot be read";
      return false;
    }
    if (!r.WriteStored(lba, raw.data(), 2352)) return disc.Fail(statePath, error);
  }
  return disc.Finish(r.Save() && r.FlushStore(), error);
}

// ---- export -----------------------------------------------------------------------

// Exports are written beside their place and renamed into place when complete.
bool VirtualRecorder::ExportIso(const std::string& isoPath, std::string* error, Existing existing) {
  OutputFile out;
  if (!out.Open(isoPath, existing)) {
    if (error) *error = out.Error();
    return false;
  }
  const int fd = out.fd();
  int64_t end = 0;
  std::vector<uint8_t> user(2048);
  bool overwrite = medium::IsOverwritable(model_.profile);
  auto put = [&](int32_t lba, const uint8_t* sector) {
    if (std::all_of(sector, sector + 2048, [](uint8_t b) { return b == 0; })) return true;
    if (out.WriteAt(sector, 2048, off_t(lba) * 2048)) return true;
    if (error) *error = out.Error();
    return false;
  };
  for (const DiscTrack& t : model_.tracks) {
    if (t.IsAudio()) continue;
    int32_t count = overwrite ? t.size : t.closed ? t.size : t.recorded;
    if (overwrite) {
      // A whole formatted disc is mostly never written: only the parts of
      // the sector file that hold data are read, in runs.
      if (!ExportStoredRuns(t.start, count, put)) return false;
    } else {
      for (int32_t i = 0; i < count; ++i) {
        if (!ReadUser2048(t.start + i, user.data())) continue;  // a form 2 sector has no 2048-byte form
        if (!put(t.start + i, user.data())) return false;
      }
    }
    end = std::max<int64_t>(end, int64_t(t.start) + count);
  }
  if (::ftruncate(fd, off_t(end) * 2048) != 0) {
    if (error) *error = out.partial() + ": " + OutputErrorText(errno);
    return false;
  }
  if (!out.Commit()) {
    if (error) *error = out.Error();
    return false;
  }
  return true;
}

bool VirtualRecorder::ExportStoredRuns(int32_t start, int32_t count,
                                       const std::function<bool(int32_t, const uint8_t*)>& put) {
  constexpr int32_t kRun = 256;
  std::vector<uint8_t> run(size_t(kRun) * 2048);
  const off_t last = off_t(start + count) * 2048;
  for (off_t at = off_t(start) * 2048; at < last;) {
    off_t data = lseek(sectorFd_, at, SEEK_DATA);
    if (data < 0) {
      if (errno == ENXIO) break;  // nothing written beyond
      data = at;                  // a file system that cannot tell: read it all
    }
    if (data >= last) break;
    off_t hole = lseek(sectorFd_, data, SEEK_HOLE);
    if (hole < 0 || hole <= data) hole = last;
    int32_t lba = int32_t(data / 2048);
    const int32_t stop = int32_t(std::min<off_t>(last, (hole + 2047) / 2048 * 2048) / 2048);
    while (lba < stop) {
      const int32_t n = std::min(kRun, stop - lba);
      ssize_t got = pread(sectorFd_, run.data(), size_t(n) * 2048, off_t(lba) * 2048);
      if (got < 0) got = 0;
      std::memset(run.data() + got, 0, size_t(n) * 2048 - size_t(got));
      for (int32_t i = 0; i < n; ++i)
        if (!put(lba + i, run.data() + size_t(i) * 2048)) return false;
      lba += n;
    }
    at = off_t(stop) * 2048;
  }
  return true;
}

bool VirtualRecorder::ExportBinCue(const std::string& cuePath, std::string* error, Existing existing) {
  return ExportBinSheet(cuePath, false, error, existing);
}

bool VirtualRecorder::ExportBinToc(const std::string& tocPath, std::string* error, Existing existing) {
  return ExportBinSheet(tocPath, true, error, existing);
}

bool VirtualRecorder::ExportBinSheet(const std::string& cuePath, bool toc, std::string* error, Existing existing) {
  const std::string binPath = bincue::BinPathFor(cuePath);
  // The BIN file is named after the cue sheet, not by the user: it is held
  // to the same rule before anything is written.
  for (const std::string& place : {cuePath, binPath}) {
    if (std::string inTheWay = OutputInTheWay(place, existing); !inTheWay.empty()) {
      if (error) *error = place + ": " + inTheWay;
      return false;
    }
  }
  std::string binName = binPath.substr(binPath.find_last_of('/') == std::string::npos ? 0 : binPath.find_last_of('/') + 1);
  const std::vector<const DiscTrack*> tracks = bincue::RecordedTracks(model_);
  if (tracks.empty()) {
    if (error) *error = "the disc is blank: nothing to export";
    return false;
  }
  if (toc && tracks.back()->session > 1) {
    if (error) *error = "a TOC file describes one session, and the disc has " + std::to_string(tracks.back()->session) +
                        ": export it with --cue";
    return false;
  }
  OutputFile bin, cueFile;
  if (!bin.Open(binPath, existing) || !cueFile.Open(cuePath, existing)) {
    if (error) *error = bin.is_open() ? cueFile.Error() : bin.Error();
    return false;
  }
  const int fd = bin.fd();
  const bool cd = medium::IsCd(model_.profile);
  // The file is the disc from LBA 0: sector n at byte n * 2352, gaps between
  // tracks and sessions filled with empty sectors of the following track.
  bool ok = bincue::WriteGaps(fd, model_, tracks,
                              [&](int32_t lba, uint8_t* raw) { return cd && ReadStored(lba, raw) == 2352; });
  for (const DiscTrack* t : tracks) ok = ok && WriteBinTrackData(fd, *t, t->End() - t->start, cd);
  if (!ok) {
    if (error) *error = bin.partial() + ": " + OutputErrorText(errno);
    return false;
  }
  const std::string sheet = toc ? bincue::TocText(model_, tracks, binName) : bincue::SheetText(model_, tracks, binName);
  if (!cueFile.Write(sheet) || !bin.Commit()) {
    if (error) *error = bin.Error().empty() ? cueFile.Error() : bin.Error();
    return false;
  }
  if (!cueFile.Commit()) {
    if (error) *error = cueFile.Error();
    // A sheet that cannot be put in place leaves no BIN file of ours behind it.
    if (existing == Existing::kKeep) ::unlink(binPath.c_str());
    return false;
  }
  return true;
}

// The recorded sectors of a track, raw: CD sectors as stored, DVD and BD
// sectors encoded as Mode 1.
bool VirtualRecorder::WriteBinTrackData(int fd, const DiscTrack& t, int32_t count, bool cd) {
  uint8_t raw[2352], user[2352];
  for (int32_t i = 0; i < count; ++i) {
    int32_t lba = t.start + i;
    if (cd) {
      if (i >= t.recorded && !t.closed) break;
      if (!ReadRaw(lba, raw)) std::memset(raw, 0, sizeof raw);
    } else {
      int n = ReadStored(lba, user);
      if (n != 2048) std::memset(user, 0, 2048);
      cdsector::Encode(lba, Mode::Mode1, user, raw);
    }
    if (!safefile::PwriteAll(fd, raw, 2352, off_t(lba) * 2352)) return false;
  }
  return true;
}
