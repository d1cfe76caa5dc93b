// Disk faults of the tool, end to end through the OK button against a scripted service on
// 127.0.0.1: the body file's folder cannot be written, the disk fills up (a small tmpfs, or
// a file size limit), a picture cannot be read, or a picture changes while the body is
// written. A fault ends with a box and IDCANCEL before anything is sent, the order's files
// stay byte for byte (compared by hash with what the fault itself left), the address is not
// saved, and once the fault is gone the same order is placed with a single request holding
// every picture whole. A picture changed before it is opened, or unlinked while open, is
// still read whole: that order is placed, with the picture as it was read. Each case adds a
// row to $PV_RELIABILITY_TABLE when set.
//
// Mounting needs the right to mount; where it is missing (a CI container, a user namespace,
// or PV_TEST_NO_MOUNT=1) the mount cases are skipped with the reason, and the cases with a
// file size limit, a folder that is a regular file and a child running as user nobody still
// test the same paths.

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "Table.h"
#include "order/PrintServiceDlg.h"
#include "platform/OutFile.h"
#include "platform/ProfileFile.h"
#include "support/RawHttpServer.h"
#include "support/RecordingWindow.h"
#include "support/TempDir.h"

namespace {

using Connection = CRawHttpServer::CConnection;
constexpr std::size_t kKiB = 1024;
constexpr std::size_t kMiB = 1024 * 1024;
const std::string kDelimiter = "-----------------------------7d4128363704e6";
const std::string kAddress = "Ann.Lee@Example.com";

std::string ErrnoText(int error) {
    return std::strerror(error);
}

std::uint64_t Fnv1a(const std::string& bytes) {
    std::uint64_t hash = 1469598103934665603ull;
    for (char c : bytes) hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    return hash;
}

// What a path holds, as one comparable text: a file's hash, a folder, a link's target.
std::string Fingerprint(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return "missing";
    if (S_ISLNK(st.st_mode)) return "link to " + std::filesystem::read_symlink(path).string();
    if (S_ISDIR(st.st_mode)) return "folder";
    const std::string bytes = ReadFile(path);
    return "file of " + std::to_string(bytes.size()) + " bytes, hash " +
           std::to_string(Fnv1a(bytes));
}

std::string Bytes(std::size_t size, unsigned seed) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 131 + seed * 7 + (i >> 9)) & 0xff);
    return bytes;
}

// A tmpfs mounted for the life of the object, unmounted in the destructor whatever happened.
class CTmpfsMount {
public:
    // "" when mounted, else why not.
    std::string Mount(const std::string& target, const std::string& options) {
        if (const char* off = std::getenv("PV_TEST_NO_MOUNT"); off && *off)
            return "mounting is turned off (PV_TEST_NO_MOUNT)";
        MakeDirs(target);
        if (::mount("pvtest", target.c_str(), "tmpfs", 0, options.c_str()) != 0)
            return ErrnoText(errno);
        m_target = target;
        return "";
    }
    std::string Remount(const std::string& options) {
        if (::mount("pvtest", m_target.c_str(), "tmpfs", MS_REMOUNT, options.c_str()) != 0)
            return ErrnoText(errno);
        return "";
    }
    ~CTmpfsMount() {
        if (m_target.empty()) return;
        if (::umount2(m_target.c_str(), 0) != 0) ::umount2(m_target.c_str(), MNT_DETACH);
    }

private:
    std::string m_target;
};

// A limit on the size of any file the process writes (RLIMIT_FSIZE), with SIGXFSZ ignored so
// a write past it fails with EFBIG as a full disk's does; the old limit comes back in the
// destructor.
class CFileSizeLimit {
public:
    explicit CFileSizeLimit(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &m_old);
        m_oldHandler = ::signal(SIGXFSZ, SIG_IGN);
        rlimit limited = m_old;
        limited.rlim_cur = bytes;
        m_set = ::setrlimit(RLIMIT_FSIZE, &limited) == 0;
    }
    ~CFileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &m_old);
        ::signal(SIGXFSZ, m_oldHandler);
    }
    bool IsSet() const { return m_set; }

