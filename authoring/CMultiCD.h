#pragma once
// Imports the file system of a disc's last session into a staging folder, so
// that a new session shows the old files as well. Old files are not copied:
// their entries carry the old extent, size and date (imported-entry
// descriptors), and the layouts point the new directory records at the old
// data.

#include <cstdint>
#include <functional>
#include <string>

#include "authoring/CAnaly_UDF.h"  // UdfSectorSource

class CMultiCD {
 public:
  // Stages one descriptor below a staging folder; false when it was refused.
  using AddEntry = std::function<bool(const std::string& descriptor, const std::string& stagingFolder)>;

  // `disc` serves the disc's sectors by their address on the disc.
  CMultiCD(UdfSectorSource* disc, std::string stagingRoot, AddEntry add)
      : disc_(disc), stagingRoot_(std::move(stagingRoot)), add_(std::move(add)) {}

  // Reads the session starting at `sessionStart` and stages its entries.
  // `nextStart` gets the first sector after the old volume rounded up to 16
  // (0 when nothing was found). False when a file system was found but could
  // not be read whole (Error() says where).
  bool Import(uint32_t sessionStart, bool importFlag, uint32_t* nextStart);
  bool JolietFound() const { return joliet_; }
  int EntriesAdded() const { return added_; }
  const std::string& Error() const { return error_; }

 private:
  bool ImportIso(uint32_t sessionStart, uint32_t* nextStart);
  bool ImportUdf(uint32_t sessionStart, uint32_t* nextStart);
  bool Read(uint32_t lba, uint8_t* buffer, uint32_t sectors);

  UdfSectorSource* disc_;
  std::string stagingRoot_;
  AddEntry add_;
  bool joliet_ = false;
  int added_ = 0;
  std::string error_;
};
