// pvhost: the host stand-in. Installs a host for the current user and exports orders to
// the tool.

#include <iostream>
#include <string>
#include <vector>

#include "platform/FileSystem.h"
#include "pvhost/Host.h"

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    return pvhost::Main(args, GetModuleFileName().str(), std::cout, std::cerr);
}
