// Finding text lines on fuzzed grey pages (any size up to 96x96, any levels, drawn from blocks,
// frames and noise so that strokes, outlines and lines all occur). Checked: the ink page has the
// page's size; every line's box lies within the page and is not empty; every stroke that belongs
// to a line lies inside that line's box; each line drawn alone has the size its box, scale and
// margin give, with its origin at or before the box.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "fuzz_check.h"
#include "uiglean/platform/linux/ocr_layout.h"

using uiglean::GreyImage;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  const int w = in.ConsumeIntegralInRange(0, 96), h = in.ConsumeIntegralInRange(0, 96);
  GreyImage page(w, h, in.ConsumeIntegral<std::uint8_t>());
  while (in.remaining_bytes() > 0 && w > 0 && h > 0) {
    const int x = in.ConsumeIntegralInRange(0, w - 1), y = in.ConsumeIntegralInRange(0, h - 1);
    const int bw = in.ConsumeIntegralInRange(1, w - x), bh = in.ConsumeIntegralInRange(1, h - y);
    const auto level = in.ConsumeIntegral<std::uint8_t>();
    const bool hollow = in.ConsumeBool();
    for (int yy = y; yy < y + bh; ++yy) {
      for (int xx = x; xx < x + bw; ++xx) {
        if (!hollow || yy == y || yy == y + bh - 1 || xx == x || xx == x + bw - 1) {
          page.at(xx, yy) = level;
        }
      }
    }
  }

  const GreyImage ink = uiglean::inkFromGrey(page);
  FUZZ_CHECK(ink.width == w && ink.height == h);
  FUZZ_CHECK(ink.pixels.size() == page.pixels.size());
  const uiglean::InkLines found = uiglean::findInkLines(ink, 1.0);
  FUZZ_CHECK(found.labels.size() == page.pixels.size());
  for (const auto& line : found.lines) {
    FUZZ_CHECK(0 <= line.left && line.left < line.right && line.right <= w);
    FUZZ_CHECK(0 <= line.top && line.top < line.bottom && line.bottom <= h);
    FUZZ_CHECK(line.glyphHeight > 0 && line.glyphHeight <= line.bottom - line.top);
  }
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const int label = found.labels[static_cast<std::size_t>(y) * w + x];
      FUZZ_CHECK(label >= 0 && static_cast<std::size_t>(label) < found.lineOf.size());
      const int line = found.lineOf[static_cast<std::size_t>(label)];
      if (label == 0 || line < 0) continue;
      FUZZ_CHECK(static_cast<std::size_t>(line) < found.lines.size());
      const auto& box = found.lines[static_cast<std::size_t>(line)];
      FUZZ_CHECK(box.left <= x && x < box.right && box.top <= y && y < box.bottom);
    }
  }
  for (std::size_t i = 0; i < found.lines.size(); ++i) {
    const auto& box = found.lines[i];
    int x0 = -1, y0 = -1;
    const GreyImage drawn = uiglean::drawInkLine(ink, found, i, 2, 3, x0, y0);
    FUZZ_CHECK(0 <= x0 && x0 <= box.left && 0 <= y0 && y0 <= box.top);
    FUZZ_CHECK(drawn.width >= (box.right - box.left) * 2 + 6 && drawn.height >= 6);
    FUZZ_CHECK((drawn.width - 6) % 2 == 0 && (drawn.height - 6) % 2 == 0);
    FUZZ_CHECK(drawn.pixels.size() == static_cast<std::size_t>(drawn.width) * drawn.height);
  }
  return 0;
}
