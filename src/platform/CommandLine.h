#pragma once

#include "platform/CString.h"

// The control-file path from the program's arguments: every argument after the program
// name, joined by single blanks, with every double quote removed wherever it stands.
CString ControlFileFromArguments(int argc, const char* const* argv);
