#include "platform/Registry.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <optional>
#include <string>
#include <string_view>

#include "platform/FileSystem.h"

namespace {

bool SameText(std::string_view a, std::string_view b) { return CompareNoCaseAscii(a, b) == 0; }

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && SameText(text.substr(0, prefix.size()), prefix);
}

void AppendUtf8(std::string& out, char32_t cp) {
    auto byte = [&out](char32_t b) { out += static_cast<char>(static_cast<unsigned char>(b)); };
    if (cp < 0x80) {
        byte(cp);
    } else if (cp < 0x800) {
        byte(0xC0 | (cp >> 6));
        byte(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        byte(0xE0 | (cp >> 12));
        byte(0x80 | ((cp >> 6) & 0x3F));
        byte(0x80 | (cp & 0x3F));
    } else {
        byte(0xF0 | (cp >> 18));
        byte(0x80 | ((cp >> 12) & 0x3F));
        byte(0x80 | ((cp >> 6) & 0x3F));
        byte(0x80 | (cp & 0x3F));
    }
}

// UTF-16LE bytes as UTF-8; an unpaired surrogate becomes U+FFFD, an odd last byte is
// dropped. With `stopAtNul` the text ends at the first NUL code unit, as a string value does.
std::string Utf16LeToUtf8(std::string_view bytes, bool stopAtNul) {
    std::string out;
    auto unit = [&bytes](size_t i) {
        return static_cast<char32_t>(static_cast<unsigned char>(bytes[i]) |
                                     (static_cast<unsigned char>(bytes[i + 1]) << 8));
    };
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        char32_t u = unit(i);
        if (u == 0 && stopAtNul) break;
        if (u >= 0xD800 && u < 0xDC00 && i + 3 < bytes.size()) {
            char32_t low = unit(i + 2);
            if (low >= 0xDC00 && low < 0xE000) {
                AppendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00));
                i += 2;
                continue;
            }
        }
        AppendUtf8(out, (u >= 0xD800 && u < 0xE000) ? char32_t{0xFFFD} : u);
    }
    return out;
}

// The file's text as UTF-8: a UTF-8 byte-order mark is dropped, a UTF-16LE file (what the
// desktop registry editor exports) is converted.
std::string DecodeFileText(std::string bytes) {
    if (bytes.starts_with("\xEF\xBB\xBF")) return bytes.substr(3);
    if (bytes.starts_with("\xFF\xFE")) return Utf16LeToUtf8(std::string_view(bytes).substr(2), false);
    return bytes;
}

std::vector<std::string_view> SplitLines(std::string_view text) {
    std::vector<std::string_view> lines;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t lf = text.find('\n', pos);
        size_t end = lf == std::string_view::npos ? text.size() : lf;
        std::string_view line = text.substr(pos, end - pos);
        if (line.ends_with('\r')) line.remove_suffix(1);
        // Only the text before a NUL byte counts, as for any C string.
        lines.push_back(line.substr(0, line.find('\0')));
        pos = end + 1;
    }
    return lines;
}

// A key line "[ROOT\path]" names the wanted key. Both the long and the short root names
// are accepted; a deletion line "[-ROOT\path]" never names a key.
bool NamesKey(std::string_view line, HKey root, std::string_view subKey) {
    size_t close = line.rfind(']');
    if (line.size() < 2 || line[1] == '-' || close == std::string_view::npos) return false;
    std::string_view path = line.substr(1, close - 1);
    size_t backslash = path.find('\\');
    std::string_view rootName = path.substr(0, backslash);
    std::string_view rest = backslash == std::string_view::npos ? std::string_view() : path.substr(backslash + 1);
    bool rootMatches = root == HKey::LocalMachine
                           ? SameText(rootName, "HKEY_LOCAL_MACHINE") || SameText(rootName, "HKLM")
                           : SameText(rootName, "HKEY_CLASSES_ROOT") || SameText(rootName, "HKCR");
    return rootMatches && SameText(rest, subKey);
}

