#include "pvhost/Host.h"

#include <cstring>

#include "pvhost/Export.h"
#include "pvhost/Install.h"
#include "pvhost/Launch.h"

namespace pvhost {

int RunInstall(const InstallOptions& options, const std::string& selfExecutable, std::ostream& out,
               std::ostream& err) {
    InstallResult result;
    std::string error;
    if (!Install(options, selfExecutable, result, error)) {
        err << "pvhost: " << error << "\n";
        return kExitFailure;
    }
    out << "relax.ini: " << result.relaxIni << " (Language=" << options.language << ")\n";
    out << "registry:  " << result.registryFile << " (IniFilePath = " << result.relaxIni << ")\n";
    if (!result.browserCommand.empty())
        out << "browser:   " << result.browserCommand << "\n";
    else if (result.browserKept)
        out << "browser:   registration kept\n";
    if (!result.settingsFile.empty())
        out << "settings:  " << result.settingsFile << " ([Service] Host=" << *options.service << ")\n";
    return 0;
}

int RunOrder(const OrderOptions& options, const std::string& selfExecutable, std::ostream& out,
             std::ostream& err) {
    ExportRequest request;
    request.pictures = options.pictures;
    request.format = options.format;
    request.quantity = options.quantity;
    request.exportDir = options.exportDir;
    ExportedOrder order;
    std::string error;
    if (!ExportOrder(request, order, error)) {
        err << "pvhost: " << error << "\n";
        err << "pvhost: nothing exported, the tool was not started\n";
        return kExitFailure;
    }
    out << "exported " << order.tempFiles.size() << (order.tempFiles.size() == 1 ? " picture" : " pictures")
        << " to " << order.imagesFolder << "\n";
    out << "control file: " << order.controlFile << "\n";

    std::string tool = options.tool.empty() ? DefaultToolPath(selfExecutable) : options.tool;
    out << "starting " << tool << " " << order.controlFile << "\n";
    out.flush();
    err.flush();
    StartResult started = StartTool(tool, order.controlFile);
    if (started.pid < 0) {
        err << "pvhost: cannot start " << tool << ": " << std::strerror(started.error) << "\n";
        RemoveExport(order);
        err << "pvhost: export removed again\n";
        return kExitFailure;
    }
    if (!options.wait) {
        out << tool << " started (process " << started.pid << "); not waiting. The order is in "
            << order.folder << "\n";
        return 0;
    }

    ToolEnd end = WaitTool(started.pid);
    out << DescribeEnd(tool, end) << "\n";
    ExportState state = InspectExport(order);
    out << DescribeState(order, state) << "\n";
    if (!state.controlFile && state.pictures == 0 && RemoveEmptyExport(order))
        out << "export folder removed: " << order.folder << "\n";
    return ExitCodeOf(end);
}

int Main(const std::vector<std::string>& args, const std::string& selfExecutable, std::ostream& out,
         std::ostream& err) {
    CommandLine line;
    std::string error;
    if (!ParseCommandLine(args, line, error)) {
        err << "pvhost: " << error << "\n" << UsageText();
        return kExitUsage;
    }
    switch (line.command) {
    case Command::Install:
        return RunInstall(line.install, selfExecutable, out, err);
    case Command::Order:
        return RunOrder(line.order, selfExecutable, out, err);
    case Command::Help:
        break;
    }
    err << UsageText();
    return 0;
}

}  // namespace pvhost
