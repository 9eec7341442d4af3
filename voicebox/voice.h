// Voice playback and recording state shared by the voice exports (voice.cpp,
// duplex.cpp, sentence.cpp). Internal: everything here is used under the
// buffer lock.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "voicebox/library.h"

namespace parvane {

constexpr int kDriverBufferBytes = 8192;
constexpr int kDuplexReadMax = 16384;
constexpr int kWaveHeaderBytes = 58;

// Last-error codes of voice operations.
constexpr int kErrBlocked = 3;
constexpr int kErrNothingToPlay = 8;
constexpr int kErrRecording = 9;
constexpr int kErrFile = 10;
constexpr int kErrPlaying = 11;

struct PlayState {
  int op = kOpNone;
  int error = 0;  // negative: the operation failed and stays failed until stopped
  int64_t total = 0, remaining = 0;
  const uint8_t* data = nullptr;  // memory playback: the next byte to send
  int fd = -1;
  std::unique_ptr<uint8_t[]> driver;
  bool deviceOn = false;  // the device's playback transfer runs
};

struct RecordState {
  int op = kOpNone;
  int error = 0;
  int64_t total = 0, remaining = 0;
  uint8_t* buffer = nullptr;
  int fd = -1;
  bool wave = false;
  int64_t waveData = 0;  // wave recording: data bytes written after the header
  std::unique_ptr<uint8_t[]> driver;
  bool deviceOn = false;
  bool conversation = false;  // the buffers belong to a conversation recording
};

struct VoiceChannel {
  PlayState play;
  RecordState record;
  // Sentence being played: the copy of its indexes and the current position.
  std::string sentence;
  size_t sentencePos = 0;
  bool sentenceActive = false;
  bool sentenceFile = false;  // the current part plays from a file
  // Scratch for the full-duplex and timer-path ticks.
  std::vector<uint8_t> tickIn, tickOut;
};

VoiceChannel& voiceChannel(int channel);

// Sets the last error and returns -1.
int voiceFail(int code);

// Playback and recording steps with the buffer lock held.
int playStartLocked(int channel, VoiceChannel& v);
int playStepLocked(int channel, VoiceChannel& v, int expectedOp);
int playStopLocked(int channel, VoiceChannel& v);
int startFilePlayLocked(int channel, VoiceChannel& v, const char* name, int64_t offset,
                        int64_t length);
int recordStartDeviceLocked(int channel, RecordState& r);
void recordStopDeviceLocked(int channel, RecordState& r);
void closeRecordFile(RecordState& r);
// One recording step; autoStop ends the recording when the buffer is full.
int recordStepLocked(int channel, RecordState& r, int expectedOp, bool autoStop);
int recordStepDuplexLocked(int channel, RecordState& r, int expectedOp);

// The canceller of a channel: channel 1 Dampa1, channel 0 Dampa0, none for
// others. Reset when a recording starts.
void resetCanceller(int channel);
int cancelSample(int channel, int captured16, int played16);

// Volume factor applied to file bytes.
void applyVolume(uint8_t* data, int length, double factor);

// The conversation recordings and sentences ended by a library reset.
void resetConversations();
int sentenceRestLocked(int channel, VoiceChannel& v);
void stopSentenceLocked(int channel, VoiceChannel& v);

// The work of one timer-path tick after the timer event (for the benchmark).
int timerTick(int channel, const char* data, int length, char* out, int outSize,
              void (*callback)(int, int), int mode);
// One full-duplex tick into out of outSize bytes.
int duplexTick(int channel, uint8_t* out, int outSize);

}  // namespace parvane
