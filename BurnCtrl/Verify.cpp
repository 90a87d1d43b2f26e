// Reading a disc back after a burn and comparing it with what was sent.

#include "BurnCtrl/Verify.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>

#include "BurnCtrl/RecorderCommands.h"
#include "BurnCtrl/Results.h"
#include "CDevCmdRW.h"

namespace {

constexpr int kAudioShift = 5;        // sectors either way
constexpr uint64_t kUnread = 0;       // the digest of a sector that could not be read
constexpr uint32_t kRawSize = 2352;

inline uint64_t Rotl(uint64_t v, int r) { return (v << r) | (v >> (64 - r)); }
constexpr uint64_t kP1 = 0x9E3779B185EBCA87ull, kP2 = 0xC2B2AE3D27D4EB4Full, kP3 = 0x165667B19E3779F9ull;

inline uint64_t Load64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  return v;
}

// A sector's bytes in the form they were written, for a sector size.
uint32_t StoredSize(uint32_t size) { return size > kRawSize ? kRawSize : size; }

struct TrackSpan {
  int number = 0;
  bool audio = false;
  int64_t start = 0, end = 0;  // [start, end)
};

std::vector<TrackSpan> ReadTracks(CDevCmdROM& drive) {
  std::vector<TrackSpan> spans;
  TocData toc;
  if (drive.GetTocData(toc) != DEV_OK) return spans;
  for (size_t i = 0; i < toc.Data.size(); ++i) {
    const auto& d = toc.Data[i];
    if (d.TrackNo == 0 || d.TrackNo > 99) continue;
    TrackSpan s;
    s.number = d.TrackNo;
    s.audio = !d.IsData();
    s.start = TocAddressToLba(d.Addr);
    s.end = i + 1 < toc.Data.size() && toc.Data[i + 1].TrackNo <= 99 ? TocAddressToLba(toc.Data[i + 1].Addr)
                                                                       : TocAddressToLba(toc.LeadOut);
    if (s.end < s.start) s.end = INT64_MAX;  // a lead-out the drive left out
    spans.push_back(s);
  }
  return spans;
}

const TrackSpan* SpanOf(const std::vector<TrackSpan>& spans, int64_t lba) {
  for (const TrackSpan& s : spans)
    if (lba >= s.start && lba < s.end) return &s;
  return nullptr;
}

// Reads `count` sectors of one written form at `lba` into `out`, each
// `size` bytes as they were written.
uint32_t ReadForm(CDevCmdROM& drive, uint32_t lba, uint32_t count, uint32_t size, std::vector<uint8_t>& raw,
                  uint8_t* out) {
  if (size == 2048) return drive.ReadCD_10(out, int(count * 2048), int(count), lba);
  raw.resize(size_t(count) * kRawSize);
  const uint32_t s = drive.ReadCD_All(raw.data(), int(raw.size()), int(count), lba);
  if (s != DEV_OK) return s;
  const uint32_t skip = kRawSize - size;  // 2336: the raw sector after its sync and header
  for (uint32_t i = 0; i < count; ++i) std::memcpy(out + size_t(i) * size, raw.data() + size_t(i) * kRawSize + skip, size);
  return DEV_OK;
}

// Where the read-back of one track segment first parts from what was
// written, at the read-back shifted by `shift` sectors; -1 when nowhere.
// `compared` receives the sectors that both sides hold.
int64_t FirstDifference(const std::vector<uint64_t>& written, const std::vector<uint64_t>& read, size_t from,
                        size_t to, int shift, size_t* compared, size_t* matching) {
  int64_t first = -1;
  *compared = *matching = 0;
  for (size_t j = from; j < to; ++j) {
    const int64_t k = int64_t(j) + shift;
    if (k < int64_t(from) || k >= int64_t(to)) continue;
    ++*compared;
    if (read[size_t(k)] == written[j]) ++*matching;
    else if (first < 0) first = int64_t(j);
  }
  return first;
}

