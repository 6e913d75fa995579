// Ink, outlines and text lines of an interface screenshot. See ocr_layout.h.
#include "uiglean/platform/linux/ocr_layout.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <numeric>

namespace uiglean {

namespace {

// Differences from the background below this are noise (gradients, dithering, compression).
constexpr int INK_LEVEL = 16;
// A stroke is scaled to full contrast against at least this difference, so that faint noise
// that happens to be a stroke of its own does not become black.
constexpr int MIN_CONTRAST = 48;
// Ink from this level on is a stroke's body; fainter ink is its anti-aliased edge.
constexpr int BODY_INK = 128;
// Strokes of text lines are looked for from this ink level on: low enough to keep the thin
// strokes of small text whole.
constexpr int LINE_INK = 77;
// Strokes lower than this are marks (dots, accents, punctuation) that join the line beside them
// rather than start one.
constexpr int MIN_GLYPH_HEIGHT = 5;

struct Stroke {
  int left = 0, top = 0, right = 0, bottom = 0;  // right and bottom exclusive
  int area = 0;
  int width() const { return right - left; }
  int height() const { return bottom - top; }
};

std::size_t index(int width, int x, int y) {
  return static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
         static_cast<std::size_t>(x);
}

int findRoot(std::vector<int>& parent, int a) {
  while (parent[static_cast<std::size_t>(a)] != a) {
    int& p = parent[static_cast<std::size_t>(a)];
    p = parent[static_cast<std::size_t>(p)];
    a = p;
  }
  return a;
}

// The 8-connected components of `mask` (non-zero pixels): `labels` gets 1..n per pixel (0 off
// the mask), the result their boxes and areas (entry 0 unused).
std::vector<Stroke> labelStrokes(const std::vector<std::uint8_t>& mask, int width, int height,
                                 std::vector<int>& labels) {
  labels.assign(mask.size(), 0);
  std::vector<int> parent{0};
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      if (mask[index(width, x, y)] == 0) continue;
      int label = 0;
      auto join = [&](int nx, int ny) {
        if (nx < 0 || nx >= width || ny < 0) return;
        const int other = labels[index(width, nx, ny)];
        if (other == 0) return;
        if (label == 0) {
          label = other;
          return;
        }
        const int a = findRoot(parent, label), b = findRoot(parent, other);
        if (a != b) parent[static_cast<std::size_t>(std::max(a, b))] = std::min(a, b);
      };
      join(x - 1, y);
      join(x - 1, y - 1);
      join(x, y - 1);
      join(x + 1, y - 1);
      if (label == 0) {
        label = static_cast<int>(parent.size());
        parent.push_back(label);
      }
      labels[index(width, x, y)] = label;
    }
  }
  std::vector<int> compact(parent.size(), 0);
  std::vector<Stroke> strokes(1);
  for (std::size_t i = 1; i < parent.size(); ++i) {
    const int root = findRoot(parent, static_cast<int>(i));
    if (compact[static_cast<std::size_t>(root)] == 0) {
      compact[static_cast<std::size_t>(root)] = static_cast<int>(strokes.size());
      strokes.push_back(Stroke{std::numeric_limits<int>::max(), std::numeric_limits<int>::max(),
                               -1, -1, 0});
    }
    compact[i] = compact[static_cast<std::size_t>(root)];
  }
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      int& label = labels[index(width, x, y)];
      if (label == 0) continue;
      label = compact[static_cast<std::size_t>(label)];
      Stroke& s = strokes[static_cast<std::size_t>(label)];
      s.left = std::min(s.left, x);
      s.top = std::min(s.top, y);
      s.right = std::max(s.right, x + 1);
      s.bottom = std::max(s.bottom, y + 1);
      ++s.area;
    }
  }
  return strokes;
}

// The largest and smallest level of each pixel's 5x5 neighbourhood (clipped at the edges).
void extremes5(const GreyImage& grey, std::vector<std::uint8_t>& most,
               std::vector<std::uint8_t>& least) {
  const int w = grey.width, h = grey.height;
  std::vector<std::uint8_t> rowMax(grey.pixels.size()), rowMin(grey.pixels.size());
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      std::uint8_t hi = 0, lo = 255;
      for (int k = std::max(0, x - 2); k <= std::min(w - 1, x + 2); ++k) {
        hi = std::max(hi, grey.at(k, y));
        lo = std::min(lo, grey.at(k, y));
      }
      rowMax[index(w, x, y)] = hi;
      rowMin[index(w, x, y)] = lo;
    }
  }
  most.assign(grey.pixels.size(), 0);
  least.assign(grey.pixels.size(), 255);
  for (int y = 0; y < h; ++y) {
    for (int k = std::max(0, y - 2); k <= std::min(h - 1, y + 2); ++k) {
      for (int x = 0; x < w; ++x) {
        std::uint8_t& hi = most[index(w, x, y)];
        std::uint8_t& lo = least[index(w, x, y)];
        hi = std::max(hi, rowMax[index(w, x, k)]);
        lo = std::min(lo, rowMin[index(w, x, k)]);
      }
    }
  }
}

