#include "commands.hpp"

int main(int argc, char** argv) {
    return cloudkit::runCommandLine(std::vector<std::string>(argv, argv + argc));
}
