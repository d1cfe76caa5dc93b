#pragma once
// The calling thread's last-error number, as the desktop platform keeps it: every failing
// platform call of the core stores its number here, and the caller reads it right after the
// failure. The numbers are the desktop platform's, so that the texts built from them match.

#include <cstdint>

inline constexpr uint32_t ERROR_SUCCESS = 0;
inline constexpr uint32_t ERROR_FILE_NOT_FOUND = 2;
inline constexpr uint32_t ERROR_PATH_NOT_FOUND = 3;
inline constexpr uint32_t ERROR_ACCESS_DENIED = 5;
inline constexpr uint32_t ERROR_INVALID_HANDLE = 6;
inline constexpr uint32_t ERROR_NOT_ENOUGH_MEMORY = 8;
inline constexpr uint32_t ERROR_INVALID_PARAMETER = 87;
inline constexpr uint32_t ERROR_INSUFFICIENT_BUFFER = 122;

// The number stored last on this thread (0 when nothing was stored yet).
uint32_t GetLastError();

// Stores `code` for this thread; other threads keep their own number.
void SetLastError(uint32_t code);
