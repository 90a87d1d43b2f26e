#pragma once
// The driver of the outside converter, ffmpeg: sound files to the WAV an
// audio CD is burnt from, video files to Video CD, Super Video CD and DVD
// MPEG streams, the play time of a media file, thumbnails, and output size
// estimates. Every caller makes one on the stack for one job.

#include <atomic>
#include <cstdint>
#include <string>

// The texts a sound file's tags give, as the converter prints them when it
// describes the file (UTF-8).
struct ProbeTags {
  std::string title, artist, composer, lyricist, album, albumArtist;
};

class CAVConvert {
 public:
  // Conversion targets (the `type` argument).
  enum Target { kSoundToWav = 0, kVideoCd = 1, kSuperVideoCd = 2, kDvdMpeg = 3 };

  // Finds the converter: VARNEX_CONVERTER when set (tests put a stand-in
  // there), else "ffmpeg" beside the program, else on PATH. A missing
  // converter shows later as failed runs.
  CAVConvert();
  virtual ~CAVConvert() = default;

  const std::string& ConverterPath() const { return converterPath_; }

  // Deletes `target`, converts `source` into it, and returns true only when
  // the converter ran to its end without an error and left a non-empty
  // target (for a WAV: one that holds sound). Whatever a failed or stopped
  // run left behind is deleted. `ntsc` non-zero: NTSC, else PAL; `aspect` 1:
  // 16:9, else 4:3. `stop`, when it turns true, ends the converter at once.
  bool Convert(const std::string& source, const std::string& target, int type, int ntsc, int aspect,
               const std::atomic<bool>* stop = nullptr);
  // The play time as the converter prints it ("00:03:25.43"), or "" when the
  // file cannot be read or its sound is AMR narrow-band.
  std::string GetMediaInfo(const std::string& source);
  // One frame `seekSeconds` into the source as a `size`×`size` image; true
  // when the converter wrote it.
  bool MakeThumbnail(int size, int seekSeconds, const std::string& source, const std::string& imageFile);

  // Estimated output size in MB of a target type for a play time; 0 for an
  // empty text or an unknown type.
  static float EstimateSizeMB(int type, const std::string& durationText);
  // Whole seconds of "hh:mm:ss[.ff]"; 0 for an empty text.
  static int32_t ParseDuration(const std::string& durationText);

  // The converter's arguments as one text, the paths in double quotes, after
  // the changes that today's ffmpeg needs (see the table in the .cpp).
  static std::string ConvertArguments(const std::string& source, const std::string& target, int type, int ntsc,
                                      int aspect);
  static std::string ProbeArguments(const std::string& source);
  static std::string ThumbnailArguments(int size, int seekSeconds, const std::string& source,
                                        const std::string& imageFile);

  // What the converter printed in the last run, and the last line of it
  // that says what went wrong ("" when the run went well).
  const std::string& LastOutput() const { return output_; }
  std::string LastError() const;
  // Whether the last probe found a sound stream ("Audio: ").
  bool LastProbeHadAudio() const;
  // Whether the last probe found a picture stream ("Video: "); the cover
  // picture of a sound file ("attached pic") is none.
  bool LastProbeHadVideo() const;
  // The tags of the input the last probe described.
  ProbeTags LastProbeTags() const { return ParseProbeTags(output_); }
  // The first input's "Metadata:" block of a description; the streams' own
  // blocks (the encoder of a stream, ...) are not the file's tags.
  static ProbeTags ParseProbeTags(const std::string& description);

 private:
  // Runs the converter on a template whose SOURCE, TARGET and IMAGE stand
  // for the paths; the paths are handed over as arguments of their own.
  bool Run(const std::string& argumentText, const std::string& source, const std::string& target,
           const std::atomic<bool>* stop, int* exitStatus);

  std::string converterPath_;
  std::string output_;
  bool failed_ = false;
};