// The grey level of the nearest flat pixel (chamfer distance), for every pixel; white when the
// page has no flat pixel at all.
std::vector<std::uint8_t> nearestBackground(const GreyImage& grey,
                                            const std::vector<std::uint8_t>& flat) {
  const int w = grey.width, h = grey.height;
  constexpr std::uint32_t FAR = std::numeric_limits<std::uint32_t>::max() / 2;
  std::vector<std::uint32_t> dist(grey.pixels.size(), FAR);
  std::vector<std::uint8_t> background(grey.pixels.size(), 255);
  bool any = false;
  for (std::size_t i = 0; i < flat.size(); ++i) {
    if (flat[i] != 0) {
      dist[i] = 0;
      background[i] = grey.pixels[i];
      any = true;
    }
  }
  if (!any) return background;
  auto relax = [&](int x, int y, int nx, int ny, std::uint32_t step) {
    if (nx < 0 || nx >= w || ny < 0 || ny >= h) return;
    const std::size_t from = index(w, nx, ny), to = index(w, x, y);
    if (dist[from] + step < dist[to]) {
      dist[to] = dist[from] + step;
      background[to] = background[from];
    }
  };
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      relax(x, y, x - 1, y, 3);
      relax(x, y, x - 1, y - 1, 4);
      relax(x, y, x, y - 1, 3);
      relax(x, y, x + 1, y - 1, 4);
    }
  }
  for (int y = h - 1; y >= 0; --y) {
    for (int x = w - 1; x >= 0; --x) {
      relax(x, y, x + 1, y, 3);
      relax(x, y, x + 1, y + 1, 4);
      relax(x, y, x, y + 1, 3);
      relax(x, y, x - 1, y + 1, 4);
    }
  }
  return background;
}

// Ink from differences (`diff`, 0..255) over a w x h area: each connected stroke of
// differences from INK_LEVEL on is scaled so that its strongest pixel is full ink; weaker
// differences are paper. Only pixels where `inside` is non-zero take part (all when empty).
std::vector<std::uint8_t> strokesToInk(const std::vector<std::uint8_t>& diff, int w, int h,
                                       const std::vector<std::uint8_t>& inside) {
  std::vector<std::uint8_t> mask(diff.size());
  for (std::size_t i = 0; i < diff.size(); ++i) {
    mask[i] = diff[i] >= INK_LEVEL && (inside.empty() || inside[i] != 0) ? 1 : 0;
  }
  std::vector<int> labels;
  const std::vector<Stroke> strokes = labelStrokes(mask, w, h, labels);
  std::vector<int> peak(strokes.size(), 0);
  for (std::size_t i = 0; i < diff.size(); ++i) {
    int& p = peak[static_cast<std::size_t>(labels[i])];
    p = std::max(p, static_cast<int>(diff[i]));
  }
  std::vector<std::uint8_t> ink(diff.size(), 0);
  for (std::size_t i = 0; i < diff.size(); ++i) {
    if (labels[i] == 0) continue;
    const int scale = std::max(peak[static_cast<std::size_t>(labels[i])], MIN_CONTRAST);
    ink[i] = static_cast<std::uint8_t>(std::min(255, diff[i] * 255 / scale));
  }
  return ink;
}

// Pixels of `region` (a w x h crop of a stroke's box, non-zero on the stroke) that the stroke
// covers or encloses: the stroke and its holes, where a hole may open onto the box's edge (text
// touching the edge of a selection) but not reach one of its corners (the outside of a
// rounded box).
std::vector<std::uint8_t> strokeWithHoles(const std::vector<std::uint8_t>& region, int w, int h) {
  std::vector<std::uint8_t> outside(region.size(), 0);
  std::vector<std::pair<int, int>> todo;
  for (auto [cx, cy] : {std::pair{0, 0}, {w - 1, 0}, {0, h - 1}, {w - 1, h - 1}}) {
    if (region[index(w, cx, cy)] == 0 && outside[index(w, cx, cy)] == 0) {
      outside[index(w, cx, cy)] = 1;
      todo.emplace_back(cx, cy);
    }
  }
  while (!todo.empty()) {
    auto [x, y] = todo.back();
    todo.pop_back();
    for (int dy = -1; dy <= 1; ++dy) {
      for (int dx = -1; dx <= 1; ++dx) {
        const int nx = x + dx, ny = y + dy;
        if (nx < 0 || nx >= w || ny < 0 || ny >= h) continue;
        const std::size_t i = index(w, nx, ny);
        if (region[i] != 0 || outside[i] != 0) continue;
        outside[i] = 1;
        todo.emplace_back(nx, ny);
      }
    }
  }
  std::vector<std::uint8_t> filled(region.size());
  for (std::size_t i = 0; i < region.size(); ++i) filled[i] = outside[i] == 0 ? 1 : 0;
  return filled;
}

