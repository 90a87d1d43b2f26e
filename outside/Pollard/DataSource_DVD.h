#pragma once
// The source of a DVD-Video disc: one data track made of a prepared header
// file (the file systems) followed by the files of the VIDEO_TS folder, each
// starting on a sector of its own and padded with zeros to a whole sector,
// in the order given. The sizes are taken when the source is made; a file
// that changes or vanishes before it is read fails the burn with its name.

#include <cstdint>
#include <string>
#include <vector>

#include "DataSource.h"

class DataSource_DVD : public DataSource {
 public:
  // `table` holds `count` paths of 260 bytes each (the header is not among
  // them). Check IsValid before burning.
  DataSource_DVD(const std::string& headerPath, int count, const unsigned char* table);
  ~DataSource_DVD() override;

  bool IsValid() const { return valid_; }
  // Sectors of the whole disc.
  long TotalSectors() const { return total_; }

  bool GetSectorData(uint8_t* buffer, int count) override;
  DataSource* CloneSource() override;
  void GetCurrBurnFile(char* text, int size) override;

  static constexpr int kPathSize = 260;
  static constexpr int kMaxFiles = 1100;

 private:
  struct Piece {
    std::string path;
    uint64_t size = 0;
    long start = 0;    // first sector on the disc
    long sectors = 0;
  };
  bool Add(const std::string& path);
  bool ReadPiece(const Piece& p, long sector, uint8_t* out, int count);
  void CloseFile();

  std::vector<Piece> pieces_;
  std::string headerPath_;
  std::vector<std::string> paths_;
  long total_ = 0;
  bool valid_ = false;
  size_t current_ = 0;  // the piece being read
  int fd_ = -1;
  size_t openPiece_ = size_t(-1);
};
