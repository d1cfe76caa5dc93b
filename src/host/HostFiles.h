#pragma once
// The host's installation (registry entry and relax.ini), the tool's own settings file and
// the paths derived from the control file. Results: 0 success, 104 the path does not fit
// into `size` bytes (terminator included), -1 relax.ini not found.

#include "platform/CString.h"

inline constexpr int kPathBufferSize = 260;
inline constexpr int ERROR_PATH_TOO_LONG = 104;

inline constexpr const char* kHostRegistryKey = "SOFTWARE\\Tessaly\\Pictorvale Gallery\\1.0\\IniFilePath";
inline constexpr const char* kDefaultServiceHost = "glimmerprints.example";

// The full path of relax.ini: the folder of the registry value, then "relax.ini".
int LocateRelaxIni(CString& path, int size);

// The language letter of relax.ini ([PVGallery_#_Registration] Language, default "E").
CString ReadLanguageLetter(const char* relaxIni);

// $XDG_CONFIG_HOME/pictorvale/ and the executable's file name with the extension "ini".
int MakeSettingsFilePath(CString& path, int size);
// The same rule for a given executable path (MakeSettingsFilePath uses the running one).
int MakeSettingsFilePathFor(const CString& executable, CString& path, int size);

// `path` holds the control-file path on entry and the body-file path on return: the
// file name's extension replaced by "txt", never the control file itself.
int MakeBodyFilePath(CString& path, int size);

// The print service as "host" or "host:port" ([Service] Host, default glimmerprints.example).
CString LoadServiceHost(const char* settingsFile);
