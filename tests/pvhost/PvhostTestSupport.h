#pragma once
// Helpers of the pvhost tests: running the program's Main in-process, stub tools.

#include <string>
#include <vector>

struct MainResult {
    int code = -1;
    std::string out;
    std::string err;
};

// pvhost::Main on `args`, as if pvhost lived at `selfExecutable`.
MainResult RunPvhost(const std::vector<std::string>& args,
                     const std::string& selfExecutable = "/nonexistent/bin/pvhost");

// Writes an executable shell script.
void WriteScript(const std::string& path, const std::string& body);

// The names in a folder, sorted; empty when it is missing.
std::vector<std::string> ListFolder(const std::string& path);
