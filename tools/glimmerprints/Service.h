#pragma once
// The print service over HTTP:
//   POST /pvp.php                                     takes an order, answers its password
//   GET  /glimmerprints.php?username=..&password=..   the account page
//   GET  /picture?username=..&password=..&id=..       one picture of that account

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

namespace glimmer {

struct ServiceConfig {
    std::filesystem::path data_dir;
    std::uint64_t max_body = std::uint64_t{8} << 30;  // bytes
    std::size_t max_parts = 20000;
    std::chrono::milliseconds read_timeout{30000};
    std::chrono::milliseconds write_timeout{30000};
    std::size_t threads = 16;
    std::chrono::milliseconds db_busy_timeout{15000};  // how long a write waits for another
    bool log = false;  // one line per request on stderr (never the query: it holds passwords)
};

class Service {
public:
    // Opens the store (see Store); throws std::runtime_error when that fails.
    explicit Service(ServiceConfig config);
    ~Service();
    Service(const Service&) = delete;
    Service& operator=(const Service&) = delete;

    // Binds to host:port (port 0: any free port). Returns the port, or -1.
    int Bind(const std::string& host, int port);
    // Serves until Stop(); false when it could not run.
    bool Run();
    void Stop();
    bool IsRunning() const;

private:
    class Server;
    std::unique_ptr<Server> server_;
};

}  // namespace glimmer
