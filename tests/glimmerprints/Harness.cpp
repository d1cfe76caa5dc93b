#include "Harness.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sqlite3.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>
#include <zlib.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "HttpLib.h"
#include "Query.h"

namespace gptest {
namespace {

std::string Index3(std::size_t index) {
    char buffer[24];
    std::snprintf(buffer, sizeof buffer, "%03zu", index);
    return buffer;
}

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// gzip (windowBits 31) or zlib-wrapped deflate (15); a raw deflate stream is tried when the
// zlib wrapper is missing.
std::string Inflate(const std::string& data, int window_bits) {
    z_stream stream{};
    if (inflateInit2(&stream, window_bits) != Z_OK) throw std::runtime_error("inflateInit2");
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    stream.avail_in = static_cast<uInt>(data.size());
    std::string out;
    char buffer[16384];
    int result = Z_OK;
    while (result == Z_OK) {
        stream.next_out = reinterpret_cast<Bytef*>(buffer);
        stream.avail_out = sizeof buffer;
        result = inflate(&stream, Z_NO_FLUSH);
        out.append(buffer, sizeof buffer - stream.avail_out);
        if (result == Z_BUF_ERROR && stream.avail_in == 0) break;
    }
    inflateEnd(&stream);
    if (result != Z_STREAM_END) throw std::runtime_error("bad compressed answer");
    return out;
}

bool SendAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        ssize_t sent = ::send(fd, data, size, MSG_NOSIGNAL);
        if (sent <= 0) return false;
        data += sent;
        size -= static_cast<std::size_t>(sent);
    }
    return true;
}

class Database {
public:
    explicit Database(const fs::path& data_dir) {
        fs::path file = data_dir / "glimmerprints.db";
        if (sqlite3_open_v2(file.c_str(), &db_, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
            throw std::runtime_error("cannot open " + file.string());
        }
    }
    ~Database() { sqlite3_close(db_); }
    sqlite3* get() const { return db_; }

private:
    sqlite3* db_ = nullptr;
};

std::string ColumnText(sqlite3_stmt* stmt, int column) {
    const auto* text = sqlite3_column_text(stmt, column);
    return text ? std::string(reinterpret_cast<const char*>(text),
                              static_cast<std::size_t>(sqlite3_column_bytes(stmt, column)))
                : std::string();
}

}  // namespace

int OpenConnection(int port, std::chrono::milliseconds timeout) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(timeout).count();
    timeval limit{static_cast<time_t>(micros / 1000000),
                  static_cast<suseconds_t>(micros % 1000000)};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

