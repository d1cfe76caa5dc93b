#pragma once
// The reliability table: when $PV_RELIABILITY_TABLE names a file, every case appends one line
// `suite|case|tried|outcome|lost` to it, lost being `nothing` or `LOST` (scripts/reliability
// prints the table and fails on any LOST).

#include <cstdlib>
#include <fstream>
#include <string>
#include <string_view>

namespace reliability {

inline void AddTableRow(std::string_view suite, std::string_view name, long tried,
                        std::string_view outcome, bool lost) {
    const char* table = std::getenv("PV_RELIABILITY_TABLE");
    if (!table || !*table) return;
    // A bar or line break in the outcome would split the row.
    std::string text(outcome);
    for (char& c : text) {
        if (c == '|' || c == '\n' || c == '\r') c = '/';
    }
    std::ofstream(table, std::ios::app) << suite << "|" << name << "|" << tried << "|" << text
                                        << "|" << (lost ? "LOST" : "nothing") << "\n";
}

}  // namespace reliability
