// The disc check: every sector read, the unreadable ones named, the speed
// drawn.

#include "analysis/DiscCheck.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "BurnCtrl/Verify.h"
#include "MediumTable.h"
#include "analysis/DiscAnalysis.h"
#include "analysis/SectorOwners.h"

namespace {

double SteadySeconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Bytes a second of the medium's 1x.
double BaseRate(int medium, bool cd) {
  if (cd) return 75.0 * 2048;
  if (medium::IsBd(medium)) return 4495000.0;
  return 1385000.0;
}

struct Reader {
  CDevCmdROM& drive;
  bool cd;
  std::vector<uint8_t> buf;
  // Raw sectors on a CD read audio and every data mode alike.
  uint32_t Read(uint32_t lba, uint32_t count) {
    const uint32_t size = cd ? 2352 : 2048;
    buf.resize(size_t(count) * size);
    return cd ? drive.ReadCD_All(buf.data(), int(buf.size()), int(count), lba)
              : drive.ReadCD_10(buf.data(), int(buf.size()), int(count), lba);
  }
};

void NoteUnreadable(CheckReport& r, uint32_t lba) {
  ++r.unreadableSectors;
  if (!r.unreadable.empty() && r.unreadable.back().last + 1 == lba) r.unreadable.back().last = lba;
  else r.unreadable.push_back(CheckRange{lba, lba, {}});
}

std::string Fixed(double v, int digits) {
  char text[32];
  std::snprintf(text, sizeof text, "%.*f", digits, v);
  return text;
}

// A speed on the scale: "0.25x", "1.5x", "8x".
std::string SpeedLabel(double f) {
  std::string t = Fixed(f, 2);
  while (t.back() == '0') t.pop_back();
  if (t.back() == '.') t.pop_back();
  return t + "x";
}

std::string XmlEscaped(const std::string& s) {
  std::string out;
  for (char c : s) {
    switch (c) {
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '&': out += "&amp;"; break;
      case '"': out += "&quot;"; break;
      default:
        // Control characters are not allowed in XML 1.0.
        if (static_cast<unsigned char>(c) >= 0x20 || c == '\n' || c == '\t') out += c;
    }
  }
  return out;
}

// The plot's scales: position over the disc, speed up to a round maximum.
struct Scale {
  uint64_t first = 0, end = 1;
  double top = 1;
  explicit Scale(const CheckReport& r) {
    // The whole disc, so that a check stopped early shows what it left.
    if (r.spanEnd > r.spanFirst) {
      first = r.spanFirst;
      end = r.spanEnd;
    } else if (!r.samples.empty()) {
      first = r.samples.front().lba;
      end = std::max<uint64_t>(first + 1, uint64_t(r.samples.back().lba) + r.samples.back().sectors);
    }
    for (const CheckRange& u : r.unreadable) {
      first = std::min<uint64_t>(first, u.first);
      end = std::max<uint64_t>(end, uint64_t(u.last) + 1);
    }
    double most = 0;
    for (const CheckSample& s : r.samples) most = std::max(most, std::isfinite(s.factor) ? s.factor : 0);
    top = most <= 0 ? 1 : std::pow(2.0, std::ceil(std::log2(most)));
  }
  double X(uint64_t lba, double width) const { return double(lba - std::min(lba, first)) * width / double(end - first); }
  double Y(double factor, double height) const { return height - std::min(factor, top) * height / top; }
};

// The few characters the PNG's scales need, 5 x 7 pixels, a row a byte
// (bit 4 the leftmost pixel): the command line draws without a font library.
const uint8_t* Glyph(char c) {
  static const struct { char c; uint8_t rows[7]; } kGlyphs[] = {
      {'0', {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}}, {'1', {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E}},
      {'2', {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}}, {'3', {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E}},
      {'4', {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}}, {'5', {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E}},
      {'6', {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}}, {'7', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08}},
      {'8', {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}}, {'9', {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C}},
      {'.', {0x00, 0x00, 0x00, 0x00, 0x00, 0x0C, 0x0C}}, {'x', {0x00, 0x00, 0x11, 0x0A, 0x04, 0x0A, 0x11}},
      {'s', {0x00, 0x00, 0x0E, 0x10, 0x0E, 0x01, 0x1E}}, {'e', {0x00, 0x00, 0x0E, 0x11, 0x1F, 0x10, 0x0E}},
      {'c', {0x00, 0x00, 0x0E, 0x10, 0x10, 0x11, 0x0E}}, {'t', {0x08, 0x08, 0x1C, 0x08, 0x08, 0x09, 0x06}},
      {'o', {0x00, 0x00, 0x0E, 0x11, 0x11, 0x11, 0x0E}}, {'r', {0x00, 0x00, 0x16, 0x19, 0x10, 0x10, 0x10}},
  };
  static const uint8_t kBlank[7] = {};
  for (const auto& g : kGlyphs)
    if (g.c == c) return g.rows;
  return kBlank;
}