// The level at which half of `count` pixels counted in `histogram` are reached.
int medianLevel(const std::array<int, 256>& histogram, int count) {
  int level = 0;
  for (int seen = 0; level < 255; ++level) {
    seen += histogram[static_cast<std::size_t>(level)];
    if (seen * 2 >= count) break;
  }
  return level;
}

bool squareish(int w, int h) { return w * 4 >= h * 3 && w * 3 <= h * 4; }

// Solid blobs of ink are bars, sliders, filled check boxes and selections rather than text.
// A blob without holes becomes paper; one with holes (a selection with its text cut out of it)
// is read against its own colour, so that the text inside is ink and the box paper.
void resolveSolids(const GreyImage& grey, GreyImage& ink) {
  const int w = grey.width, h = grey.height;
  std::vector<std::uint8_t> body(ink.pixels.size());
  for (std::size_t i = 0; i < body.size(); ++i) body[i] = ink.pixels[i] >= BODY_INK ? 1 : 0;
  std::vector<int> labels;
  const std::vector<Stroke> strokes = labelStrokes(body, w, h, labels);
  for (std::size_t n = 1; n < strokes.size(); ++n) {
    const Stroke& s = strokes[n];
    const int sw = s.width(), sh = s.height();
    if (sw < 8 || sh < 8 || s.area < 150 || s.area * 2 < sw * sh) continue;
    std::vector<std::uint8_t> region(static_cast<std::size_t>(sw) * sh);
    std::array<int, 256> histogram{};
    for (int y = 0; y < sh; ++y) {
      for (int x = 0; x < sw; ++x) {
        if (labels[index(w, s.left + x, s.top + y)] != static_cast<int>(n)) continue;
        region[index(sw, x, y)] = 1;
        ++histogram[grey.at(s.left + x, s.top + y)];
      }
    }
    const std::vector<std::uint8_t> filled = strokeWithHoles(region, sw, sh);
    const int filledArea = static_cast<int>(std::count(filled.begin(), filled.end(), 1));
    // A solid bar or box: wide (a progress bar, a slider's fill), small and square (a filled
    // check box), or taller than text. A solid glyph (a large bold I) is none of these.
    const bool small = squareish(sw, sh) && std::max(sw, sh) <= 24;
    const bool solid = filledArea - s.area < 10 && s.area * 100 >= sw * sh * 85 &&
                       (sw >= 2 * sh || small || sh > OCR_MAX_TEXT_HEIGHT);
    const bool filledMark = filledArea * 4 >= sw * sh * 3 && small;
    if (solid || filledMark) {
      for (int y = 0; y < sh; ++y) {
        for (int x = 0; x < sw; ++x) {
          if (filled[index(sw, x, y)] != 0) ink.at(s.left + x, s.top + y) = 0;
        }
      }
      continue;
    }
    // A selection or a coloured button with text cut out of it is a full rectangle, wider than
    // high; a glyph with its counters filled (a large a or e) is not.
    if (filledArea - s.area < 10 || filledArea * 10 < sw * sh * 9 || sw * 2 < sh * 3) continue;
    // The box's own colour: the median of its pixels.
    const int median = medianLevel(histogram, s.area);
    std::vector<std::uint8_t> diff(region.size());
    for (int y = 0; y < sh; ++y) {
      for (int x = 0; x < sw; ++x) {
        diff[index(sw, x, y)] =
            static_cast<std::uint8_t>(std::abs(grey.at(s.left + x, s.top + y) - median));
      }
    }
    const std::vector<std::uint8_t> inner = strokesToInk(diff, sw, sh, filled);
    for (int y = 0; y < sh; ++y) {
      for (int x = 0; x < sw; ++x) {
        if (filled[index(sw, x, y)] != 0) ink.at(s.left + x, s.top + y) = inner[index(sw, x, y)];
      }
    }
  }
}

