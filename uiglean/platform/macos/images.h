// The image handles: an NSImage (held by ARC) and the CGImage it gave.
#pragma once

#import <AppKit/AppKit.h>

#include "uiglean/ax/platform.h"
#include "uiglean/platform/macos/cfref.h"

namespace uiglean {

struct ImageImpl {
  NSImage* image = nil;
};

struct BitmapImpl {
  // CGImageForProposedRect: hands out an image it does not give away; the handle keeps a
  // reference of its own.
  macos::CFRef<CGImageRef> image;
};

}  // namespace uiglean
