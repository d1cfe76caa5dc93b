#pragma once
// Writes a host installation for tests into a private config folder (XDG_CONFIG_HOME).

#include <string>

// Writes `configHome`/pictorvale/registry.reg with one key and its default value (escaped
// as the .reg format wants).
void WriteRegistryValue(const std::string& configHome, const std::string& key, const std::string& value);

// relax.ini with the language letter in `configHome`, and the registry key that names it.
void InstallHost(const std::string& configHome, const std::string& letter);
