#pragma once
// The ISO 9660 reader of the disc analysis: the volume of a data track (the
// primary hierarchy when it carries Rock Ridge, else the Joliet hierarchy
// when the track has one, else the primary one) walked by
// the same reader that imports a session, so that a name shows here as a new
// session would carry it. Damaged or hostile discs end the walk with an
// error; a name never carries "/" or NUL out of the reader.

#include <cstdint>
#include <string>

#include "authoring/CAnaly_UDF.h"  // UdfSectorSource, UdfEntry, UdfWalkListener
#include "authoring/IsoReader.h"

class CAnaly_ISO {
 public:
  // Looks for the volume descriptors from `trackStart` + 16. False (LastError
  // says why) when the track holds no ISO 9660 volume.
  bool Open(UdfSectorSource* source, uint32_t trackStart);
  // Walks the whole tree, a folder before its content. Every entry's
  // `sectors` lists its extents (absolute sectors, byte lengths). False when
  // a part of the tree could not be read; what could be read was reported.
  bool Walk(UdfWalkListener* listener);

  bool Joliet() const { return reader_.Joliet(); }
  bool RockRidge() const { return reader_.RockRidge(); }
  const std::string& VolumeLabel() const { return reader_.VolumeLabel(); }
  uint32_t RootExtent() const { return reader_.RootExtent(); }
  const std::string& LastError() const { return error_.empty() ? reader_.LastError() : error_; }

 private:
  IsoReader reader_;
  bool open_ = false;
  std::string error_;
};
