// Hearing a voice mail on the computer: the file's samples handed to an
// audio output. The Qt Multimedia output plays them on the sound device;
// tests put in their own output and look at the samples.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ui {

class AudioOutput {
 public:
  virtual ~AudioOutput() = default;
  // Starts playing 16-bit mono samples at `rate`; false with a reason.
  virtual bool start(std::vector<int16_t> samples, int rate, std::string* error) = 0;
  virtual void stop() = 0;
  virtual bool playing() const = 0;
  // Milliseconds played so far.
  virtual int64_t positionMs() const = 0;
};

// Qt Multimedia on the default output device.
class QtAudioOutput : public AudioOutput {
 public:
  QtAudioOutput();
  ~QtAudioOutput() override;
  bool start(std::vector<int16_t> samples, int rate, std::string* error) override;
  void stop() override;
  bool playing() const override;
  int64_t positionMs() const override;

 private:
  struct Impl;
  Impl* d_;
};

// A voice file as samples: a wave file of A-law (format 6) or 16-bit PCM
// (format 1) data, or headerless A-law (the runtime's recordings). False
// with a reason for anything else.
bool voiceFileSamples(const std::vector<uint8_t>& bytes, std::vector<int16_t>* samples, int* rate,
                      std::string* error);

}  // namespace ui