// "..." with \\ for a backslash and \" for a quote. Any other backslash stays as written,
// so that a hand-written path such as "C:\Data" keeps its backslash. Text after the closing
// quote is ignored; without a closing quote there is no value.
std::optional<std::string> ParseQuoted(std::string_view data) {
    std::string out;
    for (size_t i = 1; i < data.size(); ++i) {
        char c = data[i];
        if (c == '"') return out;
        if (c == '\\' && i + 1 < data.size() && (data[i + 1] == '\\' || data[i + 1] == '"')) {
            out += data[++i];
            continue;
        }
        out += c;
    }
    return std::nullopt;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// A comma-separated list of one- or two-digit hex bytes; any other item spoils the list.
std::optional<std::string> ParseHexBytes(std::string_view list) {
    std::string bytes;
    while (!list.empty()) {
        size_t comma = list.find(',');
        std::string_view item = TrimBlanks(list.substr(0, comma));
        list = comma == std::string_view::npos ? std::string_view() : list.substr(comma + 1);
        if (item.empty()) continue;
        if (item.size() > 2) return std::nullopt;
        int value = 0;
        for (char c : item) {
            int digit = HexDigit(c);
            if (digit < 0) return std::nullopt;
            value = value * 16 + digit;
        }
        bytes += static_cast<char>(static_cast<unsigned char>(value));
    }
    return bytes;
}

// The data after "@=". A quoted text is a string value. "hex:" and "hex(N):" lists are read
// as the bytes of the value, ending at the first NUL as a string read from them does; in a
// file of the version 5 format the string types (1 text, 2 expandable text, 7 text list)
// hold UTF-16LE and are converted. A "dword:" value is a number, not a text the callers
// could use, so it counts as no value; so do "-" (a deleted value) and anything unreadable.
std::optional<std::string> ParseValueData(std::string_view data, bool utf16Strings) {
    if (data.starts_with('"')) return ParseQuoted(data);
    if (!StartsWithNoCase(data, "hex")) return std::nullopt;
    data.remove_prefix(3);
    std::string_view type;
    if (data.starts_with('(')) {
        size_t close = data.find(')');
        if (close == std::string_view::npos) return std::nullopt;
        type = TrimBlanks(data.substr(1, close - 1));
        data.remove_prefix(close + 1);
    }
    if (!data.starts_with(':')) return std::nullopt;
    std::optional<std::string> bytes = ParseHexBytes(data.substr(1));
    if (!bytes) return std::nullopt;
    bool stringType = type == "1" || type == "2" || type == "7";
    if (stringType && utf16Strings) return Utf16LeToUtf8(*bytes, true);
    return bytes->substr(0, bytes->find('\0'));
}

// The default value of the key in one file's text. The file reads like an import: when
// the key has several default-value lines, the last one decides, and when that one cannot
// be read, the file holds no default value for the key.
std::optional<std::string> FindDefaultValue(std::string_view text, HKey root, std::string_view subKey) {
    std::vector<std::string_view> lines = SplitLines(text);
    bool utf16Strings = false;
    for (std::string_view line : lines) {
        std::string_view header = TrimBlanks(line);
        if (header.empty()) continue;
        utf16Strings = header == "Windows Registry Editor Version 5.00";
        break;
    }

    std::optional<std::string> found;
    bool inKey = false;
    for (size_t i = 0; i < lines.size(); ++i) {
        std::string_view line = TrimBlanks(lines[i]);
        if (line.empty() || line.front() == ';') continue;
        if (line.front() == '[') {
            inKey = NamesKey(line, root, subKey);
            continue;
        }
        // Named values ("name"=...), their continuation lines and junk are skipped.
        if (!inKey || line.front() != '@') continue;
        std::string_view rest = TrimBlanks(line.substr(1));
        if (!rest.starts_with('=')) continue;
        std::string data(TrimBlanks(rest.substr(1)));
        // A hex list goes on over the following lines while a line ends with a backslash.
        if (StartsWithNoCase(data, "hex")) {
            while (data.ends_with('\\')) {
                data.pop_back();
                if (i + 1 == lines.size()) break;
                data += TrimBlanks(lines[++i]);
            }
        }
        found = ParseValueData(data, utf16Strings);
    }
    return found;
}

// The whole file; false when it is missing or cannot be read (a folder, no permission).
bool ReadFileText(const char* path, std::string& text) {
    int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st {};
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    std::string bytes;
    char buffer[16384];
    while (ok) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ok = n == 0;
            break;
        }
        bytes.append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    if (ok) text = DecodeFileText(std::move(bytes));
    return ok;
}

}  // namespace

std::vector<CString> RegistryFiles() {
    std::vector<CString> files;
    CString configHome = GetConfigHome();
    if (!configHome.IsEmpty()) files.push_back(configHome + "/pictorvale/registry.reg");
    files.emplace_back("/etc/pictorvale/registry.reg");
    return files;
}

bool RegQueryDefaultValue(HKey root, const char* subKey, CString& value) {
    return RegQueryDefaultValue(RegistryFiles(), root, subKey, value);
}

bool RegQueryDefaultValue(const std::vector<CString>& files, HKey root, const char* subKey,
                          CString& value) {
    if (!subKey) return false;
    for (const CString& file : files) {
        std::string text;
        if (!ReadFileText(file, text)) continue;  // a missing file holds no keys
        if (std::optional<std::string> found = FindDefaultValue(text, root, subKey)) {
            value = CString(std::move(*found));
            return true;
        }
    }
    return false;
}
