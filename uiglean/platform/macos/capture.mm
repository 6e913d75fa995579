// Screen capture: CGWindowListCreateImage of one window, CGDisplayCreateImage of a display,
// written as PNG by ImageIO. Both need the screen-recording permission; without it macOS hands
// out the desktop picture alone, so the permission is checked first.
#import <AppKit/AppKit.h>
#include <ImageIO/ImageIO.h>

#include "uiglean/ax/platform.h"
#include "uiglean/platform/macos/cfref.h"
#include "uiglean/platform/macos/images.h"

namespace uiglean {

namespace {

using macos::CFRef;

ScreenCapture failed(std::string why) {
  ScreenCapture c;
  c.error = std::move(why);
  return c;
}

ScreenCapture fromImage(CFRef<CGImageRef> image, const std::string& what) {
  if (!image) return failed(what + " could not be captured");
  std::size_t width = CGImageGetWidth(image.get()), height = CGImageGetHeight(image.get());
  if (width == 0 || height == 0) return failed(what + " shows nothing on screen");
  CFRef<CFMutableDataRef> data(CFDataCreateMutable(nullptr, 0));
  if (!data) return failed("no memory for the picture");
  CFRef<CGImageDestinationRef> destination(
      CGImageDestinationCreateWithData(data.get(), CFSTR("public.png"), 1, nullptr));
  if (!destination) return failed("the picture could not be written as PNG");
  CGImageDestinationAddImage(destination.get(), image.get(), nullptr);
  if (!CGImageDestinationFinalize(destination.get())) {
    return failed("the picture could not be written as PNG");
  }
  ScreenCapture c;
  c.png.assign(reinterpret_cast<const char*>(CFDataGetBytePtr(data.get())),
               static_cast<std::size_t>(CFDataGetLength(data.get())));
  c.width = static_cast<std::int64_t>(width);
  c.height = static_cast<std::int64_t>(height);
  @autoreleasepool {
    auto impl = std::make_shared<ImageImpl>();
    impl->image = [[NSImage alloc] initWithCGImage:image.get() size:NSZeroSize];
    if (impl->image != nil) c.image = Image{std::move(impl)};
  }
  return c;
}

std::optional<std::string> notAllowed() {
  if (CGPreflightScreenCaptureAccess()) return std::nullopt;
  return std::string(
      "screen recording is not allowed for this program (System Settings > Privacy & Security > "
      "Screen Recording)");
}

}  // namespace

ScreenCapture captureWindow(std::uint32_t windowNumber) {
  if (auto why = notAllowed()) return failed(*why);
  CFRef<CGImageRef> image(CGWindowListCreateImage(
      CGRectNull, kCGWindowListOptionIncludingWindow, windowNumber,
      kCGWindowImageBoundsIgnoreFraming | kCGWindowImageBestResolution));
  return fromImage(std::move(image), "window " + std::to_string(windowNumber));
}

ScreenCapture captureDisplay(std::uint32_t displayId) {
  if (auto why = notAllowed()) return failed(*why);
  CFRef<CGImageRef> image(CGDisplayCreateImage(displayId));
  return fromImage(std::move(image), "display " + std::to_string(displayId));
}

}  // namespace uiglean
