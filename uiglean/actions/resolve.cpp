#include "uiglean/actions/resolve.h"

#include "uiglean/ax/readers.h"
#include "uiglean/front/text.h"

namespace uiglean {

std::optional<std::vector<std::int64_t>> parseRef(const std::string& ref) {
  std::vector<std::string> pieces;
  std::size_t start = 0;
  while (start <= ref.size()) {
    std::size_t dot = ref.find('.', start);
    if (dot == std::string::npos) dot = ref.size();
    if (dot > start) pieces.push_back(ref.substr(start, dot - start));
    start = dot + 1;
  }
  if (pieces.empty() || pieces[0][0] != 'w') return std::nullopt;
  std::vector<std::int64_t> path;
  auto window = parseInt64(std::string_view(pieces[0]).substr(1));
  if (!window) return std::nullopt;
  path.push_back(*window);
  for (std::size_t i = 1; i < pieces.size(); ++i) {
    auto index = parseInt64(pieces[i]);
    if (!index) return std::nullopt;
    path.push_back(*index);
  }
  return path;
}

std::optional<Element> resolveRef(const Element& app, const std::string& ref) {
  auto path = parseRef(ref);
  if (!path) return std::nullopt;
  ElementList windows = attrElements(app, "AXWindows").value_or(ElementList{});
  std::int64_t w = (*path)[0];
  if (w < 0 || w >= static_cast<std::int64_t>(windows.size())) return std::nullopt;
  Element current = windows[static_cast<std::size_t>(w)];
  for (std::size_t i = 1; i < path->size(); ++i) {
    ElementList kids = children(current);
    std::int64_t c = (*path)[i];
    if (c < 0 || c >= static_cast<std::int64_t>(kids.size())) return std::nullopt;
    current = kids[static_cast<std::size_t>(c)];
  }
  return current;
}

}  // namespace uiglean