// How many sides of its box the stroke `n` (its box `s`) runs along: a side counts when along
// `percent` of its middle four fifths there is ink within two pixels of the box's edge.
// Rectangles have four at 90; round letters (O, o, 0, D) fewer; letters open on a side (L, U,
// C) fewer at 60. A button whose top edge is faint has three.
int sidesAlong(const std::vector<int>& labels, int w, const Stroke& s, int n, int percent) {
  auto on = [&](int x, int y) { return labels[index(w, s.left + x, s.top + y)] == n; };
  const int sw = s.width(), sh = s.height();
  auto side = [&](int length, auto inBand) {
    const int from = length / 10, to = length - length / 10;
    int hits = 0;
    for (int k = from; k < to; ++k) hits += inBand(k) ? 1 : 0;
    return hits * 100 >= (to - from) * percent ? 1 : 0;
  };
  return side(sw, [&](int x) { return on(x, 0) || on(x, 1); }) +
         side(sw, [&](int x) { return on(x, sh - 1) || on(x, sh - 2); }) +
         side(sh, [&](int y) { return on(0, y) || on(1, y); }) +
         side(sh, [&](int y) { return on(sw - 1, y) || on(sw - 2, y); });
}

// Outlines become paper: long thin rules and bars (separators, underlines of tabs, sliders), the
// hollow outlines of buttons and fields, and square check boxes with whatever they hold.
void eraseOutlines(GreyImage& ink) {
  const int w = ink.width, h = ink.height;
  // From the level lines are looked for at: an outline's faint sides are part of it.
  std::vector<std::uint8_t> body(ink.pixels.size());
  for (std::size_t i = 0; i < body.size(); ++i) body[i] = ink.pixels[i] >= LINE_INK ? 1 : 0;
  std::vector<int> labels;
  const std::vector<Stroke> strokes = labelStrokes(body, w, h, labels);
  std::vector<std::uint8_t> erase(ink.pixels.size(), 0);
  for (std::size_t n = 1; n < strokes.size(); ++n) {
    const Stroke& s = strokes[n];
    const int sw = s.width(), sh = s.height(), label = static_cast<int>(n);
    auto eraseStroke = [&] {
      for (int y = s.top; y < s.bottom; ++y) {
        for (int x = s.left; x < s.right; ++x) {
          if (labels[index(w, x, y)] == label) erase[index(w, x, y)] = 1;
        }
      }
    };
    // Rules, and bars far longer than thick (a progress bar, a slider's trough); no glyph is.
    const bool bar = s.area * 100 >= sw * sh * 85 && (sw >= 8 * sh || sh >= 8 * sw);
    if ((sh <= 3 && sw >= 30) || (sw <= 3 && sh >= 40) || (bar && std::max(sw, sh) >= 40)) {
      eraseStroke();
      continue;
    }
    if (std::min(sw, sh) < 8 || s.area * 5 < (sw + sh) * 6) continue;
    // Hollow: next to nothing of the stroke lies deeper inside its box than a fifth of the box.
    const int band = std::max(2, static_cast<int>(std::lround(std::min(sw, sh) * 0.2)));
    int inner = 0;
    for (int y = s.top + band; y < s.bottom - band; ++y) {
      for (int x = s.left + band; x < s.right - band; ++x) {
        if (labels[index(w, x, y)] == label) ++inner;
      }
    }
    if (inner * 100 > s.area * 3) continue;
    // Buttons and fields are wide, frames of panels large; letters are neither.
    const bool elongated = sw * 2 >= sh * 3 || sh * 2 >= sw * 3 || std::min(sw, sh) >= 40;
    if (elongated && std::min(sw, sh) >= 12 && sidesAlong(labels, w, s, label, 60) >= 3) {
      eraseStroke();
    } else if (squareish(sw, sh) && std::max(sw, sh) <= 24 &&
               sidesAlong(labels, w, s, label, 90) == 4) {
      for (int y = s.top; y < s.bottom; ++y) {
        for (int x = s.left; x < s.right; ++x) erase[index(w, x, y)] = 1;
      }
    }
  }
  // A pixel more, for the anti-aliased edge.
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      if (erase[index(w, x, y)] == 0) continue;
      for (int yy = std::max(0, y - 1); yy <= std::min(h - 1, y + 1); ++yy) {
        for (int xx = std::max(0, x - 1); xx <= std::min(w - 1, x + 1); ++xx) ink.at(xx, yy) = 0;
      }
    }
  }
}

// The background of a page: pixels flat over their 5x5 neighbourhood, in areas that are flat
// over 9x9 somewhere. The inside of a thick stroke (a large heading, a bold title) is flat over
// 5x5 but too narrow for 9x9, and stays ink. A page without any such area (text cropped close)
// has its most common level for background.
struct Background {
  std::vector<std::uint8_t> mask;  // 1 on background pixels
  std::vector<int> areas;          // per pixel: its flat area (0: not flat)
  std::vector<Stroke> boxes;       // per area: its box
  std::vector<std::uint8_t> seeded;  // per area: whether it is background
};

