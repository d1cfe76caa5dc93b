#include "platform/ProfileFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/FileSystem.h"

namespace {

bool SameName(std::string_view a, std::string_view b) { return CompareNoCaseAscii(a, b) == 0; }

// A value wrapped in a matching pair of double or single quotes loses them.
std::string_view Unquote(std::string_view value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front())
        return value.substr(1, value.size() - 2);
    return value;
}

// One line of the file: its bytes as stored and what they mean.
struct Line {
    enum Kind { Blank, Comment, Section, Key, Junk };

    std::string raw;     // the line without its ending, byte for byte
    std::string ending;  // "\n", "\r\n", or "" for a last line without one
    Kind kind = Junk;
    std::string name;        // section or key name, blanks dropped
    std::string value;       // key value, blanks dropped, quotes still on
    size_t valueOffset = 0;  // where the value starts in `raw`
};

// What a line means. Only the text before a NUL byte counts, as a C string reader sees it.
void Classify(Line& line) {
    std::string_view text(line.raw);
    text = text.substr(0, text.find('\0'));
    std::string_view trimmed = TrimBlanks(text);
    if (trimmed.empty()) {
        line.kind = Line::Blank;
        return;
    }
    if (trimmed.front() == ';') {
        line.kind = Line::Comment;
        return;
    }
    if (trimmed.front() == '[') {
        size_t close = trimmed.find(']');
        if (close == std::string_view::npos) {
            line.kind = Line::Junk;
            return;
        }
        line.kind = Line::Section;
        line.name = TrimBlanks(trimmed.substr(1, close - 1));
        return;
    }
    size_t equals = text.find('=');
    if (equals == std::string_view::npos) {
        line.kind = Line::Junk;
        return;
    }
    line.kind = Line::Key;
    line.name = TrimBlanks(text.substr(0, equals));
    std::string_view rest = text.substr(equals + 1);
    size_t start = rest.find_first_not_of(" \t");
    if (start == std::string_view::npos) start = rest.size();
    line.valueOffset = equals + 1 + start;
    line.value = TrimBlanks(rest);
}

Line MakeLine(std::string raw, std::string ending) {
    Line line;
    line.raw = std::move(raw);
    line.ending = std::move(ending);
    Classify(line);
    return line;
}

std::vector<Line> ParseLines(std::string_view content) {
    std::vector<Line> lines;
    size_t pos = 0;
    while (pos < content.size()) {
        size_t lf = content.find('\n', pos);
        Line line;
        if (lf == std::string_view::npos) {
            line.raw = content.substr(pos);
            pos = content.size();
        } else {
            bool crlf = lf > pos && content[lf - 1] == '\r';
            line.raw = content.substr(pos, lf - pos - (crlf ? 1 : 0));
            line.ending = crlf ? "\r\n" : "\n";
            pos = lf + 1;
        }
        Classify(line);
        lines.push_back(std::move(line));
    }
    return lines;
}

// Where a section and a key stand in the parsed file. Sections of the same name count as
// one, searched in file order; keys before the first section belong to no section.
struct Location {
    std::optional<size_t> section;  // the first header of the section
    std::optional<size_t> key;      // the first line of the key inside it
    size_t sectionEnd = 0;          // the last line of the first section that is neither
                                    // blank nor a comment (the header at least)
};

Location Locate(const std::vector<Line>& lines, std::string_view section, std::string_view key) {
    Location where;
    bool inSection = false;
    bool inFirst = false;
    for (size_t i = 0; i < lines.size(); ++i) {
        const Line& line = lines[i];
        if (line.kind == Line::Section) {
            inSection = SameName(line.name, section);
            inFirst = inSection && !where.section;
            if (inFirst) {
                where.section = i;
                where.sectionEnd = i;
            }
            continue;
        }
        if (inFirst && line.kind != Line::Blank && line.kind != Line::Comment) where.sectionEnd = i;
        if (inSection && !where.key && line.kind == Line::Key && SameName(line.name, key))
            where.key = i;
    }
    return where;
}

enum class ReadResult { Ok, Missing, Failed };

ReadResult ReadWholeFile(const char* path, std::string& content) {
    content.clear();
    int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return (errno == ENOENT || errno == ENOTDIR) ? ReadResult::Missing : ReadResult::Failed;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        ::close(fd);
        return ReadResult::Failed;
    }
    char buffer[16384];
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            ::close(fd);
            return ReadResult::Failed;
        }
        if (n == 0) break;
        content.append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    return ReadResult::Ok;
}

bool WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

// The folder part of a path, without its last '/'; "" for a bare file name, "/" for a
// file in the root folder.
std::string FolderOf(const std::string& path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return {};
    return slash == 0 ? std::string("/") : path.substr(0, slash);
}

// A settings file reached through a symbolic link is written where the link points, so
// that replacing it keeps the link.
std::string ResolveLink(const char* file) {
    struct stat st {};
    if (::lstat(file, &st) == 0 && S_ISLNK(st.st_mode)) {
        if (char* target = ::realpath(file, nullptr)) {
            std::string resolved(target);
            std::free(target);
            return resolved;
        }
    }
    return file;
}

