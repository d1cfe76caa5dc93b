// Limits: body size, part count, slow clients, and requests the service does not read.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <optional>

#include "ConnectionStream.h"
#include "Harness.h"
#include "HttpLib.h"

namespace {

using namespace gptest;
using Clock = std::chrono::steady_clock;

std::string SmallOrder() {
    return BuildBody(OrderParts("ann@example.com", TwoPictures()));  // 8 parts
}

TEST(Limits, BodyAboveMaxBodyIs413AndStoresNothing) {
    TempDir temp;
    glimmer::ServiceConfig config = Config(temp.path());
    const std::string body = SmallOrder();
    config.max_body = body.size() - 1;
    RunningService service(config);

    // Announced by Content-Length: refused before the body is read, yet the client still gets
    // the answer.
    auto answer = PostOrder(service.port(), body);
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->status, 413);
    EXPECT_NE(answer->body.find("larger than"), std::string::npos);
    EXPECT_TRUE(NothingStored(temp.path()));

    // A huge announced length, with only a little sent.
    PostOptions huge;
    huge.content_length = "9000000000000";
    huge.send_only = 1000;
    answer = PostOrder(service.port(), body, huge);
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->status, 413);

    // Chunked, without a length: counted while it arrives.
    httplib::Client client("127.0.0.1", service.port());
    auto result = client.Post(
        "/pvp.php",
        [&](std::size_t offset, httplib::DataSink& sink) {
            if (offset < body.size()) {
                sink.write(body.data() + offset, std::min<std::size_t>(1000, body.size() - offset));
            } else {
                sink.done();
            }
            return true;
        },
        kFormType);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->status, 413);
    EXPECT_TRUE(NothingStored(temp.path()));
}

// A client still sending a large body when the service refuses it gets the 413 all the same.
TEST(Limits, ClientStillSendingGetsThe413) {
    TempDir temp;
    glimmer::ServiceConfig config = Config(temp.path());
    config.max_body = 1 << 20;
    RunningService service(config);
    const std::string body =
        BuildBody(OrderParts("ann@example.com", {{"big.jpg", "4x6", "1", JpegBytes(6 << 20, 5)}}));
    for (int attempt = 0; attempt < 3; ++attempt) {
        auto answer = PostOrder(service.port(), body);
        ASSERT_TRUE(answer) << "attempt " << attempt;
        EXPECT_EQ(answer->status, 413);
    }
    EXPECT_TRUE(NothingStored(temp.path()));
}

TEST(Limits, BodyOfExactlyMaxBodyIsTaken) {
    TempDir temp;
    glimmer::ServiceConfig config = Config(temp.path());
    const std::string body = SmallOrder();
    config.max_body = body.size();
    RunningService service(config);
    auto answer = PostOrder(service.port(), body);
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->status, 200) << answer->body;
}

TEST(Limits, ChunkedOrderWithinTheLimitIsTaken) {
    TempDir temp;
    RunningService service(Config(temp.path()));
    const std::string body = SmallOrder();
    httplib::Client client("127.0.0.1", service.port());
    auto result = client.Post(
        "/pvp.php",
        [&](std::size_t offset, httplib::DataSink& sink) {
            if (offset < body.size()) {
                sink.write(body.data() + offset, std::min<std::size_t>(777, body.size() - offset));
            } else {
                sink.done();
            }
            return true;
        },
        kFormType);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->status, 200) << result->body;
    EXPECT_EQ(CountRows(temp.path(), "pictures"), 2);
}

TEST(Limits, PartCount) {
    // The two-picture order has 2 + 2 * 2 + 2 = 8 parts.
    for (std::size_t max_parts : {7u, 8u}) {
        TempDir temp;
        glimmer::ServiceConfig config = Config(temp.path());
        config.max_parts = max_parts;
        RunningService service(config);
        auto answer = PostOrder(service.port(), SmallOrder());
        ASSERT_TRUE(answer);
        if (max_parts == 7) {
            EXPECT_EQ(answer->status, 413);
            EXPECT_NE(answer->body.find("too many parts"), std::string::npos);
            EXPECT_TRUE(NothingStored(temp.path()));
        } else {
            EXPECT_EQ(answer->status, 200) << answer->body;
        }
    }
}

