#include "uiglean/menus/menuitems.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>

#include "uiglean/platform/scripted/scene_testing.h"

namespace uiglean {
namespace {

TEST(VirtualKeyName, NamesEveryKeyOfTheTable) {
  const std::map<std::int64_t, std::string> table = {
      {36, "enter"},     {48, "tab"},     {49, "space"}, {51, "backspace"}, {53, "escape"},
      {96, "f5"},        {97, "f6"},      {98, "f7"},    {99, "f3"},        {100, "f8"},
      {101, "f9"},       {103, "f11"},    {109, "f10"},  {111, "f12"},      {115, "home"},
      {116, "pageup"},   {117, "delete"}, {118, "f4"},   {119, "end"},      {120, "f2"},
      {121, "pagedown"}, {122, "f1"},     {123, "left"}, {124, "right"},    {125, "down"},
      {126, "up"}};
  for (const auto& [code, name] : table) EXPECT_EQ(virtualKeyName(code), name) << code;
  // Every other code in and around the range is written as "vk" and the number.
  for (std::int64_t code = -2; code < 140; ++code) {
    if (table.count(code) == 0) {
      EXPECT_EQ(virtualKeyName(code), "vk" + std::to_string(code));
    }
  }
}

TEST(VirtualKeyName, ExtremeCodes) {
  EXPECT_EQ(virtualKeyName(0), "vk0");
  EXPECT_EQ(virtualKeyName(-1), "vk-1");
  EXPECT_EQ(virtualKeyName(INT64_MIN), "vk-9223372036854775808");
  EXPECT_EQ(virtualKeyName(INT64_MAX), "vk9223372036854775807");
}

TEST(ShortcutString, IntegersBeyondDoublePrecisionKeepTheirLowBits) {
  // 2^60 + 9 has the shift and no-command bits set; as a double it is 2^60, with neither.
  const std::int64_t mask = (std::int64_t{1} << 60) + 9;
  EXPECT_EQ(shortcutString(scriptedMenuItem({{"AXMenuItemCmdModifiers", mask}}, "S")), "shift+s");
  const std::int64_t code = (std::int64_t{1} << 53) + 1;
  EXPECT_EQ(shortcutString(scriptedMenuItem({{"AXMenuItemCmdVirtualKey", code}}, "")),
            "cmd+vk9007199254740993");
  EXPECT_EQ(shortcutString(scriptedMenuItem({{"AXMenuItemCmdVirtualKey", 122},
                                     {"AXMenuItemCmdModifiers", 6}}, "")),
            "cmd+ctrl+alt+f1");
}

TEST(MenuJson, OptionalFieldsAreLeftOut) {
  MenuItemOut plain{{"edit", "Copy"}, "Copy",       std::nullopt,
                    std::nullopt,     std::nullopt, std::nullopt};
  JsonWriter w;
  writeJson(w, MenuPayload{"edit", {plain}});
  EXPECT_EQ(w.out, R"({"menu":"edit","items":[{"path":["edit","Copy"],"title":"Copy"}]})");

  MenuItemOut full{{"F", "A\\B"}, "A/B", "cmd+s", false, "✓", true};
  JsonWriter w2;
  writeJson(w2, full);
  EXPECT_EQ(w2.out, R"({"path":["F","A\\B"],"title":"A\/B","shortcut":"cmd+s","enabled":false,)"
                    R"("mark":"✓","submenu":true})");
}

}  // namespace
}  // namespace uiglean