private:
    rlimit m_old{};
    void (*m_oldHandler)(int) = nullptr;
    bool m_set = false;
};

// The body file's writer with a look at every piece: the test acts when a picture's part
// begins (its Content-Type line, before the picture is opened) and when its first bytes are
// copied (the picture is open and partly read).
class CWatchedOutFile : public COutFile {
public:
    enum class Moment { BeforeCopy, WhileCopying };
    using Action = std::function<void(int picture, Moment moment)>;

    explicit CWatchedOutFile(Action action) : m_action(std::move(action)) {}
    std::size_t Write(const void* data, std::size_t size) override {
        const std::string_view piece(static_cast<const char*>(data), size);
        if (m_copying > 0) {
            m_action(m_copying, Moment::WhileCopying);
            m_copying = 0;
        }
        if (piece == "Content-Type: image/pjpeg\r\n\r\n") {
            m_action(++m_pictures, Moment::BeforeCopy);
            m_copying = m_pictures;
        }
        return COutFile::Write(data, size);
    }

private:
    Action m_action;
    int m_pictures = 0;
    int m_copying = 0;  // the picture whose first bytes the next write brings
};

// What one press of OK left: whether and how the dialog ended, and the boxes shown.
struct Outcome {
    bool ended = false;
    int endResult = 0;
    std::vector<std::string> boxes;
};

class DiskFaultTest;

struct DiskFault;
// Test names and messages show a case by its name, not its bytes.
void PrintTo(const DiskFault& fault, std::ostream* out);

struct DiskFault {
    const char* name;
    std::vector<std::size_t> pictureSizes;
    // Puts the fault in place; a non-empty result is why it cannot be made here.
    std::string (*arrange)(DiskFaultTest& t);
    // Takes it away again before the order is sent once more (may be null).
    void (*remove)(DiskFaultTest& t);
    // The start of the box the fault must give; null: the order is placed despite it.
    const char* box;
    const char* outcome;  // the table's text when the case passes
};

void PrintTo(const DiskFault& fault, std::ostream* out) {
    *out << fault.name;
}

class DiskFaultTest : public ::testing::TestWithParam<DiskFault> {
public:
    CTempDir dir;
    CScopedEnv xdg{"XDG_CONFIG_HOME", (dir / "config").c_str()};
    CScopedEnv searchPath{"PATH", (dir / "bin").c_str()};
    std::vector<std::string> pictures;
    // Each picture's bytes as the service must get them in the order that is placed.
    std::vector<std::string> sent;
    std::string control = dir / "Export/order.ctl";
    std::string body = dir / "Export/order.txt";
    std::string settings = dir / "config/pictorvale/pvprint.ini";
    // The order's files as the fault left them; filled before OK unless the fault's action
    // fills it when it changes a file during the press.
    std::map<std::string, std::string> expected;
    CWatchedOutFile::Action watch;  // set: the body file is written through CWatchedOutFile
    bool asNobody = false;          // the press runs in a child process as user nobody
    // Declared last: unmounted and lifted before the folder goes.
    CTmpfsMount mount;
    std::unique_ptr<CFileSizeLimit> sizeLimit;

    DiskFaultTest() {
        MakeDirs(dir / "Export");
        MakeDirs(dir / "Pictures/Job");
        MakeDirs(dir / "bin");
        MakeDirs(dir / "config/pictorvale");
        std::string lines;
        unsigned seed = 1;
        for (std::size_t size : GetParam().pictureSizes) {
            const std::string p = dir / ("Pictures/Job/p" + std::to_string(seed) + ".jpg");
            sent.push_back(Bytes(size, seed));
            WriteFile(p, sent.back());
            pictures.push_back(p);
            lines += p + "|" + std::to_string(seed) + "|4.00x6.00|x|Picture " +
                     std::to_string(seed) + "\n";
            ++seed;
        }
        WriteFile(control, lines);
        const std::string browser = dir / "bin/browser";
        // Written aside and moved in, so the file is whole once it is there.
        WriteFile(browser, "#!/bin/sh\nprintf '%s' \"$1\" > \"" + dir / "browser.tmp" +
                               "\"\n/bin/mv \"" + dir / "browser.tmp" + "\" \"" +
                               dir / "browser.out" + "\"\n");
        ::chmod(browser.c_str(), 0755);
        WriteFile(
            dir / "config/pictorvale/registry.reg",
            "[HKEY_CLASSES_ROOT\\http\\shell\\open\\command]\n@=\"\\\"" + browser + "\\\" %1\"\n");
    }

