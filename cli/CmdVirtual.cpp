// varnex-cli virtual: make, register, export and break virtual recorders.
//
//   virtual create --media MEDIA [--speed Nx] [--register] [--replace] FILE
//   virtual create --media cd-rom|dvd-rom --iso IMAGE [--register] FILE
//   virtual create --media audio --track WAV[::TITLE[::PERFORMER]]... [--title T] [--performer P] FILE
//   virtual create --media audio --cue SHEET.cue FILE
//   virtual export --drive virtual:FILE (-o OUT.iso | --cue OUT.cue | --toc OUT.toc) [--replace]
//   virtual fault --drive virtual:FILE [--write-error N [--sense K/ASC/ASCQ] [--times R]]
//                 [--not-ready N] [--long-write N] [--hold-write N] [--no-erase] [--refuse-read-cd]
//                 [--corrupt-write N] [--unreadable FIRST[-LAST]]... [--slow-read FIRST-LAST]... [--speed Nx|max]
//                 [--clear]
//   virtual register|unregister FILE
//   virtual list
#include <cctype>
#include <cstdio>
#include <cstdlib>

#include <unistd.h>

#include "BurnCtrl/interfaces/RegisteredDrives.h"
#include "VirtualRecorder.h"
#include "cli/CliCommand.h"
#include "cli/CliDrive.h"

namespace {

const char* kUsage =
    "virtual create --media MEDIA [--speed Nx] FILE | virtual create --media cd-rom|dvd-rom --iso IMAGE FILE | "
    "virtual create --media audio --track WAV[::TITLE[::PERFORMER]]... FILE | "
    "virtual create --media audio --cue SHEET.cue FILE | "
    "virtual export --drive virtual:FILE (-o OUT.iso | --cue OUT.cue | --toc OUT.toc) [--replace] | virtual fault --drive virtual:FILE ... | "
    "virtual register|unregister FILE | virtual list";

std::string StatePath(const std::string& arg) { return arg.rfind("virtual:", 0) == 0 ? arg.substr(8) : arg; }

// "16x" or "16" (a multiple of 1x); "max" (0): as fast as the machine writes.
bool Speed(const CliOptions& opt, int& out, int& status) {
  if (!opt.Has("--speed")) return true;
  std::string text = opt.Value("--speed");
  if (text == "max") {
    out = 0;
    return true;
  }
  if (!text.empty() && (text.back() == 'x' || text.back() == 'X')) text.pop_back();
  char* end = nullptr;
  const long v = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || !std::isdigit(static_cast<unsigned char>(text[0])) || *end || v < 1 ||
      v > VirtualRecorder::kMaxSpeed) {
    status = CliFail(cliresult::kBadArguments, "--speed takes 1x to " + std::to_string(VirtualRecorder::kMaxSpeed) +
                                                   "x (as 16x) or max");
    return false;
  }
  out = int(v);
  return true;
}

int Create(const CliArgs& args) {
  CliOptions opt(args, {"--media", "--iso", "--track", "--title", "--performer", "--cue", "--speed"}, {"--register", "--replace"});
  if (!opt.ok()) return CliFail(cliresult::kBadArguments, opt.error());
  int speed = 0, status = 0;
  if (!Speed(opt, speed, status)) return status;
  if (!opt.Has("--media") || opt.Operands().size() != 1)
    return CliFail(cliresult::kBadArguments, "virtual create needs --media MEDIA and one FILE");
  std::string media = opt.Value("--media"), file = StatePath(opt.Operands()[0]), error;
  // An existing disc is only thrown away when asked to.
  if (access(file.c_str(), F_OK) == 0 && !opt.Has("--replace"))
    return CliFail(cliresult::kVirtualFailed, file + " already exists (--replace makes a new disc in its place)");
  bool ok;
  const bool pressed = media == "cd-rom" || media == "dvd-rom" || media == "audio";
  if (pressed && opt.Has("--speed"))
    return CliFail(cliresult::kBadArguments, "--speed is a recorder's writing speed: a pressed disc is never written");
  if (media == "cd-rom" || media == "dvd-rom") {
    if (!opt.Has("--iso")) return CliFail(cliresult::kBadArguments, "a pressed " + media + " needs --iso IMAGE");
    ok = VirtualRecorder::CreatePressedData(file, media, opt.Value("--iso"), &error);
  } else if (media == "audio" && opt.Has("--cue")) {
    if (opt.Has("--track"))
      return CliFail(cliresult::kBadArguments, "an audio CD is made from --cue or from --track, not both");
    ok = VirtualRecorder::CreatePressedImage(file, opt.Value("--cue"), &error);
  } else if (media == "audio") {
    std::vector<VirtualRecorder::AudioTrack> tracks;
    for (const std::string& t : opt.Values("--track")) {
      VirtualRecorder::AudioTrack a;
      size_t p1 = t.find("::");
      a.wavPath = t.substr(0, p1);
      if (p1 != std::string::npos) {
        size_t p2 = t.find("::", p1 + 2);
        a.title = t.substr(p1 + 2, p2 == std::string::npos ? std::string::npos : p2 - p1 - 2);
        if (p2 != std::string::npos) a.performer = t.substr(p2 + 2);
      }
      tracks.push_back(a);
    }
    if (tracks.empty()) return CliFail(cliresult::kBadArguments, "an audio CD needs --track WAV");
    ok = VirtualRecorder::CreatePressedAudio(file, tracks, opt.Value("--title"), opt.Value("--performer"), &error);
  } else {
    ok = VirtualRecorder::Create(file, media, &error, speed);
    if (!ok && error.rfind("unknown medium", 0) == 0) {
      error += " (one of";
      for (const auto& m : VirtualRecorder::MediaNames()) error += " " + m;
      error += ", cd-rom, dvd-rom, audio)";
    }
  }
  if (!ok) return CliFail(cliresult::kVirtualFailed, error);
  if (opt.Has("--register") && !RegisterDrive("virtual:" + file, &error)) return CliFail(cliresult::kVirtualFailed, error);
  std::printf("virtual:%s\n", NormalizeDriveName("virtual:" + file).substr(8).c_str());
  return 0;
}