void PutBE32(std::string& s, uint32_t v) {
  for (int i = 3; i >= 0; --i) s += char((v >> (8 * i)) & 0xFF);
}

uint32_t Crc32(const std::string& data, size_t from) {
  static uint32_t table[256];
  static bool made = false;
  if (!made) {
    for (uint32_t n = 0; n < 256; ++n) {
      uint32_t c = n;
      for (int k = 0; k < 8; ++k) c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      table[n] = c;
    }
    made = true;
  }
  uint32_t c = 0xFFFFFFFFu;
  for (size_t i = from; i < data.size(); ++i) c = table[(c ^ uint8_t(data[i])) & 0xFF] ^ (c >> 8);
  return c ^ 0xFFFFFFFFu;
}

void Chunk(std::string& png, const char* type, const std::string& body) {
  PutBE32(png, uint32_t(body.size()));
  const size_t start = png.size();
  png += type;
  png += body;
  PutBE32(png, Crc32(png, start));
}

}  // namespace

namespace {

// The disc looked at before it is read: false (the report says why) when
// there is nothing to read.
bool OpenDisc(CDevCmdROM& drive, CheckReport& report, DiscAnalysis& disc) {
  if (drive.TestUnitReady() != DEV_OK) {
    report.why = "no disc in the drive";
    return false;
  }
  report.mediumType = drive.GetMediumType();
  DISC_INFO info;
  if (drive.ReadDiscInfo(info) == DEV_OK) {
    if (info.DiscStatus == 0) {
      report.state = CheckReport::kBlank;
      report.why = "the disc is blank: nothing is written on it to check";
      return false;
    }
    report.open = info.DiscStatus == 1;
  }
  if (!AnalyseDisc(drive, &disc)) {
    report.why = disc.error;
    return false;
  }
  return true;
}

// Reads the sectors [at, at + count) block by block, a failing block again
// sector by sector; the time it took becomes one sample.
CheckSample ReadSample(Reader& reader, CheckReport& report, uint32_t at, uint32_t count, uint32_t block,
                       const std::function<double()>& now) {
  CheckSample sample;
  sample.lba = at;
  const double start = now();
  // A drive without its disc fails every read: that is no unreadable
  // sector, and the check ends where it happened.
  auto lost = [&](uint32_t status, uint32_t lba) {
    if (status == DEV_OK || !DiscGone(reader.drive, status)) return false;
    report.state = CheckReport::kLost;
    report.lostAt = lba;
    report.why = "the disc was taken out or the drive stopped answering (" + SenseCode(reader.drive) + ")";
    return true;
  };
  uint32_t done = 0;
  while (done < count) {
    const uint32_t n = std::min(block, count - done);
    const uint32_t status = reader.Read(at + done, n);
    if (lost(status, at + done)) break;
    bool ended = false;
    if (status != DEV_OK)
      for (uint32_t i = 0; i < n && !ended; ++i) {
        const uint32_t one = reader.Read(at + done + i, 1);
        if (lost(one, at + done + i)) ended = true, done += i;
        else if (one != DEV_OK) NoteUnreadable(report, at + done + i);
      }
    if (ended) break;
    done += n;
  }
  count = done;
  sample.sectors = count;
  report.sectors += count;
  sample.seconds = now() - start;
  const double bytes = double(count) * 2048;
  sample.megabytesPerSecond = sample.seconds > 0 ? bytes / sample.seconds / 1e6 : 0;
  sample.factor = sample.seconds > 0 ? bytes / sample.seconds / report.baseRate : 0;
  return sample;
}

}  // namespace

