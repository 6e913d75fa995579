// Screen capture: the X server's picture of a window's rectangle or of a monitor, read with
// GetImage from the root window (what shows on screen there), written as PNG by Leptonica.
#include <leptonica/allheaders.h>

#include <cstdlib>
#include <memory>

#include "uiglean/ax/platform.h"
#include "uiglean/platform/linux/ocr_tesseract.h"
#include "uiglean/platform/linux/windowserver.h"

namespace uiglean {

namespace {

struct Area {
  std::int64_t x = 0, y = 0, width = 0, height = 0;
};

ScreenCapture failed(std::string why) {
  ScreenCapture c;
  c.error = std::move(why);
  return c;
}

std::optional<std::string> noDisplay() {
  if (lx::display() != nullptr) return std::nullopt;
  return std::string(
      "no X display to capture: a Wayland session without X offers no screen picture to other "
      "programs");
}

// The bits per pixel the server uses for its root depth.
int bitsPerPixel(xcb_connection_t* c, std::uint8_t depth) {
  const xcb_setup_t* setup = xcb_get_setup(c);
  for (auto it = xcb_setup_pixmap_formats_iterator(setup); it.rem > 0; xcb_format_next(&it)) {
    if (it.data->depth == depth) return it.data->bits_per_pixel;
  }
  return 0;
}

ScreenCapture captureArea(Area a) {
  if (auto why = noDisplay()) return failed(*why);
  xcb_connection_t* c = lx::display();
  auto root = lx::windowGeometry(lx::rootWindow());
  if (!root) return failed("the X screen's size could not be read");
  // Only the part on the screen.
  std::int64_t left = std::max<std::int64_t>(a.x, 0), top = std::max<std::int64_t>(a.y, 0);
  std::int64_t right = std::min<std::int64_t>(a.x + a.width, root->width);
  std::int64_t bottom = std::min<std::int64_t>(a.y + a.height, root->height);
  if (right <= left || bottom <= top) return failed("the window is not on the screen");
  auto width = static_cast<std::uint16_t>(right - left);
  auto height = static_cast<std::uint16_t>(bottom - top);

  const xcb_setup_t* setup = xcb_get_setup(c);
  std::unique_ptr<xcb_get_image_reply_t, decltype(&std::free)> reply(
      xcb_get_image_reply(c,
                          xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, lx::rootWindow(),
                                        static_cast<std::int16_t>(left),
                                        static_cast<std::int16_t>(top), width, height, ~0U),
                          nullptr),
      &std::free);
  if (!reply) return failed("the X server gave no picture of the area");
  if ((reply->depth != 24 && reply->depth != 32) || bitsPerPixel(c, reply->depth) != 32) {
    return failed("the X screen's pixel format (depth " + std::to_string(reply->depth) +
                  ") is not one this capture reads");
  }
  const std::uint8_t* data = xcb_get_image_data(reply.get());
  auto length = static_cast<std::size_t>(xcb_get_image_data_length(reply.get()));
  const std::size_t stride = static_cast<std::size_t>(width) * 4;  // 32-bit scanline units
  if (length < stride * height) return failed("the X server's picture is shorter than its size");

  std::unique_ptr<Pix, void (*)(Pix*)> pix(pixCreate(width, height, 32),
                                           [](Pix* p) { pixDestroy(&p); });
  if (!pix) return failed("no memory for the picture");
  pixSetSpp(pix.get(), 3);
  const bool lsbFirst = setup->image_byte_order == XCB_IMAGE_ORDER_LSB_FIRST;
  l_uint32* lines = pixGetData(pix.get());
  const l_int32 wpl = pixGetWpl(pix.get());
  for (std::size_t y = 0; y < height; ++y) {
    const std::uint8_t* row = data + y * stride;
    l_uint32* out = lines + y * static_cast<std::size_t>(wpl);
    for (std::size_t x = 0; x < width; ++x) {
      const std::uint8_t* p = row + x * 4;
      // A 24-bit true-colour pixel: blue in the low byte.
      std::uint8_t b = lsbFirst ? p[0] : p[3], g = lsbFirst ? p[1] : p[2], r = lsbFirst ? p[2] : p[1];
      l_uint32 value = 0;
      composeRGBPixel(r, g, b, &value);
      out[x] = value;
    }
  }
  l_uint8* png = nullptr;
  size_t size = 0;
  if (pixWriteMemPng(&png, &size, pix.get(), 0.0f) != 0 || png == nullptr) {
    return failed("the picture could not be written as PNG");
  }
  ScreenCapture capture;
  capture.png.assign(reinterpret_cast<const char*>(png), size);
  lept_free(png);
  capture.width = width;
  capture.height = height;
  capture.image = adoptPicture(pix.release());
  return capture;
}

}  // namespace

ScreenCapture captureWindow(std::uint32_t windowNumber) {
  if (auto why = noDisplay()) return failed(*why);
  auto geometry = lx::windowGeometry(windowNumber);
  if (!geometry) return failed("window " + std::to_string(windowNumber) + " is not on the X display");
  Area a{geometry->x, geometry->y, geometry->width, geometry->height};
  // The window as the window list has it: with the frame the window manager draws around it
  // (as macOS counts the title bar), without a client-side decorated window's shadow.
  auto inside = [](const std::vector<std::uint32_t>& e) {
    return e.size() == 4 && e[0] < 4096 && e[1] < 4096 && e[2] < 4096 && e[3] < 4096;
  };
  std::vector<std::uint32_t> frame = lx::windowListProperty(windowNumber, "_NET_FRAME_EXTENTS");
  if (inside(frame)) {
    a.x -= frame[0];
    a.y -= frame[2];
    a.width += frame[0] + frame[1];
    a.height += frame[2] + frame[3];
  }
  std::vector<std::uint32_t> shadow = lx::windowListProperty(windowNumber, "_GTK_FRAME_EXTENTS");
  if (inside(shadow) && shadow[0] + shadow[1] < a.width && shadow[2] + shadow[3] < a.height) {
    a.x += shadow[0];
    a.y += shadow[2];
    a.width -= shadow[0] + shadow[1];
    a.height -= shadow[2] + shadow[3];
  }
  return captureArea(a);
}

ScreenCapture captureDisplay(std::uint32_t displayId) {
  if (auto why = noDisplay()) return failed(*why);
  Rect bounds = displayBounds(displayId);
  if (!(bounds.width > 0 && bounds.height > 0)) {
    return failed("display " + std::to_string(displayId) + " has no area");
  }
  return captureArea(Area{static_cast<std::int64_t>(bounds.x), static_cast<std::int64_t>(bounds.y),
                          static_cast<std::int64_t>(bounds.width),
                          static_cast<std::int64_t>(bounds.height)});
}

}  // namespace uiglean
