#pragma once
// Saving audio tracks of the disc in a drive as MP3 or WAV files, as the
// disc analysis window offers it: the save dialog for the first track (the
// others go beside it under their own names), the checks of the target, and
// a progress window with Cancel for each track.

#include <vector>

class CAuEncode;
class CDevCmdROM;
class QWidget;

// Saves `tracks` (numbers as the disc counts them) of the disc in `drive`.
// True when every track was saved; false when the user cancelled or a track
// failed (the user has been told why). Runs modally on the window thread.
// `encoder` is the caller's (the analysis window keeps one for its life).
bool SaveAudioTracks(QWidget* parent, CDevCmdROM& drive, const std::vector<int>& tracks, CAuEncode& encoder);
bool SaveAudioTracks(QWidget* parent, CDevCmdROM& drive, const std::vector<int>& tracks);
