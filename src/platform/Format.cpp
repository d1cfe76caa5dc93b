#include "platform/Format.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

CString FormatBoundedV(int bufferSize, const char* format, ...) {
    if (bufferSize <= 0 || format == nullptr) return CString();
    std::vector<char> buffer(static_cast<size_t>(bufferSize), '\0');
    va_list args;
    va_start(args, format);
    // The formats are the catalogue's and the code's own texts, never user input; their
    // conversions are checked against the values by the catalogue's tests.
#if defined(__clang__)
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wformat-nonliteral"
#endif
    int written = std::vsnprintf(buffer.data(), buffer.size(), format, args);
#if defined(__clang__)
#pragma clang diagnostic pop
#endif
    va_end(args);
    if (written < 0) return CString();
    return CString(buffer.data());
}
