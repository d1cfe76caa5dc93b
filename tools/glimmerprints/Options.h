#pragma once
// The command line of the glimmerprints program.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Service.h"

namespace glimmer {

struct Options {
    std::string host = "127.0.0.1";
    int port = 8080;
    ServiceConfig config;
    bool help = false;
};

// Parses the arguments after the program name. Every option takes its value as the next
// argument or after '='. nullopt with `error` set on a bad command line.
std::optional<Options> ParseOptions(const std::vector<std::string>& args, std::string& error);

std::string Usage(std::string_view program);

}  // namespace glimmer
