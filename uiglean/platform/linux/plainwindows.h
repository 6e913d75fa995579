// Applications without accessibility. A process that owns top-level X11 windows but no object on
// the accessibility bus (xterm, a game, a program built without its toolkit's bridge) is still an
// application: it is seen as an application element whose windows are the ones the window server
// gives, each with its title, frame and state, and no contents. They are raised and activated
// through the window manager, as any window is.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "uiglean/ax/platform.h"
#include "uiglean/platform/linux/elements.h"

namespace uiglean::lx {

// Whether `pid` has no accessibility object but a normal X11 window.
bool isPlainApplication(std::int32_t pid);

// The application element of such a process (null for any other).
Element plainApplication(std::int32_t pid);

bool isPlainView(const ElementImpl& e);
CopyResult plainAttribute(const ElementImpl& e, const std::string& name);
ActionNamesResult plainActionNames(const ElementImpl& e);
std::int32_t plainPerformAction(const ElementImpl& e, const std::string& action);
std::int32_t plainSetAttribute(const ElementImpl& e, const std::string& name, const Value& value);
WindowNumberResult plainWindowNumber(const ElementImpl& e);

}  // namespace uiglean::lx