CheckReport CheckDisc(CDevCmdROM& drive, const CheckOptions& options) {
  CheckReport report;
  const auto now = options.clock ? options.clock : std::function<double()>(SteadySeconds);
  const double began = now();
  DiscAnalysis disc;
  if (!OpenDisc(drive, report, disc)) return report;
  const bool cd = medium::IsCd(report.mediumType) || report.mediumType == 0;
  report.baseRate = BaseRate(report.mediumType, cd);
  uint64_t total = 0;
  bool any = false;
  for (const AnalySession& s : disc.sessions) {
    ++report.sessions;
    for (const AnalyTrack& t : s.tracks) {
      total += t.length, ++report.tracks;
      report.spanFirst = any ? std::min(report.spanFirst, uint32_t(t.start)) : uint32_t(t.start);
      report.spanEnd = std::max(report.spanEnd, uint32_t(t.start + t.length));
      any = true;
    }
  }
  report.total = total;
  const uint32_t block = std::max<uint32_t>(1, std::min<uint32_t>(options.block, 64));
  // Samples of whole blocks, about `samples` of them over the disc.
  const uint64_t per = std::max<uint64_t>(block, (total / std::max<uint32_t>(1, options.samples) + block - 1) / block * block);
  Reader reader{drive, cd, {}};
  report.state = CheckReport::kDone;
  for (const AnalySession& s : disc.sessions)
    for (const AnalyTrack& t : s.tracks)
      for (uint64_t done = 0; done < t.length && report.state == CheckReport::kDone;) {
        if (options.stopped && options.stopped()) {
          report.state = CheckReport::kStopped;
          break;
        }
        const uint32_t n = uint32_t(std::min<uint64_t>(per, t.length - done));
        const CheckSample sample = ReadSample(reader, report, uint32_t(t.start + done), n, block, now);
        if (sample.sectors > 0) report.samples.push_back(sample);
        done += n;
        if (options.sampled) options.sampled(report);
        if (report.state == CheckReport::kLost) break;
      }
  report.seconds = now() - began;
  if (!report.unreadable.empty() && report.state != CheckReport::kLost) {
    SectorOwners owners;
    owners.Load(drive);
    for (CheckRange& r : report.unreadable) r.owners = owners.Owners(r.first, r.last);
  }
  return report;
}

std::string CheckReportText(const CheckReport& r) {
  std::string t;
  if (r.state == CheckReport::kNoDisc || r.state == CheckReport::kBlank) return "Not checked: " + r.why + "\n";
  t += "Medium: " + std::string(medium::Name(r.mediumType)) + (r.open ? " (open: another session can be added)" : "") +
       ", " + std::to_string(r.sessions) + (r.sessions == 1 ? " session, " : " sessions, ") +
       std::to_string(r.tracks) + (r.tracks == 1 ? " track\n" : " tracks\n");
  double lowest = -1, sum = 0;
  uint32_t lowestAt = 0;
  for (const CheckSample& s : r.samples) {
    if (s.seconds > 0 && (lowest < 0 || s.factor < lowest)) lowest = s.factor, lowestAt = s.lba;
    sum += s.seconds;
  }
  const double bytes = double(r.sectors) * 2048;
  t += "Read: " + std::to_string(r.sectors) + " sectors in " + Fixed(r.seconds, 1) + " s";
  if (sum > 0 && r.baseRate > 0)
    t += ", average " + Fixed(bytes / sum / 1e6, 2) + " MB/s (" + Fixed(bytes / sum / r.baseRate, 1) + "x)";
  t += "\n";
  if (lowest >= 0) t += "Slowest: " + Fixed(lowest, 1) + "x at sector " + std::to_string(lowestAt) + "\n";
  const std::string ended =
      r.state == CheckReport::kLost ? "Ended at sector " + std::to_string(r.lostAt) + ": " + r.why + "\n" : "";
  if (r.unreadable.empty()) {
    t += r.state == CheckReport::kDone ? "Every sector is readable\n"
                                       : "Every sector read so far is readable (" + std::to_string(r.sectors) + " of " +
                                             std::to_string(r.total) + ")\n";
    if (r.state == CheckReport::kStopped) t += "Stopped before the end of the disc\n";
    return t + ended;
  }
  t += "Unreadable: " + std::to_string(r.unreadableSectors) + " sectors in " + std::to_string(r.unreadable.size()) +
       (r.unreadable.size() == 1 ? " range\n" : " ranges\n");
  for (const CheckRange& u : r.unreadable) {
    t += "  " + std::to_string(u.first) + "-" + std::to_string(u.last) + " (" + LbaMsf(u.first) + "-" + LbaMsf(u.last) + ")";
    for (size_t i = 0; i < u.owners.size(); ++i) t += (i ? ", " : ": ") + u.owners[i];
    t += "\n";
  }
  if (r.state == CheckReport::kStopped) t += "Stopped before the end of the disc\n";
  return t + ended;
}

