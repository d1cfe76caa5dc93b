#include "support/HostInstall.h"

#include "support/TempDir.h"

void WriteRegistryValue(const std::string& configHome, const std::string& key, const std::string& value) {
    std::string escaped;
    for (char c : value) {
        if (c == '\\' || c == '"') escaped += '\\';
        escaped += c;
    }
    MakeDirs(configHome + "/pictorvale");
    WriteFile(configHome + "/pictorvale/registry.reg",
              "Windows Registry Editor Version 5.00\r\n\r\n[" + key + "]\r\n@=\"" + escaped + "\"\r\n");
}

void InstallHost(const std::string& configHome, const std::string& letter) {
    WriteFile(configHome + "/relax.ini", "[PVGallery_#_Registration]\nLanguage=" + letter + "\n");
    WriteRegistryValue(configHome, "HKEY_LOCAL_MACHINE\\SOFTWARE\\Tessaly\\Pictorvale Gallery\\1.0\\IniFilePath",
                       configHome + "/relax.ini");
}
