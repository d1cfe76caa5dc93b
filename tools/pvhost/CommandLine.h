#pragma once
// The command line of pvhost: "install" and "order" with their options.

#include <optional>
#include <string>
#include <vector>

namespace pvhost {

inline constexpr const char* kDefaultFormat = "4.00x6.00";

struct InstallOptions {
    char language = 'E';                 // E, F, G, I or S
    std::optional<std::string> service;  // HOST or HOST:PORT for [Service] Host
    std::string dataDir;                 // folder of relax.ini; empty: the default one
    std::optional<std::string> browser;  // program for the http open command
    std::string tool;                    // the tool whose settings file gets the service
};

struct OrderOptions {
    std::string format = kDefaultFormat;
    int quantity = 1;
    std::string tool;       // empty: pvprint next to pvhost, else on PATH
    std::string exportDir;  // empty: a new folder under $TMPDIR or /tmp
    bool wait = true;
    std::vector<std::string> pictures;
};

enum class Command { Help, Install, Order };

struct CommandLine {
    Command command = Command::Help;
    InstallOptions install;
    OrderOptions order;
};

// Parses the arguments after the program name. False with `error` set on bad usage.
bool ParseCommandLine(const std::vector<std::string>& args, CommandLine& line, std::string& error);

// "HOST" or "HOST:PORT" with a host of letters, digits, '.', '-' and '_' and a port of
// 1 to 65535, the forms the tool accepts in its settings file.
bool IsServiceHost(const std::string& text);

// The help text.
const char* UsageText();

}  // namespace pvhost