std::string CheckPlotSvg(const CheckReport& r) {
  const double w = 760, h = 320, left = 50, top = 20;
  const Scale sc(r);
  std::string s = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                  "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"840\" height=\"400\" viewBox=\"0 0 840 400\">\n"
                  "<rect x=\"0\" y=\"0\" width=\"840\" height=\"400\" fill=\"white\"/>\n";
  s += "<g transform=\"translate(" + Fixed(left, 0) + "," + Fixed(top, 0) + ")\">\n";
  for (const CheckRange& u : r.unreadable) {
    const double x0 = sc.X(u.first, w), x1 = std::max(x0 + 1, sc.X(uint64_t(u.last) + 1, w));
    std::string title = std::to_string(u.first) + "-" + std::to_string(u.last);
    for (const std::string& o : u.owners) title += " " + o;
    s += "<rect x=\"" + Fixed(x0, 2) + "\" y=\"0\" width=\"" + Fixed(x1 - x0, 2) + "\" height=\"" + Fixed(h, 0) +
         "\" fill=\"#e03030\" fill-opacity=\"0.6\"><title>" + XmlEscaped(title) + "</title></rect>\n";
  }
  s += "<polyline fill=\"none\" stroke=\"#2060c0\" stroke-width=\"1.5\" points=\"";
  for (const CheckSample& smp : r.samples) {
    const double f = std::isfinite(smp.factor) ? smp.factor : 0;
    s += Fixed(sc.X(smp.lba, w), 2) + "," + Fixed(sc.Y(f, h), 2) + " " +
         Fixed(sc.X(uint64_t(smp.lba) + smp.sectors, w), 2) + "," + Fixed(sc.Y(f, h), 2) + " ";
  }
  s += "\"/>\n";
  s += "<line x1=\"0\" y1=\"" + Fixed(h, 0) + "\" x2=\"" + Fixed(w, 0) + "\" y2=\"" + Fixed(h, 0) + "\" stroke=\"black\"/>\n";
  s += "<line x1=\"0\" y1=\"0\" x2=\"0\" y2=\"" + Fixed(h, 0) + "\" stroke=\"black\"/>\n";
  for (int i = 0; i <= 4; ++i) {
    const double f = sc.top * i / 4, y = sc.Y(f, h);
    s += "<text x=\"-6\" y=\"" + Fixed(y + 4, 1) + "\" font-size=\"11\" text-anchor=\"end\">" + SpeedLabel(f) + "</text>\n";
    const uint64_t lba = sc.first + (sc.end - sc.first) * uint64_t(i) / 4;
    s += "<text x=\"" + Fixed(w * i / 4, 1) + "\" y=\"" + Fixed(h + 16, 0) + "\" font-size=\"11\" text-anchor=\"middle\">" +
         std::to_string(lba) + "</text>\n";
  }
  s += "<text x=\"" + Fixed(w / 2, 0) + "\" y=\"" + Fixed(h + 34, 0) +
       "\" font-size=\"12\" text-anchor=\"middle\">sector (read speed in blue, unreadable ranges in red)</text>\n";
  s += "</g>\n</svg>\n";
  return s;
}