Background backgroundAreas(const GreyImage& grey) {
  const int w = grey.width, h = grey.height;
  Background bg;
  std::vector<std::uint8_t> most, least;
  extremes5(grey, most, least);
  bg.mask.resize(grey.pixels.size());
  for (std::size_t i = 0; i < bg.mask.size(); ++i) {
    bg.mask[i] = most[i] - least[i] <= OCR_FLAT_RANGE ? 1 : 0;
  }
  bg.boxes = labelStrokes(bg.mask, w, h, bg.areas);
  bg.seeded.assign(bg.boxes.size(), 0);
  // The 9x9 neighbourhood is the union of the 5x5 ones two pixels up or down, left or right.
  bool any = false;
  for (int y = 0; y < h; ++y) {
    const int up = std::max(0, y - 2), down = std::min(h - 1, y + 2);
    for (int x = 0; x < w; ++x) {
      const int area = bg.areas[index(w, x, y)];
      if (area == 0 || bg.seeded[static_cast<std::size_t>(area)] != 0) continue;
      const int left = std::max(0, x - 2), right = std::min(w - 1, x + 2);
      std::uint8_t hi = 0, lo = 255;
      for (int yy : {up, down}) {
        for (int xx : {left, right}) {
          hi = std::max(hi, most[index(w, xx, yy)]);
          lo = std::min(lo, least[index(w, xx, yy)]);
        }
      }
      if (hi - lo <= OCR_FLAT_RANGE) {
        bg.seeded[static_cast<std::size_t>(area)] = 1;
        any = true;
      }
    }
  }
  if (any) {
    for (std::size_t i = 0; i < bg.mask.size(); ++i) {
      bg.mask[i] = bg.seeded[static_cast<std::size_t>(bg.areas[i])];
    }
    return bg;
  }
  std::array<int, 256> histogram{};
  for (std::uint8_t v : grey.pixels) ++histogram[v];
  const auto common = static_cast<std::uint8_t>(
      std::max_element(histogram.begin(), histogram.end()) - histogram.begin());
  for (std::size_t i = 0; i < bg.mask.size(); ++i) {
    bg.mask[i] = std::abs(grey.pixels[i] - common) <= OCR_FLAT_RANGE / 2 ? 1 : 0;
  }
  std::fill(bg.areas.begin(), bg.areas.end(), 0);
  bg.boxes.resize(1);
  bg.seeded.assign(1, 0);
  return bg;
}

// Small filled squares and circles in a colour of their own (a checked check box, a selected
// radio button, a status dot): flat areas 8 to 24 pixels across whose level differs from what
// surrounds them. They and what they hold (a check mark, a dot) become paper.
void eraseFilledMarks(const GreyImage& grey, const Background& flat,
                      const std::vector<std::uint8_t>& background, GreyImage& ink) {
  const int w = grey.width, h = grey.height;
  const std::vector<int>& labels = flat.areas;
  for (std::size_t n = 1; n < flat.boxes.size(); ++n) {
    if (flat.seeded[n] == 0) continue;
    const Stroke& a = flat.boxes[n];
    const int aw = a.width(), ah = a.height();
    if (aw < 8 || ah < 8 || std::max(aw, ah) > 24 || !squareish(aw, ah) || a.area * 2 < aw * ah) {
      continue;
    }
    // Its level against the background just outside its box.
    std::array<int, 256> around{};
    int count = 0;
    for (int y = a.top - 3; y < a.bottom + 3; ++y) {
      for (int x = a.left - 3; x < a.right + 3; ++x) {
        if (x < 0 || x >= w || y < 0 || y >= h) continue;
        if (x >= a.left - 1 && x < a.right + 1 && y >= a.top - 1 && y < a.bottom + 1) continue;
        ++around[background[index(w, x, y)]];
        ++count;
      }
    }
    if (count == 0) continue;
    const int level = medianLevel(around, count);
    int inside = grey.at((a.left + a.right) / 2, (a.top + a.bottom) / 2);
    for (int y = a.top; y < a.bottom; ++y) {
      for (int x = a.left; x < a.right; ++x) {
        if (labels[index(w, x, y)] == static_cast<int>(n)) {
          inside = grey.at(x, y);
          y = a.bottom;
          break;
        }
      }
    }
    if (std::abs(inside - level) < 40) continue;
    for (int y = std::max(0, a.top - 2); y < std::min(h, a.bottom + 2); ++y) {
      for (int x = std::max(0, a.left - 2); x < std::min(w, a.right + 2); ++x) ink.at(x, y) = 0;
    }
  }
}

}  // namespace

