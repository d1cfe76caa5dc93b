#pragma once
// One client connection as a cpp-httplib stream, with bounded waits: the request line and
// header lines must arrive within the head time-out in total, and every later read and every
// write waits at most its own time-out. The head is also bounded in size: cpp-httplib keeps a
// line of any length and any number of header lines in memory.

#include <chrono>
#include <cstddef>
#include <vector>

#include "HttpLib.h"

namespace glimmer {

// The most the request line and header lines may hold together. The tool's head is about
// 500 bytes; browsers send a few kilobytes.
constexpr std::size_t kMaxHeadBytes = 32 * 1024;

class ConnectionStream final : public httplib::Stream {
public:
    using Clock = std::chrono::steady_clock;

    ConnectionStream(socket_t fd, std::chrono::milliseconds read_timeout,
                     std::chrono::milliseconds write_timeout,
                     std::chrono::milliseconds head_timeout);

    // Called once the request head has been read; from then on only the per-read time-out
    // applies.
    void HeadComplete() { head_complete_ = true; }

    // Ends the connection so that the client gets the answer even when it is still sending:
    // stop writing, take (and drop) what is still arriving for a short while, then close.
    void Close();

    bool is_readable() const override;
    bool is_writable() const override;
    ssize_t read(char* ptr, size_t size) override;
    ssize_t write(const char* ptr, size_t size) override;
    void get_remote_ip_and_port(std::string& ip, int& port) const override;
    void get_local_ip_and_port(std::string& ip, int& port) const override;
    socket_t socket() const override { return fd_; }

private:
    bool Wait(short events, std::chrono::milliseconds timeout) const;
    ssize_t ReadSome(char* ptr, size_t size);
    std::chrono::milliseconds ReadWait() const;

    socket_t fd_;
    std::chrono::milliseconds read_timeout_;
    std::chrono::milliseconds write_timeout_;
    Clock::time_point head_deadline_;
    bool head_complete_ = false;
    size_t head_bytes_ = 0;
    std::vector<char> buffer_;
    size_t pos_ = 0;
    size_t end_ = 0;
};

}  // namespace glimmer
