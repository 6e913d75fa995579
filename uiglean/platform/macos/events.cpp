// Observers and the run loop. The accessibility API calls observerCallback on the thread whose
// run loop holds the observer's source, and only while that run loop runs: here, inside
// runLoopRunInMode on the main thread.
#include <ApplicationServices/ApplicationServices.h>

#include "uiglean/ax/platform.h"
#include "uiglean/platform/macos/cftypes.h"
#include "uiglean/platform/macos/elements.h"

namespace uiglean {

using macos::CFRef;

ObserverImpl::~ObserverImpl() {
  if (!ref) return;
  for (const auto& r : registrations)
    (void)AXObserverRemoveNotification(ref.get(), r->element.get(), r->notification.get());
  if (runLoop)
    CFRunLoopRemoveSource(runLoop.get(), AXObserverGetRunLoopSource(ref.get()),
                          kCFRunLoopDefaultMode);
}

namespace {

void observerCallback(AXObserverRef, AXUIElementRef element, CFStringRef notification,
                      void* refcon) {
  auto* registration = static_cast<ObserverRegistration*>(refcon);
  if (!registration) return;
  std::shared_ptr<ObserverImpl> impl = registration->observer.lock();
  if (!impl || !impl->callback) return;
  std::optional<std::string> name = macos::utf8(notification);
  impl->callback(Observer{impl}, macos::wrapElement(element), name.value_or(std::string()),
                 registration->context);
}

}  // namespace

ObserverCreateResult axObserverCreate(std::int32_t pid, ObserverCallback callback) {
  auto impl = std::make_shared<ObserverImpl>();
  impl->callback = callback;
  const AXError status = AXObserverCreate(pid, observerCallback, impl->ref.out());
  if (status != kAXErrorSuccess || !impl->ref)
    return ObserverCreateResult{status != kAXErrorSuccess ? static_cast<std::int32_t>(status)
                                                          : axerr::failure,
                                Observer{}};
  return ObserverCreateResult{axerr::success, Observer{std::move(impl)}};
}

std::int32_t axObserverAddNotification(const Observer& observer, const Element& element,
                                       const std::string& notification, void* context) {
  AXUIElementRef ref = macos::axRef(element);
  CFRef<CFStringRef> name = macos::cfString(notification);
  if (!observer.impl || !observer.impl->ref) return axerr::invalidObserver;
  if (!ref || !name) return axerr::illegalArgument;
  auto registration = std::make_unique<ObserverRegistration>();
  registration->observer = observer.impl;
  registration->element = CFRef<AXUIElementRef>::retain(ref);
  registration->notification = name;
  registration->context = context;
  const AXError status =
      AXObserverAddNotification(observer.impl->ref.get(), ref, name.get(), registration.get());
  // The refcon must outlive the notification, so only an added one is kept.
  if (status == kAXErrorSuccess) observer.impl->registrations.push_back(std::move(registration));
  return static_cast<std::int32_t>(status);
}

void addObserverToRunLoop(const Observer& observer) {
  if (!observer.impl || !observer.impl->ref || observer.impl->runLoop) return;
  CFRunLoopRef current = CFRunLoopGetCurrent();
  CFRunLoopAddSource(current, AXObserverGetRunLoopSource(observer.impl->ref.get()),
                     kCFRunLoopDefaultMode);
  observer.impl->runLoop = CFRef<CFRunLoopRef>::retain(current);
}

std::int32_t runLoopRunInMode(double seconds, bool returnAfterSourceHandled) {
  return static_cast<std::int32_t>(
      CFRunLoopRunInMode(kCFRunLoopDefaultMode, seconds, returnAfterSourceHandled));
}

}  // namespace uiglean