struct StatusSlot {
  std::mutex lock;
  bool running = false;
  VerifyProgress progress;
  std::atomic<bool> stop{false};
};

std::mutex gSlotsLock;
std::map<int, std::shared_ptr<StatusSlot>> gSlots;

std::shared_ptr<StatusSlot> Slot(int index) {
  std::lock_guard<std::mutex> hold(gSlotsLock);
  auto& s = gSlots[index];
  if (!s) s = std::make_shared<StatusSlot>();
  return s;
}

}  // namespace

bool DiscGone(const CDevCmdROM& drive, uint32_t status) {
  if (status == DEV_TRANSPORT_FAILED) return true;
  return status == DEV_CHECK_CONDITION && drive.GetSenseKey() == 2;
}

std::string SenseCode(const CDevCmdROM& drive) {
  char text[16];
  std::snprintf(text, sizeof text, "%X/%02X/%02X", drive.GetSenseKey(), drive.GetASC(), drive.GetASCQ());
  return text;
}

uint64_t SectorDigest(const uint8_t* data, size_t size) {
  // Four lanes over 32-byte stripes, then the tail: a sector is hashed at
  // memory speed, so the digests cost the burn nothing it notices.
  uint64_t lane[4] = {kP1 + kP2, kP2, 0, 0 - kP1};
  size_t i = 0;
  for (; i + 32 <= size; i += 32)
    for (int l = 0; l < 4; ++l) lane[l] = Rotl(lane[l] + Load64(data + i + 8 * l) * kP2, 31) * kP1;
  uint64_t h = Rotl(lane[0], 1) + Rotl(lane[1], 7) + Rotl(lane[2], 12) + Rotl(lane[3], 18) + size;
  for (; i < size; ++i) h = Rotl(h ^ (data[i] * kP3), 11) * kP1;
  h ^= h >> 33;
  h *= kP2;
  h ^= h >> 29;
  h *= kP3;
  h ^= h >> 32;
  return h == kUnread ? 1 : h;
}

WrittenRecord::Run* WrittenRecord::RunHolding(uint32_t lba, uint32_t size) {
  for (Run& r : runs_)
    if (r.sectorSize == size && lba >= r.start && lba <= r.End()) return &r;
  return nullptr;
}

void WrittenRecord::Add(uint32_t lba, const uint8_t* data, uint32_t bytes, uint32_t sectors) {
  if (!data || sectors == 0 || bytes % sectors) return;
  const uint32_t size = bytes / sectors, kept = StoredSize(size);
  std::vector<uint64_t> digests(sectors);
  for (uint32_t i = 0; i < sectors; ++i) digests[i] = SectorDigest(data + size_t(i) * size, kept);
  std::lock_guard<std::mutex> hold(lock_);
  for (uint32_t i = 0; i < sectors; ++i) {
    const uint32_t at = lba + i;
    if (int32_t(at) < 0) continue;  // the lead-in and the pre-gap before sector 0 are no one's data
    Run* r = !runs_.empty() && runs_.back().sectorSize == kept && runs_.back().End() == at ? &runs_.back()
                                                                                            : RunHolding(at, kept);
    if (!r) {
      runs_.push_back(Run{at, kept, {}});
      r = &runs_.back();
    }
    if (at == r->End()) r->digests.push_back(digests[i]);
    else r->digests[at - r->start] = digests[i];
  }
}

std::vector<WrittenRecord::Run> WrittenRecord::Runs() const {
  std::lock_guard<std::mutex> hold(lock_);
  std::vector<Run> runs = runs_;
  std::sort(runs.begin(), runs.end(), [](const Run& a, const Run& b) { return a.start < b.start; });
  return runs;
}

uint64_t WrittenRecord::Sectors() const {
  std::lock_guard<std::mutex> hold(lock_);
  uint64_t n = 0;
  for (const Run& r : runs_) n += r.digests.size();
  return n;
}