    std::map<std::string, std::string> OrderFiles() const {
        std::map<std::string, std::string> files;
        files[control] = Fingerprint(control);
        for (const auto& p : pictures) files[p] = Fingerprint(p);
        return files;
    }

    void UseService(const std::string& service) {
        WritePrivateProfileString("Service", "Host", service.c_str(), settings.c_str());
    }

    // One press of OK on the order as the dialog's initialisation leaves it.
    Outcome PressOk() {
        CRecordingWindow window;
        CPrintServiceDlg dlg(window);
        dlg.m_strControlFile = control.c_str();
        dlg.m_strBodyFile = body.c_str();
        dlg.m_strSettingsFile = settings.c_str();
        dlg.GetControlDir();
        dlg.ReadImageDir();
        dlg.m_btnCancel.Attach(window, IDCANCEL);
        dlg.m_timeouts = {2000, 2000, 2000};
        if (watch) dlg.m_newBodyFile = [this] { return std::make_unique<CWatchedOutFile>(watch); };
        window.texts[IDC_EMAIL] = kAddress;
        dlg.OnBnClickedOk();
        Outcome outcome{window.ended, window.endResult, {}};
        for (const auto& box : window.boxes) outcome.boxes.push_back(box.text);
        return outcome;
    }

    // PressOk in a child that has given up root for user nobody, so that permission bits
    // count; `skip` is set when the child cannot become nobody or reach the order.
    Outcome PressOkAsNobody(std::string& skip) {
        // The order must be readable for nobody; only the fault's folder is closed to it.
        ::chmod(dir.path().c_str(), 0755);
        const passwd* nobody = ::getpwnam("nobody");
        const uid_t uid = nobody ? nobody->pw_uid : 65534;
        const gid_t gid = nobody ? nobody->pw_gid : 65534;
        int pipeFds[2];
        if (::pipe(pipeFds) != 0) {
            skip = "pipe: " + ErrnoText(errno);
            return {};
        }
        const pid_t pid = ::fork();
        if (pid < 0) {
            skip = "fork: " + ErrnoText(errno);
            ::close(pipeFds[0]);
            ::close(pipeFds[1]);
            return {};
        }
        if (pid == 0) {
            ::close(pipeFds[0]);
            std::string report;
            if (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0) {
                report = "S cannot run as user nobody here: " + ErrnoText(errno);
            } else if (::access(control.c_str(), R_OK) != 0) {
                report = "S user nobody cannot reach the test folder " + dir.path() + ": " +
                         ErrnoText(errno);
            } else {
                const Outcome outcome = PressOk();
                report = "R " + std::to_string(outcome.ended) + " " +
                         std::to_string(outcome.endResult) + "\n";
                for (const auto& box : outcome.boxes)
                    report += std::to_string(box.size()) + "\n" + box;
            }
            for (std::size_t done = 0; done < report.size();) {
                const ssize_t n = ::write(pipeFds[1], report.data() + done, report.size() - done);
                if (n <= 0) break;
                done += static_cast<std::size_t>(n);
            }
            ::_exit(0);
        }
        ::close(pipeFds[1]);
        std::string report;
        char buffer[4096];
        for (ssize_t n; (n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0;)
            report.append(buffer, static_cast<std::size_t>(n));
        ::close(pipeFds[0]);
        int status = 0;
        ::waitpid(pid, &status, 0);
        Outcome outcome;
        if (report.rfind("S ", 0) == 0) {
            skip = report.substr(2);
            return outcome;
        }
        if (report.rfind("R ", 0) != 0 || !WIFEXITED(status)) {
            ADD_FAILURE() << "the child ended without a report (status " << status << ")";
            return outcome;
        }
        std::size_t pos = 2;
        outcome.ended = report[pos] == '1';
        outcome.endResult = std::atoi(report.c_str() + pos + 2);
        pos = report.find('\n') + 1;
        while (pos < report.size()) {
            const std::size_t eol = report.find('\n', pos);
            const std::size_t size = std::stoul(report.substr(pos, eol - pos));
            outcome.boxes.push_back(report.substr(eol + 1, size));
            pos = eol + 1 + size;
        }
        return outcome;
    }

    // The account page handed to the browser stub, which runs on its own.
    std::string BrowserGot() const {
        for (int i = 0; i < 500 && !Exists(dir / "browser.out"); ++i) ::usleep(10000);
        return Exists(dir / "browser.out") ? ReadFile(dir / "browser.out")
                                           : "(browser not started)";
    }

    std::string SavedAddress() const {
        return GetPrivateProfileString("Dialog", "CustomerID", "", 101, settings.c_str()).str();
    }

    // Every picture in the request exactly as `sent` holds it: its part from the header to
    // the next delimiter, neither cut nor grown. False (and a failure) otherwise.
    bool PicturesSentWhole(const std::string& request) const {
        bool whole = true;
        for (std::size_t i = 0; i < pictures.size(); ++i) {
            const std::string part = "filename=\"" + pictures[i] +
                                     "\"\r\nContent-Type: image/pjpeg\r\n\r\n" + sent[i] + "\r\n" +
                                     kDelimiter;
            const bool found = request.find(part) != std::string::npos;
            EXPECT_TRUE(found) << "picture " << i + 1 << " not sent whole";
            whole = whole && found;
        }
        return whole;
    }

    // The case's row: its outcome when it passed, FAILED otherwise; skipped cases say why.
    std::string rowOutcome = "FAILED";
    bool rowLost = false;
    int rowTried = 1;
    void TearDown() override {
        reliability::AddTableRow("disk", GetParam().name, rowTried,
                                 HasFailure() ? "FAILED" : rowOutcome, rowLost);
    }
};

// --- The faults -----------------------------------------------------------------------

std::string BodyOn(DiskFaultTest& t, const std::string& folder) {
    t.body = t.dir / (folder + "/order.txt");
    return "";
}

std::string ReadOnlyMount(DiskFaultTest& t) {
    const std::string reason = t.mount.Mount(t.dir / "ro", "ro,size=1m");
    if (!reason.empty()) return "cannot mount a read-only tmpfs here: " + reason;
    return BodyOn(t, "ro");
}
void MakeWritable(DiskFaultTest& t) {
    ASSERT_EQ(t.mount.Remount("rw,size=16m"), "");
}

std::string FolderClosedToUser(DiskFaultTest& t) {
    MakeDirs(t.dir / "closed");
    ::chmod((t.dir / "closed").c_str(), 0755);  // root's; nobody may only look inside
    t.asNobody = true;
    return BodyOn(t, "closed");
}
void OpenFolder(DiskFaultTest& t) {
    ::chmod((t.dir / "closed").c_str(), 0777);
    t.asNobody = false;
}

std::string FolderIsAFile(DiskFaultTest& t) {
    WriteFile(t.dir / "notafolder", "a file where the body's folder should be");
    return BodyOn(t, "notafolder");
}
void FileBecomesFolder(DiskFaultTest& t) {
    std::filesystem::remove(t.dir / "notafolder");
    MakeDirs(t.dir / "notafolder");
}

std::string SmallTmpfs(DiskFaultTest& t) {
    const std::string reason = t.mount.Mount(t.dir / "small", "size=256k");
    if (!reason.empty()) return "cannot mount a size-limited tmpfs here: " + reason;
    return BodyOn(t, "small");
}
void GrowTmpfs(DiskFaultTest& t) {
    ASSERT_EQ(t.mount.Remount("size=16m"), "");
}

std::string FileSizeLimit(DiskFaultTest& t) {
    t.sizeLimit = std::make_unique<CFileSizeLimit>(256 * kKiB);
    if (!t.sizeLimit->IsSet()) return "cannot set RLIMIT_FSIZE here: " + ErrnoText(errno);
    return "";
}
void LiftFileSizeLimit(DiskFaultTest& t) {
    t.sizeLimit.reset();
}

// Picture 2 is replaced by something that is not a readable file; `restore` puts it back.
void RestorePicture2(DiskFaultTest& t) {
    std::filesystem::remove(t.pictures[1]);
    WriteFile(t.pictures[1], t.sent[1]);
}
std::string FolderForPicture(DiskFaultTest& t) {
    std::filesystem::remove(t.pictures[1]);
    MakeDirs(t.pictures[1]);
    return "";
}
std::string LinkLoopForPicture(DiskFaultTest& t) {
    std::filesystem::remove(t.pictures[1]);
    std::filesystem::create_symlink(t.pictures[1], t.pictures[1]);  // open fails: ELOOP
    return "";
}

// Picture 2 changed by the host at a chosen moment of the body's writing.
void ChangePicture2(DiskFaultTest& t, CWatchedOutFile::Moment when,
                    const std::function<void(const std::string& path)>& change) {
    t.watch = [&t, when, change](int picture, CWatchedOutFile::Moment moment) {
        if (picture != 2 || moment != when) return;
        change(t.pictures[1]);
        t.expected = t.OrderFiles();
    };
}
void Truncate(const std::string& path, std::size_t size) {
    ASSERT_EQ(::truncate(path.c_str(), static_cast<off_t>(size)), 0) << ErrnoText(errno);
}
void Append(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::app) << bytes;
}

