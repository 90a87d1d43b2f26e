#include "cli/CliHelp.h"

#include <map>

namespace {

// What each command does and what its options mean. The usage line of a
// command comes from its registration; the manual page is made from this
// text too (scripts/make-man.sh), so the two never disagree.
const std::map<std::string, CommandHelp>& Table() {
  static const std::map<std::string, CommandHelp> table = {
      {"audio",
       {"Makes an audio CD from sound files of any kind the converter reads (MP3, OGG, AAC, WMA, WAV, FLAC, "
        "M4A, Opus): each file becomes a track, in the order given.",
        {{"burn --drive D FILE...", "convert the files and burn them onto the blank CD in the recorder"},
         {"--drive D", "the recorder; given several times, the files are converted once and all burn at once"},
         {"--copies N", "burn N discs on every recorder, asking for the next blank disc between copies"},
         {"--speed X", "the write speed, as a factor (16)"},
         {"--test", "simulate: the recorder goes through the burn with its laser off"},
         {"project save -o FILE.bcd FILE...", "save the files as an audio CD project"}}}},
      {"burn",
       {"Writes a data or MP3 project, an image file or WAV tracks (an audio CD) to one or more recorders.",
        {{"--drive D", "the recorder: /dev/srN, virtual:FILE, image:FILE, iscsi://HOST[:PORT]/TARGET/LUN or a "
                       "drive letter of the device list; given several times, all burn at once"},
         {"--replace", "an image:FILE target may replace an existing file"},
         {"--label L", "the volume label of a data disc"},
         {"--multisession", "leave the disc open so that another session can follow"},
         {"--mp3", "an MP3 disc: the files with a playlist"},
         {"--test", "simulate: the recorder goes through the burn with its laser off"},
         {"--copies N", "burn N discs on every recorder, asking for the next blank disc between copies; "
                        "a recorder that fails ends only its own copies"},
         {"--speed X", "the write speed, as a factor (16) or in kB/s (2770k)"},
         {"--medium M", "the medium of an image:FILE target (cd-r by default; dvd+r and others give UDF)"},
         {"--project FILE.bcd", "burn a saved project"},
         {"--image FILE", "burn an image file (ISO, BIN/CUE, NRG)"},
         {"--audio WAV...", "burn the WAV files as the tracks of an audio CD"},
         {"--eject", "open the tray when the burn is over"}}}},
      {"erase",
       {"Erases a rewritable disc (CD-RW, DVD-RW, DVD+RW, DVD-RAM, BD-RE); image files are never erased.",
        {{"--drive D", "the recorder"}}}},
      {"copy",
       {"Copies a disc: from drive to drive, through a copy file, or into and out of a copy file (.bcl).",
        {{"--from D", "the source drive"},
         {"--to D", "the recorder with the blank disc"},
         {"--via FILE.bcl", "copy through this file instead of on the fly"},
         {"--keep", "keep the copy file afterwards"},
         {"--save FILE.bcl", "only save the source disc as a copy file (never replaces a file)"},
         {"--bcl FILE.bcl", "write a copy file onto the disc in --to"}}}},
      {"devices", {"Lists the drives: local recorders, registered virtual recorders and remote drives.", {}}},
      {"disc-info",
       {"Shows the disc in a drive: medium, state, sessions, tracks, free space and file systems.",
        {{"--drive D", "the drive"}}}},
      {"eject", {"Opens the tray of a drive.", {{"--drive D", "the drive"}}}},
      {"load", {"Closes the tray of a drive.", {{"--drive D", "the drive"}}}},
      {"image",
       {"Lays a project out as a disc image file without a recorder.",
        {{"-o OUT", "the image file to write (never replaced)"},
         {"--udf", "a UDF volume (DVD and BD media) instead of ISO 9660 with Joliet names"},
         {"--label LABEL", "the volume label"},
         {"--session-start S", "lay the volume out for a session starting at sector S"},
         {"--project FILE.bcd", "take the files of a saved project"}}}},
      {"project",
       {"Saves the given files and folders as a project file, or shows what a project file holds.",
        {{"save -o FILE.bcd", "write a new project file"},
         {"--mp3", "an MP3 project"},
         {"--label LABEL", "the volume label"},
         {"show FILE.bcd", "print the kind, label and entries of a project file"}}}},
      {"udf-list",
       {"Prints the tree of a UDF volume (name, time, type, size), from an image or a disc.",
        {{"--session-start S", "the session's first sector"}, {"--drive D", "read the disc in a drive"}}}},
      {"virtual",
       {"Makes and manages virtual recorders: discs kept in files that stand in for a drive.",
        {{"create --media MEDIA FILE",
          "a blank disc: cd-r, cd-rw, dvd-r, dvd-rw, dvd+r, dvd+rw, dvd-ram, dvd-r-dl, dvd+r-dl, bd-r, bd-re"},
         {"create --media cd-rom|dvd-rom --iso IMAGE FILE", "a pressed disc holding an image"},
         {"create --media audio --track WAV[::TITLE[::PERFORMER]]... FILE", "an audio CD, with CD-Text"},
         {"--register", "list the new recorder among the devices"},
         {"--replace", "replace an existing state file"},
         {"export --drive virtual:FILE (-o OUT.iso | --cue OUT.cue)", "copy the disc out as an image"},
         {"fault --drive virtual:FILE ...", "arm failures: --write-error N [--sense K/ASC/ASCQ] [--times R], "
                                            "--not-ready N, --long-write N, --no-erase, --clear"},
         {"register|unregister FILE", "add or remove a recorder of the device list"},
         {"list", "print the registered recorders"}}}},
  };
  return table;
}

}  // namespace

const CommandHelp* FindCommandHelp(const std::string& command) {
  auto it = Table().find(command);
  return it == Table().end() ? nullptr : &it->second;
}