bool OpenVirtual(const CliOptions& opt, VirtualRecorder& r, int& status) {
  std::string drive = opt.Value("--drive");
  if (drive.rfind("virtual:", 0) != 0) {
    status = CliFail(cliresult::kNoSuchDrive, "--drive must name a virtual recorder (virtual:FILE)");
    return false;
  }
  std::string error;
  if (!r.Open(drive.substr(8), &error)) {
    status = CliFail(cliresult::kNoSuchDrive, error);
    return false;
  }
  return true;
}

int Export(const CliArgs& args) {
  CliOptions opt(args, {"--drive", "-o", "--cue", "--toc"}, {"--replace"});
  if (!opt.ok()) return CliFail(cliresult::kBadArguments, opt.error());
  if (!opt.Has("--drive") || int(opt.Has("-o")) + int(opt.Has("--cue")) + int(opt.Has("--toc")) != 1)
    return CliFail(cliresult::kBadArguments,
                   "virtual export needs --drive virtual:FILE and either -o OUT.iso or --cue OUT.cue, or --toc OUT.toc");
  VirtualRecorder r;
  int status = 0;
  if (!OpenVirtual(opt, r, status)) return status;
  std::string error;
  const Existing existing = opt.Has("--replace") ? Existing::kReplace : Existing::kKeep;
  bool ok = opt.Has("-o")    ? r.ExportIso(opt.Value("-o"), &error, existing)
            : opt.Has("--toc") ? r.ExportBinToc(opt.Value("--toc"), &error, existing)
                               : r.ExportBinCue(opt.Value("--cue"), &error, existing);
  if (!ok && existing == Existing::kKeep && error.find("already exists") != std::string::npos)
    error += " (--replace replaces it)";
  return ok ? 0 : CliFail(cliresult::kOutputFailed, error);
}

bool Count(const CliOptions& opt, const char* name, int& out, int& status) {
  if (!opt.Has(name)) return true;
  std::string text = opt.Value(name);
  char* end = nullptr;
  long v = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end || v < 0 || v > 1000000) {
    status = CliFail(cliresult::kBadArguments, std::string(name) + " needs a count");
    return false;
  }
  out = int(v);
  return true;
}

// "FIRST-LAST" (or "FIRST" when `single` allows it): a range of LBAs.
bool Range(const std::string& text, bool single, std::pair<int32_t, int32_t>* out) {
  const size_t dash = text.find('-');
  if (dash == std::string::npos && !single) return false;
  auto number = [](const std::string& t, int32_t* v) {
    char* end = nullptr;
    long long n = std::strtoll(t.c_str(), &end, 10);
    if (t.empty() || t[0] == '-' || t[0] == '+' || *end || n < 0 || n > 0x7FFFFFFF) return false;
    *v = int32_t(n);
    return true;
  };
  if (!number(text.substr(0, dash), &out->first)) return false;
  if (dash == std::string::npos) out->second = out->first;
  else if (!number(text.substr(dash + 1), &out->second)) return false;
  return out->second >= out->first;
}

