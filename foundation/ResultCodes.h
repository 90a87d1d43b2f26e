#pragma once
// Numbered results of the recorder command layer and the jobs around it.
// 1 is success, 0 nothing done, negative values are failures; device
// commands return 0 for success and keep their sense data for the caller.
// Every failure has an "Error" text under its number in the language file.
//
// This is the one list of result numbers: a code defined anywhere else, or
// two meanings under one number, shows the wrong text to the user. A new
// code goes here, into kAll below and into every language file.

#include <cstddef>
#include <iterator>

namespace result {

constexpr int kSuccess = 1;
constexpr int kNothingDone = 0;
constexpr int kException = -5;            // exception inside the job
constexpr int kEraseFailed = -6;
constexpr int kCannotErase = -7;          // drive or medium cannot be erased
constexpr int kNoSuchDrive = -8;
constexpr int kNotReady = -15;
constexpr int kWriteFailed = -113;
constexpr int kDoesNotFit = -124;
constexpr int kAudioNeedsCd = -511;
constexpr int kRemoteUnreachable = -550;
constexpr int kBeginFailed = -700;
constexpr int kBeginLayerFailed = -701;
constexpr int kBeginTrackFailed = -702;

// The project windows.
constexpr int kEmptyProject = -111;       // the project holds nothing to burn
constexpr int kAudioNothingConverted = -510;  // no audio row converted, or converting was given up
constexpr int kNoWorkFolder = -512;       // no work folder for converted files (audio, video CD, DVD)

// Authoring and the command-line front.
constexpr int kProjectUnreadable = -901;  // a project file cannot be read or is damaged
constexpr int kFileTooLarge = -902;       // a file of 4 GiB or more for an ISO 9660 volume
constexpr int kNameNotConvertible = -903; // a name that cannot be written as a Joliet name
constexpr int kLayoutFailed = -904;       // the disc image could not be laid out
constexpr int kOutputFailed = -905;       // the output file cannot be written
constexpr int kSourceMissing = -906;      // a source file or folder does not exist
constexpr int kProjectNotWritten = -907;  // a project file cannot be written
constexpr int kBadArguments = -908;       // the command line is not understood
constexpr int kFilesLeftOut = -909;       // some files could not be added or read
constexpr int kSourceNotUsable = -911;    // a source is missing, not a plain file or unreadable

// Drives.
constexpr int kVirtualFailed = -1201;     // a virtual recorder cannot be made, changed or exported
constexpr int kVolumeUnreadable = -910;   // a disc or image holds no readable file system

// The recording engine.
constexpr int kBurnStopped = -920;        // the burn was stopped before its end
constexpr int kDiscClosed = -921;         // the disc is closed: nothing can be added
constexpr int kSourceUnreadable = -922;   // a source went missing while it was burnt
constexpr int kSessionUnfinished = -923;  // an earlier burn left the disc's last session open
constexpr int kRecorderInUse = -924;      // a burn or an erase is using the recorder

// Saving audio tracks from a disc.
constexpr int kExtractStopped = -455;     // saving the track was stopped; no file was written
constexpr int kTrackSectorUnreadable = -456;  // a sector of the track cannot be read
constexpr int kTrackSectorUnstable = -457;// a sector reads differently every time
constexpr int kNoAudioTrack = -458;       // no such audio track, or a sector that is not audio

// Disc copy.
constexpr int kTargetNotBlank = -44;      // the target disc is not blank and may not be erased
constexpr int kSourceBlank = -50;         // the source disc is blank
constexpr int kCopyFileStopped = -100;    // stopped while the copy file was made
constexpr int kCopyWrongMedium = -157;    // the copy does not fit this kind of medium (CD onto DVD, DVD onto CD)
constexpr int kCopyTooLarge = -158;       // the copy is larger than the target disc
constexpr int kNoRoomForCopyFile = -159;  // no folder has room for the copy file
constexpr int kCopyFileFailed = -160;     // the copy file could not be made
constexpr int kCopyFileMissing = -161;    // the copy file does not exist
constexpr int kBadCopyFile = -162;        // not a valid copy file: damaged, cut off or foreign
// Video discs (Video CD, Super Video CD).
constexpr int kVideoNotMpeg = -400;       // an item is not an MPEG stream of the disc's kind (re-encoding off)
constexpr int kVideoNothingConverted = -401;  // no video converted, or converting was given up
constexpr int kVideoLayoutFailed = -402;  // the video disc could not be laid out (an item cannot be read)
constexpr int kVideoKindMissing = -403;   // this kind of video disc is not available in this build
constexpr int kTargetNotWritable = -301;  // the target disc cannot be written
constexpr int kNoSourceSession = -304;    // the source disc holds no session that can be read
constexpr int kSourceEmpty = -305;        // the source disc is empty

// Looking into discs.
constexpr int kDiscUnreadable = -440;     // no disc, a blank disc, or no readable table of contents
constexpr int kFilesNotSaved = -441;      // some files of the disc could not be saved
constexpr int kSavingStopped = -442;      // saving files from the disc was stopped
constexpr int kNoSuchDiscPath = -443;     // a file or folder named is not on the disc
constexpr int kSectorUnreadable = -444;   // a sector of the disc cannot be read
constexpr int kNoCapabilities = -445;     // the drive does not report what it can read and write
constexpr int kVerifyFailed = -446;       // the disc read back differs from what was written or from its source
constexpr int kVerifyStopped = -447;      // reading the disc back was stopped
// DVD-Video: the authoring (CDVDFile) and the project's burn. The steps of
// the tool chain keep the numbers they always had.
constexpr int kDvdAuthoringFailed = -420;        // the authoring tool ran but made no VIDEO_TS folder
constexpr int kDvdTitleNotConverted = -421;      // the one-pass conversion of a title failed
constexpr int kDvdHeaderFailed = -422;           // the file-system header could not be made
constexpr int kDvdInputMissing = -423;           // an input file cannot be read
constexpr int kDvdTooManyInputs = -424;          // more than 260 video files
constexpr int kDvdNeedsDvd = -425;               // the disc in the recorder is no writable DVD
constexpr int kDvdNotPrepared = -426;            // the burn was asked for before the authoring ended
constexpr int kDvdNoInputs = -427;               // the DVD project holds no video file
constexpr int kDvdStopped = -428;                // the authoring was stopped; nothing was kept
constexpr int kDvdVideoNotStarted = -629;        // the converter did not start for the video
constexpr int kDvdNoVideo = -630;                // the converter made no video
constexpr int kDvdSoundNotStarted = -631;        // the converter did not start for the sound
constexpr int kDvdNoSound = -632;                // the converter made no sound
constexpr int kDvdMultiplexerNotStarted = -633;  // the multiplexer did not start
constexpr int kDvdNoProgramStream = -634;        // the multiplexer made no program stream
constexpr int kDvdScriptNotWritten = -635;       // the authoring script could not be written
constexpr int kDvdAuthoringNotStarted = -636;    // the authoring tool did not start

// Every code above, once.
inline constexpr int kAll[] = {
    kSuccess, kNothingDone, kException, kEraseFailed, kCannotErase, kNoSuchDrive, kNotReady, kWriteFailed,
    kDoesNotFit, kAudioNeedsCd, kRemoteUnreachable, kBeginFailed, kBeginLayerFailed, kBeginTrackFailed,
    kEmptyProject, kAudioNothingConverted, kNoWorkFolder,
    kProjectUnreadable, kFileTooLarge, kNameNotConvertible, kLayoutFailed, kOutputFailed, kSourceMissing,
    kProjectNotWritten, kBadArguments, kFilesLeftOut, kSourceNotUsable,
    kVirtualFailed, kVolumeUnreadable,
    kBurnStopped, kDiscClosed, kSourceUnreadable, kSessionUnfinished, kRecorderInUse,
    kExtractStopped, kTrackSectorUnreadable, kTrackSectorUnstable, kNoAudioTrack,
    kTargetNotBlank, kSourceBlank, kCopyFileStopped, kCopyWrongMedium, kCopyTooLarge, kNoRoomForCopyFile,
    kCopyFileFailed, kCopyFileMissing, kBadCopyFile,
    kVideoNotMpeg, kVideoNothingConverted, kVideoLayoutFailed, kVideoKindMissing,
    kTargetNotWritable, kNoSourceSession, kSourceEmpty,
    kDiscUnreadable, kFilesNotSaved, kSavingStopped, kNoSuchDiscPath, kSectorUnreadable, kNoCapabilities,
    kVerifyFailed, kVerifyStopped,
    kDvdAuthoringFailed, kDvdTitleNotConverted, kDvdHeaderFailed, kDvdInputMissing, kDvdTooManyInputs,
    kDvdNeedsDvd, kDvdNotPrepared, kDvdNoInputs, kDvdStopped,
    kDvdVideoNotStarted, kDvdNoVideo, kDvdSoundNotStarted, kDvdNoSound, kDvdMultiplexerNotStarted,
    kDvdNoProgramStream, kDvdScriptNotWritten, kDvdAuthoringNotStarted,
};

constexpr bool AllDistinct() {
  for (size_t i = 0; i < std::size(kAll); ++i)
    for (size_t j = i + 1; j < std::size(kAll); ++j)
      if (kAll[i] == kAll[j]) return false;
  return true;
}
static_assert(AllDistinct(), "two results share one number");

}  // namespace result
