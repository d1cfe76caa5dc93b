#pragma once
// Starting programs without any shell (ShellExecuteA).

#include "platform/CString.h"

// With `parameters`, runs `file` with `parameters` as its one argument; without, opens
// `file` (an address) with `xdg-open`. Returns a value above 32 when the program was
// started, 32 or less when it could not be (a failed exec included). Nothing is ever
// pasted into a shell command line, and the started program is not waited for.
int ShellExecuteA(const char* file, const char* parameters);