std::string VanishesBeforeCopy(DiskFaultTest& t) {
    ChangePicture2(t, CWatchedOutFile::Moment::BeforeCopy,
                   [](const std::string& p) { ::unlink(p.c_str()); });
    return "";
}
std::string VanishesWhileCopied(DiskFaultTest& t) {
    // The open file keeps its bytes: the picture still goes whole.
    ChangePicture2(t, CWatchedOutFile::Moment::WhileCopying,
                   [](const std::string& p) { ::unlink(p.c_str()); });
    return "";
}
std::string ShrinksBeforeCopy(DiskFaultTest& t) {
    t.sent[1].resize(t.sent[1].size() / 2);
    ChangePicture2(t, CWatchedOutFile::Moment::BeforeCopy,
                   [&t](const std::string& p) { Truncate(p, t.sent[1].size()); });
    return "";
}
std::string GrowsBeforeCopy(DiskFaultTest& t) {
    const std::string more = Bytes(100 * kKiB, 99);
    t.sent[1] += more;
    ChangePicture2(t, CWatchedOutFile::Moment::BeforeCopy,
                   [more](const std::string& p) { Append(p, more); });
    return "";
}
std::string ShrinksWhileCopied(DiskFaultTest& t) {
    // Cut to 1.5 MiB after the first MiB has been read.
    ChangePicture2(t, CWatchedOutFile::Moment::WhileCopying,
                   [](const std::string& p) { Truncate(p, kMiB + kMiB / 2); });
    return "";
}
std::string ShrinksBelowReadWhileCopied(DiskFaultTest& t) {
    // Cut below what has already been read: the next read finds the end at once.
    ChangePicture2(t, CWatchedOutFile::Moment::WhileCopying,
                   [](const std::string& p) { Truncate(p, 10 * kKiB); });
    return "";
}
std::string GrowsWhileCopied(DiskFaultTest& t) {
    ChangePicture2(t, CWatchedOutFile::Moment::WhileCopying,
                   [](const std::string& p) { Append(p, Bytes(100 * kKiB, 98)); });
    return "";
}
std::string RewrittenWhileCopied(DiskFaultTest& t) {
    // Same size, other bytes, a later modification time (set, so the file clock's coarse
    // steps cannot hide the write).
    ChangePicture2(t, CWatchedOutFile::Moment::WhileCopying, [](const std::string& p) {
        struct stat st {};
        ASSERT_EQ(::stat(p.c_str(), &st), 0);
        WriteFile(p, Bytes(static_cast<std::size_t>(st.st_size), 97));
        timespec times[2] = {st.st_atim, st.st_mtim};
        times[1].tv_sec += 2;
        ASSERT_EQ(::utimensat(AT_FDCWD, p.c_str(), times, 0), 0);
    });
    return "";
}
// After a change while copied, the picture as it now is goes in the next order.
void TakePicturesAsTheyAre(DiskFaultTest& t) {
    for (std::size_t i = 0; i < t.pictures.size(); ++i) t.sent[i] = ReadFile(t.pictures[i]);
}

