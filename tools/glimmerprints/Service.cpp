#include "Service.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <system_error>

#include "AccountPage.h"
#include "ConnectionStream.h"
#include "HttpLib.h"
#include "MultipartFile.h"
#include "OrderIntake.h"
#include "PictureType.h"
#include "Query.h"
#include "Random.h"
#include "Store.h"

namespace glimmer {
namespace {

namespace fs = std::filesystem;

// cpp-httplib parses a multipart request itself, part by part, as it comes off the socket.
// The order intake wants the raw body on disk first (the whole body is read before any
// answer, and the parse runs on a complete file), so the request's Content-Type is moved to
// this header before routing and the library hands over plain bytes.
constexpr const char* kFormTypeHeader = "X-Glimmerprints-Form-Type";

constexpr const char* kDeniedText = "wrong user name or password";

// cpp-httplib listens with a backlog of 5; a burst of clients connecting at once overflows
// that queue, and the kernel then drops or resets the connections beyond it.
constexpr int kListenBacklog = SOMAXCONN;

void Answer(httplib::Response& res, int status, const std::string& text) {
    res.status = status;
    res.set_content(text + "\n", "text/plain");
}

void NoStore(httplib::Response& res) {
    res.set_header("Cache-Control", "no-store");
    res.set_header("X-Content-Type-Options", "nosniff");
    res.set_header("Referrer-Policy", "no-referrer");
}

bool ParseDecimal(const std::string& text, std::uint64_t& value) {
    if (text.empty() || text.size() > 19) return false;
    value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
    }
    return true;
}

// A request's own folder under the staging root, removed with whatever is left in it.
class StagingFolder {
public:
    explicit StagingFolder(const fs::path& root) : path_(root / RandomHex(16)) {
        fs::create_directory(path_);
    }
    ~StagingFolder() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    StagingFolder(const StagingFolder&) = delete;
    StagingFolder& operator=(const StagingFolder&) = delete;
    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }
    // Closes now and reports whether the close succeeded.
    bool Close() {
        int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0;
    }

private:
    int fd_;
};

bool WriteAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        ssize_t written = ::write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

}  // namespace

class Service::Server final : public httplib::Server {
public:
    explicit Server(ServiceConfig config)
        : config_(std::move(config)), store_(config_.data_dir, config_.db_busy_timeout) {
        new_task_queue = [threads = config_.threads] { return new httplib::ThreadPool(threads); };
        set_payload_max_length(static_cast<std::size_t>(config_.max_body));
        set_keep_alive_max_count(1);

        // Only these methods are served. For any other that may carry a body (cpp-httplib
        // accepts PRI) the library would read the body into memory before routing, so such
        // requests are refused before that.
        set_pre_routing_handler([](const httplib::Request& req, httplib::Response& res) {
            static const char* const kServed[] = {"GET", "HEAD", "POST", "PUT", "PATCH", "DELETE"};
            for (const char* method : kServed) {
                if (req.method == method) return HandlerResponse::Unhandled;
            }
            Answer(res, 404, "not found");
            return HandlerResponse::Handled;
        });

        Post("/pvp.php",
             [this](const httplib::Request& req, httplib::Response& res,
                    const httplib::ContentReader& reader) { HandleOrder(req, res, reader); });
        // Every other request with a body is refused without reading it; otherwise the library
        // would read it into memory.
        auto refuse = [](const httplib::Request&, httplib::Response& res,
                         const httplib::ContentReader&) { Answer(res, 404, "not found"); };
        Post(".*", refuse);
        Put(".*", refuse);
        Patch(".*", refuse);
        Delete(".*", refuse);

        Get("/glimmerprints.php", [this](const httplib::Request& req, httplib::Response& res) {
            HandleAccountPage(req, res);
        });
        Get("/picture", [this](const httplib::Request& req, httplib::Response& res) {
            HandlePicture(req, res);
        });
        set_exception_handler([](const httplib::Request&, httplib::Response& res,
                                 std::exception_ptr) { Answer(res, 500, "internal error"); });
        if (config_.log) {
            set_logger([](const httplib::Request& req, const httplib::Response& res) {
                std::fprintf(stderr, "%s %s %s %d\n", req.remote_addr.c_str(), req.method.c_str(),
                             req.path.c_str(), res.status);
            });
        }
    }

