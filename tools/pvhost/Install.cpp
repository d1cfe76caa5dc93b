#include "pvhost/Install.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "host/HostFiles.h"
#include "platform/CString.h"
#include "platform/FileSystem.h"
#include "platform/ProfileFile.h"
#include "pvhost/Launch.h"

namespace pvhost {

namespace {

constexpr const char* kLanguageSection = "PVGallery_#_Registration";
constexpr const char* kLanguageKey = "Language";
constexpr const char* kServiceSection = "Service";
constexpr const char* kServiceKey = "Host";
constexpr const char* kRelaxIniName = "relax.ini";
// The tool reads the registry value into 260 bytes, terminator included.
constexpr size_t kMaxRegistryValue = 259;

std::vector<std::string_view> SplitLines(std::string_view text) {
    std::vector<std::string_view> lines;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t lf = text.find('\n', pos);
        size_t end = lf == std::string_view::npos ? text.size() : lf;
        std::string_view line = text.substr(pos, end - pos);
        if (line.ends_with('\r')) line.remove_suffix(1);
        lines.push_back(line);
        pos = end + 1;
    }
    return lines;
}

bool IsBrowserKeyLine(std::string_view line) {
    size_t close = line.rfind(']');
    if (close == std::string_view::npos || close < 1) return false;
    std::string_view name = line.substr(1, close - 1);
    for (std::string_view root : {"HKEY_CLASSES_ROOT\\", "HKCR\\"}) {
        if (name.size() > root.size() && CompareNoCaseAscii(name.substr(0, root.size()), root) == 0)
            return CompareNoCaseAscii(name.substr(root.size()), kBrowserCommandKey) == 0;
    }
    return false;
}

bool HasLineBreak(std::string_view text) { return text.find_first_of("\r\n") != std::string_view::npos; }

std::string ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return {};
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// relax.ini's folder as an absolute path without a trailing '/'.
std::string DataFolder(const std::string& given, const std::string& configHome) {
    if (given.empty()) return configHome + "/pictorvale/host";
    std::string folder = std::filesystem::absolute(given).lexically_normal().string();
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    return folder;
}

}  // namespace

std::string EscapeRegString(std::string_view text) {
    std::string out;
    for (char c : text) {
        if (c == '\\' || c == '"') out += '\\';
        out += c;
    }
    return out;
}

std::vector<std::string> FindBrowserSections(std::string_view registryText) {
    if (registryText.starts_with("\xEF\xBB\xBF")) registryText.remove_prefix(3);
    std::vector<std::string> sections;
    std::vector<std::string_view> current;
    bool inSection = false;
    auto finish = [&]() {
        while (!current.empty() && TrimBlanks(current.back()).empty()) current.pop_back();
        std::string section;
        for (std::string_view line : current) {
            section += line;
            section += '\n';
        }
        if (!section.empty()) sections.push_back(section);
        current.clear();
    };
    for (std::string_view raw : SplitLines(registryText)) {
        std::string_view line = TrimBlanks(raw);
        if (line.starts_with('[')) {
            if (inSection) finish();
            inSection = IsBrowserKeyLine(line);
        }
        if (inSection) current.push_back(raw);
    }
    if (inSection) finish();
    return sections;
}

std::string ComposeRegistry(const std::string& relaxIni, const std::vector<std::string>& browserSections) {
    std::string text = std::string(kRegistryHeader) + "\n\n";
    text += "[HKEY_LOCAL_MACHINE\\";
    text += kHostRegistryKey;
    text += "]\n@=\"" + EscapeRegString(relaxIni) + "\"\n";
    for (const std::string& section : browserSections) text += "\n" + section;
    return text;
}

std::string BrowserSection(const std::string& program) {
    return std::string("[HKEY_CLASSES_ROOT\\") + kBrowserCommandKey + "]\n@=\"" +
           EscapeRegString("\"" + program + "\" %1") + "\"\n";
}

