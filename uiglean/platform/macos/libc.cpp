// The process, sleeping and the clock.
#include <CoreFoundation/CoreFoundation.h>
#include <unistd.h>

#include <chrono>
#include <ctime>

#include "uiglean/ax/platform.h"

namespace uiglean {

std::int32_t processId() { return static_cast<std::int32_t>(::getpid()); }

// The time passes with the main run loop turning: AppKit learns which application is in front,
// and that applications launched or quit, from messages handled there, so a process that only
// slept would keep reading the frontmost application it saw first (activate polls it between
// sleeps). Without any source to run, the run loop returns at once and the rest is slept.
void sleepMicros(std::uint32_t micros) {
  const double until = currentTime() + static_cast<double>(micros) / 1e6;
  for (;;) {
    const double left = until - currentTime();
    if (left <= 0) return;
    if (CFRunLoopRunInMode(kCFRunLoopDefaultMode, left, false) == kCFRunLoopRunFinished) break;
  }
  const double left = until - currentTime();
  if (left <= 0) return;
  struct timespec ts{static_cast<time_t>(left), static_cast<long>((left - static_cast<double>(
                                                    static_cast<time_t>(left))) * 1e9)};
  while (nanosleep(&ts, &ts) != 0) {
  }
}

double currentTime() {
  using namespace std::chrono;
  return duration<double>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace uiglean
