#pragma once
// varnex-cli: a DVD-Video disc from video files of any kind the converter
// reads. Each file becomes a title; the disc plays them in the order given.

#include "cli/CliCommand.h"

// --dvd --drive D [--ntsc] [--wide] [--label L] [--medium M] FILE...
// "--drive image:OUT.iso --medium dvd-r" writes the disc into an image file.
// Returns the exit status.
int RunVideoDvd(const CliArgs& args);
