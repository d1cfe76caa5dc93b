#pragma once
// Test support for the print service: temporary folders, order bodies in the tool's exact
// layout, a raw HTTP client that sends the tool's header lines, a service on a thread, and
// looks into the data folder.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "Service.h"

namespace gptest {

namespace fs = std::filesystem;

// The delimiter lines of the tool's bodies (29 hyphens) and the boundary its Content-Type
// declares (27 hyphens).
inline const std::string kDelimiter = "-----------------------------7d4128363704e6";
inline const std::string kFormType =
    "multipart/form-data; boundary=---------------------------7d4128363704e6";

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

struct Part {
    std::string name;
    std::optional<std::string> file_name;  // set for picture parts
    std::string content;
};

struct Picture {
    std::string file_name;
    std::string format;
    std::string quantity;
    std::string content;
};

// The parts of an order in the tool's order: images, email, Format_NNN and Qty_NNN of every
// picture, then the pictures.
std::vector<Part> OrderParts(const std::string& email, const std::vector<Picture>& pictures);

// The body bytes exactly as the tool writes them; without the close delimiter when `close`
// is false.
std::string BuildBody(const std::vector<Part>& parts, bool close = true);

// A small, valid two-picture order.
std::vector<Picture> TwoPictures();

// Picture contents that look like JPEG and PNG files.
std::string JpegBytes(std::size_t size, unsigned seed);
std::string PngBytes(std::size_t size, unsigned seed);

struct Answer {
    int status = 0;
    std::map<std::string, std::string> headers;  // names in lower case
    std::string body;                            // after Content-Encoding is undone
    std::string content_encoding;
};

struct PostOptions {
    std::optional<std::string> content_length;  // instead of the body's size
    std::optional<std::size_t> send_only;       // send this many body bytes, then stop sending
    std::string content_type = kFormType;
};

// POST /pvp.php with the tool's eight header lines, then reads the answer until the server
// closes. nullopt when no answer could be read.
std::optional<Answer> PostOrder(int port, const std::string& body, const PostOptions& options = {});

// The head of the tool's POST /pvp.php: its eight header lines, the blank line included.
std::string OrderRequestHead(int port, const std::string& content_length,
                             const std::string& content_type = kFormType);

// A TCP connection to 127.0.0.1:port whose sends and receives each wait at most `timeout`;
// -1 when it cannot be made.
int OpenConnection(int port, std::chrono::milliseconds timeout = std::chrono::seconds(20));

// An answer as it came off the wire (head and body), with Content-Encoding undone; nullopt
// when it is not a complete HTTP answer (no whole head, a body shorter than its
// Content-Length, or a compressed body that does not decompress).
std::optional<Answer> ParseAnswer(const std::string& raw);

// GET with httplib::Client; `accept_gzip` adds Accept-Encoding: gzip, deflate.
std::optional<Answer> Get(int port, const std::string& target, bool accept_gzip = false);

// /glimmerprints.php?username=..&password=.. with both values percent-encoded.
std::string AccountTarget(const std::string& username, const std::string& password);

// A service on 127.0.0.1 with a free port, serving on its own thread; stopped and joined when
// the object goes.
class RunningService {
public:
    explicit RunningService(glimmer::ServiceConfig config);
    ~RunningService();
    RunningService(const RunningService&) = delete;
    RunningService& operator=(const RunningService&) = delete;
    int port() const { return port_; }

private:
    glimmer::Service service_;
    int port_ = -1;
    std::thread thread_;
};

glimmer::ServiceConfig Config(const fs::path& data_dir);

// Rows in a table of the service's database.
std::int64_t CountRows(const fs::path& data_dir, const std::string& table);

struct PictureRow {
    std::int64_t id = 0;
    std::int64_t order_id = 0;
    int position = 0;
    std::string format;
    int quantity = 0;
    std::string file_name;
    std::int64_t size = 0;
    fs::path file;  // where the picture lies
};
std::vector<PictureRow> PictureRows(const fs::path& data_dir);

struct OrderRow {
    std::int64_t id = 0;
    std::int64_t account_id = 0;
    std::string email;
    std::string folder;  // under DATA/pictures
};
std::vector<OrderRow> OrderRows(const fs::path& data_dir);

// The result of PRAGMA integrity_check, its lines joined by newlines ("ok" when sound).
std::string IntegrityCheck(const fs::path& data_dir);

// Regular files under `dir` (relative paths), the database and lock files left out.
std::vector<std::string> StoredFiles(const fs::path& dir);

// True when nothing of any order is in the data folder: no rows, no files.
::testing::AssertionResult NothingStored(const fs::path& data_dir);

std::string ReadFile(const fs::path& path);

std::size_t CountOf(const std::string& text, const std::string& needle);

}  // namespace gptest
