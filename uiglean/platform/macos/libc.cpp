// The C library's share of the platform layer.
#include <unistd.h>

#include <chrono>
#include <ctime>

#include "uiglean/ax/platform.h"

namespace uiglean {

std::int32_t processId() { return static_cast<std::int32_t>(::getpid()); }

void sleepMicros(std::uint32_t micros) {
  struct timespec ts{static_cast<time_t>(micros / 1'000'000),
                     static_cast<long>(micros % 1'000'000) * 1000L};
  while (nanosleep(&ts, &ts) != 0) {
  }
}

double currentTime() {
  using namespace std::chrono;
  return duration<double>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace uiglean
