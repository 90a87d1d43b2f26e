#pragma once
// Opens the drive a --drive argument names and puts it into the device list.

#include <string>
#include <vector>

#include "BurnCtrl/interfaces/Recorder.h"

// "image:FILE" (a blank disc whose sectors go to FILE; `medium` names what it
// stands for: "cd-r" by default, "dvd+r", "dvd-r", "bd-r" ...), or a drive of
// the device library. Returns the drive index, or -1 after printing why not.
// `several`: one of several drives of one burn (image targets then take
// free indexes of their own instead of 0). An existing image file is only
// written over with `replace`.
int OpenBurnDrive(const std::string& spec, const std::string& medium, bool several, bool replace = false);
// The first --drive argument that names the same drive as an earlier one
// ("" when all differ): file drives are compared by the file they lead to,
// drive letters without regard to case.
std::string DriveGivenTwice(const std::vector<std::string>& specs);
// The medium type of a name ("cd-r", "dvd+rw", ...); -1 when unknown.
int MediumFromName(const std::string& name);
