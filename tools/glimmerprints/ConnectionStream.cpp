#include "ConnectionStream.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace glimmer {
namespace {

constexpr size_t kReadBuffer = 16 * 1024;
constexpr auto kLingerTime = std::chrono::milliseconds(1000);
constexpr size_t kLingerBytes = 16 * 1024 * 1024;

void Address(const sockaddr_storage& address, std::string& ip, int& port) {
    char text[INET6_ADDRSTRLEN] = "";
    if (address.ss_family == AF_INET) {
        const auto* in = reinterpret_cast<const sockaddr_in*>(&address);
        ::inet_ntop(AF_INET, &in->sin_addr, text, sizeof text);
        port = ntohs(in->sin_port);
    } else if (address.ss_family == AF_INET6) {
        const auto* in6 = reinterpret_cast<const sockaddr_in6*>(&address);
        ::inet_ntop(AF_INET6, &in6->sin6_addr, text, sizeof text);
        port = ntohs(in6->sin6_port);
    }
    ip = text;
}

}  // namespace

ConnectionStream::ConnectionStream(socket_t fd, std::chrono::milliseconds read_timeout,
                                   std::chrono::milliseconds write_timeout,
                                   std::chrono::milliseconds head_timeout)
    : fd_(fd),
      read_timeout_(read_timeout),
      write_timeout_(write_timeout),
      head_deadline_(Clock::now() + head_timeout),
      buffer_(kReadBuffer) {}

bool ConnectionStream::Wait(short events, std::chrono::milliseconds timeout) const {
    auto deadline = Clock::now() + timeout;
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() < 0) return false;
        pollfd entry{fd_, events, 0};
        int ready = ::poll(&entry, 1, static_cast<int>(std::min<long long>(left.count(), 1 << 30)));
        if (ready > 0) return true;
        if (ready == 0) return false;
        if (errno != EINTR) return false;
    }
}

std::chrono::milliseconds ConnectionStream::ReadWait() const {
    if (head_complete_) return read_timeout_;
    auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(head_deadline_ - Clock::now());
    return std::max(std::chrono::milliseconds(0), std::min(left, read_timeout_));
}

bool ConnectionStream::is_readable() const {
    return pos_ < end_ || Wait(POLLIN, ReadWait());
}

bool ConnectionStream::is_writable() const {
    return Wait(POLLOUT, write_timeout_);
}

ssize_t ConnectionStream::read(char* ptr, size_t size) {
    if (head_complete_) return ReadSome(ptr, size);
    // A head longer than the limit ends the request as a failed read.
    if (head_bytes_ >= kMaxHeadBytes) return -1;
    ssize_t got = ReadSome(ptr, std::min(size, kMaxHeadBytes - head_bytes_));
    if (got > 0) head_bytes_ += static_cast<size_t>(got);
    return got;
}

ssize_t ConnectionStream::ReadSome(char* ptr, size_t size) {
    if (pos_ == end_) {
        if (!Wait(POLLIN, ReadWait())) return -1;
        // Large reads go straight into the caller's buffer.
        char* target = size >= buffer_.size() ? ptr : buffer_.data();
        size_t room = size >= buffer_.size() ? size : buffer_.size();
        ssize_t got;
        do {
            got = ::recv(fd_, target, room, 0);
        } while (got < 0 && errno == EINTR);
        if (got <= 0 || target == ptr) return got;
        pos_ = 0;
        end_ = static_cast<size_t>(got);
    }
    size_t take = std::min(size, end_ - pos_);
    std::memcpy(ptr, buffer_.data() + pos_, take);
    pos_ += take;
    return static_cast<ssize_t>(take);
}

ssize_t ConnectionStream::write(const char* ptr, size_t size) {
    if (!Wait(POLLOUT, write_timeout_)) return -1;
    ssize_t sent;
    do {
        sent = ::send(fd_, ptr, size, MSG_NOSIGNAL);
    } while (sent < 0 && errno == EINTR);
    return sent;
}

void ConnectionStream::get_remote_ip_and_port(std::string& ip, int& port) const {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (::getpeername(fd_, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
        Address(address, ip, port);
    }
}

void ConnectionStream::get_local_ip_and_port(std::string& ip, int& port) const {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
        Address(address, ip, port);
    }
}

void ConnectionStream::Close() {
    // Closing a socket with unread data makes the kernel send a reset, which can destroy the
    // answer before the client has read it (an early 413, say). So the sending side is shut
    // first and the rest of the request is drained for a bounded time.
    ::shutdown(fd_, SHUT_WR);
    char scratch[4096];
    size_t drained = 0;
    auto deadline = Clock::now() + kLingerTime;
    while (drained < kLingerBytes) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0 || !Wait(POLLIN, left)) break;
        ssize_t got = ::recv(fd_, scratch, sizeof scratch, 0);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        drained += static_cast<size_t>(got);
    }
    ::close(fd_);
}

}  // namespace glimmer