    // After a successful bind: a listen queue long enough for bursts of clients.
    bool WidenListenQueue() { return ::listen(svr_sock_, kListenBacklog) == 0; }

private:
    bool process_and_close_socket(socket_t sock) override {
        ConnectionStream stream(sock, config_.read_timeout, config_.write_timeout,
                                config_.read_timeout);
        bool closed = true;
        bool ok = process_request(stream, true, closed, [&stream](httplib::Request& req) {
            stream.HeadComplete();
            req.headers.erase(kFormTypeHeader);
            auto type = req.headers.find("Content-Type");
            if (req.method == "POST" && type != req.headers.end()) {
                std::string value = type->second;
                req.headers.erase("Content-Type");
                req.headers.emplace(kFormTypeHeader, std::move(value));
            }
        });
        stream.Close();
        return ok;
    }

    void HandleOrder(const httplib::Request& req, httplib::Response& res,
                     const httplib::ContentReader& reader) {
        const std::string form_type = req.get_header_value(kFormTypeHeader);
        if (!IsMultipartFormData(form_type)) {
            return Answer(res, 400, "expected a multipart/form-data body with a boundary");
        }
        if (req.has_header("Content-Length")) {
            std::uint64_t length = 0;
            if (!ParseDecimal(req.get_header_value("Content-Length"), length)) {
                return Answer(res, 400, "bad Content-Length");
            }
            if (length > config_.max_body) return TooLarge(res);
        } else if (req.get_header_value("Transfer-Encoding").find("chunked") == std::string::npos) {
            return Answer(res, 411, "Content-Length required");
        }

        try {
            StagingFolder staging(store_.staging_root());
            const fs::path body = staging.path() / "body";
            if (!ReceiveBody(res, reader, body)) return;

            OrderIntake intake(staging.path() / "pictures", config_.max_parts);
            MultipartCallbacks callbacks;
            callbacks.part = [&intake](std::string_view name, std::string_view file_name) {
                return intake.OnPartHeader(name, file_name);
            };
            callbacks.data = [&intake](const char* data, std::size_t size) {
                return intake.OnPartData(data, size);
            };
            const bool complete = ReadMultipartFile(body, form_type, callbacks);
            fs::remove(body);
            if (intake.failed()) return Answer(res, intake.status(), intake.reason());
            if (!complete) {
                return Answer(res, 400, "malformed multipart body (or no close delimiter)");
            }
            std::optional<StagedOrder> order = intake.Finish();
            if (!order) return Answer(res, intake.status(), intake.reason());

            std::string password = store_.AddOrder(*order, intake.pictures_dir());
            res.status = 200;
            res.set_content(password, "text/plain");
        } catch (const std::exception& error) {
            std::fprintf(stderr, "glimmerprints: order not stored: %s\n", error.what());
            Answer(res, 500, "the order could not be stored");
        }
    }