std::string CheckPlotPng(const CheckReport& r, int width, int height) {
  width = std::clamp(width, 16, 4000);
  height = std::clamp(height, 16, 4000);
  const Scale sc(r);
  std::vector<uint8_t> px(size_t(width) * size_t(height) * 3, 0xFF);
  auto put = [&](int x, int y, uint8_t cr, uint8_t cg, uint8_t cb) {
    if (x < 0 || y < 0 || x >= width || y >= height) return;
    uint8_t* p = &px[(size_t(y) * size_t(width) + size_t(x)) * 3];
    p[0] = cr, p[1] = cg, p[2] = cb;
  };
  // Room for the scales' labels when the image is large enough to hold them.
  const bool labels = width >= 200 && height >= 100;
  const int left = labels ? 52 : 0, bottom = labels ? 30 : 0, top = labels ? 8 : 0, right = labels ? 24 : 0;
  const int w = width - left - right, h = height - top - bottom;
  auto text = [&](int x, int y, const std::string& t, bool alignRight, bool centred) {
    const int advance = 6;  // five pixels and a gap
    int at = alignRight ? x - int(t.size()) * advance : centred ? x - int(t.size()) * advance / 2 : x;
    for (char c : t) {
      const uint8_t* g = Glyph(c);
      for (int row = 0; row < 7; ++row)
        for (int col = 0; col < 5; ++col)
          if (g[row] & (0x10 >> col)) put(at + col, y + row, 0x30, 0x30, 0x30);
      at += advance;
    }
  };
  for (const CheckRange& u : r.unreadable) {
    const int x0 = left + int(sc.X(u.first, w)), x1 = std::max(x0 + 1, left + int(sc.X(uint64_t(u.last) + 1, w)));
    for (int x = x0; x < x1; ++x)
      for (int y = top; y < top + h; ++y) put(x, y, 0xE0, 0x30, 0x30);
  }
  for (int x = left; x < left + w; ++x) put(x, top + h - 1, 0, 0, 0);
  for (int y = top; y < top + h; ++y) put(left, y, 0, 0, 0);
  if (labels) {
    for (int i = 0; i <= 4; ++i) {
      const double f = sc.top * i / 4;
      const int y = top + std::min(h - 1, int(sc.Y(f, h - 1)));
      for (int x = left - 3; x < left; ++x) put(x, y, 0, 0, 0);
      text(left - 5, y - 3, SpeedLabel(f), true, false);
      const int x = left + std::min(w - 1, w * i / 4);
      for (int yy = top + h; yy < top + h + 3; ++yy) put(x, yy, 0, 0, 0);
      text(x, top + h + 5, std::to_string(sc.first + (sc.end - sc.first) * uint64_t(i) / 4), false, true);
    }
    text(left + w / 2, top + h + 18, "sector", false, true);
  }
  int lastY = -1;
  for (const CheckSample& s : r.samples) {
    const double f = std::isfinite(s.factor) ? s.factor : 0;
    const int y = top + std::min(h - 2, int(sc.Y(f, h - 1)));
    const int x0 = left + int(sc.X(s.lba, w)), x1 = std::max(x0 + 1, left + int(sc.X(uint64_t(s.lba) + s.sectors, w)));
    if (lastY >= 0)
      for (int yy = std::min(lastY, y); yy <= std::max(lastY, y); ++yy) put(x0, yy, 0x20, 0x60, 0xC0);
    for (int x = x0; x < x1; ++x) put(x, y, 0x20, 0x60, 0xC0), put(x, y + 1, 0x20, 0x60, 0xC0);
    lastY = y;
  }
  // The image data uncompressed: deflate's stored blocks, each at most
  // 65535 bytes, behind a zlib header and before its Adler-32.
  std::string raw;
  for (int y = 0; y < height; ++y) {
    raw += '\0';
    raw.append(reinterpret_cast<const char*>(&px[size_t(y) * size_t(width) * 3]), size_t(width) * 3);
  }
  std::string z = "\x78\x01";
  for (size_t at = 0; at < raw.size() || at == 0;) {
    const size_t n = std::min<size_t>(65535, raw.size() - at);
    const bool last = at + n >= raw.size();
    z += char(last ? 1 : 0);
    z += char(n & 0xFF), z += char(n >> 8), z += char(~n & 0xFF), z += char((~n >> 8) & 0xFF);
    z.append(raw, at, n);
    at += n;
    if (last) break;
  }
  uint32_t a = 1, b = 0;
  for (unsigned char c : raw) a = (a + c) % 65521, b = (b + a) % 65521;
  PutBE32(z, (b << 16) | a);
  std::string png = "\x89PNG\r\n\x1a\n";
  std::string ihdr;
  PutBE32(ihdr, uint32_t(width));
  PutBE32(ihdr, uint32_t(height));
  ihdr += std::string("\x08\x02\x00\x00\x00", 5);  // 8 bits, RGB, deflate, no filter, no interlace
  Chunk(png, "IHDR", ihdr);
  Chunk(png, "IDAT", z);
  Chunk(png, "IEND", "");
  return png;
}
