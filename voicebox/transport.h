// The one way to the device: a control code and the 36-byte request block.
// Requests go to the virtual voice box unless PARVANE_DEVICE names a
// character device, which then receives them through ioctl.
#pragma once

#include <cstdint>

namespace parvane {

// The environment variable naming a real device path.
inline constexpr const char* kDeviceEnv = "PARVANE_DEVICE";

// Opens the device; false when it cannot be opened.
bool transportOpen();
void transportClose();
bool transportIsVirtual();

// Carries one request: 0 when carried (the block holds the answer), -1 when
// the device refused it (w0 holds the device's error code).
int transport(uint32_t control, uint8_t* block);

// Library time: the virtual box's device time, or the monotonic clock for a
// real device. A pause under device time run by hand moves device time on.
int64_t deviceNowMs();
void devicePauseMs(int ms);

}  // namespace parvane