const std::vector<std::size_t> kSmall = {3000, 5000, 7000};
const std::vector<std::size_t> kBelowBuffer = {100 * kKiB, 100 * kKiB, 100 * kKiB};  // 300 KiB
const std::vector<std::size_t> kAboveBuffer = {600 * kKiB, 600 * kKiB, 600 * kKiB};  // 1.8 MiB
const std::vector<std::size_t> kBigSecond = {5000, 3 * kMiB, 7000};

const char* const kCreateFailed = "Unable to create mime file:";
const char* const kCopyFailed = "Error copying image file:";
const char* const kWriteFailed = "Unable to write to mime file:";
const char* const kChanged = "Image file changed while it was being read:";

const DiskFault kFaults[] = {
    {"body_folder_read_only_mount", kSmall, ReadOnlyMount, MakeWritable, kCreateFailed,
     "box \"Unable to create mime file\", resent once"},
    {"body_folder_closed_to_user", kSmall, FolderClosedToUser, OpenFolder, kCreateFailed,
     "box \"Unable to create mime file\", resent once"},
    {"body_folder_is_a_file", kSmall, FolderIsAFile, FileBecomesFolder, kCreateFailed,
     "box \"Unable to create mime file\", resent once"},
    {"disk_full_while_copying", kAboveBuffer, SmallTmpfs, GrowTmpfs, kCopyFailed,
     "box \"Error copying image file\", resent once"},
    {"disk_full_at_close", kBelowBuffer, SmallTmpfs, GrowTmpfs, kWriteFailed,
     "box \"Unable to write to mime file\", resent once"},
    {"file_size_limit_while_copying", kAboveBuffer, FileSizeLimit, LiftFileSizeLimit, kCopyFailed,
     "box \"Error copying image file\", resent once"},
    {"file_size_limit_at_close", kBelowBuffer, FileSizeLimit, LiftFileSizeLimit, kWriteFailed,
     "box \"Unable to write to mime file\", resent once"},
    {"picture_is_a_folder", kSmall, FolderForPicture, RestorePicture2,
     "Read error on image file:", "box \"Read error on image file\", resent once"},
    {"picture_open_fails", kSmall, LinkLoopForPicture, RestorePicture2,
     "Unable to open image file:", "box \"Unable to open image file\", resent once"},
    {"picture_vanishes_before_copy", kSmall, VanishesBeforeCopy, RestorePicture2,
     "Unable to open image file:", "box \"Unable to open image file\", resent once"},
    {"picture_shrinks_while_copied", kBigSecond, ShrinksWhileCopied, TakePicturesAsTheyAre,
     kChanged, "box \"Image file changed...\", resent once"},
    {"picture_cut_below_read_while_copied", kBigSecond, ShrinksBelowReadWhileCopied,
     TakePicturesAsTheyAre, kChanged, "box \"Image file changed...\", resent once"},
    {"picture_grows_while_copied", kBigSecond, GrowsWhileCopied, TakePicturesAsTheyAre, kChanged,
     "box \"Image file changed...\", resent once"},
    {"picture_rewritten_while_copied", kBigSecond, RewrittenWhileCopied, TakePicturesAsTheyAre,
     kChanged, "box \"Image file changed...\", resent once"},
    // Changes before a picture is opened, and an unlink while it is open, leave a whole file
    // to send: the order goes with the picture as it is at its copy.
    {"picture_vanishes_while_copied", kBigSecond, VanishesWhileCopied, nullptr, nullptr,
     "placed once, the open picture sent whole"},
    {"picture_shrinks_before_copy", kBigSecond, ShrinksBeforeCopy, nullptr, nullptr,
     "placed once, picture sent as it then was"},
    {"picture_grows_before_copy", kBigSecond, GrowsBeforeCopy, nullptr, nullptr,
     "placed once, picture sent as it then was"},
};

