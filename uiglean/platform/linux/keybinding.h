// Menu item shortcuts: the key binding a toolkit gives an item's action, as the three macOS menu
// item attributes (command character, modifier mask, virtual key).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace uiglean::lx {

struct MenuShortcut {
  std::optional<std::string> cmdChar;     // AXMenuItemCmdChar: one character, upper case
  std::optional<std::int64_t> virtualKey; // AXMenuItemCmdVirtualKey, for keys without one
  std::int64_t modifiers = 0;             // AXMenuItemCmdModifiers
};

// The modifier mask's bits: shift 1, option 2, control 4; bit 8 set means no command key.
inline constexpr std::int64_t MOD_SHIFT = 1;
inline constexpr std::int64_t MOD_OPTION = 2;
inline constexpr std::int64_t MOD_CONTROL = 4;
inline constexpr std::int64_t MOD_NO_COMMAND = 8;

// The shortcut of a key binding string, or nothing when it holds none.
//   GTK:  "mnemonic;path;accelerator", for example "n;<Alt>f:n;<Primary>n" (the accelerator part
//         counts; "<Primary>" and "<Control>" are control, "<Alt>" option, "<Super>" command)
//   Qt:   "Ctrl+Shift+N"
std::optional<MenuShortcut> parseKeyBinding(const std::string& binding);

// The shortcut of a menu item's key binding. Qt gives an item without a shortcut its mnemonic as
// the binding ("Alt+M" for "Recently &Modified"): Alt with one letter that the item's title holds
// is taken for the mnemonic, never a shortcut.
std::optional<MenuShortcut> parseMenuItemBinding(const std::string& binding,
                                                 const std::string& title);

}  // namespace uiglean::lx