WriteRecording::WriteRecording(CDevCmdRW* drive) : drive_(drive), record_(std::make_shared<WrittenRecord>()) {
  if (!drive_) return;
  std::shared_ptr<WrittenRecord> record = record_;
  drive_->SetWriteWatcher([record](uint32_t lba, const uint8_t* data, uint32_t bytes, uint32_t sectors) {
    record->Add(lba, data, bytes, sectors);
  });
}

WriteRecording::~WriteRecording() {
  if (drive_) drive_->SetWriteWatcher(nullptr);
}

namespace {

// One run read back, block by block: the digest of every sector as the disc
// gives it (kUnread where it cannot). False, with the outcome's state and
// why, when the read-back ends early (stopped, disc gone).
struct RunReader {
  CDevCmdROM& drive;
  const VerifyOptions& options;
  uint32_t block;
  std::chrono::steady_clock::time_point began;
  VerifyProgress progress;
  uint64_t bytes = 0;
  std::vector<uint8_t> buf, raw;

  bool Gone(uint32_t status, VerifyOutcome& out) {
    if (status == DEV_OK || !DiscGone(drive, status)) return false;
    out.why = "the disc could not be read back (" + SenseCode(drive) + ")";
    return true;
  }

  bool Read(const WrittenRecord::Run& run, std::vector<uint64_t>& read, VerifyOutcome& out) {
    const uint32_t size = run.sectorSize;
    read.assign(run.digests.size(), kUnread);
    buf.resize(size_t(block) * size);
    for (uint32_t done = 0; done < run.digests.size();) {
      if (options.stopped && options.stopped()) {
        out.state = VerifyOutcome::kStopped;
        out.why = "stopped";
        return false;
      }
      const uint32_t n = std::min<uint32_t>(block, uint32_t(run.digests.size()) - done);
      const uint32_t s = ReadForm(drive, run.start + done, n, size, raw, buf.data());
      if (Gone(s, out)) return false;
      if (s == DEV_OK) {
        for (uint32_t i = 0; i < n; ++i) read[done + i] = SectorDigest(buf.data() + size_t(i) * size, size);
      } else {
        // The block failed: sector by sector, so that only the sectors that
        // cannot be read count as such.
        for (uint32_t i = 0; i < n; ++i) {
          const uint32_t one = ReadForm(drive, run.start + done + i, 1, size, raw, buf.data());
          if (Gone(one, out)) return false;
          if (one == DEV_OK) read[done + i] = SectorDigest(buf.data(), size);
        }
      }
      done += n;
      Advance(n, size);
    }
    return true;
  }

  void Advance(uint32_t sectors, uint32_t size) {
    bytes += uint64_t(sectors) * size;
    progress.done += sectors;
    const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    progress.bytesPerSecond = secs > 0 ? double(bytes) / secs : 0;
    progress.secondsLeft = progress.done ? secs * double(progress.total - progress.done) / double(progress.done) : 0;
    if (options.progress) options.progress(progress);
  }
};

// The verdict on the sectors [from, to) of a run, which lie in one track.
TrackVerdict Judge(const WrittenRecord::Run& run, const std::vector<uint64_t>& read, size_t from, size_t to,
                   const TrackSpan* span) {
  TrackVerdict v;
  v.number = span ? span->number : 0;
  v.audio = span ? span->audio : false;
  size_t compared = 0, matching = 0;
  int64_t first = FirstDifference(run.digests, read, from, to, 0, &compared, &matching);
  if (v.audio && first >= 0) {
    // The alignment that matches most; at a tie the one nearest zero.
    int best = 0;
    size_t bestMatching = matching;
    for (int d = 1; d <= kAudioShift; ++d)
      for (int shift : {-d, d}) {
        size_t c = 0, m = 0;
        FirstDifference(run.digests, read, from, to, shift, &c, &m);
        if (m > bestMatching) best = shift, bestMatching = m;
      }
    first = FirstDifference(run.digests, read, from, to, best, &compared, &matching);
    v.shift = best;
    if (first >= 0 && matching * 2 < compared) {
      v.state = TrackVerdict::kNotComparable;
      return v;
    }
  }
  if (first >= 0) {
    v.firstBad = int64_t(run.start) + first;
    const int64_t readAt = first + (v.audio ? v.shift : 0);
    v.state = read[size_t(readAt)] == kUnread ? TrackVerdict::kUnreadable : TrackVerdict::kMismatch;
  }
  return v;
}

}  // namespace

