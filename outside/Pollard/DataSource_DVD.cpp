#include "DataSource_DVD.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "SafeFile.h"
#include "SectorSizes.h"

namespace {
constexpr long kSector = kDataSectorSize;
using safefile::ErrorText;
}

DataSource_DVD::DataSource_DVD(const std::string& headerPath, int count, const unsigned char* table)
    : headerPath_(headerPath) {
  layout_.discType = CD_TYPE_DVD;
  layout_.sectorSize = kDataSectorSize;
  if (count < 0 || count > kMaxFiles || (count > 0 && !table)) {
    Fail("the file table of the DVD is not usable");
    return;
  }
  if (!Add(headerPath)) return;
  for (int i = 0; i < count; ++i) {
    const char* slot = reinterpret_cast<const char*>(table + size_t(i) * kPathSize);
    const std::string path(slot, strnlen(slot, kPathSize));
    if (path.empty() || path.size() == size_t(kPathSize)) {
      Fail("entry " + std::to_string(i + 1) + " of the DVD's file table is not a path");
      return;
    }
    paths_.push_back(path);
    if (!Add(path)) return;
  }
  if (total_ <= 0) {
    Fail("the DVD has nothing to write");
    return;
  }
  SourceTrack t;
  t.number = 1;
  t.session = 1;
  t.control = 4;
  t.form = MODE_FORM_MODE1;
  t.pregapStart = t.start = 0;
  t.length = int32_t(total_);
  SourceSession s;
  s.number = 1;
  s.tracks.push_back(t);
  layout_.sessions.push_back(s);
  valid_ = layout_.Check().empty() || Fail(layout_.Check());
}

DataSource_DVD::~DataSource_DVD() { CloseFile(); }

bool DataSource_DVD::Add(const std::string& path) {
  std::string why;
  if (!safefile::IsRegularFile(path, &why)) return Fail(why);
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return Fail(path + ": " + ErrorText(errno));
  Piece p;
  p.path = path;
  p.size = uint64_t(st.st_size);
  p.start = total_;
  p.sectors = long((p.size + kSector - 1) / kSector);
  total_ += p.sectors;
  pieces_.push_back(p);
  return true;
}

void DataSource_DVD::CloseFile() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  openPiece_ = size_t(-1);
}

bool DataSource_DVD::ReadPiece(const Piece& p, long sector, uint8_t* out, int count) {
  const size_t index = size_t(&p - pieces_.data());
  if (openPiece_ != index) {
    CloseFile();
    std::string why;
    fd_ = safefile::OpenForReading(p.path, &why);
    if (fd_ < 0) return Fail(why);
    struct stat st;
    if (::fstat(fd_, &st) != 0 || uint64_t(st.st_size) != p.size) {
      CloseFile();
      return Fail(p.path + " changed after the disc was laid out");
    }
    openPiece_ = index;
  }
  const uint64_t offset = uint64_t(sector - p.start) * kSector;
  const size_t want = size_t(count) * kSector;
  std::memset(out, 0, want);
  size_t got = 0;
  const size_t have = size_t(std::min<uint64_t>(want, p.size > offset ? p.size - offset : 0));
  while (got < have) {
    const ssize_t n = ::pread(fd_, out + got, have - got, off_t(offset + got));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return Fail(p.path + ": " + (n < 0 ? ErrorText(errno) : std::string("the file became shorter")));
    got += size_t(n);
  }
  return true;
}

bool DataSource_DVD::GetSectorData(uint8_t* buffer, int count) {
  if (!valid_ || !Open()) return Fail("no track is open");
  if (count < 0 || position_ + count > total_) return Fail("the read goes past the end of the DVD");
  while (count > 0) {
    while (current_ < pieces_.size() && position_ >= pieces_[current_].start + pieces_[current_].sectors) ++current_;
    while (current_ > 0 && position_ < pieces_[current_].start) --current_;
    const Piece& p = pieces_[current_];
    const int n = int(std::min<long>(count, p.start + p.sectors - position_));
    if (!ReadPiece(p, position_, buffer, n)) return false;
    buffer += size_t(n) * kSector;
    position_ += n;
    count -= n;
  }
  return true;
}

DataSource* DataSource_DVD::CloneSource() {
  std::vector<unsigned char> table(paths_.size() * kPathSize, 0);
  for (size_t i = 0; i < paths_.size(); ++i) std::memcpy(table.data() + i * kPathSize, paths_[i].data(), paths_[i].size());
  auto* copy = new DataSource_DVD(headerPath_, int(paths_.size()), table.data());
  if (!copy->IsValid()) {
    delete copy;
    return nullptr;
  }
  return copy;
}

void DataSource_DVD::GetCurrBurnFile(char* text, int size) {
  if (!text || size <= 0) return;
  const std::string& path = current_ < pieces_.size() ? pieces_[current_].path : std::string();
  const std::string name = current_ == 0 ? std::string("file systems")
                                         : path.substr(path.find_last_of('/') == std::string::npos
                                                           ? 0
                                                           : path.find_last_of('/') + 1);
  std::snprintf(text, size_t(size), "%s", name.c_str());
}
