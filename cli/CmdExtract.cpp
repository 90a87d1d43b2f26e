// varnex-cli extract --drive D --track N -o FILE.wav|FILE.mp3 [--replace]
// [--bitrate K]: one audio track of the disc saved as a WAV or MP3 file. Every
// sector is read twice and compared; a sector that cannot be read reliably
// is named and no file is written.
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

#include "AudioTrackRange.h"
#include "SafeFile.h"
#include "cli/CliBurnRun.h"
#include "cli/CliCommand.h"
#include "cli/CliDrive.h"
#include "cli/CliInterrupt.h"
#include "BurnCtrl/TrackExtract.h"

namespace {

int RunExtract(const CliArgs& args) {
  CliOptions opt(args, {"--drive", "--track", "-o", "--bitrate"}, {"--replace"});
  if (!opt.ok()) return CliFail(result::kBadArguments, opt.error());
  if (!opt.Has("--drive") || !opt.Has("--track") || !opt.Has("-o") || !opt.Operands().empty())
    return CliFail(result::kBadArguments, "usage: extract --drive D --track N -o FILE.wav|FILE.mp3");
  int track = 0, bitrate = 192;
  if (std::sscanf(opt.Value("--track").c_str(), "%d", &track) != 1 || track < 1 || track > 99)
    return CliFail(result::kBadArguments, "--track takes a track number from 1 to 99");
  if (opt.Has("--bitrate") &&
      (std::sscanf(opt.Value("--bitrate").c_str(), "%d", &bitrate) != 1 || bitrate < 128 || bitrate > 320))
    return CliFail(result::kBadArguments, "--bitrate takes kb/s from 128 to 320");
  const std::string target = opt.Value("-o");
  if (int st = CliOutputRefused(target, CliExisting(opt))) return st;
  std::string why;
  if (!TargetCanBeCreated(target, &why)) return CliFail(result::kOutputFailed, why);

  CliDrive drive;
  int status = 0;
  if (!OpenCliDrive(opt.Value("--drive"), drive, status)) return status;
  CDevCmdRW& d = *drive.device;
  if (d.TestUnitReady() != DEV_OK) return CliFail(result::kNotReady, d.GetDevicePath());
  SessionInfo disc;
  AudioTrackRange range;
  if (!ReadDiscSessions(d, disc, &why) || !FindAudioTrack(disc, track, range, &why))
    return CliFail(result::kNoAudioTrack, why);

  CAuEncode encoder;
  encoder.SetMp3Bitrate(bitrate);
  encoder.SetExisting(CliExisting(opt));
  const bool ok = RunStep([&] { return encoder.Encode(&d, range.start, range.end, target.c_str()) ? 1 : 0; },
                          [&] { return PercentLine(encoder.GetEncodeProgress() / 10, "track " + std::to_string(track)); },
                          [&] { encoder.EncodeStop(); }) == 1;
  if (!ok) return CliFail(ExtractResult(false, encoder.LastError()), encoder.LastErrorText());
  std::printf("track %d: sectors %u-%u (%.2f s) saved as %s\n", track, range.start, range.end,
              range.Sectors() / 75.0, target.c_str());
  return 0;
}

CliCommand reg{"extract", "extract --drive D --track N -o FILE.wav|FILE.mp3 [--replace] [--bitrate K]", &RunExtract};

}  // namespace
