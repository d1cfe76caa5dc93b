#include "platform/Format.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

CString FormatBoundedV(int bufferSize, const char* format, ...) {
    if (bufferSize <= 0 || format == nullptr) return CString();
    std::vector<char> buffer(static_cast<size_t>(bufferSize), '\0');
    va_list args;
    va_start(args, format);
    int written = std::vsnprintf(buffer.data(), buffer.size(), format, args);
    va_end(args);
    if (written < 0) return CString();
    return CString(buffer.data());
}
