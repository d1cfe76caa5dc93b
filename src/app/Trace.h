#pragma once
// An optional record of what the program shows, for the real-window tests: with
// PVPRINT_TRACE=<file> in the environment every caption, control text, progress step,
// message box and dialog end is appended to that file, one line each, as it happens.
// Without the variable nothing is written.

#include <string_view>

// True when PVPRINT_TRACE names a trace file; callers skip building details otherwise.
bool TraceEnabled();

// Appends "<kind> <detail>" as one line; line breaks and backslashes in `detail` are
// written as \n, \r and \\ so that every event stays on its line.
void TraceEvent(std::string_view kind, std::string_view detail);
