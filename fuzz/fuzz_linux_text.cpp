// Text the Linux layer takes from other programs: the key bindings toolkits give menu items, and
// the .desktop files of installed applications with their Exec lines. A key binding that parses
// is a key and a modifier mask of the four known bits; an Exec line that parses is at least one
// word, and every word of a line without quotes, escapes or field codes is a blank-separated
// piece of it.
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "uiglean/platform/linux/desktopfiles.h"
#include "uiglean/platform/linux/keybinding.h"

namespace {

bool special(char c) {
  return c == '"' || c == '\'' || c == '\\' || c == '%' || c == '`' || c == '$' || c == '<' ||
         c == '>' || c == '~' || c == '|' || c == '&' || c == ';' || c == '*' || c == '?' ||
         c == '#' || c == '(' || c == ')';
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);

  if (auto shortcut = uiglean::lx::parseKeyBinding(text)) {
    FUZZ_CHECK(shortcut->cmdChar || shortcut->virtualKey);
    if (shortcut->cmdChar) FUZZ_CHECK(!shortcut->cmdChar->empty());
    FUZZ_CHECK(shortcut->modifiers >= 0 && shortcut->modifiers <= 15);
  }

  const auto args = uiglean::lx::execArguments(text);
  if (args) FUZZ_CHECK(!args->empty());
  bool plain = !text.empty();
  for (char c : text) {
    const auto u = static_cast<unsigned char>(c);
    plain = plain && !special(c) && u >= 0x20 && u != 0x7f;
  }
  if (plain) {
    std::vector<std::string> words;
    std::string cur;
    for (char c : text + " ") {
      if (c == ' ') {
        if (!cur.empty()) words.push_back(cur);
        cur.clear();
      } else {
        cur.push_back(c);
      }
    }
    if (words.empty()) {
      FUZZ_CHECK(!args);
    } else {
      FUZZ_CHECK(args && *args == words);
    }
  }

  if (auto entry = uiglean::lx::parseDesktopEntry(text)) {
    for (const std::string* s : {&entry->name, &entry->exec, &entry->startupWMClass}) {
      FUZZ_CHECK(s->find('\n') == std::string::npos);
    }
  }
  return 0;
}
