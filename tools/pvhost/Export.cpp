#include "pvhost/Export.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace pvhost {

namespace {

std::string FileNameOf(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Position of the extension's dot in `name`, npos when there is none.
size_t ExtensionDot(const std::string& name) {
    size_t dot = name.rfind('.');
    return dot == std::string::npos || dot == 0 ? std::string::npos : dot;
}

std::string SystemText(int error) { return std::strerror(error); }

bool WriteAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// Copies `from` into the new file `to` (which must not exist yet).
bool CopyPicture(const std::string& from, const std::string& to, std::string& error) {
    int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) {
        error = "cannot read picture " + from + ": " + SystemText(errno);
        return false;
    }
    struct stat st {};
    if (::fstat(in, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(in);
        error = "not a picture file: " + from;
        return false;
    }
    int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (out < 0) {
        error = "cannot create " + to + ": " + SystemText(errno);
        ::close(in);
        return false;
    }
    char buffer[65536];
    bool ok = true;
    for (;;) {
        ssize_t n = ::read(in, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            error = "cannot read picture " + from + ": " + SystemText(errno);
            ok = false;
            break;
        }
        if (n == 0) break;
        if (!WriteAll(out, buffer, static_cast<size_t>(n))) {
            error = "cannot write " + to + ": " + SystemText(errno);
            ok = false;
            break;
        }
    }
    ::close(in);
    if (::close(out) != 0 && ok) {
        error = "cannot write " + to + ": " + SystemText(errno);
        ok = false;
    }
    return ok;
}

std::string TempFolderBase() {
    const char* tmp = std::getenv("TMPDIR");
    std::string base = tmp && tmp[0] == '/' ? tmp : "/tmp";
    while (base.size() > 1 && base.back() == '/') base.pop_back();
    return base;
}

// Creates the export folder: a new one under the temporary folder, or `given`, which
// must not exist yet or be an empty folder.
bool MakeExportFolder(const std::string& given, ExportedOrder& order, std::string& error) {
    if (given.empty()) {
        std::string pattern = TempFolderBase() + "/pvexport-XXXXXX";
        if (!::mkdtemp(pattern.data())) {
            error = "cannot create an export folder in " + TempFolderBase() + ": " + SystemText(errno);
            return false;
        }
        order.folder = pattern;
        order.createdFolder = true;
        return true;
    }
    std::error_code ec;
    std::filesystem::path folder = std::filesystem::absolute(given, ec).lexically_normal();
    std::string text = folder.string();
    while (text.size() > 1 && text.back() == '/') text.pop_back();
    if (std::filesystem::exists(folder, ec)) {
        if (!std::filesystem::is_directory(folder, ec)) {
            error = "the export folder is a file: " + text;
            return false;
        }
        if (!std::filesystem::is_empty(folder, ec) || ec) {
            error = "the export folder is not empty: " + text;
            return false;
        }
        order.folder = text;
        return true;
    }
    if (!std::filesystem::create_directories(folder, ec)) {
        error = "cannot create the export folder " + text + ": " + ec.message();
        return false;
    }
    order.folder = text;
    order.createdFolder = true;
    return true;
}

}  // namespace

std::string ImageNameOf(const std::string& picture) {
    std::string name = FileNameOf(picture);
    size_t dot = ExtensionDot(name);
    return dot == std::string::npos ? name : name.substr(0, dot);
}

std::string ExtensionOf(const std::string& picture) {
    std::string name = FileNameOf(picture);
    size_t dot = ExtensionDot(name);
    return dot == std::string::npos ? std::string() : name.substr(dot);
}

std::string TempFileName(int index, const std::string& extension) {
    char number[16];
    std::snprintf(number, sizeof number, "%04d", index);
    return std::string("img") + number + extension;
}

std::string CheckControlValue(std::string_view what, std::string_view value) {
    if (value.empty()) return std::string(what) + " is empty; the control file cannot hold an empty value";
    if (value.find('|') != std::string_view::npos)
        return std::string(what) + " holds '|', which separates the control file's values: " + std::string(value);
    if (value.find_first_of("\r\n") != std::string_view::npos)
        return std::string(what) + " holds a line break, which ends a control-file record";
    return {};
}

bool FormatControlLine(const ControlRecord& record, std::string& line, std::string& error) {
    const std::pair<const char*, const std::string*> values[] = {
        {"the temporary file's path", &record.tempFile},
        {"the print format", &record.format},
        {"the picture's name", &record.imageName},
    };
    for (const auto& [what, value] : values) {
        error = CheckControlValue(what, *value);
        if (!error.empty()) return false;
    }
    std::string text = record.tempFile + "|" + std::to_string(record.quantity) + "|" + record.format + "|" +
                       kReservedValue + "|" + record.imageName;
    if (text.size() > kMaxControlLine) {
        error = "the control-file line for " + record.imageName + " would have " + std::to_string(text.size()) +
                " bytes; the tool reads at most " + std::to_string(kMaxControlLine);
        return false;
    }
    line = text;
    return true;
}

bool ExportOrder(const ExportRequest& request, ExportedOrder& order, std::string& error) {
    order = ExportedOrder();
    if (request.pictures.empty()) {
        error = "no pictures to export";
        return false;
    }
    // Names and format first, so a picture that cannot be written leaves nothing behind.
    if (std::string why = CheckControlValue("the print format", request.format); !why.empty()) {
        error = why;
        return false;
    }
    for (const std::string& picture : request.pictures) {
        std::string name = FileNameOf(picture);
        if (name.empty() || name == "." || name == "..") {
            error = "not a picture file: " + picture;
            return false;
        }
        if (std::string why = CheckControlValue("the picture's name", name); !why.empty()) {
            error = "cannot export " + picture + ": " + why;
            return false;
        }
    }

    if (!MakeExportFolder(request.exportDir, order, error)) return false;
    auto fail = [&order]() {
        RemoveExport(order);
        order = ExportedOrder();
        return false;
    };
    order.imagesFolder = order.folder + "/" + kImagesFolderName;
    order.controlFile = order.folder + "/" + kControlFileName;
    // The tool takes its command line with every double quote removed.
    if (order.controlFile.find('"') != std::string::npos) {
        error = "the export folder's path cannot hold a double quote: " + order.folder;
        return fail();
    }
    if (::mkdir(order.imagesFolder.c_str(), 0700) != 0) {
        error = "cannot create " + order.imagesFolder + ": " + SystemText(errno);
        return fail();
    }

    std::string control;
    int index = 0;
    for (const std::string& picture : request.pictures) {
        ControlRecord record;
        record.tempFile = order.imagesFolder + "/" + TempFileName(++index, ExtensionOf(picture));
        record.quantity = request.quantity;
        record.format = request.format;
        record.imageName = ImageNameOf(picture);
        std::string line;
        if (!FormatControlLine(record, line, error)) {
            error = "cannot export " + picture + ": " + error;
            return fail();
        }
        if (!CopyPicture(picture, record.tempFile, error)) {
            // A partly written copy is removed with the folder.
            order.tempFiles.push_back(record.tempFile);
            return fail();
        }
        order.tempFiles.push_back(record.tempFile);
        control += line + "\n";
    }

    int fd = ::open(order.controlFile.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    bool written = fd >= 0 && WriteAll(fd, control.data(), control.size());
    int saved = errno;
    if (fd >= 0 && ::close(fd) != 0 && written) {
        written = false;
        saved = errno;
    }
    if (!written) {
        error = "cannot write " + order.controlFile + ": " + SystemText(saved);
        return fail();
    }
    return true;
}

void RemoveExport(const ExportedOrder& order) {
    if (order.folder.empty()) return;
    std::error_code ec;
    if (order.createdFolder) {
        std::filesystem::remove_all(order.folder, ec);
        return;
    }
    // A folder given by the user stays; only what the export put into it goes.
    for (const std::string& file : order.tempFiles) std::filesystem::remove(file, ec);
    if (!order.controlFile.empty()) std::filesystem::remove(order.controlFile, ec);
    if (!order.imagesFolder.empty()) std::filesystem::remove(order.imagesFolder, ec);
}

ExportState InspectExport(const ExportedOrder& order) {
    ExportState state;
    state.controlFile = ::access(order.controlFile.c_str(), F_OK) == 0;
    for (const std::string& file : order.tempFiles)
        if (::access(file.c_str(), F_OK) == 0) ++state.pictures;
    return state;
}

std::string DescribeState(const ExportedOrder& order, const ExportState& state) {
    auto pictures = [](int n) { return std::to_string(n) + (n == 1 ? " picture" : " pictures"); };
    if (!state.controlFile && state.pictures == 0) return "order sent: files removed";
    if (state.controlFile)
        return "order kept: control file and " + pictures(state.pictures) + " still in " + order.folder;
    return "order incomplete: control file removed, " + pictures(state.pictures) + " still in " + order.folder;
}

bool RemoveEmptyExport(const ExportedOrder& order) {
    ::rmdir(order.imagesFolder.c_str());
    if (!order.createdFolder) return false;
    return ::rmdir(order.folder.c_str()) == 0;
}

}  // namespace pvhost
