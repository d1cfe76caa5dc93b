#pragma once
// printf-style formatting into a fixed buffer: what does not fit is cut off, as the
// fixed-size text buffers of the order logic do (260 bytes keep 259 characters).

#include <cstdint>
#include <type_traits>

#include "platform/CString.h"

inline constexpr int kTextBufferSize = 260;

// Formats into a buffer of `bufferSize` bytes (terminator included) and returns the text.
CString FormatBoundedV(int bufferSize, const char* format, ...);

namespace format_detail {
inline const char* Pass(const CString& s) { return s.GetString(); }
inline const char* Pass(const char* s) { return s ? s : ""; }
template <typename T>
    requires std::is_arithmetic_v<T>
T Pass(T value) { return value; }
}  // namespace format_detail

// Values may be texts or numbers; a CString travels as its C string.
template <typename... Args>
CString FormatBounded(int bufferSize, const char* format, const Args&... args) {
    return FormatBoundedV(bufferSize, format, format_detail::Pass(args)...);
}

template <typename... Args>
CString FormatText(const char* format, const Args&... args) {
    return FormatBounded(kTextBufferSize, format, args...);
}
