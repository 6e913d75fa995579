#include "uiglean/platform/linux/keybinding.h"

#include "uiglean/input/keys.h"
#include "uiglean/platform/linux/strings.h"

#include <cctype>
#include <vector>

namespace uiglean::lx {

namespace {

// Named keys with a macOS virtual key code.
struct NamedKey {
  const char* name;  // lower case
  std::int64_t code;
};
constexpr NamedKey NAMED_KEYS[] = {
    {"return", 36},    {"enter", 36},      {"kp_enter", 36}, {"tab", 48},        {"space", 49},
    {"backspace", 51}, {"escape", 53},     {"esc", 53},      {"delete", 117},    {"del", 117},
    {"home", 115},     {"end", 119},       {"page_up", 116}, {"prior", 116},     {"pgup", 116},
    {"pageup", 116},   {"page_down", 121}, {"next", 121},    {"pgdown", 121},    {"pagedown", 121},
    {"left", 123},     {"right", 124},     {"down", 125},    {"up", 126},        {"f1", 122},
    {"f2", 120},       {"f3", 99},         {"f4", 118},      {"f5", 96},         {"f6", 97},
    {"f7", 98},        {"f8", 100},        {"f9", 101},      {"f10", 109},       {"f11", 103},
    {"f12", 111},
};

// Fills the key part of `out` from a key name; false when the name is empty.
bool setKey(const std::string& key, MenuShortcut& out) {
  if (key.empty()) return false;
  std::string low = asciiLower(key);
  for (const auto& k : NAMED_KEYS) {
    if (low == k.name) {
      out.virtualKey = k.code;
      return true;
    }
  }
  if (auto ch = keysymNameCharacter(low)) {
    out.cmdChar = std::string(1, *ch);
    return true;
  }
  // One character (possibly a multi-byte one): as the menu shows it, upper case.
  unsigned char first = static_cast<unsigned char>(key[0]);
  std::size_t len = utf8Length(first);
  if (key.size() == len) {
    std::string ch = key;
    if (len == 1) ch[0] = static_cast<char>(std::toupper(first));
    out.cmdChar = ch;
    return true;
  }
  // Any other named key keeps its name, so that the caller still sees which key it is.
  out.cmdChar = key;
  return true;
}

std::int64_t modifierBit(const std::string& name, bool& isCommand) {
  std::string low = asciiLower(name);
  isCommand = false;
  if (low == "primary" || low == "control" || low == "ctrl" || low == "ctl") return MOD_CONTROL;
  if (low == "alt" || low == "mod1" || low == "option") return MOD_OPTION;
  if (low == "shift") return MOD_SHIFT;
  if (low == "super" || low == "meta" || low == "cmd" || low == "command" || low == "hyper") {
    isCommand = true;
    return 0;
  }
  return -1;
}

std::optional<MenuShortcut> parseGtk(const std::string& accel) {
  MenuShortcut out;
  bool command = false;
  std::size_t i = 0;
  while (i < accel.size() && accel[i] == '<') {
    std::size_t close = accel.find('>', i);
    if (close == std::string::npos) return std::nullopt;
    bool isCommand = false;
    std::int64_t bit = modifierBit(accel.substr(i + 1, close - i - 1), isCommand);
    if (bit > 0) out.modifiers |= bit;
    command = command || isCommand;
    i = close + 1;
  }
  if (!command) out.modifiers |= MOD_NO_COMMAND;
  if (!setKey(accel.substr(i), out)) return std::nullopt;
  return out;
}

std::optional<MenuShortcut> parsePlus(const std::string& binding) {
  // "Ctrl+Shift+N"; a trailing "+" key is written "Ctrl++".
  std::vector<std::string> parts;
  std::string cur;
  for (std::size_t i = 0; i < binding.size(); ++i) {
    char c = binding[i];
    if (c == '+' && !cur.empty()) {
      parts.push_back(cur);
      cur.clear();
    } else {
      cur += c;
    }
  }
  parts.push_back(cur);
  MenuShortcut out;
  bool command = false;
  for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
    bool isCommand = false;
    std::int64_t bit = modifierBit(parts[i], isCommand);
    if (bit < 0) return std::nullopt;
    out.modifiers |= bit;
    command = command || isCommand;
  }
  if (!command) out.modifiers |= MOD_NO_COMMAND;
  if (!setKey(parts.back(), out)) return std::nullopt;
  return out;
}

// A key without any modifier that types one character: in a menu that is the item's mnemonic
// (some toolkits repeat it where the accelerator goes), never a shortcut.
bool isMnemonic(const std::optional<MenuShortcut>& s) {
  if (!s || s->virtualKey || !s->cmdChar || s->modifiers != MOD_NO_COMMAND) return false;
  const std::string& ch = *s->cmdChar;
  return !ch.empty() && ch.size() == utf8Length(static_cast<unsigned char>(ch[0]));
}

std::optional<MenuShortcut> parseAny(const std::string& binding) {
  // "mnemonic;path;accelerator": the accelerator follows the last separator.
  std::size_t semi = binding.find(';');
  if (semi != std::string::npos) {
    std::size_t second = binding.rfind(';');
    if (second == semi) return std::nullopt;
    std::string accel = binding.substr(second + 1);
    if (accel.empty()) return std::nullopt;
    return parseGtk(accel);
  }
  if (binding[0] == '<') return parseGtk(binding);
  return parsePlus(binding);
}

}  // namespace

std::optional<MenuShortcut> parseKeyBinding(const std::string& binding) {
  if (binding.empty()) return std::nullopt;
  auto s = parseAny(binding);
  if (isMnemonic(s)) return std::nullopt;
  return s;
}

std::optional<MenuShortcut> parseMenuItemBinding(const std::string& binding,
                                                 const std::string& title) {
  auto s = parseKeyBinding(binding);
  if (!s || s->virtualKey || !s->cmdChar || s->modifiers != (MOD_OPTION | MOD_NO_COMMAND)) {
    return s;
  }
  const std::string& key = *s->cmdChar;
  if (key.size() != 1 || std::isalnum(static_cast<unsigned char>(key[0])) == 0) return s;
  if (asciiLower(title).find(asciiLower(key)) != std::string::npos) return std::nullopt;
  return s;
}

}  // namespace uiglean::lx
