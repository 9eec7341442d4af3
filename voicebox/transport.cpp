#include "voicebox/transport.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "voicebox/request.h"
#include "voicebox/virtual_box.h"

namespace parvane {
namespace {
std::atomic<int> g_fd{-1};
std::atomic<bool> g_virtual{true};
}  // namespace

bool transportOpen() {
  const char* path = std::getenv(kDeviceEnv);
  if (!path || !*path) {
    g_virtual = true;
    return true;
  }
  // A device that is already open stays open: the box serves one owner.
  if (g_fd.load() >= 0) return true;
  int fd = ::open(path, O_RDWR | O_CLOEXEC);
  if (fd < 0) return false;
  g_fd = fd;
  g_virtual = false;
  return true;
}

void transportClose() {
  int fd = g_fd.exchange(-1);
  if (fd >= 0) ::close(fd);
  g_virtual = true;
}

bool transportIsVirtual() {
  return g_virtual.load();
}

int transport(uint32_t control, uint8_t* block) {
  if (g_virtual.load()) return virtualBox().handle(control, block);
  int fd = g_fd.load();
  if (fd < 0) {
    putInt(block, kW0, 255);
    return -1;
  }
  // Buffered transfer: the driver reads the block and writes the answer back
  // in place.
  if (::ioctl(fd, static_cast<unsigned long>(control), block) < 0) {
    if (getInt(block, kW0) == 0) putInt(block, kW0, errno ? errno : 255);
    return -1;
  }
  return 0;
}

int64_t deviceNowMs() {
  if (g_virtual.load()) return virtualBox().nowUs() / 1000;
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

void devicePauseMs(int ms) {
  if (ms <= 0) return;
  if (g_virtual.load() && !virtualBox().realTime()) {
    virtualBox().advanceMs(ms);
    return;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

}  // namespace parvane