GreyImage inkFromGrey(const GreyImage& grey) {
  const int w = grey.width, h = grey.height;
  GreyImage ink(w, h, 0);
  if (w <= 0 || h <= 0) return ink;
  const Background flat = backgroundAreas(grey);
  const std::vector<std::uint8_t> background = nearestBackground(grey, flat.mask);
  std::vector<std::uint8_t> diff(grey.pixels.size());
  for (std::size_t i = 0; i < diff.size(); ++i) {
    diff[i] = static_cast<std::uint8_t>(std::abs(grey.pixels[i] - background[i]));
  }
  ink.pixels = strokesToInk(diff, w, h, {});
  eraseFilledMarks(grey, flat, background, ink);
  resolveSolids(grey, ink);
  eraseOutlines(ink);
  return ink;
}

namespace {

struct LineBuild {
  int left = 0, top = 0, right = 0, bottom = 0;
  int glyphHeight = 0;
  std::vector<int> heights;
  int median = 0;

  void add(const Stroke& s, bool glyph) {
    left = std::min(left, s.left);
    top = std::min(top, s.top);
    right = std::max(right, s.right);
    bottom = std::max(bottom, s.bottom);
    if (!glyph) return;
    glyphHeight = std::max(glyphHeight, s.height());
    heights.push_back(s.height());
    std::vector<int> sorted = heights;
    std::nth_element(sorted.begin(), sorted.begin() + static_cast<std::ptrdiff_t>(sorted.size() / 2),
                     sorted.end());
    median = sorted[sorted.size() / 2];
  }
};

int verticalOverlap(int topA, int bottomA, int topB, int bottomB) {
  return std::min(bottomA, bottomB) - std::max(topA, topB);
}

// A check box, radio button or icon before a label: the strokes at the start of a line up to
// the first gap of a quarter of their height (four pixels at least: wider than the gaps between
// letters), together about square, 8 to 32 pixels high, a fifth taller than the rest of the
// line, with at least two glyphs after them. They leave the line
// (`strokeLine` -1) and its box shrinks to the rest. `target` maps lines merged into others.
void dropLeadingMarks(const std::vector<Stroke>& strokes, std::vector<LineBuild>& lines,
                      std::vector<int>& strokeLine, const std::vector<int>& target) {
  std::vector<std::vector<int>> members(lines.size());
  for (std::size_t n = 1; n < strokes.size(); ++n) {
    int line = strokeLine[n];
    if (line < 0) continue;
    while (target[static_cast<std::size_t>(line)] >= 0) line = target[static_cast<std::size_t>(line)];
    members[static_cast<std::size_t>(line)].push_back(static_cast<int>(n));
  }
  for (std::size_t i = 0; i < lines.size(); ++i) {
    std::vector<int>& own = members[i];
    if (own.size() < 3) continue;
    std::stable_sort(own.begin(), own.end(), [&](int a, int b) {
      return strokes[static_cast<std::size_t>(a)].left < strokes[static_cast<std::size_t>(b)].left;
    });
    Stroke mark = strokes[static_cast<std::size_t>(own[0])];
    std::size_t k = 1;
    for (; k < own.size(); ++k) {
      const Stroke& s = strokes[static_cast<std::size_t>(own[k])];
      if ((s.left - mark.right) * 4 >= std::max(16, mark.height())) break;
      mark.left = std::min(mark.left, s.left);
      mark.top = std::min(mark.top, s.top);
      mark.right = std::max(mark.right, s.right);
      mark.bottom = std::max(mark.bottom, s.bottom);
    }
    if (k == own.size() || mark.height() < 8 || mark.height() > 32 ||
        !squareish(mark.width(), mark.height())) {
      continue;
    }
    int tallest = 0, glyphs = 0;
    Stroke rest{std::numeric_limits<int>::max(), std::numeric_limits<int>::max(), -1, -1, 0};
    for (std::size_t r = k; r < own.size(); ++r) {
      const Stroke& s = strokes[static_cast<std::size_t>(own[r])];
      tallest = std::max(tallest, s.height());
      glyphs += s.height() >= MIN_GLYPH_HEIGHT ? 1 : 0;
      rest.left = std::min(rest.left, s.left);
      rest.top = std::min(rest.top, s.top);
      rest.right = std::max(rest.right, s.right);
      rest.bottom = std::max(rest.bottom, s.bottom);
    }
    // Against the rest's whole height (an i with its dot), so that a capital before small
    // letters ("View") is not taken for a mark.
    if (glyphs < 2 || mark.height() * 5 < (rest.bottom - rest.top) * 6) continue;
    for (std::size_t r = 0; r < k; ++r) strokeLine[static_cast<std::size_t>(own[r])] = -1;
    LineBuild& line = lines[i];
    line.left = rest.left;
    line.top = rest.top;
    line.right = rest.right;
    line.bottom = rest.bottom;
    line.glyphHeight = std::min(line.glyphHeight, tallest);
  }
}

}  // namespace

