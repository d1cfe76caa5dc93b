#include "support/RawHttpServer.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <stdexcept>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// The Content-Length value of a request head, 0 without one.
std::size_t ContentLength(std::string_view head) {
    std::size_t pos = 0;
    while ((pos = head.find("\r\n", pos)) != std::string_view::npos) {
        pos += 2;
        const std::string_view name = "content-length:";
        if (head.size() - pos < name.size()) break;
        bool match = true;
        for (std::size_t i = 0; i < name.size() && match; ++i)
            match = std::tolower(static_cast<unsigned char>(head[pos + i])) == name[i];
        if (match)
            return static_cast<std::size_t>(std::strtoull(
                std::string(head.substr(pos + name.size(), 24)).c_str(), nullptr, 10));
    }
    return 0;
}

}  // namespace

CRawHttpServer::CRawHttpServer(Script script) : m_script(std::move(script)) {
    if (pipe(m_stopPipe) != 0) throw std::runtime_error("pipe failed");
    m_listenFd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_listenFd < 0) throw std::runtime_error("socket failed");
    int one = 1;
    setsockopt(m_listenFd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof address;
    if (bind(m_listenFd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(m_listenFd, 16) != 0 ||
        getsockname(m_listenFd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        throw std::runtime_error("cannot listen on 127.0.0.1");
    m_port = ntohs(address.sin_port);
    m_thread = std::thread([this] { Run(); });
}

CRawHttpServer::~CRawHttpServer() {
    m_stopping = true;
    const char byte = 's';
    [[maybe_unused]] const auto written = write(m_stopPipe[1], &byte, 1);
    if (m_thread.joinable()) m_thread.join();
    close(m_listenFd);
    close(m_stopPipe[0]);
    close(m_stopPipe[1]);
}

std::string CRawHttpServer::HostAndPort() const {
    return "127.0.0.1:" + std::to_string(m_port);
}

std::vector<std::string> CRawHttpServer::Requests() const {
    std::lock_guard lock(m_mutex);
    return m_requests;
}

void CRawHttpServer::Record(const std::string& request) {
    std::lock_guard lock(m_mutex);
    m_requests.push_back(request);
}

void CRawHttpServer::Run() {
    while (!m_stopping) {
        pollfd fds[2] = {{m_listenFd, POLLIN, 0}, {m_stopPipe[0], POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if ((fds[1].revents & POLLIN) != 0) return;
        if ((fds[0].revents & POLLIN) == 0) continue;
        const int fd = accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        ++m_connections;
        CConnection connection(*this, fd);
        m_script(connection);
    }
}

// -----------------------------------------------------------------------------------------

CRawHttpServer::CConnection::CConnection(CRawHttpServer& server, int fd)
    : m_server(server), m_fd(fd) {}

CRawHttpServer::CConnection::~CConnection() {
    Close();
}

bool CRawHttpServer::CConnection::Stopping() const {
    return m_server.m_stopping;
}

bool CRawHttpServer::CConnection::WaitReady(short events, int timeoutMs) {
    for (;;) {
        if (m_fd < 0 || Stopping()) return false;
        pollfd fds[2] = {{m_fd, events, 0}, {m_server.m_stopPipe[0], POLLIN, 0}};
        const int rc = poll(fds, 2, timeoutMs);
        if (rc < 0 && errno == EINTR) continue;
        if (rc < 0 || (fds[1].revents & POLLIN) != 0) return false;
        return rc > 0;
    }
}

bool CRawHttpServer::CConnection::ReceiveMore() {
    if (!WaitReady(POLLIN)) return false;
    char buffer[65536];
    const ssize_t n = recv(m_fd, buffer, sizeof buffer, 0);
    if (n <= 0) return false;
    m_pending.append(buffer, static_cast<std::size_t>(n));
    return true;
}

bool CRawHttpServer::CConnection::ReadRequest() {
    std::size_t headEnd;
    while ((headEnd = m_pending.find("\r\n\r\n")) == std::string::npos)
        if (!ReceiveMore()) return false;
    headEnd += 4;
    const std::size_t total =
        headEnd + ContentLength(std::string_view(m_pending).substr(0, headEnd));
    while (m_pending.size() < total)
        if (!ReceiveMore()) return false;
    m_request = m_pending.substr(0, total);
    m_pending.erase(0, total);
    m_server.Record(m_request);
    return true;
}

bool CRawHttpServer::CConnection::Send(std::string_view bytes) {
    while (!bytes.empty()) {
        if (!WaitReady(POLLOUT)) return false;
        const ssize_t n = send(m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

bool CRawHttpServer::CConnection::SendSlowly(std::string_view bytes,
                                             std::chrono::milliseconds gap) {
    for (char c : bytes)
        if (!Pause(gap) || !Send(std::string_view(&c, 1))) return false;
    return true;
}

void CRawHttpServer::CConnection::Close() {
    if (m_fd >= 0) close(m_fd);
    m_fd = -1;
}

void CRawHttpServer::CConnection::Reset() {
    if (m_fd < 0) return;
    linger option{1, 0};
    setsockopt(m_fd, SOL_SOCKET, SO_LINGER, &option, sizeof option);
    Close();
}

void CRawHttpServer::CConnection::WaitForPeerClose() {
    while (ReceiveMore()) m_pending.clear();
}

bool CRawHttpServer::CConnection::WaitFor(const std::atomic<bool>& flag) {
    while (!flag) {
        if (!Pause(std::chrono::milliseconds(5))) return false;
    }
    return true;
}

bool CRawHttpServer::CConnection::Pause(std::chrono::milliseconds time) {
    if (Stopping()) return false;
    pollfd fd{m_server.m_stopPipe[0], POLLIN, 0};
    return poll(&fd, 1, static_cast<int>(time.count())) == 0;
}