// Replaces `path` by a file holding `bytes`: a temporary file in the same folder is
// written, flushed to the disk and renamed over the old one, so the old file stays whole
// until the new one is complete. The temporary file never outlives a failure.
bool ReplaceFile(const std::string& path, std::string_view bytes, std::optional<mode_t> mode) {
    static std::atomic<unsigned> counter{0};
    std::string folder = FolderOf(path);
    size_t slash = path.rfind('/');
    size_t baseStart = slash == std::string::npos ? 0 : slash + 1;
    // A hidden name beside the file: same folder, so the rename cannot cross file systems.
    std::string prefix = path.substr(0, baseStart) + "." + path.substr(baseStart) + ".tmp-" +
                         std::to_string(::getpid()) + "-";
    std::string temp;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temp = prefix + std::to_string(counter++);
        // 0666 lets the umask decide, as for any new file; an existing file keeps its mode.
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) return false;
    }
    if (fd < 0) return false;

    bool ok = (!mode || ::fchmod(fd, *mode & 07777) == 0) && WriteAll(fd, bytes) && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    ok = ok && ::rename(temp.c_str(), path.c_str()) == 0;
    if (!ok) {
        ::unlink(temp.c_str());
        return false;
    }
    // Make the rename itself durable; the new file is already in place if this fails.
    int dir = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
}

// The text after "key=": quoted when reading it back would otherwise lose blanks or
// quotes at its ends.
std::string EncodeValue(std::string_view value) {
    auto special = [](char c) { return c == ' ' || c == '\t' || c == '"' || c == '\''; };
    if (!value.empty() && (special(value.front()) || special(value.back())))
        return "\"" + std::string(value) + "\"";
    return std::string(value);
}

bool HasLineBreak(std::string_view text) { return text.find_first_of("\r\n") != std::string_view::npos; }

// Names that would read back as something else are refused: a key must not be empty,
// hold '=' or start like a section or comment line; a section must not hold ']'.
bool ValidNames(std::string_view section, std::string_view key) {
    if (HasLineBreak(section) || section.find(']') != std::string_view::npos) return false;
    if (key.empty() || HasLineBreak(key) || key.find('=') != std::string_view::npos) return false;
    return key.front() != '[' && key.front() != ';';
}

}  // namespace

CString GetPrivateProfileString(const char* section, const char* key, const char* defaultValue,
                                int size, const char* file) {
    if (size <= 0) return CString();
    auto limit = static_cast<size_t>(size - 1);
    auto bounded = [limit](std::string_view text) { return CString(text.substr(0, limit)); };
    std::string_view fallback = defaultValue ? defaultValue : "";

    std::string content;
    if (!section || !key || !file || ReadWholeFile(file, content) != ReadResult::Ok)
        return bounded(fallback);
    std::vector<Line> lines = ParseLines(content);
    Location where = Locate(lines, TrimBlanks(section), TrimBlanks(key));
    if (!where.key) return bounded(fallback);
    return bounded(Unquote(lines[*where.key].value));
}

bool WritePrivateProfileString(const char* section, const char* key, const char* value,
                               const char* file) {
    if (!section || !key || !value || !file || !*file) return false;
    std::string_view sectionName = TrimBlanks(section);
    std::string_view keyName = TrimBlanks(key);
    // A line break would split the line and change what the file says.
    if (!ValidNames(sectionName, keyName) || HasLineBreak(value)) return false;

    std::string path = ResolveLink(file);
    std::string folder = FolderOf(path);
    if (!folder.empty() && !CreateDirectories(folder.c_str())) return false;

    std::string content;
    std::optional<mode_t> mode;
    switch (ReadWholeFile(path.c_str(), content)) {
    case ReadResult::Ok: {
        struct stat st {};
        if (::stat(path.c_str(), &st) == 0) mode = st.st_mode;
        break;
    }
    case ReadResult::Missing:
        break;
    case ReadResult::Failed:
        // A file that exists but cannot be read must not be replaced by one without it.
        return false;
    }

    std::vector<Line> lines = ParseLines(content);
    // New lines take the ending the file already uses.
    std::string eol = "\n";
    if (!lines.empty() && !lines.front().ending.empty()) eol = lines.front().ending;
    std::string keyLine = std::string(keyName) + "=" + EncodeValue(value);

    Location where = Locate(lines, sectionName, keyName);
    if (where.key) {
        // Everything up to the old value stays, so the name keeps its spelling and spacing.
        Line& line = lines[*where.key];
        line.raw = line.raw.substr(0, line.valueOffset) + EncodeValue(value);
    } else if (where.section) {
        Line& last = lines[where.sectionEnd];
        if (last.ending.empty()) last.ending = eol;
        lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(where.sectionEnd + 1),
                     MakeLine(keyLine, eol));
    } else {
        if (!lines.empty()) {
            if (lines.back().ending.empty()) lines.back().ending = eol;
            if (lines.back().kind != Line::Blank) lines.push_back(MakeLine("", eol));
        }
        lines.push_back(MakeLine("[" + std::string(sectionName) + "]", eol));
        lines.push_back(MakeLine(keyLine, eol));
    }

    std::string output;
    output.reserve(content.size() + keyLine.size() + sectionName.size() + 8);
    for (const Line& line : lines) output += line.raw + line.ending;
    return ReplaceFile(path, output, mode);
}
