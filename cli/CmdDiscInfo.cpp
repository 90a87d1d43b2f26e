// varnex-cli disc-info --drive D: the disc status line of the main window and
// what lies behind it: medium, state, blank, writable, free bytes and speeds.
#include <algorithm>
#include <cstdio>
#include <vector>

#include "ByteFields.h"
#include "foundation/LangText.h"
#include "authoring/CAnaly_UDF.h"
#include "cli/CliCommand.h"
#include "cli/CliDrive.h"
#include "MmcCommands.h"
#include "SectorSizes.h"

namespace {

std::string Text(int id, const char* fallback) {
  std::string t = LoadLangText("UIText", id);
  return t.empty() ? fallback : t;
}

bool IsBlank(CDevCmdRW& d, int medium) {
  if (d.GetDeviceID() == 0) return false;
  if (::medium::IsOverwritable(medium)) {
    // Overwritable discs have no blank state: look for anything at the places
    // file systems start. READ(10), which DVD and BD drives answer.
    uint8_t sector[kDataSectorSize];
    for (uint32_t lba : {16u, 256u, 512u}) {
      std::fill(sector, sector + kDataSectorSize, 0);
      if (d.ReadCD_10(sector, kDataSectorSize, 1, lba) != DEV_OK) continue;  // unreadable: never written
      if (std::any_of(sector, sector + kDataSectorSize, [](uint8_t b) { return b != 0; })) return false;
    }
    return true;
  }
  DISC_INFO di;
  return d.ReadDiscInfo(di) == DEV_OK && di.DiscStatus == 0;
}

// The drive's 2048-byte sectors for the UDF reader.
class DriveSectors : public UdfSectorSource {
 public:
  explicit DriveSectors(CDevCmdRW& d) : d_(d) {}
  bool ReadSectors(uint32_t sector, uint32_t count, uint8_t* out) override {
    for (uint32_t i = 0; i < count; ++i)
      if (d_.ReadCD_10(out + size_t(i) * kDataSectorSize, kDataSectorSize, 1, sector + i) != DEV_OK) return false;
    return true;
  }
  uint64_t SectorCount() const override {
    uint32_t last = 0;
    return d_.ReadCapacity(last) == DEV_OK ? uint64_t(last) + 1 : 0;
  }