    // Streams the request body into `body`. False when it did not arrive whole; the answer
    // is then set.
    bool ReceiveBody(httplib::Response& res, const httplib::ContentReader& reader,
                     const fs::path& body) {
        FileDescriptor file(::open(body.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
        if (file.get() < 0) throw std::system_error(errno, std::generic_category(), "body file");
        std::uint64_t received = 0;
        bool too_large = false;
        bool write_failed = false;
        const bool ok = reader([&](const char* data, std::size_t size) {
            received += size;
            if (received > config_.max_body) {
                too_large = true;
                return false;
            }
            if (!WriteAll(file.get(), data, size)) {
                write_failed = true;
                return false;
            }
            return true;
        });
        const bool closed = file.Close();
        if (too_large || res.status == 413) {
            TooLarge(res);
            return false;
        }
        if (write_failed || !closed) {
            throw std::system_error(errno, std::generic_category(), "writing the body file");
        }
        if (!ok) {
            Answer(res, 400, "incomplete body");
            return false;
        }
        return true;
    }

    void TooLarge(httplib::Response& res) {
        Answer(res, 413, "body larger than " + std::to_string(config_.max_body) + " bytes");
    }

    // The account that the request's username and password open, or nullopt after answering
    // 403.
    std::optional<std::int64_t> Authenticate(const httplib::Request& req, httplib::Response& res) {
        std::optional<std::string> username = QueryValue(req.target, "username");
        std::optional<std::string> password = QueryValue(req.target, "password");
        std::optional<std::int64_t> account;
        if (username && password && !username->empty() && !password->empty()) {
            account = store_.Authenticate(*username, *password);
        }
        if (!account) {
            NoStore(res);
            Answer(res, 403, kDeniedText);
        }
        return account;
    }

    void HandleAccountPage(const httplib::Request& req, httplib::Response& res) {
        std::optional<std::int64_t> account = Authenticate(req, res);
        if (!account) return;
        AccountView view = store_.LoadAccount(*account);
        NoStore(res);
        res.set_header("Content-Security-Policy",
                       "default-src 'none'; img-src 'self'; style-src 'unsafe-inline'; "
                       "base-uri 'none'; form-action 'none'; frame-ancestors 'none'");
        res.status = 200;
        res.set_content(RenderAccountPage(view, *QueryValue(req.target, "username"),
                                          *QueryValue(req.target, "password")),
                        "text/html; charset=utf-8");
    }

    void HandlePicture(const httplib::Request& req, httplib::Response& res) {
        std::optional<std::int64_t> account = Authenticate(req, res);
        if (!account) return;
        std::uint64_t id = 0;
        std::optional<std::string> id_text = QueryValue(req.target, "id");
        std::optional<fs::path> path;
        if (id_text && ParseDecimal(*id_text, id) && id <= INT64_MAX) {
            path = store_.PictureFile(*account, static_cast<std::int64_t>(id));
        }
        auto fd =
            path ? std::make_shared<FileDescriptor>(::open(path->c_str(), O_RDONLY | O_CLOEXEC))
                 : nullptr;
        struct stat info {};
        if (!fd || fd->get() < 0 || ::fstat(fd->get(), &info) != 0) {
            NoStore(res);
            return Answer(res, 404, "no such picture");
        }
        char head[16];
        ssize_t got = ::pread(fd->get(), head, sizeof head, 0);
        std::string type =
            GuessPictureType(std::string_view(head, got > 0 ? static_cast<std::size_t>(got) : 0));
        NoStore(res);
        res.status = 200;
        res.set_content_provider(
            static_cast<std::size_t>(info.st_size), type,
            [fd](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
                char buffer[64 * 1024];
                ssize_t n = ::pread(fd->get(), buffer, std::min(length, sizeof buffer),
                                    static_cast<off_t>(offset));
                return n > 0 && sink.write(buffer, static_cast<std::size_t>(n));
            });
    }

    ServiceConfig config_;
    Store store_;
};

Service::Service(ServiceConfig config) : server_(std::make_unique<Server>(std::move(config))) {}

Service::~Service() = default;

int Service::Bind(const std::string& host, int port) {
    int bound = port == 0 ? server_->bind_to_any_port(host)
                          : (server_->bind_to_port(host, port) ? port : -1);
    if (bound > 0 && !server_->WidenListenQueue()) return -1;
    return bound;
}

bool Service::Run() {
    return server_->listen_after_bind();
}

void Service::Stop() {
    server_->stop();
}

bool Service::IsRunning() const {
    return server_->is_running();
}

}  // namespace glimmer
