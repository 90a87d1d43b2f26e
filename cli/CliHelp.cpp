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
        "M4A, Opus): each file becomes a track, in the order given, with the title, performer, songwriter and "
        "composer its tags give as CD-Text. The disc is written session-at-once: the first track after the 2 "
        "seconds every CD begins with, the others without a gap unless --gap asks for one.",
        {{"burn --drive D FILE...", "convert the files and burn them onto the blank CD in the recorder"},
         {"FILE::TITLE::PERFORMER", "the track's CD-Text title (and performer) instead of what the file's tags say"},
         {"--title T", "the disc's CD-Text title (the album of the first tagged file by default)"},
         {"--performer P", "the disc's CD-Text performer"},
         {"--mcn N", "the disc's catalogue number (13 digits, the UPC/EAN)"},
         {"--isrc TRACK=CODE", "the ISRC of a track, such as 1=GB-ABC-24-00001; given once for each track"},
         {"--gap SECONDS", "silence before every track but the first, 0 to 10 seconds (0 by default: gapless)"},
         {"--pre-emphasis", "mark every track as recorded with pre-emphasis"},
         {"--copy-permitted", "mark every track as free to copy"},
         {"--tao", "write track-at-once with 2-second gaps, for recorders that cannot write session-at-once; the "
                   "CD-Text, ISRC and catalogue number are left out"},
         {"--data-session PATH", "an Enhanced CD: the file or folder goes into a data session after the audio, "
                                 "which CD players never see and computers read as files; given once for each "
                                 "file or folder"},
         {"--data-track PATH", "a mixed-mode CD: the file or folder goes into track 1, before the audio (CD players "
                               "skip it, or may try to play it: prefer --data-session for music)"},
         {"--data-label L", "the volume label of those files (DataCD by default)"},
         {"--drive D", "the recorder, or image:FILE.cue (the CD as a CUE sheet and its BIN file); given several "
                       "times, the files are converted once and all burn at once"},
         {"--replace", "an image:FILE.cue and its BIN file may replace existing files"},
         {"--copies N", "burn N discs on every recorder, asking for the next blank disc between copies"},
         {"--speed X", "the write speed, as a factor (16)"},
         {"--test", "simulate: the recorder goes through the burn with its laser off"},
         {"--verify", "read the CD back once it is written and compare each track's PCM with what was sent (a drive "
                      "that reads a few sectors early or late is lined up; a track that lines up nowhere is \"not "
                      "comparable\"); a track that differs fails the command"},
         {"project save -o FILE.bcd FILE...", "save the files as an audio CD project, with the texts, codes and "
                                               "gap the options above give"},
         {"--replace", "project save may replace an existing project file (only once the new one is complete)"}}}},
      {"video",
       {"Makes a Video CD, a Super Video CD or a DVD-Video from video files. For a Video CD or Super Video CD each "
        "file is converted to the disc's MPEG kind (unless --no-reencode) and becomes one track, in the order given, "
        "and the disc is written session-at-once; for a DVD-Video each file becomes a title, authored and written "
        "disc-at-once onto a blank DVD or into an image file.",
        {{"--vcd", "a Video CD (MPEG-1)"},
         {"--svcd", "a Super Video CD (MPEG-2)"},
         {"--dvd", "a DVD-Video"},
         {"--drive D", "the recorder with a blank CD-R or CD-RW (a blank DVD for --dvd): /dev/srN, virtual:FILE or a "
                       "drive letter; image:FILE writes the disc into an image file (FILE.cue and its BIN file for a Video CD or "
                       "Super Video CD); given several times, the "
                       "disc is converted or authored once and written on every recorder at once"},
         {"--copies N", "write N discs on every recorder, asking for the next blank disc between copies; a recorder "
                        "that fails ends only its own copies"},
         {"--ntsc", "convert to NTSC (PAL by default): 720x480 at 29.97 frames a second on a DVD"},
         {"--wide", "convert to a 16:9 picture (4:3 by default)"},
         {"--label L", "the volume label (VCD or SVCD by default)"},
         {"--no-reencode", "burn the files as they are; each must already be an MPEG stream of the disc's kind"},
         {"--project FILE.bcd", "take the files and the label from a video project"},
         {"--save FILE.bcd", "save the files as a video project instead of burning them"},
         {"--medium M", "the medium an image:FILE target stands for with --dvd (dvd-r by default)"},
         {"--replace", "an image:FILE target or the --save file may replace an existing file"},
         {"--verify", "read the disc back once it is written and compare the sectors that were sent; a sector that "
                      "differs or cannot be read fails the command"}}}},
      {"burn",
       {"Writes a data or MP3 project, an image file or WAV tracks (an audio CD) to one or more recorders.",
        {{"--drive D", "the recorder: /dev/srN, virtual:FILE, image:FILE, iscsi://HOST[:PORT]/TARGET/LUN or a "
                       "drive letter of the device list; given several times, all burn at once"},
         {"--replace", "an image:FILE target may replace an existing file"},
         {"--label L", "the volume label of a data disc"},
         {"--multisession", "leave the disc open so that another session can follow"},
         {"--mp3", "an MP3 disc: the files with a playlist"},
         {"--no-rock", "leave out the Rock Ridge entries (Linux permissions, owners, times, links and long names)"},
         {"--rock-normalised", "Rock Ridge with owner 0 and every file readable by all, as for discs handed to others"},
         {"--boot IMAGE", "a bootable data CD, as image --boot makes it (DVD and BD media carry UDF only and are "
                          "refused, as is a session appended to a disc)"},
         {"--boot-load-size N", "the 512-byte sectors of the boot image the BIOS loads (4 by default)"},
         {"--efi IMAGE", "an EFI System Partition image as a second boot entry"},
         {"--hybrid MBR-TEMPLATE", "the disc's image also boots from a USB stick"},
         {"--test", "simulate: the recorder goes through the burn with its laser off"},
         {"--copies N", "burn N discs on every recorder, asking for the next blank disc between copies; "
                        "a recorder that fails ends only its own copies"},
         {"--speed X", "the write speed, as a factor (16) or in kB/s (2770k)"},
         {"--medium M", "the medium of an image:FILE target (cd-r by default; dvd+r and others give UDF)"},
         {"--project FILE.bcd", "burn a saved project"},
         {"--image FILE", "burn an image file (ISO, BIN/CUE, TOC, NRG); images made for CD are written a session at once as they describe the disc, each of their sessions in turn"},
         {"--audio WAV...", "burn the WAV files as the tracks of an audio CD, a session at once and gapless"},
         {"--tao", "write the audio CD or an image of one session track at once: a gap before every track, "
                   "without CD-Text, codes and index points"},
         {"--eject", "open the tray when the burn is over (after the read-back with --verify)"},
         {"--verify", "read the disc back once it is written and compare every sector with what was sent, each "
                      "recorder its own disc; a sector that differs or cannot be read is named with its file and fails "
                      "the command; a disc that cannot be read back is reported \"not verified\""}}}},
      {"extract",
       {"Saves one audio track of a CD (or of a BIN/CUE image) as a WAV or MP3 file. Every sector is read twice "
        "and compared; a sector that cannot be read reliably is named and no file is written. An MP3 file carries "
        "the disc's CD-Text (title, performer, album) as its tags.",
        {{"--drive D", "the drive with the disc: /dev/srN, virtual:FILE, image:FILE.cue or a drive letter"},
         {"--track N", "the number of the audio track, as the disc counts them"},
         {"-o FILE.wav|FILE.mp3", "the file to write; its extension chooses WAV or MP3"},
         {"--replace", "an existing file may be replaced (only once the track is complete)"},
         {"--bitrate K", "the MP3 bit rate in kb/s, 128 to 320 (192)"}}}},
      {"erase",
       {"Erases a rewritable disc (CD-RW, DVD-RW, DVD+RW, DVD-RAM, BD-RE); image files are never erased.",
        {{"--drive D", "the recorder"}}}},
      {"copy",
       {"Copies a disc: from drive to drive, through a copy file, or into and out of a copy file (.bcl).",
        {{"--from D", "the source drive"},
         {"--to D", "the recorder with the blank disc, or image:FILE (FILE.cue keeps audio and Mode 2 tracks whole); "
                    "given several times, the source is read once into a copy file and written on every target at once"},
         {"--copies N", "write N discs on every recorder, asking for the next blank disc between copies"},
         {"--medium M", "the medium an image:FILE target stands for (cd-r by default; dvd-r for a DVD)"},
         {"--replace", "an image:FILE target may replace an existing file"},
         {"--via FILE.bcl", "copy through this file instead of on the fly"},
         {"--keep", "keep the copy file afterwards"},
         {"--save FILE.bcl", "only save the source disc as a copy file (never replaces a file)"},
         {"--bcl FILE.bcl", "write a copy file onto the disc in --to"},
         {"--verify", "read every copy back once it is written and compare it with what was sent"}}}},
      {"analyse",
       {"Shows the structure of the disc in a drive or an image: sessions, tracks with mode, start and length, "
        "the file system and label of data tracks, and the CD-Text of audio tracks.",
        {{"--drive D", "the drive: /dev/srN, virtual:FILE, image:FILE (ISO, BIN/CUE, NRG) or a drive letter"},
         {"--files", "list the files and folders of each file system too"},
         {"--md5 OUT.md5", "instead, write an \"md5sum -c\" list of every file of the disc's file system, each read "
                           "from the disc (files that cannot be read are named and left out)"},
         {"--replace", "--md5 may replace an existing list (only once the new one is complete)"}}}},
      {"check",
       {"Checks a disc: reads every sector of every track (data and audio), a failing block again sector by "
        "sector, and reports the unreadable ranges (sectors and MSF time) with the files they belong to, the read "
        "speed over the disc and the time it took. Fails when a sector cannot be read.",
        {{"--drive D", "the drive with the disc"},
         {"--plot OUT.png|OUT.svg", "draw the read speed against the position, the unreadable ranges in red: a PNG image for a name "
                                    "ending in .png, else an SVG document"},
         {"--report OUT.txt", "save the report"},
         {"--replace", "the plot and report may replace existing files (only once they are complete)"}}}},
      {"verify",
       {"Compares a disc already written with its source: the files of paths or a project by content (missing, "
        "extra and differing files are named), or an ISO image sector by sector (the first differing or unreadable "
        "sector is named with its file). Fails when the disc differs.",
        {{"--drive D", "the drive with the disc"},
         {"PATH...", "the files and folders that were burnt, as burn takes them"},
         {"--project FILE.bcd", "the project that was burnt"},
         {"--image FILE", "the ISO image that was burnt"}}}},
      {"extract-files",
       {"Saves files and folders of a disc's file system (ISO 9660, Joliet or UDF) into a folder; everything "
        "when no disc path is given. Names from the disc never leave the folder or replace a file: they are "
        "changed and reported.",
        {{"--drive D", "the drive or image:FILE"},
         {"-o DIR", "the folder to save into (created when missing)"},
         {"--track N", "the data track to read (the last session's by default)"}}}},
      {"sector",
       {"Prints one sector of a disc as a hexadecimal dump and can save it.",
        {{"--drive D", "the drive or image:FILE"},
         {"--raw", "the whole 2352-byte raw sector (CD media only)"},
         {"-o FILE", "save the bytes shown (2048 or 2352) to FILE"},
         {"--replace", "-o may replace an existing file"}}}},
      {"dev-info",
       {"Lists what a drive can read and write, from its capabilities page and its feature list.",
        {{"--drive D", "the drive"}}}},
      {"devices", {"Lists the drives: local recorders, registered virtual recorders and remote drives.", {}}},
      {"disc-info",
       {"Shows the disc in a drive: medium, state, sessions, tracks, free space and file systems.",
        {{"--drive D", "the drive"}}}},
      {"eject", {"Opens the tray of a drive.", {{"--drive D", "the drive"}}}},
      {"load", {"Closes the tray of a drive.", {{"--drive D", "the drive"}}}},
      {"image",
       {"Lays a project out as a disc image file without a recorder.",
        {{"-o OUT", "the image file to write"},
         {"--replace", "an existing file at OUT may be replaced (only once the new image is complete)"},
         {"--udf", "a UDF volume (DVD and BD media) instead of ISO 9660 with Joliet names"},
         {"--no-rock", "leave out the Rock Ridge entries (Linux permissions, owners, times, links and long names)"},
         {"--rock-normalised", "Rock Ridge with owner 0 and every file readable by all, as for discs handed to others"},
         {"--label LABEL", "the volume label"},
         {"--session-start S", "lay the volume out for a session starting at sector S"},
         {"--boot IMAGE", "make the disc bootable: a BIOS boot image (no emulation, boot information table patched in)"},
         {"--boot-load-size N", "the 512-byte sectors of the boot image the BIOS loads (4 by default)"},
         {"--efi IMAGE", "an EFI System Partition image as a second boot entry"},
         {"--hybrid MBR-TEMPLATE", "an image that also boots from a USB stick: the boot code given, the partition table made here"},
         {"--project FILE.bcd", "take the files of a saved project"}}}},
      {"project",
       {"Saves the given files and folders as a project file, or shows what a project file holds.",
        {{"save -o FILE.bcd", "write a new project file"},
         {"--replace", "save may replace an existing project file (only once the new one is complete)"},
         {"--mp3", "an MP3 project"},
         {"--label LABEL", "the volume label"},
         {"show FILE.bcd", "print the kind, label and entries of a project file"}}}},
      {"udf-list",
       {"Prints the tree of a UDF volume (name, time, type, size), from an image or a disc.",
        {{"--session-start S", "the session's first sector"}, {"--drive D", "read the disc in a drive"}}}},
      {"virtual",
       {"Makes and manages virtual recorders: discs kept in files that stand in for a drive.",
        {{"create --media MEDIA [--speed Nx] FILE",
          "a blank disc: cd-r, cd-rw, dvd-r, dvd-rw, dvd+r, dvd+rw, dvd-ram, dvd-r-dl, dvd+r-dl, bd-r, bd-re"},
         {"create --media cd-rom|dvd-rom --iso IMAGE FILE", "a pressed disc holding an image"},
         {"create --media audio --track WAV[::TITLE[::PERFORMER]]... FILE", "an audio CD, with CD-Text"},
         {"create --media audio --cue SHEET.cue FILE",
          "a CD as the sheet describes it: pre-gaps, index points, flags, ISRCs, catalogue number and CD-Text"},
         {"--speed Nx", "the recorder writes at N times 1x (CD 176,400, DVD 1,385,000, BD 4,495,500 bytes a "
                        "second) through a 4 MiB drive buffer; an empty buffer spoils the track unless burn-proof "
                        "is on (default: as fast as the machine)"},
         {"--register", "list the new recorder among the devices"},
         {"--replace", "replace an existing state file"},
         {"export --drive virtual:FILE (-o OUT.iso | --cue OUT.cue | --toc OUT.toc)",
          "copy the disc out as an image (--cue writes OUT.bin beside the sheet, --toc beside a TOC file, for a "
          "disc of one session); existing files are kept unless --replace is given"},
         {"fault --drive virtual:FILE ...", "arm failures: --write-error N [--sense K/ASC/ASCQ] [--times R], "
                                            "--not-ready N, --long-write N, --hold-write N (the Nth write waits "
                                            "until FILE.held is removed), --no-erase, --refuse-read-cd, "
                                            "--corrupt-write N (the Nth sector written is stored with one byte "
                                            "changed and no error), --unreadable FIRST[-LAST] (reads there fail "
                                            "with a medium error, 3/11/00; may be given several times), "
                                            "--slow-read FIRST-LAST (reads there are slow), --speed Nx|max (the "
                                            "writing speed; kept by --clear), --clear"},
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