 private:
  CDevCmdRW& d_;
};

// The last sector any file's data reaches.
struct LastDataSector : UdfWalkListener {
  uint32_t last = 0;
  bool Entry(const UdfEntry& e) override {
    for (const auto& [sector, bytes] : e.sectors)
      if (bytes > 0)
        last = std::max<uint32_t>(last, sector + uint32_t((bytes + kDataSectorSize - 1) / kDataSectorSize) - 1);
    return true;
  }
};

// Blocks the UDF volume of a session uses, counted from the session's start;
// 0 when it cannot be read.
uint32_t UdfUsedBlocks(CDevCmdRW& d, uint32_t sessionStart) {
  DriveSectors source(d);
  CAnaly_UDF udf;
  LastDataSector data;
  if (!udf.Open(&source, sessionStart, CAnaly_UDF::kImport) || !udf.Walk(&data)) return 0;
  uint32_t highest = std::max(udf.HighestSector(), data.last);
  return highest >= sessionStart ? highest - sessionStart + 1 : 0;
}

uint32_t FreeSectors(CDevCmdRW& d, int medium) {
  uint32_t blank = 0;
  if (d.GetBlackDiscCapacity(blank) != DEV_OK) return 0;
  if (medium == ::medium::kCdR || medium == ::medium::kCdRw) return blank;
  DISC_INFO di;
  if (d.ReadDiscInfo(di) != DEV_OK) return blank;
  if (di.DiscStatus == 0 || di.SessionCount >= 2) return blank;
  uint32_t formatted = 0;
  if (!d.JudgeIsFormated(formatted)) return blank;
  if (medium == ::medium::kDvdRwRo || medium == ::medium::kDvdRwSeq || medium == ::medium::kDvdRwUnknown) blank = formatted;
  TRACK_INFO ti;
  int track = di.FirstTrackLastSession;
  if (d.ReadTrackInfo(ti, track) != DEV_OK) return 0;
  if (ti.TrackMode < 4) return 0;
  int fs = d.JudgeFileSystem(ti.TrackStart);
  if (fs == 1) return 0;
  if (fs >= 2) {
    uint32_t used = UdfUsedBlocks(d, ti.TrackStart);
    if (used == 0) return 0;
    return blank > used + 1 ? blank - (used + 1) : 0;
  }
  return blank;
}

struct Speeds {
  int curRead = 0, curWrite = 0, maxRead = 0, maxWrite = 0, lowWrite = 0, secondWrite = 0;
};

bool ReadSpeeds(CDevCmdRW& d, int medium, Speeds& s) {
  int unit = (medium == ::medium::kCdR || medium == ::medium::kCdRw) ? 176 : 1385;
  std::vector<uint8_t> page(1024);
  CAPABILITIES_PAGE caps;
  if (d.ModeSense(page.data(), int(page.size()), mmc::kPageCapabilities) != DEV_OK ||
      !caps.Parse(page.data(), page.size()))
    return false;
  s.curRead = caps.CurrentReadSpeed;
  s.curWrite = caps.CurrentWriteSpeed;
  s.maxRead = caps.MaxReadSpeed;
  const CAPABILITIES_PAGE::SpeedChoice choice = caps.WriteSpeedChoice(uint16_t(unit));
  s.maxWrite = choice.Max;
  s.lowWrite = choice.Low;
  s.secondWrite = choice.Second;
  return true;
}

int RunDiscInfo(const CliArgs& args) {
  CliOptions opt(args, {"--drive"}, {});
  if (!opt.ok() || !opt.Has("--drive")) return CliFail(cliresult::kBadArguments, opt.ok() ? "disc-info needs --drive D" : opt.error());
  CliDrive drive;
  int status = 0;
  if (!OpenCliDrive(opt.Value("--drive"), drive, status)) return status;
  CDevCmdRW& d = *drive.device;
  if (d.TestUnitReady() != DEV_OK) {
    const std::string sense = SenseText(d.GetLastSense());
    std::printf("%s\n", Text(2, "No disc information").c_str());
    return CliFail(cliresult::kNotReady, d.GetDevicePath() + ", " + sense);
  }
  int medium = d.GetMediumType();
  bool blank = IsBlank(d, medium);
  // Writable means a burn can add to the disc as it is: not pressed, closed
  // or left unfinished by a stopped burn.
  DISC_INFO di;
  const bool known = d.ReadDiscInfo(di) == DEV_OK;
  const ::medium::DiscState state =
      ::medium::StateOf(medium, blank, known ? di.DiscStatus : 0, known ? di.LastSessionState : 0);
  bool writable = ::medium::TakesData(state);
  uint64_t freeBytes = writable ? uint64_t(FreeSectors(d, medium)) * kDataSectorSize : 0;
  const char* name = ::medium::Name(medium);
  std::string line = (name ? std::string(name) : Text(3, "Unknown")) + " " +
                     (blank ? Text(4, "Blank") : Text(5, "Not blank")) + " " +
                     (writable ? Text(6, "Writable") : Text(7, "Not writable")) + " " + Text(8, "Free:") +
                     std::to_string(freeBytes / 1024 / 1024) + "M";
  std::printf("%s\n", line.c_str());
  std::printf("medium: %d (%s)\n", medium, name ? name : "unknown");
  std::printf("state: %s\n", ::medium::StateKey(state));
  std::printf("blank: %s\nwritable: %s\nfree bytes: %llu\n", blank ? "yes" : "no", writable ? "yes" : "no",
              (unsigned long long)freeBytes);
  Speeds s;
  if (ReadSpeeds(d, medium, s))
    std::printf("speeds (kB/s): read %d, write %d, maximum read %d, maximum write %d, lowest write %d, second-highest write %d\n",
                s.curRead, s.curWrite, s.maxRead, s.maxWrite, s.lowWrite, s.secondWrite);
  else
    std::printf("speeds: the drive gives no capabilities page\n");
  return 0;
}

CliCommand reg{"disc-info", "disc-info --drive D", &RunDiscInfo};

}  // namespace
