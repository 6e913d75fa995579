// uiglean-mcp: the desktop as a Model Context Protocol server on standard input and output.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "uiglean/ax/platform.h"
#include "uiglean/front/commands.h"
#include "uiglean/front/globals.h"
#include "uiglean/mcp/server.h"

int main(int argc, char** argv) {
  if (argc > 1) {
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
      std::printf("%s %s\n", uiglean::mcp::SERVER_NAME, uiglean::mcp::SERVER_VERSION);
      return 0;
    }
    std::fprintf(stderr, "usage: uiglean-mcp (takes no arguments; speaks MCP on standard input and output)\n");
    return 2;
  }
  uiglean::platformStart();
  // Calls go on in one process: what the applications announce changes of is kept between them.
  uiglean::platformKeepAnswersBetweenRuns();
  return uiglean::mcp::serveStdio(
      [](std::vector<std::string> words, const uiglean::mcp::WalkLimits& limits) {
        return uiglean::runCaptured(std::move(words), [&] {
          if (limits.maxNodes) uiglean::MAX_NODES = std::min(uiglean::MAX_NODES, *limits.maxNodes);
        });
      });
}