VerifyOutcome VerifyWritten(CDevCmdROM& drive, const WrittenRecord& written, const VerifyOptions& options) {
  VerifyOutcome out;
  const std::vector<WrittenRecord::Run> runs = written.Runs();
  RunReader reader{drive, options, std::max<uint32_t>(1, std::min<uint32_t>(options.block, 64)),
                   std::chrono::steady_clock::now(), {}};
  for (const auto& r : runs) reader.progress.total += r.digests.size();
  if (reader.progress.total == 0) {
    out.why = "nothing was written";
    return out;
  }
  if (drive.TestUnitReady() != DEV_OK) {
    out.why = "the drive holds no readable disc (" + SenseCode(drive) + ")";
    return out;
  }
  const std::vector<TrackSpan> spans = ReadTracks(drive);
  bool anyCompared = false;
  std::vector<uint64_t> read;
  for (const WrittenRecord::Run& run : runs) {
    if (!reader.Read(run, read, out)) return out;
    // The run split at its tracks' bounds; a run the table of contents does
    // not cover is one piece of unknown track.
    for (size_t from = 0; from < run.digests.size();) {
      const TrackSpan* span = SpanOf(spans, int64_t(run.start) + int64_t(from));
      size_t to = run.digests.size();
      if (span && span->end - int64_t(run.start) < int64_t(to)) to = size_t(span->end - int64_t(run.start));
      const TrackVerdict v = Judge(run, read, from, to, span);
      anyCompared = anyCompared || v.state != TrackVerdict::kNotComparable;
      if (v.firstBad >= 0 && out.firstBad < 0) {
        out.state = v.state == TrackVerdict::kUnreadable ? VerifyOutcome::kUnreadable : VerifyOutcome::kMismatch;
        out.firstBad = v.firstBad;
        out.track = v.number;
        out.audio = v.audio;
      }
      out.sectors += to - from;
      out.tracks.push_back(v);
      from = to;
    }
  }
  if (out.firstBad < 0) {
    out.state = anyCompared ? VerifyOutcome::kVerified : VerifyOutcome::kNotVerified;
    if (!anyCompared) out.why = "no track could be compared (the drive's read offset is not a whole sector)";
  } else if (!out.audio && options.ownerOf) {
    out.file = options.ownerOf(uint32_t(out.firstBad));
  }
  out.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - reader.began).count();
  return out;
}

std::string LbaMsf(int64_t lba) {
  const int64_t f = lba + 150;
  char text[32];
  if (f < 0) return std::to_string(lba);
  std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld", static_cast<long long>(f / 4500),
                static_cast<long long>(f / 75 % 60), static_cast<long long>(f % 75));
  return text;
}

std::string VerifyText(const VerifyOutcome& o) {
  std::string text;
  switch (o.state) {
    case VerifyOutcome::kVerified:
      text = "verified (" + std::to_string(o.sectors) + " sectors)";
      break;
    case VerifyOutcome::kNotVerified:
      return "not verified: " + o.why;
    case VerifyOutcome::kStopped:
      return "not verified: the read-back was stopped";
    case VerifyOutcome::kMismatch:
    case VerifyOutcome::kUnreadable:
      text = "verification failed: sector " + std::to_string(o.firstBad) + " (" + LbaMsf(o.firstBad) + ") " +
             (o.state == VerifyOutcome::kMismatch ? "differs from what was written" : "cannot be read");
      if (o.track) text += ", " + std::string(o.audio ? "audio " : "") + "track " + std::to_string(o.track);
      // The owner is a file's path, or says itself what it is (a folder, the
      // directory area).
      if (!o.file.empty())
        text += (o.file.rfind("the ", 0) == 0 || o.file.rfind("folder ", 0) == 0 ? ", in " : ", file ") + o.file;
      break;
  }
  for (const TrackVerdict& t : o.tracks) {
    if (t.state == TrackVerdict::kNotComparable)
      text += "; track " + std::to_string(t.number) + " not comparable (no alignment within " +
              std::to_string(kAudioShift) + " sectors)";
    else if (t.audio && t.shift && t.state == TrackVerdict::kVerified)
      text += "; track " + std::to_string(t.number) + " read " + std::to_string(t.shift) + " sectors off";
  }
  return text;
}

