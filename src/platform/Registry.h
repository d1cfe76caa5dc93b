#pragma once
// The registry, read from text files in the .reg export format. The tool never writes it.
//
//   [HKEY_LOCAL_MACHINE\SOFTWARE\Tessaly\Pictorvale Gallery\1.0\IniFilePath]
//   @="/opt/pictorvale/data/relax.ini"
//
// "@=" is a key's default value; in a quoted value "\\" is one backslash and "\"" one
// double quote. Key paths compare case-insensitively; the header line is optional. The
// roots may also be written HKLM and HKCR. "hex:" and "hex(N):" values (continued over
// lines ending in a backslash) are read as text; "dword:" values, named values, comments
// (';'), deletion lines ("[-...]") and lines that mean nothing are no default value.

#include <vector>

#include "platform/CString.h"

enum class HKey { ClassesRoot, LocalMachine };

// The files searched, first match wins: $XDG_CONFIG_HOME/pictorvale/registry.reg, then
// /etc/pictorvale/registry.reg.
std::vector<CString> RegistryFiles();

// The default value of `subKey` under `root` (RegOpenKeyEx + RegQueryValueEx). False when
// no file holds the key with a default value; `value` is then left as it was.
bool RegQueryDefaultValue(HKey root, const char* subKey, CString& value);

// The same lookup in the given files only (the tests name their own).
bool RegQueryDefaultValue(const std::vector<CString>& files, HKey root, const char* subKey,
                          CString& value);
