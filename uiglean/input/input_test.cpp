#include <gtest/gtest.h>

#include <memory>
#include <variant>

#include "uiglean/input/keys.h"
#include "uiglean/input/screenshot.h"
#include "uiglean/menus/menuitems.h"
#include "uiglean/platform/scripted/scene_testing.h"

namespace uiglean {
namespace {

KeyStroke chord(const std::string& text) {
  auto parsed = parseChord(text);
  if (auto* e = std::get_if<ParseError>(&parsed)) {
    ADD_FAILURE() << text << ": " << e->message;
    return {};
  }
  return std::get<KeyStroke>(parsed);
}

std::string chordError(const std::string& text) {
  auto parsed = parseChord(text);
  auto* e = std::get_if<ParseError>(&parsed);
  return e ? e->message : "(parsed as " + chordText(std::get<KeyStroke>(parsed)) + ")";
}

TEST(ParseChord, PlusFormsWithModifiersInAnyCaseAndOrder) {
  KeyStroke s = chord("ctrl+s");
  EXPECT_EQ(s.modifiers, keyModControl);
  EXPECT_FALSE(s.named);
  EXPECT_EQ(s.character, static_cast<std::uint32_t>('s'));
  EXPECT_EQ(chordText(chord("Shift+CTRL+S")), "ctrl+shift+s");
  EXPECT_EQ(chordText(chord("alt+F4")), "alt+f4");
  EXPECT_EQ(chordText(chord("super+option+control+shift+Page_Up")), "cmd+ctrl+alt+shift+pageup");
  EXPECT_EQ(chordText(chord("Return")), "enter");
  EXPECT_EQ(chordText(chord("esc")), "escape");
  EXPECT_EQ(chordText(chord("F20")), "f20");
  // The key "+" itself, alone or after modifiers, and keys written by their X names.
  EXPECT_EQ(chord("ctrl++").character, static_cast<std::uint32_t>('+'));
  EXPECT_EQ(chord("ctrl++").modifiers, keyModControl);
  EXPECT_EQ(chord("+").character, static_cast<std::uint32_t>('+'));
  EXPECT_EQ(chordText(chord("ctrl+plus")), "ctrl++");
  EXPECT_EQ(chordText(chord("ctrl+bracketleft")), "ctrl+[");
  // Letters are keys: case is no shift, and a non-ASCII letter is lowered too.
  EXPECT_EQ(chord("A").modifiers, 0U);
  EXPECT_EQ(chord("A").character, static_cast<std::uint32_t>('a'));
  EXPECT_EQ(chord("ctrl+Ä").character, 0xe4U);
  EXPECT_EQ(chordText(chord("ctrl+ä")), "ctrl+ä");
}

TEST(ParseChord, BracketAndGlyphForms) {
  EXPECT_EQ(chordText(chord("<Primary>s")), "ctrl+s");
  EXPECT_EQ(chordText(chord("<Control><Shift>n")), "ctrl+shift+n");
  EXPECT_EQ(chordText(chord("<Alt>F4")), "alt+f4");
  EXPECT_EQ(chordText(chord("\u2318S")), "cmd+s");
  EXPECT_EQ(chordText(chord("\u2303\u2325\u21e7F4")), "ctrl+alt+shift+f4");
  EXPECT_EQ(chordText(chord("\u2318\u21a9")), "cmd+enter");
  EXPECT_EQ(chordText(chord("\u2318+")), "cmd++");
  EXPECT_EQ(chordText(chord("\u2318+q")), "cmd+q");
  EXPECT_EQ(chordText(chord("\u2190")), "left");
}

TEST(ParseChord, RejectsWhatIsNoChord) {
  EXPECT_EQ(chordError(""), "an empty chord");
  EXPECT_EQ(chordError("ctrl+"), "a key is missing after the modifiers");
  EXPECT_EQ(chordError("<Primary>"), "a key is missing after the modifiers");
  EXPECT_EQ(chordError("hyperx+s"), "unknown modifier \"hyperx\"");
  EXPECT_EQ(chordError("a+b"), "unknown modifier \"a\"");
  EXPECT_EQ(chordError("<Primary s"), "a \"<\" without its \">\"");
  EXPECT_EQ(chordError("<Fn>s"), "unknown modifier \"Fn\"");
  EXPECT_EQ(chordError("ctrl+nosuchkey"), "unknown key \"nosuchkey\"");
  EXPECT_EQ(chordError("F0"), "unknown key \"F0\"");
  EXPECT_EQ(chordError("F21"), "unknown key \"F21\"");
  EXPECT_EQ(chordError("f+1"), "unknown modifier \"f\"");
  EXPECT_EQ(chordError("ctrl+\x01"), "a control character is no key");
  EXPECT_EQ(chordError("ctrl+\xc3"), "the chord is not UTF-8 text");
  EXPECT_EQ(chordError("\xed\xa0\x80"), "the chord is not UTF-8 text");  // a surrogate
}

// An item of the scripted platform with the three shortcut attributes.
Element menuItem(std::int64_t modifiers, const std::string& character, std::int64_t virtualKey) {
  return scriptedMenuItem(
      {{"AXMenuItemCmdModifiers", modifiers}, {"AXMenuItemCmdVirtualKey", virtualKey}}, character);
}

TEST(ParseChord, ReadsEveryShortcutThatMenusPrintsBackToTheSameText) {
  for (std::int64_t modifiers = 0; modifiers < 16; ++modifiers) {
    for (std::int64_t code = 0; code < 128; ++code) {
      if (virtualKeyName(code).rfind("vk", 0) == 0) continue;  // keys menus names by code only
      auto text = shortcutString(menuItem(modifiers, "", code));
      ASSERT_TRUE(text);
      EXPECT_EQ(chordText(chord(*text)), *text);
    }
    for (const char* ch : {"S", "q", "+", "=", ",", "\u00e9", "\u4e2d", "1"}) {
      auto text = shortcutString(menuItem(modifiers, ch, 0));
      ASSERT_TRUE(text);
      EXPECT_EQ(chordText(chord(*text)), *text);
    }
  }
}

bool sameStroke(const KeyStroke& a, const KeyStroke& b) {
  return a.modifiers == b.modifiers && a.named == b.named && (a.named || a.character == b.character);
}

// Chords put together from pieces that the forms are made of, and bytes that are no UTF-8: each is
// read or refused, and one that is read reads back from its text to the same stroke.
TEST(ParseChord, PiecedTogetherChordsAreReadOrRefusedAndReadBackTheSame) {
  const std::vector<std::string> pieces = {
      "ctrl", "+", "<", ">", "Primary", "shift", "\u2318", "\u21e7", "\u2325", "a", "S", "F", "1",
      "2", "0", "enter", "plus", " ", "\u00e4", "\u0130", "\xff", "\xc3", "\x01", "esc", "<Alt>",
      "cmd", "vk", "\u2190", "-", "=", "kp_add", "\U0001F600", ""};
  std::uint32_t seed = 12345;
  auto next = [&] {
    seed = seed * 1103515245U + 12345U;
    return (seed >> 16) & 0x7fff;
  };
  int read = 0;
  for (int i = 0; i < 20000; ++i) {
    std::string chordText1;
    std::size_t count = 1 + next() % 5;
    for (std::size_t k = 0; k < count; ++k) chordText1 += pieces[next() % pieces.size()];
    auto parsed = parseChord(chordText1);
    if (auto* e = std::get_if<ParseError>(&parsed)) {
      EXPECT_FALSE(e->message.empty());
      continue;
    }
    ++read;
    const KeyStroke& stroke = std::get<KeyStroke>(parsed);
    EXPECT_LT(stroke.modifiers, 16U) << chordText1;
    if (!stroke.named) {
      EXPECT_GE(stroke.character, 0x20U) << chordText1;
      EXPECT_LE(stroke.character, 0x10ffffU) << chordText1;
    }
    auto again = parseChord(chordText(stroke));
    ASSERT_TRUE(std::holds_alternative<KeyStroke>(again)) << chordText1 << " -> " << chordText(stroke);
    EXPECT_TRUE(sameStroke(std::get<KeyStroke>(again), stroke))
        << chordText1 << " -> " << chordText(stroke);
  }
  EXPECT_GT(read, 1000);
}

TEST(TypedText, AcceptsTextWithLineBreaksAndRefusesTheRest) {
  EXPECT_FALSE(typedTextProblem("Grüße 名前\nline two\ttab"));
  EXPECT_EQ(typedTextProblem(""), "type needs text");
  EXPECT_EQ(typedTextProblem("a\x1b[2J"), "type cannot type the control character U+001B");
  EXPECT_EQ(typedTextProblem("bad \xff"), "type needs UTF-8 text");
  EXPECT_EQ(typedTextProblem("\xc0\x80"), "type needs UTF-8 text");  // an overlong NUL
  EXPECT_FALSE(typedTextProblem(std::string(MAX_TYPED_BYTES, 'x')));
  EXPECT_TRUE(typedTextProblem(std::string(MAX_TYPED_BYTES + 1, 'x')));
}

TEST(ParsePoint, DecimalPairsOnly) {
  auto p = parsePoint("12.5,-3");
  ASSERT_TRUE(p);
  EXPECT_EQ(p->x, 12.5);
  EXPECT_EQ(p->y, -3);
  p = parsePoint(" 100 , 200 ");
  ASSERT_TRUE(p);
  EXPECT_EQ(p->x, 100);
  EXPECT_EQ(p->y, 200);
  for (const char* bad : {"", ",", "1,", ",2", "1,2,3", "1 2", "w0.1", "inf,2", "nan,1", "1e3,2",
                          "0x10,2", "1,2x", "2000000,1", "1,-1000001", "--1,2"}) {
    EXPECT_FALSE(parsePoint(bad)) << bad;
  }
}

TEST(ClickAndScrollWords, ButtonsAndBoundedLines) {
  auto k = std::get<ClickKind>(parseClickKind("double"));
  EXPECT_EQ(k.button, MouseButton::left);
  EXPECT_EQ(k.clicks, 2);
  EXPECT_EQ(std::get<ClickKind>(parseClickKind("Right")).button, MouseButton::right);
  EXPECT_EQ(std::get<ClickKind>(parseClickKind("middle")).button, MouseButton::middle);
  EXPECT_TRUE(std::holds_alternative<ParseError>(parseClickKind("triple")));
  EXPECT_EQ(std::get<std::int32_t>(parseScrollLines("-3")), -3);
  EXPECT_EQ(std::get<std::int32_t>(parseScrollLines("200")), 200);
  for (const char* bad : {"201", "-201", "1.5", "", "3 lines", "99999999999999999999"}) {
    EXPECT_TRUE(std::holds_alternative<ParseError>(parseScrollLines(bad))) << bad;
  }
}

TEST(ScreenshotWords, WindowDisplayAndOcrInAnyOrder) {
  auto r = std::get<ScreenshotRequest>(parseScreenshotWords({}));
  EXPECT_FALSE(r.display);
  EXPECT_FALSE(r.ocr);
  r = std::get<ScreenshotRequest>(parseScreenshotWords({"ocr", "display", "7"}));
  EXPECT_TRUE(r.display);
  EXPECT_EQ(r.displayId, 7U);
  EXPECT_TRUE(r.ocr);
  r = std::get<ScreenshotRequest>(parseScreenshotWords({"display", "ocr"}));
  EXPECT_FALSE(r.displayId);
  EXPECT_TRUE(r.ocr);
  EXPECT_TRUE(std::holds_alternative<ParseError>(parseScreenshotWords({"window", "display"})));
  EXPECT_TRUE(std::holds_alternative<ParseError>(parseScreenshotWords({"display", "-1"})));
  EXPECT_TRUE(std::holds_alternative<ParseError>(parseScreenshotWords({"display", "4294967296"})));
  EXPECT_TRUE(std::holds_alternative<ParseError>(parseScreenshotWords({"png"})));
}

TEST(Base64, PaddingOfEveryRemainder) {
  EXPECT_EQ(base64(""), "");
  EXPECT_EQ(base64("f"), "Zg==");
  EXPECT_EQ(base64("fo"), "Zm8=");
  EXPECT_EQ(base64("foo"), "Zm9v");
  EXPECT_EQ(base64("foob"), "Zm9vYg==");
  EXPECT_EQ(base64(std::string("\xff\xfe\x00", 3)), "//4A");
}

}  // namespace
}  // namespace uiglean
