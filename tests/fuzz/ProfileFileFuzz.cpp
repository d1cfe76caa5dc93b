// The INI reader and writer on arbitrary files. Input: the file's bytes, then optionally NUL,
// section, NUL, key, NUL, value for a write. A read never returns more than the buffer holds;
// a write that succeeds reads back as given and leaves every other key as it was; a write
// that fails, or is refused for a line break, leaves the file untouched.

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "platform/ProfileFile.h"

namespace {

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string Contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

bool HasLineBreak(const std::string& text) {
    return text.find('\n') != std::string::npos || text.find('\r') != std::string::npos;
}

bool Blank(char c) { return c == ' ' || c == '\t'; }

bool BlankAtEnds(const std::string& text) {
    return !text.empty() && (Blank(text.front()) || Blank(text.back()));
}

struct Probe {
    const char* section;
    const char* key;
};
constexpr Probe kProbes[] = {{"Dialog", "CustomerID"}, {"Service", "Host"},
                             {"PVGallery_#_Registration", "Language"}};
constexpr int kLarge = 1 << 16;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> pieces;
    std::size_t start = 0;
    for (int i = 0; i < 3; ++i) {
        const std::size_t nul = input.find('\0', start);
        if (nul == std::string::npos) break;
        pieces.push_back(input.substr(start, nul - start));
        start = nul + 1;
    }
    pieces.push_back(input.substr(start));
    const std::string path = fuzz::ScratchDir() + "/settings.ini";
    const std::string& file = pieces.front();
    fuzz::WriteInput(path, reinterpret_cast<const std::uint8_t*>(file.data()), file.size());

    std::vector<CString> before;
    for (const Probe& probe : kProbes) {
        for (int bufferSize : {1, 2, 8, 260}) {
            CString value = GetPrivateProfileString(probe.section, probe.key, "d", bufferSize,
                                                    path.c_str());
            if (value.GetLength() > bufferSize - 1) fuzz::Fail("a read longer than its buffer");
        }
        before.push_back(GetPrivateProfileString(probe.section, probe.key, "\x01missing", kLarge,
                                                 path.c_str()));
    }
    if (pieces.size() != 4) return 0;

    const std::string& section = pieces[1];
    const std::string& key = pieces[2];
    const std::string value = pieces[3].c_str();  // the write takes it up to its first NUL
    const bool written =
        WritePrivateProfileString(section.c_str(), key.c_str(), value.c_str(), path.c_str());
    if (!written) {
        if (Contents(path) != file) fuzz::Fail("a refused write changed the file");
        return 0;
    }
    if (HasLineBreak(section) || HasLineBreak(key) || HasLineBreak(value))
        fuzz::Fail("a line break was written");
    if (BlankAtEnds(section) || BlankAtEnds(key)) return 0;  // names are compared trimmed

    const CString back =
        GetPrivateProfileString(section.c_str(), key.c_str(), "\x01missing", kLarge, path.c_str());
    if (back != CString(value)) fuzz::Fail("a written value does not read back as given");
    for (std::size_t i = 0; i < std::size(kProbes); ++i) {
        if (Lower(kProbes[i].section) == Lower(section) && Lower(kProbes[i].key) == Lower(key))
            continue;
        const CString now = GetPrivateProfileString(kProbes[i].section, kProbes[i].key,
                                                    "\x01missing", kLarge, path.c_str());
        if (now != before[i]) fuzz::Fail("a write changed another key");
    }
    return 0;
}
