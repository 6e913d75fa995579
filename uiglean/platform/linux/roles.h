// Roles and states: the accessibility protocol's numbers and what they are called on the other
// side, in the role names a macOS caller knows (the table in README.md).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace uiglean::lx {

// The protocol's role numbers that the layer treats specially.
namespace role {
inline constexpr std::uint32_t alert = 2;
inline constexpr std::uint32_t checkBox = 7;
inline constexpr std::uint32_t checkMenuItem = 8;
inline constexpr std::uint32_t comboBox = 11;
inline constexpr std::uint32_t dial = 15;
inline constexpr std::uint32_t dialog = 16;
inline constexpr std::uint32_t fileChooser = 19;
inline constexpr std::uint32_t filler = 20;
inline constexpr std::uint32_t frame = 23;
inline constexpr std::uint32_t label = 29;
inline constexpr std::uint32_t list = 31;
inline constexpr std::uint32_t menu = 33;
inline constexpr std::uint32_t menuBar = 34;
inline constexpr std::uint32_t menuItem = 35;
inline constexpr std::uint32_t pageTab = 37;
inline constexpr std::uint32_t panel = 39;
inline constexpr std::uint32_t passwordText = 40;
inline constexpr std::uint32_t paragraph = 73;
inline constexpr std::uint32_t popupMenu = 41;
inline constexpr std::uint32_t progressBar = 42;
inline constexpr std::uint32_t pushButton = 43;
inline constexpr std::uint32_t radioButton = 44;
inline constexpr std::uint32_t radioMenuItem = 45;
inline constexpr std::uint32_t scrollBar = 48;
inline constexpr std::uint32_t separator = 50;
inline constexpr std::uint32_t slider = 51;
inline constexpr std::uint32_t spinButton = 52;
inline constexpr std::uint32_t table = 55;
inline constexpr std::uint32_t tearoffMenuItem = 59;
inline constexpr std::uint32_t terminal = 60;
inline constexpr std::uint32_t text = 61;
inline constexpr std::uint32_t toggleButton = 62;
inline constexpr std::uint32_t toolTip = 64;
inline constexpr std::uint32_t tree = 65;
inline constexpr std::uint32_t treeTable = 66;
inline constexpr std::uint32_t window = 69;
inline constexpr std::uint32_t application = 75;
inline constexpr std::uint32_t editbar = 77;
inline constexpr std::uint32_t entry = 79;
inline constexpr std::uint32_t documentFrame = 82;
inline constexpr std::uint32_t heading = 83;
inline constexpr std::uint32_t tableRow = 90;
inline constexpr std::uint32_t treeItem = 91;
inline constexpr std::uint32_t documentWeb = 95;
inline constexpr std::uint32_t listBox = 98;
inline constexpr std::uint32_t levelBar = 103;
inline constexpr std::uint32_t staticText = 116;
}  // namespace role

// The protocol's state numbers (bits of the two-word state set).
namespace state {
inline constexpr int active = 1;
inline constexpr int armed = 2;
inline constexpr int checked = 4;
inline constexpr int defunct = 6;
inline constexpr int editable = 7;
inline constexpr int enabled = 8;
inline constexpr int expandable = 9;
inline constexpr int expanded = 10;
inline constexpr int focused = 12;
inline constexpr int iconified = 15;
inline constexpr int modal = 16;
inline constexpr int multiLine = 17;
inline constexpr int pressed = 20;
inline constexpr int selected = 23;
inline constexpr int sensitive = 24;
inline constexpr int showing = 25;
inline constexpr int singleLine = 26;
inline constexpr int visible = 30;
inline constexpr int indeterminate = 32;
inline constexpr int checkable = 41;
}  // namespace state

inline bool hasState(std::uint64_t states, int bit) { return ((states >> bit) & 1U) != 0; }

// Where an object sits, as far as its role depends on it.
enum class Context { unknown, menuBar, menu, other };

struct MacRole {
  std::string role;
  std::string subrole;  // empty when none
};

// The protocol's name of a role number ("push button"), or nothing for a number it does not
// define.
std::optional<std::string> roleName(std::uint32_t role);

// The macOS role (and subrole) an object of that role, state set and context is shown as.
MacRole macRole(std::uint32_t role, std::uint64_t states, Context context);

// Kinds of object, by role.
bool isWindowRole(std::uint32_t role);
bool isTextRole(std::uint32_t role);
// Running text that toolkits give the Text interface without a text role (a paragraph of a page
// or of a document): its text is its value, and it can be written when it is editable.
bool isProseRole(std::uint32_t role);
// Objects whose value is their text: text roles and prose.
bool hasTextValue(std::uint32_t role);
// Objects whose text can be written: text roles, and prose in state editable.
bool isEditableText(std::uint32_t role, std::uint64_t states);
bool isValueRole(std::uint32_t role);
bool isToggleRole(std::uint32_t role);  // check boxes, radio buttons, toggle buttons
bool isMenuItemRole(std::uint32_t role);
// Roles whose objects usually offer actions; others are not asked for them.
bool mayHaveActions(std::uint32_t role);

}  // namespace uiglean::lx
