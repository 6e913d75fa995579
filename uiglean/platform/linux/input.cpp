// Synthesized input: key strokes, typing, clicks and the wheel through the X server's test
// extension (keyboard.cpp holds the keyboard map work).
#include <xcb/xtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <utility>
#include <vector>

#include "uiglean/ax/platform.h"
#include "uiglean/platform/linux/keyboard.h"
#include "uiglean/platform/linux/keptanswers.h"
#include "uiglean/platform/linux/windowserver.h"

namespace uiglean {

namespace {

std::uint32_t namedKeysym(NamedKey key) {
  switch (key) {
    case NamedKey::enter: return 0xff0d;
    case NamedKey::tab: return 0xff09;
    case NamedKey::space: return 0x20;
    case NamedKey::backspace: return 0xff08;
    case NamedKey::escape: return 0xff1b;
    case NamedKey::forwardDelete: return 0xffff;
    case NamedKey::home: return 0xff50;
    case NamedKey::end: return 0xff57;
    case NamedKey::pageUp: return 0xff55;
    case NamedKey::pageDown: return 0xff56;
    case NamedKey::left: return 0xff51;
    case NamedKey::up: return 0xff52;
    case NamedKey::right: return 0xff53;
    case NamedKey::down: return 0xff54;
    default:
      // F1 to F20 follow each other.
      return 0xffbe + static_cast<std::uint32_t>(static_cast<int>(key) - static_cast<int>(NamedKey::f1));
  }
}

// Moves the pointer to the point, when it is on the screen.
std::optional<std::string> moveTo(Point where) {
  if (auto why = lx::inputUnavailable()) return why;
  auto root = lx::windowGeometry(lx::rootWindow());
  if (!root) return std::string("the X screen's size could not be read");
  double x = std::floor(where.x), y = std::floor(where.y);
  if (!(x >= 0 && y >= 0 && x < root->width && y < root->height)) {
    return "the point " + std::to_string(static_cast<long long>(x)) + "," +
           std::to_string(static_cast<long long>(y)) + " is off the screen (" +
           std::to_string(root->width) + "x" + std::to_string(root->height) + ")";
  }
  lx::forgetKeptAnswers();  // a pointer that moves changes what is under it
  xcb_test_fake_input(lx::display(), XCB_MOTION_NOTIFY, 0, XCB_CURRENT_TIME, lx::rootWindow(),
                      static_cast<std::int16_t>(x), static_cast<std::int16_t>(y), 0);
  return std::nullopt;
}

void pressButton(std::uint8_t button, int times) {
  lx::forgetKeptAnswers();
  for (int i = 0; i < times; ++i) {
    xcb_test_fake_input(lx::display(), XCB_BUTTON_PRESS, button, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
    xcb_test_fake_input(lx::display(), XCB_BUTTON_RELEASE, button, XCB_CURRENT_TIME, XCB_NONE, 0, 0,
                        0);
  }
}

}  // namespace

namespace lx {

bool clickAndReturn(std::int32_t x, std::int32_t y) {
  if (inputUnavailable()) return false;
  xcb_connection_t* c = display();
  std::optional<std::pair<std::int16_t, std::int16_t>> before;
  if (auto* p = xcb_query_pointer_reply(c, xcb_query_pointer(c, rootWindow()), nullptr)) {
    if (p->same_screen != 0) before = std::make_pair(p->root_x, p->root_y);
    std::free(p);
  }
  if (moveTo(Point{static_cast<double>(x), static_cast<double>(y)})) return false;
  pressButton(1, 1);
  if (before) {
    xcb_test_fake_input(c, XCB_MOTION_NOTIFY, 0, XCB_CURRENT_TIME, rootWindow(), before->first,
                        before->second, 0);
  }
  syncDisplay();
  return true;
}

}  // namespace lx

std::optional<std::string> postKeyStroke(const KeyStroke& stroke) {
  std::vector<std::uint32_t> modifiers;
  if ((stroke.modifiers & keyModCommand) != 0) modifiers.push_back(0xffeb);  // Super_L
  if ((stroke.modifiers & keyModControl) != 0) modifiers.push_back(0xffe3);  // Control_L
  if ((stroke.modifiers & keyModOption) != 0) modifiers.push_back(0xffe9);   // Alt_L
  if ((stroke.modifiers & keyModShift) != 0) modifiers.push_back(0xffe1);    // Shift_L
  std::uint32_t keysym = stroke.named ? namedKeysym(*stroke.named) : lx::keysymFor(stroke.character);
  return lx::strikeKey(keysym, modifiers);
}

std::optional<std::string> postText(const std::string& text) {
  if (auto why = lx::inputUnavailable()) return why;
  if (!lx::typeText(text, [] { return true; })) {
    return std::string("the text could not be typed: the keyboard map has no spare keycode");
  }
  return std::nullopt;
}

std::optional<std::string> postMouseClick(Point where, MouseButton button, std::int32_t clicks) {
  if (auto why = moveTo(where)) return why;
  std::uint8_t code = button == MouseButton::left ? 1 : button == MouseButton::middle ? 2 : 3;
  pressButton(code, clicks);
  lx::syncDisplay();
  return std::nullopt;
}

std::optional<std::string> postScrollWheel(Point where, std::int32_t lines, std::int32_t columns) {
  if (auto why = moveTo(where)) return why;
  // The wheel is buttons 4 (up), 5 (down), 6 (left) and 7 (right), one press a step.
  pressButton(lines < 0 ? 4 : 5, std::abs(lines));
  pressButton(columns < 0 ? 6 : 7, std::abs(columns));
  lx::syncDisplay();
  return std::nullopt;
}

}  // namespace uiglean