int BurnAndVerify(int index, const std::function<int()>& burn, const VerifyOptions& options, VerifyOutcome* outcome) {
  VerifyOutcome local;
  VerifyOutcome& out = outcome ? *outcome : local;
  out = VerifyOutcome{};
  std::shared_ptr<Recorder> recorder = ShareRecorder(index);
  CDevCmdRW* device = recorder ? recorder->Device() : nullptr;
  if (!device) {
    const int r = burn();
    out.why = "this target cannot be read back";
    return r;
  }
  std::shared_ptr<StatusSlot> slot = Slot(index);
  slot->stop = false;
  int r;
  std::unique_ptr<WriteRecording> recording = std::make_unique<WriteRecording>(device);
  r = burn();
  if (r != result::kSuccess) {
    out.why = "the burn did not end well";
    return r;
  }
  {
    std::lock_guard<std::mutex> hold(slot->lock);
    slot->running = true;
    slot->progress = VerifyProgress{};
  }
  VerifyOptions o = options;
  o.stopped = [&] { return slot->stop.load() || (options.stopped && options.stopped()); };
  o.progress = [&](const VerifyProgress& p) {
    {
      std::lock_guard<std::mutex> hold(slot->lock);
      slot->progress = p;
    }
    if (options.progress) options.progress(p);
  };
  out = VerifyWritten(*device, recording->Record(), o);
  recording.reset();
  {
    std::lock_guard<std::mutex> hold(slot->lock);
    slot->running = false;
  }
  if (out.Failed()) return result::kVerifyFailed;
  if (out.state == VerifyOutcome::kStopped) return result::kVerifyStopped;
  return result::kSuccess;
}

VerifyStatus GetVerifyStatus(int index) {
  std::shared_ptr<StatusSlot> slot = Slot(index);
  std::lock_guard<std::mutex> hold(slot->lock);
  return VerifyStatus{slot->running, slot->progress};
}

void StopVerify(int index) {
  std::vector<std::shared_ptr<StatusSlot>> slots;
  {
    std::lock_guard<std::mutex> hold(gSlotsLock);
    for (auto& [i, s] : gSlots)
      if (index < 0 || i == index) slots.push_back(s);
  }
  for (auto& s : slots) s->stop = true;
}

VerifyOutcome VerifyImage(CDevCmdROM& drive, const std::string& imagePath, const VerifyOptions& options) {
  VerifyOutcome out;
  FILE* f = std::fopen(imagePath.c_str(), "rb");
  if (!f) {
    out.why = imagePath + " cannot be read";
    return out;
  }
  WrittenRecord record;
  std::vector<uint8_t> buf(64 * 2048);
  uint32_t lba = 0;
  bool whole = true;
  for (;;) {
    const size_t got = std::fread(buf.data(), 1, buf.size(), f);
    if (got % 2048) whole = false;
    if (got >= 2048) record.Add(lba, buf.data(), uint32_t(got / 2048 * 2048), uint32_t(got / 2048));
    lba += uint32_t(got / 2048);
    if (got < buf.size()) break;
  }
  const bool failed = std::ferror(f);
  std::fclose(f);
  if (failed) {
    out.why = imagePath + " cannot be read";
    return out;
  }
  if (!whole) {
    out.why = imagePath + " is no image of 2048-byte sectors (an ISO image)";
    return out;
  }
  return VerifyWritten(drive, record, options);
}