int Fault(const CliArgs& args) {
  CliOptions opt(args, {"--drive", "--write-error", "--sense", "--times", "--not-ready", "--long-write",
                                "--hold-write", "--corrupt-write", "--unreadable", "--slow-read", "--speed"},
                 {"--no-erase", "--refuse-read-cd", "--clear"});
  if (!opt.ok()) return CliFail(cliresult::kBadArguments, opt.error());
  VirtualRecorder r;
  int status = 0;
  if (!OpenVirtual(opt, r, status)) return status;
  VirtualFaults f = opt.Has("--clear") ? VirtualFaults{} : r.Faults();
  // The speed is the drive's, not a failure: clearing the faults keeps it.
  f.speed = r.Faults().speed;
  if (!Speed(opt, f.speed, status)) return status;
  if (opt.Has("--write-error")) {
    f.writeFailCount = 1;
    f.writesSeen = 0;
    if (!Count(opt, "--write-error", f.writeFailAt, status) || !Count(opt, "--times", f.writeFailCount, status)) return status;
    if (f.writeFailAt < 1) return CliFail(cliresult::kBadArguments, "--write-error counts from 1");
    if (opt.Has("--sense")) {
      unsigned k, a, q;
      if (std::sscanf(opt.Value("--sense").c_str(), "%x/%x/%x", &k, &a, &q) != 3 || k > 15 || a > 255 || q > 255)
        return CliFail(cliresult::kBadArguments, "--sense takes KEY/ASC/ASCQ in hexadecimal, as 3/0C/00");
      f.writeKey = uint8_t(k), f.writeAsc = uint8_t(a), f.writeAscq = uint8_t(q);
    }
  }
  if (!Count(opt, "--not-ready", f.notReadyPolls, status) || !Count(opt, "--long-write", f.longWritePolls, status)) return status;
  if (opt.Has("--hold-write")) {
    f.holdSeen = 0;
    if (!Count(opt, "--hold-write", f.holdAt, status)) return status;
    if (f.holdAt < 1) return CliFail(cliresult::kBadArguments, "--hold-write counts from 1");
  }
  if (opt.Has("--corrupt-write")) {
    int at = 0;
    if (!Count(opt, "--corrupt-write", at, status)) return status;
    if (at < 1) return CliFail(cliresult::kBadArguments, "--corrupt-write counts from 1");
    f.corruptAt = at;
    f.corruptSeen = 0;
  }
  for (const std::string& r : opt.Values("--unreadable")) {
    std::pair<int32_t, int32_t> range;
    if (!Range(r, true, &range)) return CliFail(cliresult::kBadArguments, "--unreadable takes FIRST or FIRST-LAST, as 300-319");
    f.unreadable.push_back(range);
  }
  for (const std::string& r : opt.Values("--slow-read")) {
    std::pair<int32_t, int32_t> range;
    if (!Range(r, false, &range)) return CliFail(cliresult::kBadArguments, "--slow-read takes FIRST-LAST, as 1000-1999");
    f.slowRead.push_back(range);
  }
  if (opt.Has("--no-erase")) f.cannotErase = true;
  if (opt.Has("--refuse-read-cd")) f.refuseReadCd = true;
  std::string error;
  return r.SetFaults(f, &error) ? 0 : CliFail(cliresult::kVirtualFailed, error);
}

int Register(const CliArgs& args, bool add) {
  CliOptions opt(args, {}, {});
  if (!opt.ok() || opt.Operands().size() != 1) return CliFail(cliresult::kBadArguments, "needs one FILE");
  std::string drive = opt.Operands()[0];
  if (drive.rfind("virtual:", 0) != 0 && drive.rfind("iscsi://", 0) != 0) drive = "virtual:" + drive;
  std::string error;
  if (add && drive.rfind("virtual:", 0) == 0) {
    VirtualRecorder r;  // only recorders that open are kept
    if (!r.Open(drive.substr(8), &error)) return CliFail(cliresult::kNoSuchDrive, error);
  }
  bool ok = add ? RegisterDrive(drive, &error) : UnregisterDrive(drive, &error);
  return ok ? 0 : CliFail(add ? cliresult::kVirtualFailed : cliresult::kNoSuchDrive, error);
}

int RunVirtual(const CliArgs& args) {
  if (args.empty()) return CliFail(cliresult::kBadArguments, std::string("usage: varnex-cli ") + kUsage);
  CliArgs rest(args.begin() + 1, args.end());
  const std::string& what = args[0];
  if (what == "create") return Create(rest);
  if (what == "export") return Export(rest);
  if (what == "fault") return Fault(rest);
  if (what == "register") return Register(rest, true);
  if (what == "unregister") return Register(rest, false);
  if (what == "list") {
    for (const std::string& s : LoadRegisteredDrives()) std::printf("%s\n", s.c_str());
    return 0;
  }
  return CliFail(cliresult::kBadArguments, "unknown virtual command \"" + what + "\"");
}

CliCommand reg{"virtual", kUsage, &RunVirtual};

}  // namespace
