#include "uiglean/actions/actions.h"

#include <cmath>

#include "uiglean/actions/resolve.h"
#include "uiglean/ax/readers.h"
#include "uiglean/front/commands.h"
#include "uiglean/front/globals.h"
#include "uiglean/front/output.h"

namespace uiglean {

namespace {

const Value kTrue = Number{1, true, true};

std::string codeText(std::int32_t code) { return std::to_string(code); }

}  // namespace

void cmdElementAction(const std::string& word) {
  if (args.size() < 2) fail(word + " needs a ref", 5);
  FrontApp front = requireFrontmostApp();
  axSetMessagingTimeout(front.element, 8.0f);
  const std::string& ref = args[1];
  auto element = resolveRef(front.element, ref);
  if (!element) {
    emit(errorResult("ref \"" + ref +
                     "\" no longer resolves \u2014 the UI changed; re-read the snapshot"));
  }
  std::int32_t code = 0;
  std::string action;
  if (word == "focus") {
    code = axSetAttributeValue(*element, "AXFocused", kTrue);
    if (code != axerr::success) emit(errorResult("could not focus (" + codeText(code) + ")"));
    emit(okResult());
  }
  if (word == "press") action = "AXPress";
  if (word == "reveal") action = "AXScrollToVisible";
  if (word == "altui") action = "AXShowAlternateUI";
  code = axPerformAction(*element, action);
  if (code != axerr::success) emit(errorResult(action + " failed (" + codeText(code) + ")"));
  emit(okResult());
}

std::optional<std::string> setElementValue(const Element& element, const std::string& text) {
  axSetAttributeValue(element, "AXFocused", kTrue);
  if (auto count = attrNumber(element, "AXNumberOfCharacters")) {
    if (auto range = axCreateRangeValue(0, integerValue(count->value))) {
      if (axSetAttributeValue(element, "AXSelectedTextRange", *range) == axerr::success &&
          axSetAttributeValue(element, "AXSelectedText", text) == axerr::success) {
        return std::nullopt;
      }
    }
  }
  std::int32_t code = axSetAttributeValue(element, "AXValue", text);
  if (code == axerr::success) return std::nullopt;
  return "neither AXSelectedText nor AXValue was writable (" + codeText(code) + ")";
}

void cmdSetValue() {
  if (args.size() < 3) fail("setvalue needs a ref and a value", 5);
  FrontApp front = requireFrontmostApp();
  axSetMessagingTimeout(front.element, 8.0f);
  const std::string& ref = args[1];
  auto element = resolveRef(front.element, ref);
  if (!element) emit(errorResult("ref \"" + ref + "\" no longer resolves \u2014 re-read the snapshot"));
  if (auto error = setElementValue(*element, args[2])) emit(errorResult(*error));
  emit(okResult());
}

}  // namespace uiglean
