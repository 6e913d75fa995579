// The stdio transport: messages are read from standard input, one per line, and answered on
// standard output; everything else anyone prints goes to standard error.
#pragma once

#include "uiglean/mcp/tools.h"

namespace uiglean::mcp {

// Serves until standard input ends (then returns 0) or SIGTERM or SIGINT arrive (then the
// process ends with status 0 between two messages). Tool calls run one at a time on the calling
// thread, through `run`; one thread reads standard input meanwhile, answers what needs no
// application, and passes on cancellations.
int serveStdio(const Runner& run);

}  // namespace uiglean::mcp
