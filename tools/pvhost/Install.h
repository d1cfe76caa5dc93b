#pragma once
// Installing a host: the registry file pointing at relax.ini, relax.ini with the language
// letter, and optionally the print service in the tool's settings file.

#include <string>
#include <string_view>
#include <vector>

#include "pvhost/CommandLine.h"

namespace pvhost {

inline constexpr const char* kRegistryHeader = "Windows Registry Editor Version 5.00";
inline constexpr const char* kBrowserCommandKey = "http\\shell\\open\\command";

// A quoted .reg value's content: every '\' and '"' gets a backslash in front.
std::string EscapeRegString(std::string_view text);

// The sections of the http open command (HKEY_CLASSES_ROOT or HKCR), each with its key
// line and the lines up to the next key line, trailing blank lines dropped, in file order.
std::vector<std::string> FindBrowserSections(std::string_view registryText);

// The registry file: header, the host key with relax.ini's path, then `browserSections`.
std::string ComposeRegistry(const std::string& relaxIni, const std::vector<std::string>& browserSections);

// The section registering `program` as the browser: @="\"program\" %1".
std::string BrowserSection(const std::string& program);

// Writes `path` through a temporary file in the same folder and a rename, so readers see
// the old or the new content, never a part. Creates the folder when needed.
bool WriteFileAtomically(const std::string& path, std::string_view content, std::string& error);

// The absolute program path for --browser: a name without '/' is looked up on PATH.
// Empty when it cannot be found.
std::string ResolveProgram(const std::string& program);

struct InstallResult {
    std::string registryFile;
    std::string relaxIni;
    std::string settingsFile;  // empty when no service was given
    std::string browserCommand;  // the registered command, empty when there is none
    bool browserKept = false;    // an existing browser registration was carried over
};

// Writes the files for $XDG_CONFIG_HOME (or ~/.config). `selfExecutable` is pvhost's own
// path; the default tool is looked for next to it. False with `error` set when a value
// cannot be stored or a file cannot be written; relax.ini is written first, so the registry
// never points at a folder without it.
bool Install(const InstallOptions& options, const std::string& selfExecutable, InstallResult& result,
             std::string& error);

}  // namespace pvhost
