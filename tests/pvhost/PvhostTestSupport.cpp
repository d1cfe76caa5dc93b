#include "PvhostTestSupport.h"

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <stdexcept>

#include "pvhost/Host.h"
#include "support/TempDir.h"

MainResult RunPvhost(const std::vector<std::string>& args, const std::string& selfExecutable) {
    std::ostringstream out;
    std::ostringstream err;
    MainResult result;
    result.code = pvhost::Main(args, selfExecutable, out, err);
    result.out = out.str();
    result.err = err.str();
    return result;
}

void WriteScript(const std::string& path, const std::string& body) {
    WriteFile(path, "#!/bin/sh\n" + body);
    if (::chmod(path.c_str(), 0755) != 0) throw std::runtime_error("chmod failed: " + path);
}

std::vector<std::string> ListFolder(const std::string& path) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(path, ec))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}
