#include "uiglean/input/keys.h"

#include <cmath>
#include <cstdio>
#include <string_view>

#include "uiglean/front/casefold.h"
#include "uiglean/front/text.h"

namespace uiglean {

namespace {

std::string asciiLower(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

// Key names, lower case; the first name of each key is the one "menus" prints.
struct KeyName {
  const char* name;
  NamedKey key;
};
constexpr KeyName KEY_NAMES[] = {
    {"enter", NamedKey::enter},         {"return", NamedKey::enter},
    {"ret", NamedKey::enter},           {"kp_enter", NamedKey::enter},
    {"\u21a9", NamedKey::enter},        {"\u23ce", NamedKey::enter},
    {"\u2324", NamedKey::enter},        {"tab", NamedKey::tab},
    {"\u21e5", NamedKey::tab},          {"space", NamedKey::space},
    {" ", NamedKey::space},             {"\u2423", NamedKey::space},
    {"backspace", NamedKey::backspace}, {"back_space", NamedKey::backspace},
    {"bksp", NamedKey::backspace},      {"\u232b", NamedKey::backspace},
    {"escape", NamedKey::escape},       {"esc", NamedKey::escape},
    {"\u238b", NamedKey::escape},       {"delete", NamedKey::forwardDelete},
    {"del", NamedKey::forwardDelete},   {"forwarddelete", NamedKey::forwardDelete},
    {"\u2326", NamedKey::forwardDelete}, {"home", NamedKey::home},
    {"\u2196", NamedKey::home},         {"end", NamedKey::end},
    {"\u2198", NamedKey::end},          {"pageup", NamedKey::pageUp},
    {"page_up", NamedKey::pageUp},      {"prior", NamedKey::pageUp},
    {"pgup", NamedKey::pageUp},         {"\u21de", NamedKey::pageUp},
    {"pagedown", NamedKey::pageDown},   {"page_down", NamedKey::pageDown},
    {"next", NamedKey::pageDown},       {"pgdn", NamedKey::pageDown},
    {"pgdown", NamedKey::pageDown},     {"\u21df", NamedKey::pageDown},
    {"left", NamedKey::left},           {"\u2190", NamedKey::left},
    {"right", NamedKey::right},         {"\u2192", NamedKey::right},
    {"up", NamedKey::up},               {"\u2191", NamedKey::up},
    {"down", NamedKey::down},           {"\u2193", NamedKey::down},
};

// Names of keys that type one printable character (the X keysym names toolkits write).
struct CharName {
  const char* name;
  char ch;
};
constexpr CharName CHAR_NAMES[] = {
    {"plus", '+'},        {"minus", '-'},       {"equal", '='},        {"comma", ','},
    {"period", '.'},      {"slash", '/'},       {"backslash", '\\'},   {"semicolon", ';'},
    {"apostrophe", '\''}, {"grave", '`'},       {"bracketleft", '['},  {"bracketright", ']'},
    {"question", '?'},    {"asterisk", '*'},    {"underscore", '_'},   {"colon", ':'},
    {"less", '<'},        {"greater", '>'},     {"exclam", '!'},       {"at", '@'},
    {"numbersign", '#'},  {"dollar", '$'},      {"percent", '%'},      {"ampersand", '&'},
    {"parenleft", '('},   {"parenright", ')'},  {"bar", '|'},          {"asciitilde", '~'},
    {"kp_add", '+'},      {"kp_subtract", '-'}, {"kp_multiply", '*'},  {"kp_divide", '/'},
};

// The modifier bit of a name, 0 when it is none.
std::uint32_t modifierBit(std::string_view name) {
  std::string low = asciiLower(name);
  if (low == "cmd" || low == "command" || low == "super" || low == "meta" || low == "win" ||
      low == "hyper" || low == "\u2318") {
    return keyModCommand;
  }
  if (low == "ctrl" || low == "control" || low == "ctl" || low == "primary" || low == "\u2303") {
    return keyModControl;
  }
  if (low == "alt" || low == "option" || low == "opt" || low == "mod1" || low == "\u2325") {
    return keyModOption;
  }
  if (low == "shift" || low == "\u21e7") return keyModShift;
  return 0;
}

// Fills the key of `out` from its name or character.
std::optional<ParseError> setKey(std::string_view key, KeyStroke& out) {
  if (key.empty()) return ParseError{"a key is missing after the modifiers"};
  std::string low = asciiLower(key);
  for (const auto& k : KEY_NAMES) {
    if (low == k.name) {
      out.named = k.key;
      return std::nullopt;
    }
  }
  if (low.size() >= 2 && low.size() <= 3 && low[0] == 'f') {
    if (auto n = parseInt64(std::string_view(low).substr(1)); n && *n >= 1 && *n <= 20 &&
                                                              low[1] != '0' && low[1] != '+') {
      out.named = static_cast<NamedKey>(static_cast<int>(NamedKey::f1) + (*n - 1));
      return std::nullopt;
    }
  }
  if (auto ch = keysymNameCharacter(low)) {
    out.character = static_cast<unsigned char>(*ch);
    return std::nullopt;
  }
  auto scalars = utf8Scalars(std::string(key));
  if (!scalars) return ParseError{"the key is not UTF-8 text"};
  if (scalars->size() == 1) {
    std::uint32_t c = (*scalars)[0];
    if (c < 0x20 || (c >= 0x7f && c < 0xa0)) return ParseError{"a control character is no key"};
    // Letters in lower case: shift comes from the modifiers, as in the menus' shortcut text.
    auto lower = utf8Scalars(lowercaseFull(key));
    if (lower && lower->size() == 1) c = (*lower)[0];
    out.character = c;
    return std::nullopt;
  }
  return ParseError{"unknown key \"" + std::string(key) + "\""};
}

// "<Primary><Shift>s".
std::variant<KeyStroke, ParseError> parseBrackets(std::string_view chord) {
  KeyStroke out;
  std::size_t i = 0;
  while (i < chord.size() && chord[i] == '<') {
    std::size_t close = chord.find('>', i);
    if (close == std::string_view::npos) return ParseError{"a \"<\" without its \">\""};
    std::string_view name = chord.substr(i + 1, close - i - 1);
    std::uint32_t bit = modifierBit(name);
    if (bit == 0) return ParseError{"unknown modifier \"" + std::string(name) + "\""};
    out.modifiers |= bit;
    i = close + 1;
  }
  if (auto e = setKey(chord.substr(i), out)) return *e;
  return out;
}

// The length of the modifier glyph that `s` starts with, 0 when none.
std::size_t glyphAt(std::string_view s, std::uint32_t& bit) {
  for (const char* g : {"\u2318", "\u2303", "\u2325", "\u21e7"}) {
    std::string_view glyph(g);
    if (s.substr(0, glyph.size()) == glyph) {
      bit = modifierBit(glyph);
      return glyph.size();
    }
  }
  return 0;
}

// "ctrl+shift+s", "ctrl++", and glyphs before the key ("⌘⇧S", "⌃+F4").
std::variant<KeyStroke, ParseError> parsePlus(std::string_view chord) {
  KeyStroke out;
  std::uint32_t bit = 0;
  std::size_t i = 0;
  for (std::size_t n; (n = glyphAt(chord.substr(i), bit)) != 0;) {
    out.modifiers |= bit;
    i += n;
  }
  std::string_view rest = chord.substr(i);
  if (i > 0 && rest.size() > 1 && rest[0] == '+') rest.remove_prefix(1);
  std::vector<std::string_view> parts;
  std::size_t start = 0;
  for (std::size_t j = 0; j < rest.size(); ++j) {
    // A "+" right at the start of a part is that part's key ("ctrl++").
    if (rest[j] == '+' && j > start) {
      parts.push_back(rest.substr(start, j - start));
      start = j + 1;
    }
  }
  parts.push_back(rest.substr(start));
  for (std::size_t j = 0; j + 1 < parts.size(); ++j) {
    std::uint32_t b = modifierBit(parts[j]);
    if (b == 0) return ParseError{"unknown modifier \"" + std::string(parts[j]) + "\""};
    out.modifiers |= b;
  }
  if (auto e = setKey(parts.back(), out)) return *e;
  return out;
}

}  // namespace

std::optional<std::vector<std::uint32_t>> utf8Scalars(const std::string& text) {
  std::vector<std::uint32_t> out;
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  std::size_t n = text.size();
  for (std::size_t i = 0; i < n;) {
    unsigned char b = p[i];
    std::uint32_t c = 0;
    std::size_t len = 0;
    std::uint32_t min = 0;
    if (b < 0x80) {
      c = b;
      len = 1;
    } else if ((b & 0xe0) == 0xc0) {
      c = b & 0x1fU;
      len = 2;
      min = 0x80;
    } else if ((b & 0xf0) == 0xe0) {
      c = b & 0x0fU;
      len = 3;
      min = 0x800;
    } else if ((b & 0xf8) == 0xf0) {
      c = b & 0x07U;
      len = 4;
      min = 0x10000;
    } else {
      return std::nullopt;
    }
    if (i + len > n) return std::nullopt;
    for (std::size_t k = 1; k < len; ++k) {
      if ((p[i + k] & 0xc0) != 0x80) return std::nullopt;
      c = (c << 6) | (p[i + k] & 0x3fU);
    }
    if (c < min || c > 0x10ffff || (c >= 0xd800 && c <= 0xdfff)) return std::nullopt;
    out.push_back(c);
    i += len;
  }
  return out;
}

std::variant<KeyStroke, ParseError> parseChord(const std::string& chord) {
  if (chord.empty()) return ParseError{"an empty chord"};
  if (!utf8Scalars(chord)) return ParseError{"the chord is not UTF-8 text"};
  if (chord[0] == '<' && chord.size() > 1) return parseBrackets(chord);
  return parsePlus(chord);
}

std::string chordText(const KeyStroke& stroke) {
  std::string text;
  auto add = [&](const std::string& word) {
    if (!text.empty()) text += '+';
    text += word;
  };
  if ((stroke.modifiers & keyModCommand) != 0) add("cmd");
  if ((stroke.modifiers & keyModControl) != 0) add("ctrl");
  if ((stroke.modifiers & keyModOption) != 0) add("alt");
  if ((stroke.modifiers & keyModShift) != 0) add("shift");
  if (stroke.named) {
    auto k = static_cast<int>(*stroke.named);
    if (k >= static_cast<int>(NamedKey::f1)) {
      add("f" + std::to_string(k - static_cast<int>(NamedKey::f1) + 1));
    } else {
      for (const auto& name : KEY_NAMES) {
        if (name.key == *stroke.named) {
          add(name.name);
          break;
        }
      }
    }
  } else {
    std::string ch;
    appendUtf8(ch, stroke.character);
    if (text.empty()) {
      text = ch;
    } else {
      text += '+';
      text += ch;
    }
  }
  return text;
}

std::optional<std::string> typedTextProblem(const std::string& text) {
  if (text.empty()) return "type needs text";
  if (text.size() > MAX_TYPED_BYTES) {
    return "type takes at most " + std::to_string(MAX_TYPED_BYTES) + " bytes of text";
  }
  auto scalars = utf8Scalars(text);
  if (!scalars) return "type needs UTF-8 text";
  for (std::uint32_t c : *scalars) {
    if ((c < 0x20 && c != '\n' && c != '\t' && c != '\r') || (c >= 0x7f && c < 0xa0)) {
      return "type cannot type the control character U+" + [c] {
        char buf[8];
        std::snprintf(buf, sizeof buf, "%04X", static_cast<unsigned>(c));
        return std::string(buf);
      }();
    }
  }
  return std::nullopt;
}

std::optional<Point> parsePoint(const std::string& text) {
  std::size_t comma = text.find(',');
  if (comma == std::string::npos || text.find(',', comma + 1) != std::string::npos) {
    return std::nullopt;
  }
  auto trim = [](std::string_view s) {
    while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
    while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
    return s;
  };
  auto number = [](std::string_view s) -> std::optional<double> {
    if (s.empty()) return std::nullopt;
    for (char c : s) {
      bool ok = (c >= '0' && c <= '9') || c == '.' || c == '-' || c == '+';
      if (!ok) return std::nullopt;  // no exponents, hex, "inf" or "nan"
    }
    auto v = parseDouble(s);
    if (!v || !std::isfinite(*v) || std::fabs(*v) > MAX_COORDINATE) return std::nullopt;
    return v;
  };
  auto x = number(trim(std::string_view(text).substr(0, comma)));
  auto y = number(trim(std::string_view(text).substr(comma + 1)));
  if (!x || !y) return std::nullopt;
  return Point{*x, *y};
}

std::variant<ClickKind, ParseError> parseClickKind(const std::string& word) {
  std::string low = asciiLower(word);
  if (low == "left") return ClickKind{MouseButton::left, 1};
  if (low == "right") return ClickKind{MouseButton::right, 1};
  if (low == "middle") return ClickKind{MouseButton::middle, 1};
  if (low == "double") return ClickKind{MouseButton::left, 2};
  return ParseError{"the button is left, right, middle or double, not \"" + word + "\""};
}

std::variant<std::int32_t, ParseError> parseScrollLines(const std::string& word) {
  auto n = parseInt64(word);
  if (!n) return ParseError{"the lines to scroll are a whole number, not \"" + word + "\""};
  if (*n < -MAX_SCROLL_LINES || *n > MAX_SCROLL_LINES) {
    return ParseError{"scroll by at most " + std::to_string(MAX_SCROLL_LINES) + " lines at once"};
  }
  return static_cast<std::int32_t>(*n);
}

std::optional<char> keysymNameCharacter(std::string_view lowerName) {
  for (const auto& k : CHAR_NAMES) {
    if (lowerName == k.name) return k.ch;
  }
  return std::nullopt;
}

}  // namespace uiglean
