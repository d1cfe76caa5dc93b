#include "Options.h"

#include <limits>

namespace glimmer {
namespace {

// Decimal digits, at least `min`, at most `max`; an optional binary suffix k, M or G when
// `suffixes` is set.
bool ParseNumber(std::string_view text, std::uint64_t min, std::uint64_t max, bool suffixes,
                 std::uint64_t& value) {
    std::uint64_t scale = 1;
    if (suffixes && !text.empty()) {
        switch (text.back()) {
            case 'k':
            case 'K':
                scale = 1ull << 10;
                break;
            case 'm':
            case 'M':
                scale = 1ull << 20;
                break;
            case 'g':
            case 'G':
                scale = 1ull << 30;
                break;
            default:
                break;
        }
        if (scale != 1) text.remove_suffix(1);
    }
    if (text.empty() || text.size() > 19) return false;
    std::uint64_t number = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        number = number * 10 + static_cast<std::uint64_t>(c - '0');
    }
    if (number > std::numeric_limits<std::uint64_t>::max() / scale) return false;
    value = number * scale;
    return value >= min && value <= max;
}

bool ParseListen(const std::string& text, Options& options) {
    std::size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0) return false;
    std::string host = text.substr(0, colon);
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
        host = host.substr(1, host.size() - 2);
    }
    std::uint64_t port = 0;
    if (host.empty() || !ParseNumber(text.substr(colon + 1), 0, 65535, false, port)) return false;
    options.host = host;
    options.port = static_cast<int>(port);
    return true;
}

}  // namespace

std::string Usage(std::string_view program) {
    std::string text = "usage: ";
    text += program;
    text +=
        " --data DIR [--listen HOST:PORT] [--max-body BYTES] [--max-parts N]\n"
        "        [--read-timeout SEC] [--write-timeout SEC] [--threads N] [--quiet]\n"
        "\n"
        "The reference print service: takes orders at POST /pvp.php and shows each account's\n"
        "orders at /glimmerprints.php?username=EMAIL&password=PASSWORD.\n"
        "\n"
        "  --data DIR           folder for the database and the pictures (created if missing)\n"
        "  --listen HOST:PORT   address to listen on (default 127.0.0.1:8080; port 0 picks a\n"
        "                       free port); the first line on stdout names the address\n"
        "  --max-body BYTES     largest order body, suffix k, M or G allowed (default 8G)\n"
        "  --max-parts N        most parts in one body (default 20000)\n"
        "  --read-timeout SEC   longest wait for the request head in total, and for each\n"
        "                       later read (default 30)\n"
        "  --write-timeout SEC  longest wait for each write (default 30)\n"
        "  --threads N          requests served at the same time (default 16)\n"
        "  --quiet              no line per request on stderr\n"
        "  --help               this text\n";
    return text;
}

std::optional<Options> ParseOptions(const std::vector<std::string>& args, std::string& error) {
    Options options;
    options.config.log = true;
    bool have_data = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        std::optional<std::string> value;
        if (std::size_t eq = name.find('='); name.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = name.substr(eq + 1);
            name = name.substr(0, eq);
        }
        if (name == "--help" || name == "-h") {
            options.help = true;
            return options;
        }
        if (name == "--quiet") {
            options.config.log = false;
            continue;
        }
        static const char* const kWithValue[] = {"--data",      "--listen",       "--max-body",
                                                 "--max-parts", "--read-timeout", "--write-timeout",
                                                 "--threads"};
        bool known = false;
        for (const char* option : kWithValue) known = known || name == option;
        if (!known) {
            error = "unknown option " + name;
            return std::nullopt;
        }
        if (!value) {
            if (i + 1 >= args.size()) {
                error = name + " needs a value";
                return std::nullopt;
            }
            value = args[++i];
        }
        std::uint64_t number = 0;
        bool ok = true;
        if (name == "--data") {
            ok = !value->empty();
            options.config.data_dir = *value;
            have_data = true;
        } else if (name == "--listen") {
            ok = ParseListen(*value, options);
        } else if (name == "--max-body") {
            ok = ParseNumber(*value, 1, std::numeric_limits<std::uint64_t>::max(), true, number);
            options.config.max_body = number;
        } else if (name == "--max-parts") {
            ok = ParseNumber(*value, 1, 100'000'000, false, number);
            options.config.max_parts = static_cast<std::size_t>(number);
        } else if (name == "--read-timeout" || name == "--write-timeout") {
            ok = ParseNumber(*value, 1, 24 * 3600, false, number);
            auto timeout = std::chrono::milliseconds(number * 1000);
            (name == "--read-timeout" ? options.config.read_timeout
                                      : options.config.write_timeout) = timeout;
        } else if (name == "--threads") {
            ok = ParseNumber(*value, 1, 1024, false, number);
            options.config.threads = static_cast<std::size_t>(number);
        }
        if (!ok) {
            error = "bad value for " + name + ": " + *value;
            return std::nullopt;
        }
    }
    if (!have_data) {
        error = "--data DIR is required";
        return std::nullopt;
    }
    return options;
}

}  // namespace glimmer
