#pragma once
// Support for the print service's reliability suites: the glimmerprints program on a free
// port, a raw client with time-outs, and checks of a data folder by content (picture bytes
// compared by size and hash with what was sent).

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Harness.h"
#include "Program.h"

// Sanitizer builds use several times the memory; the memory bound is looser there.
#if defined(__SANITIZE_ADDRESS__)
#define PV_SERVICE_TESTS_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define PV_SERVICE_TESTS_ASAN 1
#endif
#endif

namespace svctest {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

#ifdef PV_SERVICE_TESTS_ASAN
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

// The glimmerprints program listening on 127.0.0.1 (port 0) with `data` as its data folder
// (and `working_dir` as its current folder when given).
class ServiceProcess {
public:
    explicit ServiceProcess(const fs::path& data, std::vector<std::string> extra_args = {},
                            const fs::path& working_dir = {});

    int port() const { return port_; }
    gptest::Program& program() { return *program_; }
    std::optional<long> PeakRssKib() const { return program_->PeakRssKib(); }
    // SIGKILL: the process ends at once, whatever it was doing.
    void Kill() { program_->Kill(); }
    // SIGTERM; the exit status (-1 when it did not end within 10 s).
    int Stop();

private:
    std::unique_ptr<gptest::Program> program_;
    int port_ = -1;
};

// The size and a 64-bit hash of `bytes`, as text: what the checks compare picture bytes by.
// (libstdc++'s hash runs at full speed in sanitizer builds too, unlike an instrumented SHA-256.)
std::string Fingerprint(std::string_view bytes);

// A raw connection to the service with bounded waits.
class Client {
public:
    Client(int port, std::chrono::milliseconds timeout);
    ~Client();
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    bool connected() const { return fd_ >= 0; }
    bool Send(std::string_view bytes);
    // `bytes` in pieces of `piece` bytes with `pause` after each.
    bool SendSlowly(std::string_view bytes, std::size_t piece, std::chrono::milliseconds pause);
    void ShutdownWrite();
    // Everything until the server closes (or a receive times out).
    std::string ReadToClose();
    // True once the server has closed or reset the connection; does not wait.
    bool ClosedByServer();
    void Close();

private:
    int fd_ = -1;
};

// How a client sends an order body after the tool's head.
struct Delivery {
    std::optional<std::size_t> send_only;  // send this many body bytes, then stop sending
    bool hang_up = false;   // after them, close at once instead of reading the answer
    std::size_t piece = 0;  // when set: send in pieces of this many bytes, `pause` after each
    std::chrono::milliseconds pause{0};
    std::chrono::milliseconds timeout{10000};  // for each send and receive
};

// POST /pvp.php with `body` sent as `how` says; the answer, or nullopt when none came.
std::optional<gptest::Answer> Deliver(int port, const std::string& body, const Delivery& how = {});

// An order as a client sends it.
struct SentOrder {
    std::string email;
    std::vector<gptest::Picture> pictures;
};

struct StoredPicture {
    gptest::PictureRow row;
    std::optional<std::string> fingerprint;  // of the file; nullopt when it is missing
};

struct StoredOrder {
    gptest::OrderRow row;
    std::vector<StoredPicture> pictures;  // by position
};

// Every order in the data folder's database, with the hashes of its picture files.
std::vector<StoredOrder> StoredOrders(const fs::path& data);

// True when `stored` is exactly `sent`: the address, and for every picture in order its file
// name, format, quantity, size and bytes.
bool SameOrder(const StoredOrder& stored, const SentOrder& sent);

// How many of `stored` are exactly `sent`.
int TimesStored(const std::vector<StoredOrder>& stored, const SentOrder& sent);

// The fingerprint of every regular file under DATA/pictures, with how often each occurs.
std::map<std::string, int> PictureFileHashes(const fs::path& data);

// What is wrong with the data folder as a whole, one text per problem; empty when sound:
// PRAGMA integrity_check says ok, the staging area is empty, every picture folder belongs to an
// order and holds exactly the files of that order's picture rows at their recorded sizes, and
// there is nothing else besides the database and the lock.
std::vector<std::string> FolderProblems(const fs::path& data);

// Every path under `root` (folders and files, relative), with each file's size.
std::map<std::string, std::uintmax_t> Tree(const fs::path& root);

// "12.3 MB" for a size in KiB.
std::string Megabytes(long kib);

}  // namespace svctest
