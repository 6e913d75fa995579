#include "uiglean/platform/linux/keyboard.h"

#include <functional>

#include <xcb/xtest.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <optional>
#include <vector>

#include "uiglean/platform/linux/keptanswers.h"
#include "uiglean/platform/linux/strings.h"
#include "uiglean/platform/linux/windowserver.h"

namespace uiglean::lx {

namespace {

struct Keymap {
  xcb_keycode_t min = 8, max = 255;
  std::uint8_t perCode = 0;
  std::vector<xcb_keysym_t> syms;  // (max - min + 1) * perCode
};

bool hasTestExtension() {
  xcb_connection_t* c = display();
  if (c == nullptr) return false;
  const xcb_query_extension_reply_t* ext = xcb_get_extension_data(c, &xcb_test_id);
  return ext != nullptr && ext->present != 0;
}

std::optional<Keymap> readKeymap() {
  xcb_connection_t* c = display();
  if (c == nullptr) return std::nullopt;
  const xcb_setup_t* setup = xcb_get_setup(c);
  Keymap k;
  k.min = setup->min_keycode;
  k.max = setup->max_keycode;
  auto count = static_cast<std::uint8_t>(k.max - k.min + 1);
  auto* reply = xcb_get_keyboard_mapping_reply(c, xcb_get_keyboard_mapping(c, k.min, count),
                                               nullptr);
  if (reply == nullptr) return std::nullopt;
  k.perCode = reply->keysyms_per_keycode;
  const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(reply);
  int n = xcb_get_keyboard_mapping_keysyms_length(reply);
  k.syms.assign(syms, syms + n);
  std::free(reply);
  return k;
}

// The keycode that gives `keysym`, and whether shift is needed for it.
std::optional<std::pair<xcb_keycode_t, bool>> find(const Keymap& k, xcb_keysym_t keysym) {
  if (k.perCode == 0) return std::nullopt;
  std::size_t codes = k.syms.size() / k.perCode;
  for (int column = 0; column < 2 && column < k.perCode; ++column) {
    for (std::size_t i = 0; i < codes; ++i) {
      if (k.syms[i * k.perCode + static_cast<std::size_t>(column)] == keysym) {
        return std::make_pair(static_cast<xcb_keycode_t>(k.min + i), column == 1);
      }
    }
  }
  return std::nullopt;
}

std::vector<xcb_keycode_t> spareCodes(const Keymap& k) {
  std::vector<xcb_keycode_t> out;
  if (k.perCode == 0) return out;
  std::size_t codes = k.syms.size() / k.perCode;
  for (std::size_t i = codes; i-- > 0;) {
    bool empty = true;
    for (std::size_t j = 0; j < k.perCode; ++j) empty = empty && k.syms[i * k.perCode + j] == 0;
    if (empty) out.push_back(static_cast<xcb_keycode_t>(k.min + i));
    if (out.size() == 8) break;
  }
  return out;
}

void fake(std::uint8_t type, xcb_keycode_t code) {
  forgetKeptAnswers();  // whoever receives the key may change
  xcb_test_fake_input(display(), type, code, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
}

void tap(xcb_keycode_t code, std::optional<xcb_keycode_t> control, std::optional<xcb_keycode_t> shift) {
  if (control) fake(XCB_KEY_PRESS, *control);
  if (shift) fake(XCB_KEY_PRESS, *shift);
  fake(XCB_KEY_PRESS, code);
  fake(XCB_KEY_RELEASE, code);
  if (shift) fake(XCB_KEY_RELEASE, *shift);
  if (control) fake(XCB_KEY_RELEASE, *control);
}

void bind(const Keymap& k, xcb_keycode_t code, xcb_keysym_t keysym) {
  std::vector<xcb_keysym_t> syms(k.perCode, keysym);
  xcb_change_keyboard_mapping(display(), 1, code, k.perCode, syms.data());
}

}  // namespace

std::uint32_t keysymFor(std::uint32_t scalar) {
  if (scalar == '\n' || scalar == '\r') return KEY_RETURN;
  if (scalar == '\t') return KEY_TAB;
  if ((scalar >= 0x20 && scalar <= 0x7e) || (scalar >= 0xa0 && scalar <= 0xff)) return scalar;
  return 0x01000000U | scalar;
}

void syncDisplay() {
  xcb_connection_t* c = display();
  if (c == nullptr) return;
  std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
}

bool pressKey(std::uint32_t keysym, bool control, bool shift) {
  std::vector<std::uint32_t> modifiers;
  if (control) modifiers.push_back(0xffe3);  // Control_L
  if (shift) modifiers.push_back(0xffe1);    // Shift_L
  return !strikeKey(keysym, modifiers).has_value();
}

std::optional<std::string> inputUnavailable() {
  if (display() == nullptr) {
    return std::string(
        "no X display: synthesized input needs an X server with the XTEST extension, which a "
        "Wayland session without X does not offer");
  }
  if (!hasTestExtension()) return std::string("the X server has no XTEST extension");
  return std::nullopt;
}

std::optional<std::string> strikeKey(std::uint32_t keysym,
                                     const std::vector<std::uint32_t>& modifiers) {
  if (auto why = inputUnavailable()) return why;
  auto k = readKeymap();
  if (!k) return std::string("the X server's keyboard map could not be read");
  std::vector<xcb_keycode_t> held;
  for (std::uint32_t m : modifiers) {
    auto code = find(*k, m);
    if (!code) return std::string("the keyboard map has no key for a modifier (keysym ") +
                      std::to_string(m) + ")";
    held.push_back(code->first);
  }
  auto key = find(*k, keysym);
  std::optional<xcb_keycode_t> bound;
  if (!key) {
    std::vector<xcb_keycode_t> spare = spareCodes(*k);
    if (spare.empty()) return std::string("the keyboard map has no key for it and no spare keycode");
    bound = spare.front();
    bind(*k, *bound, keysym);
    syncDisplay();
    key = std::make_pair(*bound, false);
  }
  if (key->second) {
    auto shift = find(*k, 0xffe1);
    if (shift && std::find(held.begin(), held.end(), shift->first) == held.end()) {
      held.push_back(shift->first);
    }
  }
  for (xcb_keycode_t code : held) fake(XCB_KEY_PRESS, code);
  fake(XCB_KEY_PRESS, key->first);
  fake(XCB_KEY_RELEASE, key->first);
  for (auto it = held.rbegin(); it != held.rend(); ++it) fake(XCB_KEY_RELEASE, *it);
  syncDisplay();
  if (bound) {
    // The application reads the key with the map it has; it must have read it before the
    // spare keycode goes back to nothing.
    struct timespec tick{0, 150'000'000};
    nanosleep(&tick, nullptr);
    bind(*k, *bound, 0);
    syncDisplay();
  }
  return std::nullopt;
}

bool typeText(const std::string& text, const std::function<bool()>& arrived) {
  if (!hasTestExtension()) return false;
  auto k = readKeymap();
  if (!k) return false;
  auto shiftKey = find(*k, 0xffe1);
  std::vector<xcb_keycode_t> spare = spareCodes(*k);
  std::size_t nextSpare = 0;
  std::vector<xcb_keycode_t> used;
  for (std::uint32_t scalar : scalars(text)) {
    xcb_keysym_t keysym = keysymFor(scalar);
    auto key = find(*k, keysym);
    if (key) {
      std::optional<xcb_keycode_t> shift;
      if (key->second && shiftKey) shift = shiftKey->first;
      tap(key->first, std::nullopt, shift);
      continue;
    }
    if (spare.empty()) return false;
    xcb_keycode_t code = spare[nextSpare % spare.size()];
    ++nextSpare;
    bind(*k, code, keysym);
    used.push_back(code);
    // The client must see the new mapping before the key.
    syncDisplay();
    tap(code, std::nullopt, std::nullopt);
    syncDisplay();
  }
  syncDisplay();
  if (!used.empty()) {
    // The application must have read the keys before the map changes back, or it reads them
    // with the old map (nothing): wait until the text has arrived, 100 ms at least and 1.5 s at
    // most (a busy application reads its events late).
    struct timespec tick{0, 25'000'000};
    for (int waited = 0; waited < 60; ++waited) {
      nanosleep(&tick, nullptr);
      if (waited >= 3 && arrived && arrived()) break;
    }
    for (xcb_keycode_t code : spare) bind(*k, code, 0);
    syncDisplay();
  }
  return true;
}

}  // namespace uiglean::lx
