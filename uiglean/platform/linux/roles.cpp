#include "uiglean/platform/linux/roles.h"

#include <array>

namespace uiglean::lx {

namespace {

// The protocol's role names, by role number.
constexpr std::array<const char*, 130> ROLE_NAMES = {
    "invalid", "accelerator label", "alert", "animation", "arrow", "calendar", "canvas",
    "check box", "check menu item", "color chooser", "column header", "combo box", "date editor",
    "desktop icon", "desktop frame", "dial", "dialog", "directory pane", "drawing area",
    "file chooser", "filler", "focus traversable", "font chooser", "frame", "glass pane",
    "html container", "icon", "image", "internal frame", "label", "layered pane", "list",
    "list item", "menu", "menu bar", "menu item", "option pane", "page tab", "page tab list",
    "panel", "password text", "popup menu", "progress bar", "push button", "radio button",
    "radio menu item", "root pane", "row header", "scroll bar", "scroll pane", "separator",
    "slider", "spin button", "split pane", "status bar", "table", "table cell",
    "table column header", "table row header", "tearoff menu item", "terminal", "text",
    "toggle button", "tool bar", "tool tip", "tree", "tree table", "unknown", "viewport",
    "window", "extended", "header", "footer", "paragraph", "ruler", "application",
    "autocomplete", "editbar", "embedded", "entry", "chart", "caption", "document frame",
    "heading", "page", "section", "redundant object", "form", "link", "input method window",
    "table row", "tree item", "document spreadsheet", "document presentation", "document text",
    "document web", "document email", "comment", "list box", "grouping", "image map",
    "notification", "info bar", "level bar", "title bar", "block quote", "audio", "video",
    "definition", "article", "landmark", "log", "marquee", "math", "rating", "timer", "static",
    "math fraction", "math root", "subscript", "superscript", "description list",
    "description term", "description value", "footnote", "content deletion",
    "content insertion", "mark", "suggestion", "push button menu"};

struct Mapping {
  std::uint32_t role;
  const char* mac;
  const char* subrole;
};

// Roles shown under a macOS name. Roles not listed are "AX" and their protocol name in upper
// camel case; menus, text and windows depend on more than the role and are decided in macRole.
constexpr Mapping MAPPINGS[] = {
    {1, "AXStaticText", ""},      // accelerator label
    {5, "AXGroup", ""},           // calendar
    {6, "AXGroup", ""},           // canvas
    {7, "AXCheckBox", ""},        // check box
    {13, "AXImage", ""},          // desktop icon
    {14, "AXGroup", ""},          // desktop frame
    {15, "AXSlider", ""},         // dial
    {18, "AXGroup", ""},          // drawing area
    {20, "AXGroup", ""},          // filler
    {25, "AXGroup", ""},          // html container
    {26, "AXImage", ""},          // icon
    {27, "AXImage", ""},          // image
    {28, "AXGroup", ""},          // internal frame
    {29, "AXStaticText", ""},     // label
    {30, "AXGroup", ""},          // layered pane
    {31, "AXList", ""},           // list
    {32, "AXGroup", ""},          // list item
    {34, "AXMenuBar", ""},        // menu bar
    {36, "AXGroup", ""},          // option pane
    {37, "AXRadioButton", "AXTabButton"},  // page tab
    {38, "AXTabGroup", ""},       // page tab list
    {39, "AXGroup", ""},          // panel
    {41, "AXMenu", ""},           // popup menu
    {42, "AXProgressIndicator", ""},
    {43, "AXButton", ""},         // push button
    {44, "AXRadioButton", ""},    // radio button
    {46, "AXGroup", ""},          // root pane
    {48, "AXScrollBar", ""},      // scroll bar
    {49, "AXScrollArea", ""},     // scroll pane
    {51, "AXSlider", ""},         // slider
    {52, "AXIncrementor", ""},    // spin button
    {53, "AXSplitGroup", ""},     // split pane
    {55, "AXTable", ""},          // table
    {56, "AXCell", ""},           // table cell
    {60, "AXTextArea", ""},       // terminal
    {62, "AXCheckBox", "AXToggle"},  // toggle button
    {63, "AXToolbar", ""},        // tool bar
    {64, "AXHelpTag", ""},        // tool tip
    {65, "AXOutline", ""},        // tree
    {66, "AXOutline", ""},        // tree table
    {67, "AXUnknown", ""},        // unknown
    {68, "AXGroup", ""},          // viewport
    {75, "AXApplication", ""},    // application
    {78, "AXGroup", ""},          // embedded
    {81, "AXStaticText", ""},     // caption
    {82, "AXWebArea", ""},        // document frame
    {83, "AXHeading", ""},        // heading
    {85, "AXGroup", ""},          // section
    {86, "AXGroup", ""},          // redundant object
    {87, "AXGroup", "AXLandmarkForm"},  // form
    {88, "AXLink", ""},           // link
    {90, "AXRow", ""},            // table row
    {91, "AXRow", ""},            // tree item
    {95, "AXWebArea", ""},        // document web
    {98, "AXList", ""},           // list box
    {99, "AXGroup", ""},          // grouping
    {101, "AXGroup", ""},         // notification
    {102, "AXGroup", ""},         // info bar
    {103, "AXLevelIndicator", ""},  // level bar
    {105, "AXGroup", ""},         // block quote
    {109, "AXGroup", "AXDocumentArticle"},  // article
    {110, "AXGroup", ""},         // landmark
    {116, "AXStaticText", ""},    // static
    {121, "AXList", ""},          // description list
    {129, "AXMenuButton", ""},    // push button menu
};

std::string upperCamel(const std::string& name) {
  std::string out;
  bool up = true;
  for (char c : name) {
    if (c == ' ' || c == '-' || c == '_') {
      up = true;
      continue;
    }
    if (up && c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    out += c;
    up = false;
  }
  return out;
}

}  // namespace

std::optional<std::string> roleName(std::uint32_t r) {
  if (r < ROLE_NAMES.size()) return std::string(ROLE_NAMES[r]);
  return std::nullopt;
}

MacRole macRole(std::uint32_t r, std::uint64_t states, Context context) {
  switch (r) {
    case role::menu:
      // A menu that is itself an entry of a menu bar or menu is the item that opens it;
      // elsewhere (a combo box's list, a context menu) it is the menu.
      if (context == Context::menuBar) return {"AXMenuBarItem", ""};
      if (context == Context::menu) return {"AXMenuItem", ""};
      return {"AXMenu", ""};
    case role::menuItem:
    case role::checkMenuItem:
    case role::radioMenuItem:
    case role::tearoffMenuItem:
      return {context == Context::menuBar ? "AXMenuBarItem" : "AXMenuItem", ""};
    case role::separator:
      if (context == Context::menu) return {"AXMenuItem", ""};
      return {"AXSplitter", ""};
    case role::text:
    case role::entry:
    case role::editbar:
      if (hasState(states, state::multiLine)) return {"AXTextArea", ""};
      return {"AXTextField", ""};
    case role::passwordText:
      return {"AXTextField", "AXSecureTextField"};
    case role::paragraph:
      // As a browser on macOS shows text; an editable one (a document's body) is a text area.
      return {hasState(states, state::editable) ? "AXTextArea" : "AXStaticText", ""};
    case role::comboBox:
      return {hasState(states, state::editable) ? "AXComboBox" : "AXPopUpButton", ""};
    case role::frame:
    case role::window:
      return {"AXWindow", "AXStandardWindow"};
    case role::dialog:
    case role::alert:
    case role::fileChooser:
      return {"AXWindow", "AXDialog"};
    case 0:  // "invalid": the toolkit has no role for it
      return {"AXUnknown", ""};
    default:
      break;
  }
  for (const auto& m : MAPPINGS) {
    if (m.role == r) return {m.mac, m.subrole};
  }
  if (auto name = roleName(r)) return {"AX" + upperCamel(*name), ""};
  return {"AXUnknown", ""};
}

bool isWindowRole(std::uint32_t r) {
  return r == role::frame || r == role::dialog || r == role::window || r == role::alert ||
         r == role::fileChooser;
}

bool isTextRole(std::uint32_t r) {
  return r == role::text || r == role::entry || r == role::passwordText || r == role::editbar ||
         r == role::terminal;
}

bool isProseRole(std::uint32_t r) { return r == role::paragraph; }

bool hasTextValue(std::uint32_t r) { return isTextRole(r) || isProseRole(r); }

bool isEditableText(std::uint32_t r, std::uint64_t states) {
  return isTextRole(r) || (isProseRole(r) && hasState(states, state::editable));
}

bool isValueRole(std::uint32_t r) {
  return r == role::slider || r == role::spinButton || r == role::scrollBar ||
         r == role::progressBar || r == role::dial || r == role::levelBar;
}

bool isToggleRole(std::uint32_t r) {
  return r == role::checkBox || r == role::radioButton || r == role::toggleButton ||
         r == role::pageTab;
}

bool isMenuItemRole(std::uint32_t r) {
  return r == role::menu || r == role::menuItem || r == role::checkMenuItem ||
         r == role::radioMenuItem || r == role::tearoffMenuItem;
}

bool mayHaveActions(std::uint32_t r) {
  switch (r) {
    case 29:   // label
    case 20:   // filler
    case 39:   // panel
    case 50:   // separator
    case 49:   // scroll pane
    case 68:   // viewport
    case 23:   // frame
    case 16:   // dialog
    case 69:   // window
    case 54:   // status bar
    case 63:   // tool bar
    case 34:   // menu bar
    case 75:   // application
    case 116:  // static
    case 27:   // image
    case 46:   // root pane
    case 30:   // layered pane
    case 24:   // glass pane
      return false;
    default:
      return true;
  }
}

}  // namespace uiglean::lx
