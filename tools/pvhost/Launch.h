#pragma once
// Starting the tool with the control-file path as its one argument, without a shell, and
// waiting for it.

#include <sys/types.h>

#include <string>

namespace pvhost {

inline constexpr const char* kToolName = "pvprint";

// pvprint in the folder of `selfExecutable` when it is an executable file there, else the
// bare name "pvprint", which is looked up on PATH when started.
std::string DefaultToolPath(const std::string& selfExecutable);

struct StartResult {
    pid_t pid = -1;  // the started process, -1 when it could not be started
    int error = 0;   // errno of the failed fork or exec
};

// Runs `tool` (a name without '/' is looked up on PATH) with `argument` as its only
// argument. A failed exec is reported here, not as an exit status of the child.
StartResult StartTool(const std::string& tool, const std::string& argument);

struct ToolEnd {
    bool exited = false;  // ended by exit(); otherwise by `signal`
    int status = 0;       // the exit status
    int signal = 0;
};

// Waits for `pid` to end.
ToolEnd WaitTool(pid_t pid);

// The exit code pvhost passes on: the tool's own, or 128 + the signal that ended it.
int ExitCodeOf(const ToolEnd& end);

// "pvprint ended with exit status 3" or "pvprint was ended by signal 15 (Terminated)".
std::string DescribeEnd(const std::string& tool, const ToolEnd& end);

}  // namespace pvhost