InkLines findInkLines(const GreyImage& ink, double gap) {
  const int w = ink.width, h = ink.height;
  InkLines found;
  std::vector<std::uint8_t> mask(ink.pixels.size());
  for (std::size_t i = 0; i < mask.size(); ++i) mask[i] = ink.pixels[i] >= LINE_INK ? 1 : 0;
  const std::vector<Stroke> strokes = labelStrokes(mask, w, h, found.labels);
  found.lineOf.assign(strokes.size(), -1);

  std::vector<int> glyphs, marks;
  for (std::size_t n = 1; n < strokes.size(); ++n) {
    const Stroke& s = strokes[n];
    if (s.height() > OCR_MAX_TEXT_HEIGHT) continue;
    // What is left of an outline (two sides of a tab, a bracket of a group): large and nearly
    // empty, which no glyph is.
    if (std::max(s.width(), s.height()) >= 20 && s.area * 100 < s.width() * s.height() * 8) continue;
    (s.height() >= MIN_GLYPH_HEIGHT ? glyphs : marks).push_back(static_cast<int>(n));
  }
  auto byLeft = [&](int a, int b) {
    return strokes[static_cast<std::size_t>(a)].left < strokes[static_cast<std::size_t>(b)].left;
  };
  std::stable_sort(glyphs.begin(), glyphs.end(), byLeft);

  // Glyphs, left to right: each joins the line that ends closest before it on its row, of a
  // like height, at most `gap` heights away; else it starts a line.
  std::vector<LineBuild> lines;
  std::vector<int> strokeLine(strokes.size(), -1);
  std::vector<int> smallGlyphs;
  for (int n : glyphs) {
    const Stroke& s = strokes[static_cast<std::size_t>(n)];
    int best = -1, bestGap = 0;
    bool dwarfed = false;  // beside a line of far larger glyphs: the dot of a large i
    for (std::size_t i = 0; i < lines.size(); ++i) {
      const LineBuild& line = lines[i];
      const int tallest = std::max(line.glyphHeight, s.height());
      const int distance = s.left - line.right;
      if (distance > gap * tallest || distance < -3 * tallest) continue;
      if (verticalOverlap(s.top, s.bottom, line.top, line.bottom) * 2 <
          std::min(s.height(), line.bottom - line.top)) {
        continue;
      }
      if (s.height() * 2 > line.median * 5) continue;
      if (line.median > s.height() * 4) {
        dwarfed = true;
        continue;
      }
      if (line.median * 2 > s.height() * 5) continue;
      if (best < 0 || distance < bestGap) {
        best = static_cast<int>(i);
        bestGap = distance;
      }
    }
    if (best < 0 && dwarfed) {
      smallGlyphs.push_back(n);
      continue;
    }
    if (best < 0) {
      lines.push_back(LineBuild{s.left, s.top, s.right, s.bottom, 0, {}, 0});
      best = static_cast<int>(lines.size() - 1);
    }
    lines[static_cast<std::size_t>(best)].add(s, true);
    strokeLine[static_cast<std::size_t>(n)] = best;
  }

  // Marks join the nearest line whose band (widened above for accents) holds their middle and
  // that they are at most `gap` heights beside; marks near no line are specks.
  marks.insert(marks.end(), smallGlyphs.begin(), smallGlyphs.end());
  for (int n : marks) {
    const Stroke& s = strokes[static_cast<std::size_t>(n)];
    const double middle = (s.top + s.bottom) / 2.0;
    int best = -1;
    double bestDistance = 0;
    for (std::size_t i = 0; i < lines.size(); ++i) {
      const LineBuild& line = lines[i];
      const int lh = line.bottom - line.top;
      if (middle < line.top - 0.6 * lh || middle > line.bottom + 0.3 * lh) continue;
      if (s.right < line.left - gap * lh || s.left > line.right + gap * lh) continue;
      const double distance = std::max({0, line.left - s.right, s.left - line.right}) +
                              std::abs(middle - (line.top + line.bottom) / 2.0);
      if (best < 0 || distance < bestDistance) {
        best = static_cast<int>(i);
        bestDistance = distance;
      }
    }
    if (best < 0) continue;
    lines[static_cast<std::size_t>(best)].add(s, false);
    strokeLine[static_cast<std::size_t>(n)] = best;
  }

  // Lines on one row that are a word gap apart once their marks are in (a letter broken in two,
  // "1." before its text) are one line.
  std::vector<std::size_t> order(lines.size());
  std::iota(order.begin(), order.end(), std::size_t{0});
  std::stable_sort(order.begin(), order.end(),
                   [&](std::size_t a, std::size_t b) { return lines[a].left < lines[b].left; });
  std::vector<int> target(lines.size(), -1);
  std::vector<std::size_t> kept;
  for (std::size_t i : order) {
    LineBuild& line = lines[i];
    int into = -1;
    for (std::size_t k : kept) {
      const LineBuild& other = lines[k];
      const int tallest = std::max(line.glyphHeight, other.glyphHeight);
      const int shortest = std::min(line.glyphHeight, other.glyphHeight);
      const int distance = line.left - other.right;
      if (verticalOverlap(line.top, line.bottom, other.top, other.bottom) * 2 <
              std::min(line.bottom - line.top, other.bottom - other.top) ||
          distance < -tallest / 2 || distance > gap * tallest || tallest * 2 > shortest * 5) {
        continue;
      }
      if (into < 0 || other.right > lines[static_cast<std::size_t>(into)].right) {
        into = static_cast<int>(k);
      }
    }
    if (into < 0) {
      kept.push_back(i);
      continue;
    }
    LineBuild& joined = lines[static_cast<std::size_t>(into)];
    joined.left = std::min(joined.left, line.left);
    joined.top = std::min(joined.top, line.top);
    joined.right = std::max(joined.right, line.right);
    joined.bottom = std::max(joined.bottom, line.bottom);
    joined.glyphHeight = std::max(joined.glyphHeight, line.glyphHeight);
    target[i] = into;
  }
  dropLeadingMarks(strokes, lines, strokeLine, target);
  std::vector<int> finalIndex(lines.size(), -1);
  for (std::size_t k : kept) {
    finalIndex[k] = static_cast<int>(found.lines.size());
    const LineBuild& line = lines[k];
    found.lines.push_back(InkLine{line.left, line.top, line.right, line.bottom, line.glyphHeight});
  }
  for (std::size_t n = 1; n < strokes.size(); ++n) {
    int line = strokeLine[n];
    if (line < 0) continue;
    while (target[static_cast<std::size_t>(line)] >= 0) line = target[static_cast<std::size_t>(line)];
    found.lineOf[n] = finalIndex[static_cast<std::size_t>(line)];
  }
  return found;
}