int Connect(int port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    timeval timeout{15, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    return fd;
}

// Reads until the server closes; returns what came.
std::string ReadToClose(int fd) {
    std::string got;
    char buffer[4096];
    for (ssize_t n; (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0;) {
        got.append(buffer, static_cast<std::size_t>(n));
    }
    return got;
}

// A client that sends its head a byte at a time, slower than the head time-out allows in
// total, is cut off even though no single wait is longer than the read time-out.
TEST(Limits, SlowHeadIsCutOff) {
    TempDir temp;
    glimmer::ServiceConfig config = Config(temp.path());
    config.read_timeout = std::chrono::milliseconds(1000);
    RunningService service(config);
    int fd = Connect(service.port());
    const std::string head =
        "GET /glimmerprints.php?username=a&password=b HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    const auto start = Clock::now();
    std::optional<Clock::duration> closed_after;
    std::string answer;
    // One byte every 300 ms, watching for the server to hang up.
    for (std::size_t i = 0; i < head.size() && !closed_after; ++i) {
        ::send(fd, &head[i], 1, MSG_NOSIGNAL);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        char buffer[512];
        ssize_t got = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (got > 0) answer.append(buffer, static_cast<std::size_t>(got));
        if (got == 0 || (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK)) {
            closed_after = Clock::now() - start;
        }
    }
    ::close(fd);
    ASSERT_TRUE(closed_after) << "still open after the whole head";
    EXPECT_LT(*closed_after, std::chrono::milliseconds(2500));
    EXPECT_EQ(answer, "");
}

// A client that stops in the middle of its body is dropped after the read time-out, and
// nothing of the order stays.
TEST(Limits, StalledBodyTimesOut) {
    TempDir temp;
    glimmer::ServiceConfig config = Config(temp.path());
    config.read_timeout = std::chrono::milliseconds(500);
    RunningService service(config);
    const std::string body = SmallOrder();
    int fd = Connect(service.port());
    std::string head = "POST /pvp.php HTTP/1.1\r\nHost: x\r\nContent-Type: " + kFormType +
                       "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n";
    std::string partial = head + body.substr(0, body.size() / 2);
    ASSERT_EQ(::send(fd, partial.data(), partial.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(partial.size()));
    const auto start = Clock::now();
    const std::string answer = ReadToClose(fd);  // the connection stays open on our side
    const auto waited = Clock::now() - start;
    ::close(fd);
    EXPECT_GE(waited, std::chrono::milliseconds(400));
    EXPECT_LT(waited, std::chrono::seconds(5));
    EXPECT_NE(answer.find(" 400 "), std::string::npos) << answer;
    EXPECT_TRUE(NothingStored(temp.path()));
}

// Sends `head` (announcing a huge body, sending 3 bytes of it) and expects a 404 at once:
// the service answers without waiting for the body.
void ExpectRefusedUnread(const RunningService& service, const std::string& request,
                         const std::string& head) {
    int fd = Connect(service.port());
    ::send(fd, head.data(), head.size(), MSG_NOSIGNAL);
    const auto start = Clock::now();
    const std::string answer = ReadToClose(fd);
    ::close(fd);
    EXPECT_NE(answer.find(" 404 "), std::string::npos) << request << ": " << answer;
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(3)) << request;
}

// Bodies sent anywhere but /pvp.php are not read at all (the library would read them into
// memory), whatever length they announce.
TEST(Limits, BodiesElsewhereAreNotRead) {
    TempDir temp;
    RunningService service(Config(temp.path()));
    for (const char* request :
         {"POST /glimmerprints.php", "PUT /pvp.php", "PATCH /x", "DELETE /picture"}) {
        ExpectRefusedUnread(service, request,
                            std::string(request) +
                                " HTTP/1.1\r\nHost: x\r\nContent-Type: application/octet-stream\r\n"
                                "Content-Length: 100000000000\r\n\r\nabc");
    }
}

// cpp-httplib reads a body sent with PRI (a method it accepts) into memory before routing;
// the service refuses such requests unread.
TEST(Limits, BodiesOfOtherMethodsAreNotRead) {
    TempDir temp;
    RunningService service(Config(temp.path()));
    for (const char* request : {"PRI /pvp.php", "PRI /glimmerprints.php", "OPTIONS /pvp.php"}) {
        ExpectRefusedUnread(service, request,
                            std::string(request) +
                                " HTTP/1.1\r\nHost: x\r\nContent-Length: 1000000000\r\n\r\nabc");
    }
}

// The request line and header lines together are bounded in size: cpp-httplib would keep a
// line of any length and any number of lines in memory.
TEST(Limits, HeadIsBoundedInSize) {
    TempDir temp;
    RunningService service(Config(temp.path()));
    const std::string start = "GET /glimmerprints.php?username=a&password=b HTTP/1.1\r\n";
    // A head of exactly `size` bytes in header lines of at most 100 bytes (cpp-httplib takes
    // lines up to 8 KiB).
    auto head_of = [&](std::size_t size) {
        std::string head = start;
        auto line = [&](std::size_t bytes) {
            head += "X: " + std::string(bytes - 5, 'a') + "\r\n";
        };
        while (size - 2 - head.size() > 106) line(100);
        line(size - 2 - head.size());
        return head + "\r\n";
    };
    struct Case {
        const char* what;
        std::string head;
        bool served;
    } const kCases[] = {
        {"head at the limit", head_of(glimmer::kMaxHeadBytes), true},
        {"head one byte over the limit", head_of(glimmer::kMaxHeadBytes + 1), false},
        {"one long header line",
         start + "X: " + std::string(glimmer::kMaxHeadBytes, 'a') + "\r\n\r\n", false},
        {"many short header lines",
         [&] {
             std::string head = start;
             while (head.size() <= 4 * glimmer::kMaxHeadBytes) head += "X: y\r\n";
             return head + "\r\n";
         }(),
         false},
        {"long request target",
         "GET /glimmerprints.php?" + std::string(glimmer::kMaxHeadBytes, 'a') + " HTTP/1.1\r\n\r\n",
         false},
    };
    for (const Case& c : kCases) {
        int fd = Connect(service.port());
        ::send(fd, c.head.data(), c.head.size(), MSG_NOSIGNAL);
        const std::string answer = ReadToClose(fd);
        ::close(fd);
        // Served: the account page's refusal of the made-up credentials.
        EXPECT_EQ(answer.find(" 403 ") != std::string::npos, c.served)
            << c.what << " (" << c.head.size() << " bytes): " << answer.substr(0, 40);
    }
}

TEST(Limits, OneRequestPerConnection) {
    TempDir temp;
    RunningService service(Config(temp.path()));
    auto answer = PostOrder(service.port(), SmallOrder());  // the tool asks for Keep-Alive
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->status, 200);
    EXPECT_EQ(answer->headers["connection"], "close");
}

}  // namespace
