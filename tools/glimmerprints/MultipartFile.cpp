#include "MultipartFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <vector>

#include "HttpLib.h"

namespace glimmer {
namespace {

constexpr const char* kPath = "/body";

// A request read from memory (its head) and then from the body file.
class BodyFileStream final : public httplib::Stream {
public:
    BodyFileStream(std::string head, int fd)
        : head_(std::move(head)), fd_(fd), buffer_(64 * 1024) {}

    bool is_readable() const override { return true; }
    bool is_writable() const override { return true; }

    ssize_t read(char* ptr, size_t size) override {
        if (head_pos_ < head_.size()) {
            size_t take = std::min(size, head_.size() - head_pos_);
            std::memcpy(ptr, head_.data() + head_pos_, take);
            head_pos_ += take;
            return static_cast<ssize_t>(take);
        }
        if (pos_ == end_) {
            ssize_t got;
            do {
                got = ::read(fd_, buffer_.data(), buffer_.size());
            } while (got < 0 && errno == EINTR);
            if (got <= 0) return got;
            pos_ = 0;
            end_ = static_cast<size_t>(got);
        }
        size_t take = std::min(size, end_ - pos_);
        std::memcpy(ptr, buffer_.data() + pos_, take);
        pos_ += take;
        return static_cast<ssize_t>(take);
    }

    // The parser's own answer to this internal request is not wanted.
    ssize_t write(const char*, size_t size) override { return static_cast<ssize_t>(size); }

    void get_remote_ip_and_port(std::string& ip, int& port) const override {
        ip = "127.0.0.1";
        port = 0;
    }
    void get_local_ip_and_port(std::string& ip, int& port) const override {
        ip = "127.0.0.1";
        port = 0;
    }
    socket_t socket() const override { return INVALID_SOCKET; }

private:
    std::string head_;
    size_t head_pos_ = 0;
    int fd_;
    std::vector<char> buffer_;
    size_t pos_ = 0;
    size_t end_ = 0;
};

// cpp-httplib keeps its multipart parser behind the server's content reader. This server is
// never bound to a socket: it is handed one request whose body is the file, and its handler
// runs the reader in multipart form.
class FileParser final : public httplib::Server {
public:
    explicit FileParser(const MultipartCallbacks& callbacks) {
        Post(kPath, [this, &callbacks](const httplib::Request&, httplib::Response& res,
                                       const httplib::ContentReader& reader) {
            handled_ = true;
            complete_ = reader(
                [&](const httplib::MultipartFormData& part) {
                    return callbacks.part(part.name, part.filename);
                },
                [&](const char* data, size_t size) { return callbacks.data(data, size); });
            res.status = complete_ ? 200 : 400;
        });
    }

    bool Parse(BodyFileStream& stream) {
        bool closed = false;
        process_request(stream, true, closed, [](httplib::Request&) {});
        return handled_ && complete_;
    }

private:
    bool handled_ = false;
    bool complete_ = false;
};

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i]) return false;
    }
    return true;
}

}  // namespace

bool IsMultipartFormData(std::string_view content_type) {
    if (!StartsWithNoCase(content_type, "multipart/form-data")) return false;
    std::string lower(content_type);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    size_t at = lower.find("boundary=");
    return at != std::string::npos && at + 9 < lower.size();
}

bool ReadMultipartFile(const std::filesystem::path& body_file, std::string_view content_type,
                       const MultipartCallbacks& callbacks) {
    if (!IsMultipartFormData(content_type) ||
        content_type.find_first_of("\r\n") != std::string_view::npos) {
        return false;
    }
    int fd = ::open(body_file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        ::close(fd);
        return false;
    }
    std::string head = std::string("POST ") + kPath + " HTTP/1.1\r\nContent-Type: ";
    head.append(content_type);
    head += "\r\nContent-Length: " + std::to_string(info.st_size) + "\r\n\r\n";
    BodyFileStream stream(std::move(head), fd);
    FileParser parser(callbacks);
    bool complete = parser.Parse(stream);
    ::close(fd);
    return complete;
}

}  // namespace glimmer
