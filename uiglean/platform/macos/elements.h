// The handles of the accessibility operations: an element is an AXUIElementRef, an observer an
// AXObserverRef with the notifications it was given.
#pragma once

#include <ApplicationServices/ApplicationServices.h>

#include <memory>
#include <string>
#include <vector>

#include "uiglean/ax/platform.h"
#include "uiglean/platform/macos/cfref.h"

namespace uiglean {

struct ElementImpl {
  macos::CFRef<AXUIElementRef> ref;
};

// One notification added to an observer. Its address is the refcon the accessibility API hands
// back to the callback, so it stays where it is until the observer goes.
struct ObserverRegistration {
  std::weak_ptr<ObserverImpl> observer;
  macos::CFRef<AXUIElementRef> element;
  macos::CFRef<CFStringRef> notification;
  void* context = nullptr;
};

struct ObserverImpl {
  macos::CFRef<AXObserverRef> ref;
  ObserverCallback callback = nullptr;
  std::vector<std::unique_ptr<ObserverRegistration>> registrations;
  // The run loop the observer's source was added to, if any.
  macos::CFRef<CFRunLoopRef> runLoop;

  ObserverImpl() = default;
  ObserverImpl(const ObserverImpl&) = delete;
  ObserverImpl& operator=(const ObserverImpl&) = delete;
  // Takes the notifications and the source away before the refcons go.
  ~ObserverImpl();
};

namespace macos {
// True once the run's deadline (axSetRunDeadline) has passed: calls to applications then fail at
// once with kAXErrorCannotComplete. A call already made waits at most its messaging timeout.
bool pastRunDeadline();

// The element's AXUIElementRef, or nullptr for a null handle.
inline AXUIElementRef axRef(const Element& e) { return e.impl ? e.impl->ref.get() : nullptr; }
}  // namespace macos

}  // namespace uiglean
