// Keyboard input through the X server's test extension, for what the accessibility route cannot
// do: closing menus, and typing into widgets whose text cannot be written (browsers).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace uiglean::lx {

inline constexpr std::uint32_t KEY_ESCAPE = 0xff1b;
inline constexpr std::uint32_t KEY_RETURN = 0xff0d;
inline constexpr std::uint32_t KEY_TAB = 0xff09;
inline constexpr std::uint32_t KEY_DELETE = 0xffff;
inline constexpr std::uint32_t KEY_END = 0xff57;

// The keysym of a Unicode scalar.
std::uint32_t keysymFor(std::uint32_t scalar);

// Presses and releases one key, with control and shift held when asked (strikeKey); false when
// it could not.
bool pressKey(std::uint32_t keysym, bool control = false, bool shift = false);

// Why synthesized input cannot reach the display (none, or no test extension), or nothing.
std::optional<std::string> inputUnavailable();

// Presses the modifier keys (keysyms, such as Control_L), then the key of `keysym` (with shift
// too when the keyboard map has it on its shifted level only), and releases them in reverse. A
// keysym that the map lacks is bound to a spare keycode for the time of the stroke. Nothing when
// done, else why not.
std::optional<std::string> strikeKey(std::uint32_t keysym, const std::vector<std::uint32_t>& modifiers);

// Types the text (UTF-8) key by key into whatever has the keyboard focus. Characters that the
// keyboard map lacks are bound to spare keycodes for the time of the typing, and the map is put
// back afterwards, once `arrived` says the application has the text (or 1.5 s have passed).
bool typeText(const std::string& text, const std::function<bool()>& arrived);

// Waits until the X server has handled everything sent so far.
void syncDisplay();

}  // namespace uiglean::lx
