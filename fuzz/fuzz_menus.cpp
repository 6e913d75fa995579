// Menu listing and shortcut text over fuzzed menus: every record is a titled menu item no deeper
// than the walk goes, its shortcut is the modifiers in a fixed order and then the key, and the
// listing written as JSON reads back to the same records.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "scripted_elements.h"
#include "uiglean/ax/readers.h"
#include "uiglean/front/casefold.h"
#include "uiglean/front/globals.h"
#include "uiglean/front/json.h"
#include "uiglean/menus/menuitems.h"

namespace {

using fuzzscene::set;

uiglean::SValue number(FuzzedDataProvider& in) {
  switch (in.ConsumeIntegralInRange(0, 3)) {
    case 0: return fuzzscene::integer(in.ConsumeIntegralInRange<std::int64_t>(-4, 140));
    case 1: return fuzzscene::integer(in.ConsumeIntegral<std::int64_t>());
    case 2: return fuzzscene::real(in.ConsumeFloatingPoint<double>());
    default: return fuzzscene::real(in.ConsumeFloatingPointInRange<double>(-20, 200));
  }
}

std::size_t itemCount = 0;

uiglean::SElementPtr menu(FuzzedDataProvider& in, int depth);

uiglean::SElementPtr item(FuzzedDataProvider& in, int depth) {
  ++itemCount;
  auto e = fuzzscene::element("item" + std::to_string(itemCount));
  const auto fields = in.ConsumeIntegral<std::uint8_t>();
  set(e, "AXRole", fuzzscene::text((fields & 1) != 0 ? "AXMenuItem" : "AXStaticText"));
  if ((fields & 2) != 0) set(e, "AXTitle", fuzzscene::text(in.ConsumeRandomLengthString(12)));
  if ((fields & 4) != 0) set(e, "AXMenuItemCmdChar", fuzzscene::text(in.ConsumeRandomLengthString(6)));
  if ((fields & 8) != 0) set(e, "AXMenuItemCmdVirtualKey", number(in));
  if ((fields & 16) != 0) set(e, "AXMenuItemCmdModifiers", number(in));
  if ((fields & 32) != 0) set(e, "AXEnabled", fuzzscene::boolean(in.ConsumeBool()));
  if ((fields & 64) != 0) set(e, "AXMenuItemMarkChar", fuzzscene::text(in.ConsumeRandomLengthString(4)));
  if ((fields & 128) != 0 && depth < 5) set(e, "AXChildren", fuzzscene::elements({menu(in, depth + 1)}));
  return e;
}

uiglean::SElementPtr menu(FuzzedDataProvider& in, int depth) {
  auto m = fuzzscene::element("menu");
  std::vector<uiglean::SElementPtr> items;
  const int n = in.ConsumeIntegralInRange(0, depth == 0 ? 70 : 8);
  for (int i = 0; i < n && in.remaining_bytes() > 0; ++i) items.push_back(item(in, depth));
  set(m, "AXChildren", fuzzscene::elements(items));
  return m;
}

// The shortcut as the rules have it.
std::optional<std::string> expectedShortcut(const uiglean::SElementPtr& e) {
  const uiglean::SValue* character = e->find("AXMenuItemCmdChar");
  const uiglean::SValue* key = e->find("AXMenuItemCmdVirtualKey");
  const uiglean::SValue* mods = e->find("AXMenuItemCmdModifiers");
  auto exact = [](const uiglean::SValue& v) {
    return v.isInteger ? v.integer : uiglean::integerValue(v.num);
  };
  std::string name;
  if (character && !uiglean::isBlank(character->text)) {
    name = uiglean::lowercaseFull(character->text);
  } else if (key) {
    name = uiglean::virtualKeyName(exact(*key));
  } else {
    return std::nullopt;
  }
  const std::int64_t m = mods ? exact(*mods) : 0;
  std::string text;
  if ((m & 8) == 0) text += "cmd+";
  if ((m & 4) != 0) text += "ctrl+";
  if ((m & 2) != 0) text += "alt+";
  if ((m & 1) != 0) text += "shift+";
  return text + name;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  uiglean::startGlobals({"menus"});
  itemCount = 0;
  const std::string title = in.ConsumeRandomLengthString(10);
  auto root = menu(in, 0);

  std::vector<uiglean::MenuItemOut> items;
  uiglean::collectMenu(uiglean::Element{root}, {title}, 1, items);
  FUZZ_CHECK(items.size() <= itemCount);
  for (const auto& it : items) {
    FUZZ_CHECK(it.path.size() >= 2);
    FUZZ_CHECK(it.path.size() <= 1 + static_cast<std::size_t>(uiglean::MAX_MENU_DEPTH));
    FUZZ_CHECK(it.path.front() == title && it.path.back() == it.title);
    FUZZ_CHECK(!uiglean::isBlank(it.title));
    FUZZ_CHECK(!it.enabled || !*it.enabled);
    FUZZ_CHECK(!it.mark || !it.mark->empty());
  }

  // Shortcut text of every item, listed or not.
  std::vector<uiglean::SElementPtr> todo{root};
  while (!todo.empty()) {
    auto e = todo.back();
    todo.pop_back();
    if (uiglean::SValue* kids = e->find("AXChildren")) {
      for (const auto& k : kids->elements) todo.push_back(k);
    }
    const auto shortcut = uiglean::shortcutString(uiglean::Element{e});
    const auto expected = expectedShortcut(e);
    if (shortcut != expected) {
      std::fprintf(stderr, "shortcut of %s: \"%s\", expected \"%s\"\n", e->name.c_str(),
                   shortcut.value_or("(none)").c_str(), expected.value_or("(none)").c_str());
      FUZZ_CHECK(false);
    }
  }

  uiglean::JsonWriter w;
  uiglean::writeJson(w, uiglean::MenuPayload{title, items});
  const auto back = nlohmann::json::parse(w.out, nullptr, false);
  FUZZ_CHECK(!back.is_discarded());
  FUZZ_CHECK(back["menu"] == uiglean::sanitizeUtf8(title));
  FUZZ_CHECK(back["items"].size() == items.size());
  for (std::size_t i = 0; i < items.size(); ++i) {
    const auto& j = back["items"][i];
    FUZZ_CHECK(j["title"] == uiglean::sanitizeUtf8(items[i].title));
    FUZZ_CHECK(j["path"].size() == items[i].path.size());
    FUZZ_CHECK(j.contains("shortcut") == items[i].shortcut.has_value());
    if (items[i].shortcut) FUZZ_CHECK(j["shortcut"] == uiglean::sanitizeUtf8(*items[i].shortcut));
  }
  return 0;
}
