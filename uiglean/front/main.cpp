#include <string>
#include <vector>

#include "uiglean/ax/platform.h"
#include "uiglean/front/commands.h"

int main(int argc, char** argv) {
  uiglean::platformStart();
  std::vector<std::string> arguments;
  for (int i = 1; i < argc; ++i) arguments.emplace_back(argv[i]);
  uiglean::runUiglean(std::move(arguments));
}
