// Elements of the scripted platform built in code, for the tests of the subsystems above it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "uiglean/platform/scripted/scene.h"

namespace uiglean {

// A menu item named "item" with integer attributes (AXMenuItemCmdModifiers,
// AXMenuItemCmdVirtualKey, ...) and, unless `character` is empty, AXMenuItemCmdChar.
inline Element scriptedMenuItem(const std::vector<std::pair<std::string, std::int64_t>>& numbers,
                                const std::string& character) {
  auto e = std::make_shared<ElementImpl>();
  e->name = "item";
  if (!character.empty()) {
    SValue c;
    c.kind = SValue::Kind::String;
    c.text = character;
    e->attrs.emplace_back("AXMenuItemCmdChar", c);
  }
  for (const auto& [attr, value] : numbers) {
    SValue n;
    n.kind = SValue::Kind::Number;
    n.isInteger = true;
    n.integer = value;
    n.num = static_cast<double>(value);
    e->attrs.emplace_back(attr, n);
  }
  return Element{e};
}

}  // namespace uiglean
