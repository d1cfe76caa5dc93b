#pragma once
// pvhost's commands, with their output and exit codes.

#include <ostream>
#include <string>
#include <vector>

#include "pvhost/CommandLine.h"

namespace pvhost {

inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

// "install": 0, or 1 after an error on `err`.
int RunInstall(const InstallOptions& options, const std::string& selfExecutable, std::ostream& out,
               std::ostream& err);

// "order": the tool's exit code; 1 when the order could not be exported or the tool not
// started (the export is then removed again); 0 after starting it with --no-wait.
int RunOrder(const OrderOptions& options, const std::string& selfExecutable, std::ostream& out,
             std::ostream& err);

// The whole program on the arguments after its name. Help and usage errors go to `err`.
int Main(const std::vector<std::string>& args, const std::string& selfExecutable, std::ostream& out,
         std::ostream& err);

}  // namespace pvhost
