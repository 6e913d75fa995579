// The command line's words for synthesized input: key chords, points, mouse buttons and scroll
// amounts, read into the platform's input values. Each reader answers the value or the message
// that says what is wrong with the word.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "uiglean/ax/platform.h"

namespace uiglean {

// Chords per "key" run and bytes per "type" run, at most.
inline constexpr std::size_t MAX_CHORDS = 100;
inline constexpr std::size_t MAX_TYPED_BYTES = 20000;
// Wheel steps per "scroll" run, at most, in either direction.
inline constexpr std::int64_t MAX_SCROLL_LINES = 200;
// Coordinates beyond this magnitude are no place on any screen.
inline constexpr double MAX_COORDINATE = 1e6;

struct ParseError {
  std::string message;
};

// A key chord: modifiers and one key, joined by "+" ("ctrl+s", "cmd+shift+z", "alt+F4",
// "Return", "ctrl++"), in the bracket form of GTK accelerators ("<Primary>s", "<Control><Shift>n")
// or in the glyphs of macOS menus ("⌘S", "⌃⌥⇧F4", "⌘↩"). Modifier and key names ignore letter
// case; every shortcut that "menus" prints is accepted as it is.
std::variant<KeyStroke, ParseError> parseChord(const std::string& chord);

// The printable character an X keysym name stands for ("plus" is '+', "kp_divide" '/'), given in
// lower case as toolkits' key bindings and chords write it; nothing for other names.
std::optional<char> keysymNameCharacter(std::string_view lowerName);

// The text of a stroke in the form "menus" prints ("ctrl+shift+s", "cmd+enter", "alt+f4").
std::string chordText(const KeyStroke& stroke);

// The Unicode scalars of UTF-8 text, or nothing when it is not well-formed UTF-8.
std::optional<std::vector<std::uint32_t>> utf8Scalars(const std::string& text);

// Text for "type": well-formed UTF-8, not empty, no control characters other than line breaks
// and tabs, at most MAX_TYPED_BYTES bytes. Nothing when it is fit, else what is wrong.
std::optional<std::string> typedTextProblem(const std::string& text);

// A point written "X,Y" (decimals, optionally signed, spaces allowed around them), or nothing.
std::optional<Point> parsePoint(const std::string& text);

// A click: "left" (the default), "right", "middle" or "double" (two left clicks).
struct ClickKind {
  MouseButton button = MouseButton::left;
  std::int32_t clicks = 1;
};
std::variant<ClickKind, ParseError> parseClickKind(const std::string& word);

// A scroll amount: a whole number of lines between -MAX_SCROLL_LINES and MAX_SCROLL_LINES.
std::variant<std::int32_t, ParseError> parseScrollLines(const std::string& word);

}  // namespace uiglean
