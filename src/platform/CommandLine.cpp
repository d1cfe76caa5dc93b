#include "platform/CommandLine.h"

CString ControlFileFromArguments(int argc, const char* const* argv) {
    CString line;
    for (int i = 1; i < argc; ++i) {
        if (i > 1) line += ' ';
        line += argv[i];
    }
    line.Remove('"');
    return line;
}
