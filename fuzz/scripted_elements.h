// Building scripted-platform elements directly, without a scene file, for the targets that run
// the subsystem code on fuzzed interface trees.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "uiglean/platform/scripted/scene.h"

namespace fuzzscene {

using uiglean::SElementPtr;
using uiglean::SValue;

inline SElementPtr element(std::string name) {
  auto e = std::make_shared<uiglean::SElement>();
  e->name = std::move(name);
  return e;
}

inline SValue text(std::string s) {
  SValue v;
  v.kind = SValue::Kind::String;
  v.text = std::move(s);
  return v;
}

inline SValue integer(std::int64_t i) {
  SValue v;
  v.kind = SValue::Kind::Number;
  v.isInteger = true;
  v.integer = i;
  v.num = static_cast<double>(i);
  return v;
}

inline SValue real(double d) {
  SValue v;
  v.kind = SValue::Kind::Number;
  v.num = d;
  return v;
}

inline SValue boolean(bool b) {
  SValue v;
  v.kind = SValue::Kind::Bool;
  v.num = b ? 1 : 0;
  return v;
}

inline SValue elements(std::vector<SElementPtr> list) {
  SValue v;
  v.kind = SValue::Kind::Elements;
  v.inlineDef.assign(list.size(), true);
  v.elements = std::move(list);
  return v;
}

inline void set(const SElementPtr& e, std::string attr, SValue v) {
  e->attrs.emplace_back(std::move(attr), std::move(v));
}

// The trees built here hold no cycles, so shared pointers free them.

}  // namespace fuzzscene
