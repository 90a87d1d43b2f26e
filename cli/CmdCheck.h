#pragma once
// The checksum list of analyse --md5.

#include <string>

#include "CDevCmdROM.h"
#include "OutputFile.h"

// Writes an "md5sum -c" list of every file of the disc's file system (the
// last session's), read from the disc, to `path`. 0, or the exit status
// after a message.
int WriteMd5List(CDevCmdROM& drive, const std::string& path, Existing existing);