std::optional<Answer> ParseAnswer(const std::string& raw) {
    std::size_t head_end = raw.find("\r\n\r\n");
    if (head_end == std::string::npos) return std::nullopt;
    std::istringstream head(raw.substr(0, head_end));
    std::string line;
    std::getline(head, line);
    Answer answer;
    if (std::sscanf(line.c_str(), "HTTP/1.%*d %d", &answer.status) != 1) return std::nullopt;
    while (std::getline(head, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::size_t colon = line.find(':');
        if (colon == std::string::npos) continue;
        std::string value = line.substr(colon + 1);
        value.erase(0, value.find_first_not_of(' '));
        answer.headers[Lower(line.substr(0, colon))] = value;
    }
    std::string body = raw.substr(head_end + 4);
    if (auto length = answer.headers.find("content-length"); length != answer.headers.end()) {
        const std::size_t size = std::stoul(length->second);
        if (body.size() < size) return std::nullopt;  // cut off
        body = body.substr(0, size);
    }
    answer.content_encoding = answer.headers["content-encoding"];
    try {
        if (answer.content_encoding == "gzip") {
            body = Inflate(body, 31);
        } else if (answer.content_encoding == "deflate") {
            body = Inflate(body, 15);
        }
    } catch (const std::runtime_error&) {
        return std::nullopt;  // a compressed body cut short
    }
    answer.body = body;
    return answer;
}

TempDir::TempDir() {
    std::string pattern = (fs::temp_directory_path() / "glimmerprints-test-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

std::vector<Part> OrderParts(const std::string& email, const std::vector<Picture>& pictures) {
    std::vector<Part> parts;
    parts.push_back({"images", std::nullopt, std::to_string(pictures.size())});
    parts.push_back({"email", std::nullopt, email});
    for (std::size_t i = 0; i < pictures.size(); ++i) {
        parts.push_back({"Format_" + Index3(i + 1), std::nullopt, pictures[i].format});
        parts.push_back({"Qty_" + Index3(i + 1), std::nullopt, pictures[i].quantity});
    }
    for (const Picture& picture : pictures) {
        parts.push_back({"uploadImage[]", picture.file_name, picture.content});
    }
    return parts;
}

std::string BuildBody(const std::vector<Part>& parts, bool close) {
    std::string body;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        const Part& part = parts[i];
        body += (i == 0 ? "" : "\r\n") + kDelimiter + "\r\n";
        body += "Content-Disposition: form-data; name=\"" + part.name + "\"";
        if (part.file_name) body += "; filename=\"" + *part.file_name + "\"";
        body += "\r\n";
        if (part.file_name) body += "Content-Type: image/pjpeg\r\n";
        body += "\r\n" + part.content;
    }
    if (close) body += "\r\n" + kDelimiter + "--\r\n";
    return body;
}

std::string JpegBytes(std::size_t size, unsigned seed) {
    std::string bytes = "\xFF\xD8\xFF\xE0";
    std::uint32_t state = seed * 2654435761u + 1;
    while (bytes.size() < size) {
        state = state * 1664525u + 1013904223u;
        bytes.push_back(static_cast<char>(state >> 24));
    }
    bytes.resize(size);
    return bytes;
}

std::string PngBytes(std::size_t size, unsigned seed) {
    std::string bytes = JpegBytes(size, seed);
    const std::string magic = "\x89PNG\r\n\x1a\n";
    bytes.replace(0, std::min(magic.size(), bytes.size()), magic.substr(0, bytes.size()));
    return bytes;
}

std::vector<Picture> TwoPictures() {
    return {
        {"C:\\Temp\\PV0001.jpg", "4x6", "2", JpegBytes(2500, 1)},
        {"/tmp/pictorvale/beach.png", "10.00x15.00", "1", PngBytes(7000, 2)},
    };
}

std::string OrderRequestHead(int port, const std::string& content_length,
                             const std::string& content_type) {
    return "POST /pvp.php HTTP/1.1\r\n"
           "Accept: image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, "
           "application/vnd.ms-powerpoint, application/vnd.ms-excel, application/msword, "
           "application/x-shockwave-flash, */*\r\n"
           "Accept-Language: en-us\r\n"
           "Content-Type: " +
           content_type +
           "\r\n"
           "Accept-Encoding: gzip, deflate\r\n"
           "User-Agent: Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1; SV1; .NET CLR "
           "1.0.3705; .NET CLR 1.1.4322; Tablet PC 1.7)\r\n"
           "Host: 127.0.0.1:" +
           std::to_string(port) +
           "\r\n"
           "Content-Length: " +
           content_length +
           "\r\n"
           "Connection: Keep-Alive\r\n"
           "\r\n";
}

std::optional<Answer> PostOrder(int port, const std::string& body, const PostOptions& options) {
    int fd = OpenConnection(port);
    if (fd < 0) return std::nullopt;
    const std::string head = OrderRequestHead(
        port, options.content_length.value_or(std::to_string(body.size())), options.content_type);
    std::size_t send = std::min(options.send_only.value_or(body.size()), body.size());
    // A server that refuses early may close while the body is still going out; the answer is
    // read all the same.
    if (SendAll(fd, head.data(), head.size())) SendAll(fd, body.data(), send);
    if (options.send_only) ::shutdown(fd, SHUT_WR);
    std::string raw;
    char buffer[16384];
    for (;;) {
        ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
        if (got <= 0) break;
        raw.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(fd);
    return ParseAnswer(raw);
}

std::optional<Answer> Get(int port, const std::string& target, bool accept_gzip) {
    httplib::Client client("127.0.0.1", port);
    client.set_url_encode(false);
    client.set_read_timeout(20, 0);
    httplib::Headers headers;
    if (accept_gzip) headers.emplace("Accept-Encoding", "gzip, deflate");
    httplib::Result result = client.Get(target.c_str(), headers);
    if (!result) return std::nullopt;
    Answer answer;
    answer.status = result->status;
    for (const auto& [name, value] : result->headers) answer.headers[Lower(name)] = value;
    answer.content_encoding = answer.headers["content-encoding"];
    answer.body = result->body;  // the client has undone any compression
    return answer;
}

std::string AccountTarget(const std::string& username, const std::string& password) {
    return "/glimmerprints.php?username=" + glimmer::PercentEncode(username) +
           "&password=" + glimmer::PercentEncode(password);
}

RunningService::RunningService(glimmer::ServiceConfig config) : service_(std::move(config)) {
    port_ = service_.Bind("127.0.0.1", 0);
    if (port_ <= 0) throw std::runtime_error("cannot bind");
    thread_ = std::thread([this] { service_.Run(); });
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!service_.IsRunning()) {
        if (std::chrono::steady_clock::now() > deadline) {
            // Run() has not started: it cannot be stopped, so the thread is left to the process.
            thread_.detach();
            throw std::runtime_error("service did not start");
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

RunningService::~RunningService() {
    service_.Stop();
    thread_.join();
}

glimmer::ServiceConfig Config(const fs::path& data_dir) {
    glimmer::ServiceConfig config;
    config.data_dir = data_dir;
    config.read_timeout = std::chrono::seconds(10);
    config.write_timeout = std::chrono::seconds(10);
    config.threads = 4;
    return config;
}

std::int64_t CountRows(const fs::path& data_dir, const std::string& table) {
    Database db(data_dir);
    sqlite3_stmt* stmt = nullptr;
    std::string sql = "SELECT COUNT(*) FROM " + table;
    if (sqlite3_prepare_v2(db.get(), sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK) {
        throw std::runtime_error("bad query " + sql);
    }
    std::int64_t count = sqlite3_step(stmt) == SQLITE_ROW ? sqlite3_column_int64(stmt, 0) : -1;
    sqlite3_finalize(stmt);
    return count;
}

std::vector<PictureRow> PictureRows(const fs::path& data_dir) {
    Database db(data_dir);
    sqlite3_stmt* stmt = nullptr;
    const char* sql =
        "SELECT p.id, p.order_id, p.position, p.format, p.quantity, p.file_name, p.size, "
        "o.folder, p.stored_name FROM pictures p JOIN orders o ON o.id = p.order_id "
        "ORDER BY p.id";
    if (sqlite3_prepare_v2(db.get(), sql, -1, &stmt, nullptr) != SQLITE_OK) {
        throw std::runtime_error("bad picture query");
    }
    std::vector<PictureRow> rows;
    while (sqlite3_step(stmt) == SQLITE_ROW) {
        PictureRow row;
        row.id = sqlite3_column_int64(stmt, 0);
        row.order_id = sqlite3_column_int64(stmt, 1);
        row.position = sqlite3_column_int(stmt, 2);
        row.format = ColumnText(stmt, 3);
        row.quantity = sqlite3_column_int(stmt, 4);
        row.file_name = ColumnText(stmt, 5);
        row.size = sqlite3_column_int64(stmt, 6);
        row.file = data_dir / "pictures" / ColumnText(stmt, 7) / ColumnText(stmt, 8);
        rows.push_back(std::move(row));
    }
    sqlite3_finalize(stmt);
    return rows;
}

std::vector<OrderRow> OrderRows(const fs::path& data_dir) {
    Database db(data_dir);
    sqlite3_stmt* stmt = nullptr;
    const char* sql = "SELECT id, account_id, email, folder FROM orders ORDER BY id";
    if (sqlite3_prepare_v2(db.get(), sql, -1, &stmt, nullptr) != SQLITE_OK) {
        throw std::runtime_error("bad order query");
    }
    std::vector<OrderRow> rows;
    while (sqlite3_step(stmt) == SQLITE_ROW) {
        OrderRow row;
        row.id = sqlite3_column_int64(stmt, 0);
        row.account_id = sqlite3_column_int64(stmt, 1);
        row.email = ColumnText(stmt, 2);
        row.folder = ColumnText(stmt, 3);
        rows.push_back(std::move(row));
    }
    sqlite3_finalize(stmt);
    return rows;
}

std::string IntegrityCheck(const fs::path& data_dir) {
    Database db(data_dir);
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db.get(), "PRAGMA integrity_check", -1, &stmt, nullptr) != SQLITE_OK) {
        return std::string("cannot check: ") + sqlite3_errmsg(db.get());
    }
    std::string result;
    int step = SQLITE_ROW;
    while ((step = sqlite3_step(stmt)) == SQLITE_ROW) {
        if (!result.empty()) result += "\n";
        result += ColumnText(stmt, 0);
    }
    if (step != SQLITE_DONE) result += std::string("\nstep failed: ") + sqlite3_errmsg(db.get());
    sqlite3_finalize(stmt);
    return result;
}

std::vector<std::string> StoredFiles(const fs::path& dir) {
    static const std::vector<std::string> kOwn = {"glimmerprints.db", "glimmerprints.db-wal",
                                                  "glimmerprints.db-shm", "glimmerprints.lock"};
    std::vector<std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(dir)) {
        if (!entry.is_regular_file()) continue;
        std::string relative = fs::relative(entry.path(), dir).string();
        bool own = false;
        for (const std::string& name : kOwn) own = own || relative == name;
        if (!own) files.push_back(relative);
    }
    return files;
}

::testing::AssertionResult NothingStored(const fs::path& data_dir) {
    for (const char* table : {"accounts", "passwords", "orders", "pictures"}) {
        std::int64_t rows = CountRows(data_dir, table);
        if (rows != 0) {
            return ::testing::AssertionFailure() << rows << " rows in " << table;
        }
    }
    std::vector<std::string> files = StoredFiles(data_dir);
    if (!files.empty()) return ::testing::AssertionFailure() << "file left: " << files.front();
    return ::testing::AssertionSuccess();
}

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

std::size_t CountOf(const std::string& text, const std::string& needle) {
    std::size_t count = 0;
    for (std::size_t at = text.find(needle); at != std::string::npos;
         at = text.find(needle, at + needle.size())) {
        ++count;
    }
    return count;
}

}  // namespace gptest
