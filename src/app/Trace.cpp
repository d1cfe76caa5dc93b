#include "app/Trace.h"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

// The trace file, opened on first use and kept open for the life of the process.
std::FILE* TraceFile() {
    static std::FILE* const file = [] {
        const char* path = std::getenv("PVPRINT_TRACE");
        return (path && *path) ? std::fopen(path, "a") : nullptr;
    }();
    return file;
}

}  // namespace

bool TraceEnabled() { return TraceFile() != nullptr; }

void TraceEvent(std::string_view kind, std::string_view detail) {
    std::FILE* file = TraceFile();
    if (!file) return;
    std::string line(kind);
    if (!detail.empty()) line += ' ';
    for (char c : detail) {
        switch (c) {
            case '\n': line += "\\n"; break;
            case '\r': line += "\\r"; break;
            case '\\': line += "\\\\"; break;
            default: line += c;
        }
    }
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), file);
    // Flushed at once: a test reads the file while the program still runs.
    std::fflush(file);
}
