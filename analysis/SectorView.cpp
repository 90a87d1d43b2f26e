#include "analysis/SectorView.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "MediumTable.h"
#include "OutputFile.h"
#include "SectorSizes.h"

bool ReadSectorView(CDevCmdROM& drive, uint32_t lba, bool raw, SectorView* view) {
  std::memset(view->buffer, 0, sizeof view->buffer);
  view->shown = 0;
  view->error.clear();
  TRACK_INFO info;
  view->dataMode = drive.ReadTrackInfoEx(info, RTI_LBA, lba) == DEV_OK ? (info.Raw[6] & 0x0F) : 0;
  if (!drive.HasDrive() || drive.TestUnitReady() != DEV_OK) {
    view->error = "the drive is not ready";
    return false;
  }
  const int type = drive.GetMediumType();
  view->rawAllowed = type == medium::kNone || medium::IsCd(type);
  uint32_t status;
  if (view->rawAllowed && raw) {
    status = drive.ReadCD_All(view->buffer, kRawSectorSize, 1, lba);
    if (status == DEV_OK) view->shown = kRawSectorSize;
  } else if (view->rawAllowed) {
    status = drive.ReadCD_Data(view->buffer, kRawSectorSize, 1, lba);
    if (status != DEV_OK) status = drive.ReadCD_10(view->buffer, kDataSectorSize, 1, lba);
    if (status == DEV_OK) view->shown = kDataSectorSize;
  } else {
    status = drive.ReadCD_10(view->buffer, kDataSectorSize, 1, lba);
    if (status == DEV_OK) view->shown = kDataSectorSize;
  }
  if (status != DEV_OK) {
    std::memset(view->buffer, 0, sizeof view->buffer);
    view->error = "sector " + std::to_string(lba) + " cannot be read (" + SenseText(drive.GetLastSense()) + ")";
    return false;
  }
  return true;
}

std::vector<std::string> SectorDumpLines(const uint8_t* data, int size) {
  std::vector<std::string> lines;
  std::string header(58, ' ');
  header[4] = '|';
  for (int i = 0; i < 16; ++i) {
    char digit[4];
    std::snprintf(digit, sizeof digit, "%X", i);
    header[8 + 3 * i] = digit[0];
  }
  header[56] = '|';
  lines.push_back(header);
  lines.push_back(std::string(73, '-'));
  for (int row = 0; row + 16 <= size; row += 16) {
    std::string line(73, ' ');
    char offset[8];
    std::snprintf(offset, sizeof offset, "%4X", row);
    std::memcpy(&line[0], offset, 4);
    line[4] = '|';
    for (int i = 0; i < 16; ++i) {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%02X", data[row + i]);
      line[7 + 3 * i] = hex[0];
      line[8 + 3 * i] = hex[1];
    }
    line[56] = '|';
    for (int i = 0; i < 16; ++i) {
      uint8_t c = data[row + i];
      line[57 + i] = (c < 31 || c >= 128) ? ' ' : char(c);
    }
    lines.push_back(line);
  }
  return lines;
}

bool SaveSectorFile(const std::string& path, const SectorView& view, bool mayReplace, std::string* why) {
  if (view.shown <= 0) {
    *why = "no sector has been read";
    return false;
  }
  const std::string_view bytes(reinterpret_cast<const char*>(view.buffer), size_t(view.shown));
  return WriteWholeFile(path, bytes, mayReplace ? Existing::kReplace : Existing::kKeep, why);
}