int inkLinePadding(const InkLine& line) { return std::max(4, line.glyphHeight / 2); }

GreyImage drawInkLine(const GreyImage& ink, const InkLines& found, std::size_t which, int scale,
                      int margin, int& originX, int& originY) {
  const InkLine& line = found.lines.at(which);
  const int w = ink.width, h = ink.height;
  const int pad = inkLinePadding(line);
  const int left = std::max(0, line.left - pad), top = std::max(0, line.top - pad);
  const int right = std::min(w, line.right + pad), bottom = std::min(h, line.bottom + pad);
  originX = left;
  originY = top;
  const int cw = std::max(0, right - left), ch = std::max(0, bottom - top);
  scale = std::max(1, scale);
  margin = std::max(0, margin);

  // The line's strokes and a pixel around them, dark on white.
  GreyImage crop(cw, ch, 255);
  const int own = static_cast<int>(which);
  for (int y = 0; y < ch; ++y) {
    for (int x = 0; x < cw; ++x) {
      const int px = left + x, py = top + y;
      bool mine = false;
      for (int dy = -1; dy <= 1 && !mine; ++dy) {
        for (int dx = -1; dx <= 1 && !mine; ++dx) {
          const int nx = px + dx, ny = py + dy;
          if (nx < 0 || nx >= w || ny < 0 || ny >= h) continue;
          const int label = found.labels[index(w, nx, ny)];
          mine = label > 0 && found.lineOf[static_cast<std::size_t>(label)] == own;
        }
      }
      if (mine) crop.at(x, y) = static_cast<std::uint8_t>(255 - ink.at(px, py));
    }
  }

  GreyImage out(cw * scale + 2 * margin, ch * scale + 2 * margin, 255);
  if (cw == 0 || ch == 0) return out;
  for (int y = 0; y < ch * scale; ++y) {
    // Bilinear: each output pixel's centre mapped back into the crop.
    const double sy = std::clamp((y + 0.5) / scale - 0.5, 0.0, ch - 1.0);
    const int y0 = static_cast<int>(sy), y1 = std::min(ch - 1, y0 + 1);
    const double fy = sy - y0;
    for (int x = 0; x < cw * scale; ++x) {
      const double sx = std::clamp((x + 0.5) / scale - 0.5, 0.0, cw - 1.0);
      const int x0 = static_cast<int>(sx), x1 = std::min(cw - 1, x0 + 1);
      const double fx = sx - x0;
      const double top0 = crop.at(x0, y0) * (1 - fx) + crop.at(x1, y0) * fx;
      const double bottom0 = crop.at(x0, y1) * (1 - fx) + crop.at(x1, y1) * fx;
      out.at(margin + x, margin + y) =
          static_cast<std::uint8_t>(std::lround(top0 * (1 - fy) + bottom0 * fy));
    }
  }
  return out;
}

}  // namespace uiglean
