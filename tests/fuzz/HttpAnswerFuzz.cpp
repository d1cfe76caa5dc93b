// The HTTP client fed arbitrary server bytes: a server thread on 127.0.0.1 reads the request
// head, sends the input as the whole answer and closes. The client runs the upload's calls
// (send, end, status, read to the end) and must fail cleanly or deliver a bounded body.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <thread>

#include "FuzzSupport.h"
#include "platform/Internet.h"

namespace {

int Listener(std::uint16_t& port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::listen(fd, 8) != 0 || ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        std::abort();
    port = ntohs(address.sin_port);
    return fd;
}

// Reads up to the head's empty line (or 1 s without data), sends `answer`, closes.
void Serve(int listener, const std::uint8_t* answer, std::size_t size) {
    const int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) return;
    std::string head;
    char buffer[1024];
    while (head.find("\r\n\r\n") == std::string::npos) {
        pollfd ready{fd, POLLIN, 0};
        if (::poll(&ready, 1, 1000) <= 0) break;
        const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
        if (got <= 0) break;
        head.append(buffer, static_cast<std::size_t>(got));
    }
    std::size_t sent = 0;
    while (sent < size) {
        const ssize_t put = ::send(fd, answer + sent, size - sent, MSG_NOSIGNAL);
        if (put <= 0) break;
        sent += static_cast<std::size_t>(put);
    }
    ::shutdown(fd, SHUT_WR);
    ::close(fd);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static std::uint16_t port = 0;
    static const int listener = Listener(port);
    std::thread server(Serve, listener, data, size);

    const std::string address = "127.0.0.1:" + std::to_string(port);
    HINTERNET session = InternetOpenA("fuzz", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
    if (!session) std::abort();
    const std::uint32_t timeout = 2000;
    InternetSetOptionA(session, INTERNET_OPTION_RECEIVE_TIMEOUT, &timeout, sizeof timeout);
    InternetSetOptionA(session, INTERNET_OPTION_SEND_TIMEOUT, &timeout, sizeof timeout);
    HINTERNET connect = InternetConnectA(session, address.c_str(), 0, nullptr, nullptr,
                                         INTERNET_SERVICE_HTTP, 0, 0);
    HINTERNET request = connect ? HttpOpenRequestA(connect, "POST", "/pvp.php", nullptr, nullptr,
                                                   nullptr, INTERNET_FLAG_RELOAD, 0)
                                : nullptr;
    if (!request) std::abort();
    HttpAddRequestHeadersA(request, "Host: 127.0.0.1\r\nContent-Length: 0\r\n", 0xFFFFFFFF,
                           HTTP_ADDREQ_FLAG_ADD);
    if (HttpSendRequestExA(request, nullptr, nullptr, 0, 0) &&
        HttpEndRequestA(request, nullptr, 0, 0)) {
        std::uint32_t status = 0;
        std::uint32_t length = sizeof status;
        if (HttpQueryInfoA(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status,
                           &length, nullptr) &&
            status > 999)
            fuzz::Fail("a status code of more than three digits");
        // The text form is the same number, NUL-terminated, its length without the NUL.
        char text[2];
        length = sizeof text;
        const std::string expected = std::to_string(status);
        if (HttpQueryInfoA(request, HTTP_QUERY_STATUS_CODE, text, &length, nullptr) !=
            (expected.size() < sizeof text))
            fuzz::Fail("the status text's fit in a small buffer is wrong");
        char wide[16];
        length = sizeof wide;
        if (!HttpQueryInfoA(request, HTTP_QUERY_STATUS_CODE, wide, &length, nullptr) ||
            wide != expected || length != expected.size())
            fuzz::Fail("the status text differs from the number");
        // Read with changing sizes; a decoded body is bounded here, the layer must keep up.
        static char body[4096];
        std::uint64_t total = 0;
        for (std::uint32_t round = 0; total < (8u << 20); ++round) {
            const std::uint32_t want = round % 2 ? 4096 : 1 + round % 7;
            std::uint32_t got = 0;
            if (!InternetReadFile(request, body, want, &got)) break;
            if (got > want) fuzz::Fail("read more than asked");
            if (got == 0) break;
            total += got;
        }
    }
    InternetCloseHandle(session);
    server.join();
    return 0;
}