TEST_P(DiskFaultTest, EndsWithABoxKeepsTheOrderAndSendsItOnceLater) {
    const DiskFault& fault = GetParam();
    CRawHttpServer service([](Connection& c) {
        if (!c.ReadRequest()) return;
        c.Send("HTTP/1.1 200 OK\r\nContent-Length: 7\r\n\r\npw-disk");
        c.Close();
    });
    UseService(service.HostAndPort());

    std::string skip = fault.arrange(*this);
    expected = OrderFiles();
    Outcome outcome;
    if (skip.empty()) outcome = asNobody ? PressOkAsNobody(skip) : PressOk();
    if (!skip.empty()) {
        rowTried = 0;
        rowOutcome = "skipped: " + skip;
        GTEST_SKIP() << skip;
    }
    ASSERT_TRUE(outcome.ended);

    if (!fault.box) {
        EXPECT_TRUE(outcome.boxes.empty()) << outcome.boxes[0];
        EXPECT_EQ(outcome.endResult, IDOK);
        const auto requests = service.Requests();
        ASSERT_EQ(requests.size(), 1u);
        rowLost = !PicturesSentWhole(requests[0]);
        EXPECT_FALSE(Exists(control));
        EXPECT_EQ(SavedAddress(), kAddress);
        EXPECT_NE(BrowserGot().find("password=pw-disk"), std::string::npos);
        rowOutcome = fault.outcome;
        return;
    }

    // Compared first: a fault taken for a placed order has already deleted the files.
    rowLost = OrderFiles() != expected;
    EXPECT_FALSE(rowLost) << "the tool changed or removed an order file";
    ASSERT_FALSE(outcome.boxes.empty()) << "no box for the fault";
    EXPECT_EQ(outcome.boxes.size(), 1u) << outcome.boxes.back();
    EXPECT_EQ(outcome.boxes[0].rfind(fault.box, 0), 0u) << outcome.boxes[0];
    EXPECT_EQ(outcome.endResult, IDCANCEL);
    EXPECT_EQ(service.Connections(), 0) << "a request went out for an order whose body failed";
    EXPECT_EQ(SavedAddress(), "");
    EXPECT_FALSE(Exists(dir / "browser.out"));

    // The fault gone, the same order again: placed, with one request holding it whole.
    if (fault.remove) fault.remove(*this);
    watch = nullptr;
    const Outcome again = PressOk();
    EXPECT_TRUE(again.boxes.empty()) << again.boxes[0];
    EXPECT_EQ(again.endResult, IDOK);
    const auto requests = service.Requests();
    ASSERT_EQ(requests.size(), 1u);
    if (!PicturesSentWhole(requests[0])) rowLost = true;
    EXPECT_FALSE(Exists(control));
    EXPECT_EQ(SavedAddress(), kAddress);
    EXPECT_NE(BrowserGot().find("password=pw-disk"), std::string::npos);
    rowOutcome = fault.outcome;
}

INSTANTIATE_TEST_SUITE_P(Faults, DiskFaultTest, ::testing::ValuesIn(kFaults),
                         [](const ::testing::TestParamInfo<DiskFault>& param) {
                             return std::string(param.param.name);
                         });

}  // namespace
