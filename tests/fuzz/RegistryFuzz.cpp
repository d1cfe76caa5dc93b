// The .reg reader on arbitrary file contents: the keys the tool asks for, in both roots, and
// the key named by the input's first header line. A value found is never longer than the
// file; a key not found leaves the value as it was.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "platform/Registry.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string path = fuzz::ScratchDir() + "/registry.reg";
    fuzz::WriteInput(path, data, size);
    const std::vector<CString> files{CString(path.c_str())};

    const std::string text(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> keys{"SOFTWARE\\Tessaly\\Pictorvale Gallery\\1.0\\IniFilePath",
                                  "http\\shell\\open\\command", ""};
    const std::size_t open = text.find('[');
    if (open != std::string::npos) {
        const std::size_t close = text.find(']', open);
        std::string header = text.substr(open + 1, close == std::string::npos ? 200 : close - open - 1);
        const std::size_t slash = header.find('\\');
        keys.push_back(slash == std::string::npos ? header : header.substr(slash + 1));
    }
    for (HKey root : {HKey::LocalMachine, HKey::ClassesRoot}) {
        for (const std::string& key : keys) {
            CString value("unchanged");
            const bool found = RegQueryDefaultValue(files, root, key.c_str(), value);
            if (!found && value != CString("unchanged")) fuzz::Fail("a miss changed the value");
            if (found && static_cast<std::size_t>(value.GetLength()) > size)
                fuzz::Fail("a value longer than the file");
        }
    }
    return 0;
}
