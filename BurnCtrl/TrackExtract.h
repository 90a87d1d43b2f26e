#pragma once
// Saving audio tracks of a disc: the result codes of the encoder's outcomes
// and the rules for the target file, shared by the command line and the
// windows.

#include <string>

#include "CAuEncode.h"

// The recorder result of a finished Encode (result::kSuccess when it worked).
int ExtractResult(bool encoded, CAuEncode::Error error);

// Whether a file can be made at `path`: its folder exists and takes a new
// file. Tested with a file of its own, so that a file already at `path`
// stays untouched until the complete track replaces it. `why` says what is
// wrong.
bool TargetCanBeCreated(const std::string& path, std::string* why);

// The name of track `track` when several are saved into one folder:
// "Track 03.mp3" or, with a CD-Text title, "03 Title.mp3" (characters a file
// name cannot hold become "_").
std::string TrackFileName(int track, const std::string& title, const std::string& extension);
