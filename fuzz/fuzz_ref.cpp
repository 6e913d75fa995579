// Refs ("w0.3.1") as callers type them: the parser must agree with the grammar (window "w" and a
// decimal integer, then decimal integers, joined by dots; empty components dropped) and a ref that
// resolves must name exactly the element at that position of the tree.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "scripted_elements.h"
#include "uiglean/actions/resolve.h"
#include "uiglean/front/globals.h"

namespace {

std::optional<std::vector<std::int64_t>> expectedPath(const std::string& ref) {
  std::vector<std::string> parts;
  std::string cur;
  for (char c : ref + ".") {
    if (c != '.') {
      cur.push_back(c);
    } else if (!cur.empty()) {
      parts.push_back(cur);
      cur.clear();
    }
  }
  if (parts.empty() || parts[0][0] != 'w') return std::nullopt;
  std::vector<std::int64_t> path;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    auto n = fuzzcheck::decimal(i == 0 ? parts[0].substr(1) : parts[i]);
    if (!n) return std::nullopt;
    path.push_back(*n);
  }
  return path;
}

// An application with two windows; window w has w + 2 children, each with three children.
struct Tree {
  uiglean::SElementPtr app = fuzzscene::element("app");
  std::vector<uiglean::SElementPtr> windows;
  Tree() {
    for (int w = 0; w < 2; ++w) {
      auto win = fuzzscene::element("w" + std::to_string(w));
      std::vector<uiglean::SElementPtr> kids;
      for (int k = 0; k < w + 2; ++k) {
        auto kid = fuzzscene::element(win->name + "." + std::to_string(k));
        std::vector<uiglean::SElementPtr> grand;
        for (int g = 0; g < 3; ++g) grand.push_back(fuzzscene::element(kid->name + "." + std::to_string(g)));
        fuzzscene::set(kid, "AXChildren", fuzzscene::elements(grand));
        kids.push_back(kid);
      }
      fuzzscene::set(win, "AXChildren", fuzzscene::elements(kids));
      windows.push_back(win);
    }
    fuzzscene::set(app, "AXWindows", fuzzscene::elements(windows));
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Tree tree;
  uiglean::startGlobals({});
  const std::string ref(reinterpret_cast<const char*>(data), size);

  const auto path = uiglean::parseRef(ref);
  const auto expected = expectedPath(ref);
  FUZZ_CHECK(path.has_value() == expected.has_value());
  if (path) FUZZ_CHECK(*path == *expected);

  const auto found = uiglean::resolveRef(uiglean::Element{tree.app}, ref);
  if (!path) {
    FUZZ_CHECK(!found);
    return 0;
  }
  // Walk the tree by the path, by hand.
  uiglean::SElementPtr at;
  const auto& p = *path;
  if (p[0] >= 0 && p[0] < 2) {
    at = tree.windows[static_cast<std::size_t>(p[0])];
    for (std::size_t i = 1; i < p.size() && at; ++i) {
      uiglean::SValue* kids = at->find("AXChildren");
      if (!kids || p[i] < 0 || static_cast<std::uint64_t>(p[i]) >= kids->elements.size()) {
        at = nullptr;
      } else {
        at = kids->elements[static_cast<std::size_t>(p[i])];
      }
    }
  }
  FUZZ_CHECK(found.has_value() == (at != nullptr));
  if (found) FUZZ_CHECK(found->impl == at);
  return 0;
}
