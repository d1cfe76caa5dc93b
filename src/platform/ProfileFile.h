#pragma once
// Profile (INI) files: [Section] lines and key=value lines. Section and key names compare
// case-insensitively (ASCII); blanks around names and values are dropped; a value wrapped
// in matching double or single quotes loses them; lines starting with ';' are comments.

#include "platform/CString.h"

// The value of `key` in `section`, or `defaultValue` when the file, section or key is
// missing. At most `size` - 1 bytes are returned, as a buffer of `size` bytes would hold.
// Keys before the first section belong to none; of repeated keys the first counts.
CString GetPrivateProfileString(const char* section, const char* key, const char* defaultValue,
                                int size, const char* file);

// Sets `key` in `section` to `value`, creating the folder, file and section when needed.
// Every other line stays as it was, byte for byte. A value that starts or ends with a blank
// or a quote is written in double quotes, so that it reads back as given. The file is
// replaced atomically (temporary file in the same folder, flushed, renamed), so a failure
// never leaves a half-written file. Returns false when the file could not be written, and
// refuses (false) a line break in any argument and names that would read back differently
// (an empty key, '=' in a key, ']' in a section); the old file is then untouched.
bool WritePrivateProfileString(const char* section, const char* key, const char* value,
                               const char* file);
