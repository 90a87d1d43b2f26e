// The checksum list of a disc.

#include "analysis/DiscMd5.h"

#include "analysis/SectorOwners.h"
#include "authoring/UdfDriveSource.h"
#include "foundation/Md5.h"

namespace {

// A name as md5sum writes it: a line holding a backslash or a line break
// begins with "\" and has them escaped.
std::string Md5Line(const std::string& digest, const std::string& path) {
  if (path.find_first_of("\\\n\r") == std::string::npos) return digest + "  " + path + "\n";
  std::string escaped;
  for (char c : path) escaped += c == '\\' ? "\\\\" : c == '\n' ? "\\n" : c == '\r' ? "\\r" : std::string(1, c);
  return "\\" + digest + "  " + escaped + "\n";
}

}  // namespace

Md5List MakeMd5List(CDevCmdROM& drive, const std::function<bool()>& stopped) {
  Md5List out;
  SectorOwners owners;
  if (!owners.Load(drive)) {
    out.error = owners.Problems().empty() ? "the disc cannot be read" : owners.Problems().front();
    return out;
  }
  const SectorOwners::Volume* volume = nullptr;
  for (const SectorOwners::Volume& v : owners.Volumes())
    if (!v.files.entries.empty() || v.read) volume = &v;
  if (!volume) {
    out.error = "no file system can be read on the disc";
    return out;
  }
  out.complete = volume->files.complete;
  if (!out.complete) out.error = volume->files.error;
  UdfDriveSource source(&drive);
  std::vector<uint8_t> buf(32 * 2048);
  for (const UdfEntry& e : volume->files.entries) {
    if (e.folder) continue;
    Md5 md5;
    bool ok = true;
    if (e.embedded) md5.Update(e.inlineData.data(), e.inlineData.size());
    for (const auto& [first, bytes] : e.sectors)
      for (uint64_t done = 0; ok && done < bytes;) {
        // A large file is minutes of reading: a stop is heard within it.
        if (stopped && stopped()) {
          out.stopped = true;
          out.error = "stopped";
          return out;
        }
        const uint64_t n = std::min<uint64_t>(bytes - done, buf.size());
        ok = source.ReadSectors(first + uint32_t(done / 2048), uint32_t((n + 2047) / 2048), buf.data());
        if (ok) md5.Update(buf.data(), size_t(n));
        done += n;
      }
    if (ok) out.text += Md5Line(md5.HexDigest(), e.Path());
    else out.failed.push_back(e.Path());
  }
  out.ok = true;
  return out;
}
