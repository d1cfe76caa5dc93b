#include "platform/FileSystem.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

bool FileExists(const char* path) { return path && *path && ::access(path, F_OK) == 0; }

CString GetModuleFileName() {
    std::vector<char> buffer(4096);
    for (;;) {
        ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (n < 0) return CString();
        if (static_cast<size_t>(n) < buffer.size()) return CString(std::string(buffer.data(), static_cast<size_t>(n)));
        buffer.resize(buffer.size() * 2);
    }
}

CString GetConfigHome() {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg && xdg[0] == '/') return CString(xdg);
    const char* home = std::getenv("HOME");
    if (!home || !*home) {
        const passwd* pw = ::getpwuid(::getuid());
        home = pw ? pw->pw_dir : nullptr;
    }
    if (!home || !*home) return CString();
    return CString(std::string(home) + "/.config");
}

namespace {
UnlinkFunction g_unlink = nullptr;
}

void SetUnlinkFunction(UnlinkFunction unlinkFunction) { g_unlink = unlinkFunction; }

bool RemoveFile(const char* path, CString& reason) {
    if ((g_unlink ? g_unlink(path) : ::unlink(path)) == 0) return true;
    reason = std::strerror(errno);
    return false;
}

bool RemoveEmptyDirectory(const char* path) { return ::rmdir(path) == 0; }

bool CreateDirectories(const char* path) {
    std::string p(path ? path : "");
    if (p.empty()) return false;
    for (size_t i = 1; i <= p.size(); ++i) {
        if (i != p.size() && p[i] != '/') continue;
        std::string part = p.substr(0, i);
        struct stat st {};
        if (::stat(part.c_str(), &st) == 0) {
            if (!S_ISDIR(st.st_mode)) return false;
            continue;
        }
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
    }
    return true;
}

unsigned int LastErrorFromErrno(int error) {
    switch (error) {
        case ENOENT: return 2;
        case ENOTDIR: return 3;
        case ENAMETOOLONG: return 3;
        case EACCES:
        case EPERM:
        case EISDIR: return 5;
        default: return static_cast<unsigned int>(error);
    }
}
