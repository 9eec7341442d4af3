// How long a voice file plays on the simulated sound device. Two kinds of
// file exist on these systems: wave files (RIFF/WAVE), whose length is their
// data chunk at the byte rate of their fmt chunk, and headerless A-law files
// (.voc, .qx, ...), 8000 bytes a second. Anything that is not RIFF/WAVE is
// taken as headerless A-law.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace hardware {

inline constexpr uint32_t kAlawBytesPerSecond = 8000;
inline constexpr uint8_t kAlawSilence = 0xD5;

enum class VoiceStatus { kOk, kCannotOpen, kMalformed };

struct VoiceLength {
  VoiceStatus status = VoiceStatus::kCannotOpen;
  bool wave = false;
  uint64_t dataBytes = 0;  // playable bytes
  uint32_t bytesPerSecond = 0;
  uint64_t durationMs = 0;  // rounded up, so playback never ends early
};

// Length of the voice held in `bytes` (the whole file, or at least its
// headers; `fileSize` is the full size on disk). A wave file whose data chunk
// claims more bytes than the file holds is measured by what it holds.
VoiceLength measureVoice(const uint8_t* bytes, size_t size, uint64_t fileSize);

// Opens `linuxPath` and measures it.
VoiceLength measureVoiceFile(const std::string& linuxPath);

// Opens a voice file for playback (reading) or recording (writing: an
// existing file is emptied, a missing one created). Only a regular file is
// opened: a folder, a FIFO or a device gives -1 with errno set, and nothing
// here waits (a FIFO would block the line's caller until a peer opens it).
// Returns the descriptor, close-on-exec.
int openVoiceFile(const std::string& linuxPath, bool forWriting);

// Milliseconds taken by `bytes` at `bytesPerSecond`, rounded up.
constexpr uint64_t playMs(uint64_t bytes, uint32_t bytesPerSecond) {
  return bytesPerSecond == 0 ? 0 : (bytes * 1000 + bytesPerSecond - 1) / bytesPerSecond;
}

}  // namespace hardware
