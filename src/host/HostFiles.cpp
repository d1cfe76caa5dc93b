#include "host/HostFiles.h"

#include "order/PrintServiceDlg.h"
#include "platform/FileSystem.h"
#include "platform/ProfileFile.h"
#include "platform/Registry.h"

namespace {

constexpr const char* kRelaxIniName = "relax.ini";
constexpr const char* kLanguageSection = "PVGallery_#_Registration";
constexpr const char* kLanguageKey = "Language";
constexpr const char* kSettingsFolder = "/pictorvale/";
constexpr const char* kCustomerSection = "Dialog";
constexpr const char* kCustomerKey = "CustomerID";
constexpr const char* kServiceSection = "Service";
constexpr const char* kServiceKey = "Host";
// The address box takes 100 characters; the saved address is read back whole.
constexpr int kCustomerIdBufferSize = 101;

bool EndsWith(const CString& text, char ch) {
    return !text.IsEmpty() && text.GetAt(text.GetLength() - 1) == ch;
}

// The part of `path` before the last dot of its file name (dots in folder names never
// count); the whole path when the file name has no dot.
CString StemOfFileName(const CString& path) {
    int slash = path.ReverseFind('/');
    int dot = path.ReverseFind('.');
    return dot > slash ? path.Left(dot) : path;
}

// Appends the extension by the dot rule: a stem that already ends with a dot gets no
// second one. `room` is what the rule reserves (dot, extension and terminator).
int ApplyExtension(const CString& stem, const char* extension, int room, int size, CString& out) {
    out = stem;
    if (stem.GetLength() + room > size) return ERROR_PATH_TOO_LONG;
    if (!EndsWith(out, '.')) out += '.';
    out += extension;
    return 0;
}

}  // namespace

int LocateRelaxIni(CString& path, int size) {
    CString value;
    if (!RegQueryDefaultValue(HKey::LocalMachine, kHostRegistryKey, value)) return -1;
    if (value.GetLength() + 1 > size) return -1;  // the value does not fit the buffer
    int slash = value.ReverseFind('/');
    if (slash < 0) return -1;  // no folder part: nothing to look in
    CString folder = value.Left(slash);
    if (folder.GetLength() + 11 > size) return ERROR_PATH_TOO_LONG;
    if (!EndsWith(folder, '/')) folder += '/';
    folder += kRelaxIniName;
    path = folder;
    return FileExists(path) ? 0 : -1;
}

CString ReadLanguageLetter(const char* relaxIni) {
    return GetPrivateProfileString(kLanguageSection, kLanguageKey, "E", kPathBufferSize, relaxIni);
}

int MakeSettingsFilePathFor(const CString& executable, CString& path, int size) {
    CString configHome = GetConfigHome();
    if (configHome.IsEmpty() || executable.IsEmpty()) return ERROR_PATH_TOO_LONG;
    CString name = executable.Mid(executable.ReverseFind('/') + 1);
    CString stem = configHome + kSettingsFolder + StemOfFileName(name);
    return ApplyExtension(stem, "ini", 5, size, path);
}

int MakeSettingsFilePath(CString& path, int size) {
    return MakeSettingsFilePathFor(GetModuleFileName(), path, size);
}

int MakeBodyFilePath(CString& path, int size) {
    const CString control = path;
    int result = ApplyExtension(StemOfFileName(control), "txt", 6, size, path);
    if (result != 0) return result;
    // A control file that already ends in ".txt" must not be emptied by the body file.
    if (path == control) {
        if (control.GetLength() + 5 > size) return ERROR_PATH_TOO_LONG;
        path = control + ".txt";
    }
    return 0;
}

CString LoadServiceHost(const char* settingsFile) {
    CString host = GetPrivateProfileString(kServiceSection, kServiceKey, kDefaultServiceHost,
                                           kPathBufferSize, settingsFile);
    return host.IsEmpty() ? CString(kDefaultServiceHost) : host;
}

void CPrintServiceDlg::LoadCustomerId(const char* settingsFile) {
    m_strEmail = GetPrivateProfileString(kCustomerSection, kCustomerKey, "", kCustomerIdBufferSize,
                                         settingsFile);
}

bool CPrintServiceDlg::SaveCustomerId(const char* settingsFile) {
    return WritePrivateProfileString(kCustomerSection, kCustomerKey, m_strEmail, settingsFile);
}
