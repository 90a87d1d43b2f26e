#pragma once
// Reading a disc back after a burn and comparing it with what was sent.
//
// While a burn runs, every sector the drive takes is digested as it passes
// (the drive's write watcher), so the source is never read twice: a 64-bit
// digest per sector, kept in runs of one sector size. Afterwards the same
// sectors are read from the disc in their written form (2048-byte user
// data, or raw 2352-byte sectors for audio and raw-written CDs) and digested
// again. The first sector whose digests differ, or that cannot be read, is
// the verdict's sector; the caller names the file that owns it.
//
// Audio tracks are compared per track after an alignment search: a drive
// reads audio a few samples early or late, so the read-back digests are
// tried at every whole-sector shift within kAudioShift; a track that lines
// up at no shift is "not comparable", never a mismatch.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class CDevCmdROM;
class CDevCmdRW;

// A fast digest of one sector's bytes (not for secrets: for telling a
// changed sector from the one that was sent).
uint64_t SectorDigest(const uint8_t* data, size_t size);

// What was written to one drive, sector by sector. Add is safe from any
// thread; a sector written twice keeps its last digest.
class WrittenRecord {
 public:
  struct Run {
    uint32_t start = 0;
    uint32_t sectorSize = 0;  // 2048, 2336 or 2352 (raw sectors with subchannel count as 2352)
    std::vector<uint64_t> digests;
    uint32_t End() const { return start + uint32_t(digests.size()); }
  };
  void Add(uint32_t lba, const uint8_t* data, uint32_t bytes, uint32_t sectors);
  std::vector<Run> Runs() const;
  uint64_t Sectors() const;

 private:
  Run* RunHolding(uint32_t lba, uint32_t size);
  mutable std::mutex lock_;
  std::vector<Run> runs_;
};

// Digests what `drive` is told to write for as long as it lives.
class WriteRecording {
 public:
  explicit WriteRecording(CDevCmdRW* drive);
  ~WriteRecording();
  WriteRecording(const WriteRecording&) = delete;
  WriteRecording& operator=(const WriteRecording&) = delete;
  const WrittenRecord& Record() const { return *record_; }

 private:
  CDevCmdRW* drive_;
  std::shared_ptr<WrittenRecord> record_;
};

struct VerifyProgress {
  uint64_t done = 0, total = 0;  // sectors
  double bytesPerSecond = 0;
  double secondsLeft = 0;
  int Percent() const { return total ? int(done * 100 / total) : 0; }
};

struct VerifyOptions {
  std::function<bool()> stopped;
  std::function<void(const VerifyProgress&)> progress;
  // The file of the disc that owns a sector ("" when none); asked once, for
  // the first bad sector of a data track.
  std::function<std::string(uint32_t lba)> ownerOf;
  // Sectors read at a time.
  uint32_t block = 32;
};

struct TrackVerdict {
  int number = 0;        // 0 when the disc has no table of contents to tell
  bool audio = false;
  enum State { kVerified, kMismatch, kUnreadable, kNotComparable } state = kVerified;
  int64_t firstBad = -1;  // LBA
  int shift = 0;          // audio: the sectors the drive reads late (+) or early (-)
};

struct VerifyOutcome {
  enum State {
    kVerified,     // every sector read back as it was sent
    kMismatch,     // a sector differs (firstBad)
    kUnreadable,   // a sector cannot be read (firstBad)
    kNotVerified,  // the disc could not be read back (gone, drive failed, nothing recorded); `why`
    kStopped,
  } state = kNotVerified;
  int64_t firstBad = -1;
  int track = 0;       // the track of firstBad (0: unknown)
  bool audio = false;  // firstBad lies in an audio track
  std::string file;    // the file owning firstBad ("" none or unknown)
  std::string why;
  std::vector<TrackVerdict> tracks;
  uint64_t sectors = 0;  // compared
  double seconds = 0;
  bool Failed() const { return state == kMismatch || state == kUnreadable; }
};

// Reads back every sector of `written` from `drive` and compares.
VerifyOutcome VerifyWritten(CDevCmdROM& drive, const WrittenRecord& written, const VerifyOptions& options);

// The outcome in words: "verified (1234 sectors)", "not verified: ...",
// "sector 4711 (00:62:61) differs, track 1, file a/b.txt".
std::string VerifyText(const VerifyOutcome& outcome);

// A drive that answers "not ready" or not at all no longer holds the disc
// it was reading: whoever reads it stops there and says why, rather than
// counting every sector left as unreadable.
bool DiscGone(const CDevCmdROM& drive, uint32_t status);
// The drive's last sense as "K/AS/AQ".
std::string SenseCode(const CDevCmdROM& drive);

// "MM:SS:FF" of an LBA, with the 150-sector offset of the CD time.
std::string LbaMsf(int64_t lba);

// Runs `burn` (a job writing to drive `index`) while digesting what it
// writes, then reads the disc back. The burn's own failure stands; a disc
// that differs gives result::kVerifyFailed, a stopped read-back
// kVerifyStopped; a disc that cannot be read back leaves the burn a success
// with the outcome kNotVerified. `outcome` (when given) receives the
// verdict. While it reads, GetVerifyStatus(index) shows its progress.
int BurnAndVerify(int index, const std::function<int()>& burn, const VerifyOptions& options,
                  VerifyOutcome* outcome);

struct VerifyStatus {
  bool running = false;
  VerifyProgress progress;
};
VerifyStatus GetVerifyStatus(int index);
// Stops a running read-back of drive `index` (every drive with -1).
void StopVerify(int index);

// Compares the disc in `drive` with an ISO image (2048-byte sectors, sector
// n of the image at LBA n): every sector of the image is read from the disc.
VerifyOutcome VerifyImage(CDevCmdROM& drive, const std::string& imagePath, const VerifyOptions& options);
