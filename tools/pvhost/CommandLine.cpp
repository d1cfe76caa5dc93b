#include "pvhost/CommandLine.h"

#include <cctype>
#include <cstdint>

namespace pvhost {

namespace {

// Takes the value of option `name` from "--name VALUE" or "--name=VALUE". `i` points at
// the option and moves past what was used. Returns false when this argument is not that
// option; `missing` tells that it was, but without a value.
bool TakeValue(const std::vector<std::string>& args, size_t& i, const std::string& name,
               std::string& value, bool& missing) {
    const std::string& arg = args[i];
    if (arg == name) {
        if (i + 1 >= args.size()) {
            missing = true;
            return true;
        }
        value = args[++i];
        return true;
    }
    if (arg.size() > name.size() && arg.compare(0, name.size(), name) == 0 && arg[name.size()] == '=') {
        value = arg.substr(name.size() + 1);
        return true;
    }
    return false;
}

bool IsDigits(const std::string& text) {
    if (text.empty()) return false;
    for (char c : text)
        if (c < '0' || c > '9') return false;
    return true;
}

// A decimal number from 1 to `limit`.
bool ParsePositive(const std::string& text, std::int64_t limit, std::int64_t& value) {
    if (!IsDigits(text) || text.size() > 10) return false;
    value = std::stoll(text);
    return value >= 1 && value <= limit;
}

bool ParseInstall(const std::vector<std::string>& args, size_t i, InstallOptions& options,
                  std::string& error) {
    for (; i < args.size(); ++i) {
        std::string value;
        bool missing = false;
        const std::string& arg = args[i];
        if (TakeValue(args, i, "--language", value, missing)) {
            if (missing) return error = "--language needs a letter", false;
            if (value.size() != 1 ||
                std::string_view("EFGIS").find(static_cast<char>(std::toupper(static_cast<unsigned char>(value[0])))) ==
                    std::string_view::npos)
                return error = "--language takes one of E, F, G, I, S, not '" + value + "'", false;
            options.language = static_cast<char>(std::toupper(static_cast<unsigned char>(value[0])));
        } else if (TakeValue(args, i, "--service", value, missing)) {
            if (missing) return error = "--service needs HOST or HOST:PORT", false;
            if (!IsServiceHost(value))
                return error = "--service takes HOST or HOST:PORT (port 1-65535), not '" + value + "'", false;
            options.service = value;
        } else if (TakeValue(args, i, "--data", value, missing)) {
            if (missing || value.empty()) return error = "--data needs a folder", false;
            options.dataDir = value;
        } else if (TakeValue(args, i, "--browser", value, missing)) {
            if (missing || value.empty()) return error = "--browser needs a program", false;
            options.browser = value;
        } else if (TakeValue(args, i, "--tool", value, missing)) {
            if (missing || value.empty()) return error = "--tool needs a program", false;
            options.tool = value;
        } else {
            return error = "install: unknown argument '" + arg + "'", false;
        }
    }
    return true;
}

bool ParseOrder(const std::vector<std::string>& args, size_t i, OrderOptions& options,
                std::string& error) {
    bool optionsEnded = false;
    for (; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg.empty() || arg[0] != '-' || arg == "-") {
            options.pictures.push_back(arg);
            continue;
        }
        std::string value;
        bool missing = false;
        if (arg == "--") {
            optionsEnded = true;
        } else if (arg == "--no-wait") {
            options.wait = false;
        } else if (TakeValue(args, i, "--format", value, missing)) {
            if (missing || value.empty()) return error = "--format needs a print format", false;
            options.format = value;
        } else if (TakeValue(args, i, "--quantity", value, missing)) {
            std::int64_t quantity = 0;
            if (missing || !ParsePositive(value, INT32_MAX, quantity))
                return error = "--quantity takes a whole number from 1 to 2147483647", false;
            options.quantity = static_cast<int>(quantity);
        } else if (TakeValue(args, i, "--tool", value, missing)) {
            if (missing || value.empty()) return error = "--tool needs a program", false;
            options.tool = value;
        } else if (TakeValue(args, i, "--export-dir", value, missing)) {
            if (missing || value.empty()) return error = "--export-dir needs a folder", false;
            options.exportDir = value;
        } else {
            return error = "order: unknown option '" + arg + "'", false;
        }
    }
    if (options.pictures.empty()) return error = "order: no pictures given", false;
    return true;
}

}  // namespace

bool IsServiceHost(const std::string& text) {
    size_t colon = text.find(':');
    std::string host = text.substr(0, colon);
    if (host.empty()) return false;
    for (char c : host) {
        bool ok = std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '_';
        if (!ok) return false;
    }
    if (colon == std::string::npos) return true;
    std::int64_t port = 0;
    return ParsePositive(text.substr(colon + 1), 65535, port);
}

bool ParseCommandLine(const std::vector<std::string>& args, CommandLine& line, std::string& error) {
    line = CommandLine();
    if (args.empty()) return error = "no command given", false;
    const std::string& command = args[0];
    for (const std::string& arg : args) {
        if (arg == "--") break;
        if (arg == "--help" || arg == "-h") {
            line.command = Command::Help;
            return true;
        }
    }
    if (command == "help") {
        line.command = Command::Help;
        return true;
    }
    if (command == "install") {
        line.command = Command::Install;
        return ParseInstall(args, 1, line.install, error);
    }
    if (command == "order") {
        line.command = Command::Order;
        return ParseOrder(args, 1, line.order, error);
    }
    error = "unknown command '" + command + "'";
    return false;
}

const char* UsageText() {
    return "usage: pvhost install [--language E|F|G|I|S] [--service HOST[:PORT]] [--data DIR]\n"
           "                      [--browser PROGRAM] [--tool PATH]\n"
           "       pvhost order [--format FORMAT] [--quantity N] [--tool PATH]\n"
           "                    [--export-dir DIR] [--no-wait] PICTURE...\n"
           "       pvhost --help\n"
           "\n"
           "A stand-in for the host product Pictorvale.\n"
           "\n"
           "install  Writes the host's registry file ($XDG_CONFIG_HOME/pictorvale/registry.reg)\n"
           "         pointing at relax.ini in DIR (default $XDG_CONFIG_HOME/pictorvale/host), and\n"
           "         relax.ini with the language letter (default E). --service stores the print\n"
           "         service in the tool's settings file ($XDG_CONFIG_HOME/pictorvale/pvprint.ini,\n"
           "         named after --tool). --browser registers the program that opens web\n"
           "         addresses; without it a browser registered earlier is kept.\n"
           "\n"
           "order    Copies each picture as a temporary file into a new export folder (DIR, or\n"
           "         a new folder under $TMPDIR or /tmp), writes the control file order.ctl\n"
           "         (one line per picture, print format default 4.00x6.00, quantity default 1)\n"
           "         and starts the tool (default: pvprint next to pvhost, else on PATH) with the\n"
           "         control-file path. It waits for the tool unless --no-wait is given, reports\n"
           "         how it ended and exits with the tool's exit code (1 when it could not be\n"
           "         started).\n"
           "\n"
           "Exit codes: 0 done, 1 failure, 2 bad usage; order: the tool's exit code.\n";
}

}  // namespace pvhost
