#pragma once
// File-system calls of the order logic, on POSIX.

#include "platform/CString.h"

// A test that a file or folder of that name exists (no access mode).
bool FileExists(const char* path);

// The full path of the running executable (/proc/self/exe).
CString GetModuleFileName();

// $XDG_CONFIG_HOME, or $HOME/.config when it is unset, empty or relative.
CString GetConfigHome();

// Deletes a file. On failure returns false and sets `reason` to the system's text.
bool RemoveFile(const char* path, CString& reason);

// The system call behind RemoveFile, replaceable so tests can make a deletion fail the way
// a busy or protected file would (errno set, -1 returned). Null restores unlink.
using UnlinkFunction = int (*)(const char* path);
void SetUnlinkFunction(UnlinkFunction unlinkFunction);

// Removes a folder only when it is empty; the result tells whether it went.
bool RemoveEmptyDirectory(const char* path);

// Creates a folder and its missing parents; false when one cannot be created.
bool CreateDirectories(const char* path);

// The desktop platform's number for a failed file call's errno: 2 file not found, 3 path
// not found, 5 access denied; others pass through as they are.
unsigned int LastErrorFromErrno(int error);
