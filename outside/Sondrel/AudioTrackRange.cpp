#include "AudioTrackRange.h"

#include "CDevCmdROM.h"

namespace {

constexpr int32_t kNoAddress = 0xFFFFFF;

int32_t StartOf(const TocData::_Data& t) { return TocAddressToLba(t.Addr); }

}  // namespace

bool FindAudioTrack(const SessionInfo& disc, int track, AudioTrackRange& out, std::string* why) {
  int total = 0;
  for (const TocData& s : disc.Sessions) total += int(s.Data.size());
  for (size_t si = 0; si < disc.Sessions.size(); ++si) {
    const TocData& s = disc.Sessions[si];
    for (size_t ti = 0; ti < s.Data.size(); ++ti) {
      if (s.Data[ti].TrackNo != track) continue;
      if (s.Data[ti].IsData()) {
        if (why) *why = "track " + std::to_string(track) + " is a data track, not audio";
        return false;
      }
      int32_t start = StartOf(s.Data[ti]), end = kNoAddress;
      if (ti + 1 < s.Data.size()) {
        end = StartOf(s.Data[ti + 1]) - 1;
      } else {
        int32_t leadOut = TocAddressToLba(s.LeadOut);
        if (leadOut > 0 && leadOut != kNoAddress) {
          end = leadOut - 1;
        } else if (si + 1 < disc.Sessions.size() && !disc.Sessions[si + 1].Data.empty()) {
          end = StartOf(disc.Sessions[si + 1].Data.front()) - 1;
        }
      }
      if (start < 0 || start == kNoAddress || end == kNoAddress || end < start) {
        if (why) *why = "the table of contents gives track " + std::to_string(track) + " no usable addresses";
        return false;
      }
      out.track = track;
      out.session = int(disc.FirstSession + si);
      out.trackTotal = total;
      out.start = uint32_t(start);
      out.end = uint32_t(end);
      return true;
    }
  }
  if (why) *why = "the disc has no track " + std::to_string(track);
  return false;
}

bool ReadDiscSessions(CDevCmdROM& drive, SessionInfo& out, std::string* why) {
  out = SessionInfo();
  if (drive.GetSessionInfo(out) == DEV_OK && !out.Sessions.empty()) return true;
  TocData toc;
  if (drive.GetTocData(toc) != DEV_OK || toc.Data.empty()) {
    if (why) *why = "the table of contents of the disc cannot be read";
    return false;
  }
  out = SessionInfo();
  out.FirstSession = out.LastSession = 1;
  out.Sessions.push_back(toc);
  return true;
}

int TrackHolding(const SessionInfo& disc, uint32_t lba, int* trackTotal) {
  int found = 0, total = 0;
  for (const TocData& s : disc.Sessions) {
    for (const auto& t : s.Data) {
      ++total;
      AudioTrackRange r;
      if (!t.IsData() && FindAudioTrack(disc, t.TrackNo, r, nullptr) && lba >= r.start && lba <= r.end) found = t.TrackNo;
    }
  }
  if (trackTotal) *trackTotal = total;
  return found;
}