bool WriteFileAtomically(const std::string& path, std::string_view content, std::string& error) {
    std::string folder = std::filesystem::path(path).parent_path().string();
    if (!folder.empty() && !CreateDirectories(folder.c_str())) {
        error = "cannot create the folder " + folder;
        return false;
    }
    std::string temp = path + ".XXXXXX";
    int fd = ::mkstemp(temp.data());
    if (fd < 0) {
        error = "cannot write " + path + ": " + std::strerror(errno);
        return false;
    }
    bool ok = true;
    const char* p = content.data();
    size_t left = content.size();
    while (ok && left > 0) {
        ssize_t n = ::write(fd, p, left);
        if (n < 0 && errno == EINTR) continue;
        ok = n > 0;
        if (ok) {
            p += n;
            left -= static_cast<size_t>(n);
        }
    }
    int saved = errno;
    ok = ok && ::fchmod(fd, 0644) == 0 && ::fsync(fd) == 0;
    if (!ok) saved = errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        saved = errno;
    }
    if (ok && ::rename(temp.c_str(), path.c_str()) != 0) {
        ok = false;
        saved = errno;
    }
    if (!ok) {
        ::unlink(temp.c_str());
        error = "cannot write " + path + ": " + std::strerror(saved);
    }
    return ok;
}

std::string ResolveProgram(const std::string& program) {
    if (program.find('/') != std::string::npos) {
        std::string path = std::filesystem::absolute(program).lexically_normal().string();
        return FileExists(path.c_str()) ? path : std::string();
    }
    const char* pathVariable = std::getenv("PATH");
    std::string_view dirs = pathVariable ? pathVariable : "";
    while (!dirs.empty()) {
        size_t colon = dirs.find(':');
        std::string dir(dirs.substr(0, colon));
        dirs = colon == std::string_view::npos ? std::string_view() : dirs.substr(colon + 1);
        if (dir.empty() || dir[0] != '/') continue;  // only absolute folders give a lasting path
        std::string candidate = dir + "/" + program;
        struct stat st {};
        if (::stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(candidate.c_str(), X_OK) == 0)
            return candidate;
    }
    return {};
}

bool Install(const InstallOptions& options, const std::string& selfExecutable, InstallResult& result,
             std::string& error) {
    result = InstallResult();
    std::string configHome = GetConfigHome().str();
    if (configHome.empty()) {
        error = "cannot tell the configuration folder: neither XDG_CONFIG_HOME nor HOME is set";
        return false;
    }

    // Check every value before anything is written.
    std::string folder = DataFolder(options.dataDir, configHome);
    std::string relaxIni = (folder == "/" ? "" : folder) + "/" + kRelaxIniName;
    if (HasLineBreak(relaxIni)) {
        error = "the folder of relax.ini cannot hold a line break: the registry file keeps one value a line";
        return false;
    }
    if (relaxIni.size() > kMaxRegistryValue) {
        error = "the path of relax.ini has " + std::to_string(relaxIni.size()) +
                " bytes; the tool reads at most " + std::to_string(kMaxRegistryValue);
        return false;
    }

    std::string browser;
    if (options.browser) {
        browser = ResolveProgram(*options.browser);
        if (browser.empty()) {
            error = "browser not found: " + *options.browser;
            return false;
        }
        if (browser.find('"') != std::string::npos || HasLineBreak(browser)) {
            error = "the browser's path cannot hold a double quote or a line break: " + browser;
            return false;
        }
    }

    std::string settingsFile;
    if (options.service) {
        std::string tool = options.tool.empty() ? DefaultToolPath(selfExecutable) : options.tool;
        CString path;
        if (MakeSettingsFilePathFor(CString(tool), path, kPathBufferSize) != 0) {
            error = "the tool's settings file path does not fit into " + std::to_string(kPathBufferSize - 1) +
                    " bytes";
            return false;
        }
        settingsFile = path.str();
    }

    // relax.ini first: the registry must never point at a folder without it.
    const std::string language(1, options.language);
    if (!CreateDirectories(folder.c_str()) ||
        !WritePrivateProfileString(kLanguageSection, kLanguageKey, language.c_str(), relaxIni.c_str())) {
        error = "cannot write " + relaxIni;
        return false;
    }

    std::string registryFile = configHome + "/pictorvale/registry.reg";
    std::vector<std::string> browserSections;
    if (options.browser) {
        browserSections.push_back(BrowserSection(browser));
        result.browserCommand = "\"" + browser + "\" %1";
    } else {
        browserSections = FindBrowserSections(ReadWholeFile(registryFile));
        result.browserKept = !browserSections.empty();
    }
    if (!WriteFileAtomically(registryFile, ComposeRegistry(relaxIni, browserSections), error)) return false;

    if (!settingsFile.empty() &&
        !WritePrivateProfileString(kServiceSection, kServiceKey, options.service->c_str(), settingsFile.c_str())) {
        error = "cannot write " + settingsFile;
        return false;
    }

    result.registryFile = registryFile;
    result.relaxIni = relaxIni;
    result.settingsFile = settingsFile;
    return true;
}

}  // namespace pvhost
