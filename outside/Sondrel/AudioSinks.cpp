#include "AudioSinks.h"

#include <lame/lame.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "ByteFields.h"
#include "SafeFile.h"

namespace {
using namespace bytes;

class WavSink : public AudioSink {
 public:
  bool Begin(int fd, uint64_t pcmBytes) override {
    fd_ = fd;
    if (pcmBytes > 0xFFFFFFFFull - 36) return Fail("the track is too long for a WAV file");
    uint8_t h[44] = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' '};
    PutLE32(h + 4, uint32_t(36 + pcmBytes));
    PutLE32(h + 16, 16);
    PutLE16(h + 20, 1);  // PCM
    PutLE16(h + 22, 2);
    PutLE32(h + 24, 44100);
    PutLE32(h + 28, 44100 * 4);
    PutLE16(h + 32, 4);
    PutLE16(h + 34, 16);
    std::memcpy(h + 36, "data", 4);
    PutLE32(h + 40, uint32_t(pcmBytes));
    return safefile::WriteAll(fd_, h, sizeof h) || Fail(safefile::ErrorText(errno));
  }
  bool Write(const uint8_t* pcm, size_t bytes) override {
    return safefile::WriteAll(fd_, pcm, bytes) || Fail(safefile::ErrorText(errno));
  }
  bool End() override { return true; }
  std::string Error() const override { return error_; }

 private:
  bool Fail(const std::string& why) {
    error_ = why;
    return false;
  }
  int fd_ = -1;
  std::string error_;
};

class Mp3Sink : public AudioSink {
 public:
  Mp3Sink(const Mp3Settings& s, const AudioTags& tags) : settings_(s), tags_(tags) {}
  ~Mp3Sink() override {
    if (lame_) lame_close(lame_);
  }

  bool Begin(int fd, uint64_t) override {
    fd_ = fd;
    lame_ = lame_init();
    if (!lame_) return Fail("the MP3 encoder could not be started");
    lame_set_in_samplerate(lame_, 44100);
    lame_set_out_samplerate(lame_, 44100);
    lame_set_num_channels(lame_, 2);
    lame_set_mode(lame_, JOINT_STEREO);
    lame_set_VBR(lame_, vbr_off);
    lame_set_brate(lame_, settings_.bitrate);
    lame_set_bWriteVbrTag(lame_, 1);
    // The ID3 tag is ours; the encoder writes none of its own.
    lame_set_write_id3tag_automatic(lame_, 0);
    if (lame_init_params(lame_) < 0) return Fail("the MP3 encoder refused its settings");
    std::vector<uint8_t> tag = BuildId3v2Tag(tags_);
    if (!tag.empty() && !safefile::WriteAll(fd_, tag.data(), tag.size())) return Fail(safefile::ErrorText(errno));
    audioStart_ = off_t(tag.size());
    return true;
  }

  bool Write(const uint8_t* pcm, size_t bytes) override {
    const int frames = int(bytes / 4);
    left_.resize(size_t(frames));
    right_.resize(size_t(frames));
    for (int i = 0; i < frames; ++i) {
      left_[size_t(i)] = int16_t(LE16(pcm + size_t(i) * 4));
      right_[size_t(i)] = int16_t(LE16(pcm + size_t(i) * 4 + 2));
    }
    out_.resize(size_t(frames) * 5 / 4 + 7200);
    int n = lame_encode_buffer(lame_, left_.data(), right_.data(), frames, out_.data(), int(out_.size()));
    if (n < 0) return Fail("the MP3 encoder failed (" + std::to_string(n) + ")");
    return safefile::WriteAll(fd_, out_.data(), size_t(n)) || Fail(safefile::ErrorText(errno));
  }

  bool End() override {
    out_.resize(7200);
    int n = lame_encode_flush(lame_, out_.data(), int(out_.size()));
    if (n < 0) return Fail("the MP3 encoder failed at the end (" + std::to_string(n) + ")");
    if (!safefile::WriteAll(fd_, out_.data(), size_t(n))) return Fail(safefile::ErrorText(errno));
    // The information frame in front of the sound: exact length and the
    // encoder's delay, so that players cut no more and no less.
    std::vector<uint8_t> frame(2880);
    size_t size = lame_get_lametag_frame(lame_, frame.data(), frame.size());
    if (size > 0 && size <= frame.size() && !safefile::PwriteAll(fd_, frame.data(), size, audioStart_))
      return Fail(safefile::ErrorText(errno));
    return true;
  }

  std::string Error() const override { return error_; }

 private:
  bool Fail(const std::string& why) {
    error_ = why;
    return false;
  }
  Mp3Settings settings_;
  AudioTags tags_;
  lame_t lame_ = nullptr;
  int fd_ = -1;
  off_t audioStart_ = 0;
  std::vector<short> left_, right_;
  std::vector<unsigned char> out_;
  std::string error_;
};

}  // namespace

std::unique_ptr<AudioSink> MakeWavSink() { return std::make_unique<WavSink>(); }
std::unique_ptr<AudioSink> MakeMp3Sink(const Mp3Settings& settings, const AudioTags& tags) {
  return std::make_unique<Mp3Sink>(settings, tags);
}
