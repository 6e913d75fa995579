// Images: NSImage from a file, its CGImage, and the bitmap's size in pixels.
#import <AppKit/AppKit.h>

#include "uiglean/ax/platform.h"
#include "uiglean/platform/macos/images.h"

namespace uiglean {

Image loadImage(const std::string& path) {
  @autoreleasepool {
    NSString* p = [[NSString alloc] initWithBytes:path.data()
                                           length:path.size()
                                         encoding:NSUTF8StringEncoding];
    if (p == nil) return Image{};
    NSImage* image = [[NSImage alloc] initWithContentsOfFile:p];
    if (image == nil) return Image{};
    auto impl = std::make_shared<ImageImpl>();
    impl->image = image;
    return Image{std::move(impl)};
  }
}

Bitmap imageBitmap(const Image& image) {
  if (!image.impl || image.impl->image == nil) return Bitmap{};
  @autoreleasepool {
    CGImageRef cg = [image.impl->image CGImageForProposedRect:nullptr context:nil hints:nil];
    if (cg == nullptr) return Bitmap{};
    auto impl = std::make_shared<BitmapImpl>();
    impl->image = macos::CFRef<CGImageRef>::retain(cg);
    return Bitmap{std::move(impl)};
  }
}

std::int64_t bitmapWidth(const Bitmap& bitmap) {
  if (!bitmap.impl || !bitmap.impl->image) return 0;
  return static_cast<std::int64_t>(CGImageGetWidth(bitmap.impl->image.get()));
}

std::int64_t bitmapHeight(const Bitmap& bitmap) {
  if (!bitmap.impl || !bitmap.impl->image) return 0;
  return static_cast<std::int64_t>(CGImageGetHeight(bitmap.impl->image.get()));
}

}  // namespace uiglean
