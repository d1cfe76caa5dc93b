// The HTTP layer against a scripted server on 127.0.0.1: the bytes on the wire, the status
// callbacks, answer decoding and every network failure with its last-error number.

#include "platform/Internet.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <chrono>
#include <cstring>
#include <functional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "support/RawHttpServer.h"

namespace {

using CConnection = CRawHttpServer::CConnection;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr uint32_t kShortTimeoutMs = 300;

// ---------------------------------------------------------------------------------------
// Status callback recording.

struct StatusEvent {
    char tag;  // which callback saw it
    HINTERNET handle;
    uintptr_t context;
    uint32_t status;
    std::string text;           // 10, 11, 20, 21
    uint32_t number = 0;        // 31, 41
    HINTERNET about = nullptr;  // 60, 70

    bool operator==(const StatusEvent&) const = default;
};

std::vector<StatusEvent> g_events;

void Record(char tag, HINTERNET h, uintptr_t context, uint32_t status, void* info,
            uint32_t length) {
    StatusEvent e{tag, h, context, status, {}, 0, nullptr};
    switch (status) {
        case INTERNET_STATUS_RESOLVING_NAME:
        case INTERNET_STATUS_NAME_RESOLVED:
        case INTERNET_STATUS_CONNECTING_TO_SERVER:
        case INTERNET_STATUS_CONNECTED_TO_SERVER:
            EXPECT_EQ(length, std::strlen(static_cast<const char*>(info)) + 1);
            e.text = static_cast<const char*>(info);
            break;
        case INTERNET_STATUS_REQUEST_SENT:
        case INTERNET_STATUS_RESPONSE_RECEIVED:
            EXPECT_EQ(length, sizeof(uint32_t));
            std::memcpy(&e.number, info, sizeof e.number);
            break;
        case INTERNET_STATUS_HANDLE_CREATED:
        case INTERNET_STATUS_HANDLE_CLOSING:
            EXPECT_EQ(length, sizeof(HINTERNET));
            std::memcpy(&e.about, info, sizeof e.about);
            break;
        default:
            EXPECT_EQ(info, nullptr);
            EXPECT_EQ(length, 0u);
    }
    g_events.push_back(e);
}

void RecordA(HINTERNET h, uintptr_t context, uint32_t status, void* info, uint32_t length) {
    Record('A', h, context, status, info, length);
}

void RecordB(HINTERNET h, uintptr_t context, uint32_t status, void* info, uint32_t length) {
    Record('B', h, context, status, info, length);
}

std::vector<uint32_t> Statuses(const std::vector<StatusEvent>& events) {
    std::vector<uint32_t> result;
    for (const auto& e : events) result.push_back(e.status);
    return result;
}

// ---------------------------------------------------------------------------------------
// Bytes and answers.

// Bytes of every value, CR, LF and NUL included, in a fixed pseudo-random order.
std::string MakeBytes(std::size_t size, uint32_t seed = 1) {
    std::string bytes(size, '\0');
    for (auto& c : bytes) {
        seed = seed * 1664525u + 1013904223u;
        c = static_cast<char>(seed >> 24);
    }
    return bytes;
}

// Text that compresses well but not to nothing.
std::string MakeText(std::size_t size) {
    std::string text;
    for (std::size_t i = 0; text.size() < size; ++i)
        text += "line " + std::to_string(i * 7919 % 100003) + " of the answer\r\n";
    text.resize(size);
    return text;
}

std::string Answer(std::string_view body, std::string_view extraHeaders = "",
                   std::string_view statusLine = "HTTP/1.1 200 OK") {
    return std::string(statusLine) + "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n" +
           std::string(extraHeaders) + "\r\n" + std::string(body);
}

std::string Hex(std::size_t value) {
    char text[20];
    const auto end = std::to_chars(text, text + sizeof text, value, 16).ptr;
    return std::string(text, end);
}

std::string Chunks(std::string_view body, std::size_t chunk) {
    std::string out;
    for (std::size_t at = 0; at < body.size(); at += chunk) {
        const auto piece = body.substr(at, chunk);
        out += Hex(piece.size()) + "\r\n" + std::string(piece) + "\r\n";
    }
    return out + "0\r\n\r\n";
}

std::string ChunkedAnswer(std::string_view body, std::size_t chunk,
                          std::string_view extraHeaders = "") {
    return "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n" + std::string(extraHeaders) +
           "\r\n" + Chunks(body, chunk);
}

// windowBits as for deflateInit2: 15 + 16 gzip, 15 zlib, -15 raw deflate.
std::string Compress(std::string_view data, int windowBits) {
    z_stream z{};
    EXPECT_EQ(deflateInit2(&z, Z_BEST_COMPRESSION, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY),
              Z_OK);
    std::string out(deflateBound(&z, static_cast<uLong>(data.size())) + 32, '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

std::string Gzip(std::string_view data) {
    return Compress(data, 15 + 16);
}

// ---------------------------------------------------------------------------------------
// Client side.

// A session with short time-outs, one connection and one POST request. The session is
// closed at the end, which also releases the connection and the request.
struct CClient {
    explicit CClient(const std::string& server, uintptr_t connectContext = 0,
                     uintptr_t requestContext = 0, uint16_t port = 0) {
        session = InternetOpenA("Pictorvale", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
        EXPECT_NE(session, nullptr);
        for (uint32_t option : {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT,
                                INTERNET_OPTION_RECEIVE_TIMEOUT})
            EXPECT_TRUE(
                InternetSetOptionA(session, option, &kShortTimeoutMs, sizeof kShortTimeoutMs));
        EXPECT_EQ(InternetSetStatusCallback(session, RecordA), nullptr);
        connect = InternetConnectA(session, server.c_str(), port, nullptr, nullptr,
                                   INTERNET_SERVICE_HTTP, 0, connectContext);
        EXPECT_NE(connect, nullptr);
        request =
            HttpOpenRequestA(connect, "POST", "/pvp.php", nullptr, nullptr, nullptr,
                             INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, requestContext);
        EXPECT_NE(request, nullptr);
    }
    ~CClient() {
        if (session != nullptr) InternetCloseHandle(session);
    }
    CClient(const CClient&) = delete;
    CClient& operator=(const CClient&) = delete;

    void AddHeaders(const std::vector<std::string>& lines) const {
        for (const auto& line : lines)
            EXPECT_TRUE(HttpAddRequestHeadersA(
                request, line.c_str(), static_cast<uint32_t>(line.size()), HTTP_ADDREQ_FLAG_ADD))
                << line;
    }

    bool SendRequest(uint64_t total) const {
        INTERNET_BUFFERSA buffers{};
        buffers.dwStructSize = sizeof buffers;
        buffers.dwBufferTotal = total;
        return HttpSendRequestExA(request, &buffers, nullptr, 0, 0);
    }

    // Writes the body in blocks of `block` bytes the way a file is copied: the loop ends with
    // the first short block, so a size that is a multiple of the block ends with 0 bytes.
    bool WriteBody(std::string_view body, std::size_t block) const {
        std::size_t at = 0;
        for (;;) {
            const std::size_t n = std::min(block, body.size() - at);
            uint32_t written = 12345;
            if (!InternetWriteFile(request, body.data() + at, static_cast<uint32_t>(n), &written))
                return false;
            EXPECT_EQ(written, n);
            at += n;
            if (n != block) return true;
        }
    }

    // The standard upload up to the answer's head.
    bool Upload(std::string_view body, std::size_t block = 1460) const {
        AddHeaders(UploadHeaders(body.size()));
        return SendRequest(body.size()) && WriteBody(body, block) &&
               HttpEndRequestA(request, nullptr, 0, 0);
    }

    static std::vector<std::string> UploadHeaders(std::size_t size) {
        return {"Accept: */*",
                "Content-Type: multipart/form-data; boundary=---------------------------7d41",
                "Accept-Encoding: gzip, deflate",
                "Host: 127.0.0.1",
                "Content-Length: " + std::to_string(size),
                "Connection: Keep-Alive"};
    }

    // Reads the body to its end in pieces of `piece`; records each count.
    std::string ReadAll(uint32_t piece, std::vector<uint32_t>* counts = nullptr) const {
        std::string body;
        std::string buffer(piece, '\0');
        for (;;) {
            uint32_t read = 12345;
            if (!InternetReadFile(request, buffer.data(), piece, &read)) {
                ADD_FAILURE() << "InternetReadFile failed with " << GetLastError();
                return body;
            }
            if (counts != nullptr) counts->push_back(read);
            body.append(buffer, 0, read);
            if (read == 0) return body;
        }
    }

    HINTERNET session = nullptr;
    HINTERNET connect = nullptr;
    HINTERNET request = nullptr;
};

std::string UploadHead(std::size_t size) {
    std::string head = "POST /pvp.php HTTP/1.1\r\n";
    for (const auto& line : CClient::UploadHeaders(size)) head += line + "\r\n";
    return head + "\r\n";
}

// Counts a read of `size` bytes in pieces of `piece` gives: full pieces, the rest, then 0.
std::vector<uint32_t> PieceCounts(std::size_t size, uint32_t piece) {
    std::vector<uint32_t> counts(size / piece, piece);
    if (size % piece != 0) counts.push_back(static_cast<uint32_t>(size % piece));
    counts.push_back(0);
    return counts;
}

// Reads the request, sends `answer` and keeps the connection open until the client closes.
CRawHttpServer::Script Answering(std::string answer) {
    return [answer](CConnection& c) {
        if (c.ReadRequest() && c.Send(answer)) c.WaitForPeerClose();
    };
}

// A port on 127.0.0.1 where nothing listens (bound once, then released).
uint16_t ClosedPort() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    EXPECT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    EXPECT_EQ(getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length), 0);
    close(fd);
    return ntohs(address.sin_port);
}

// A listener on 127.0.0.1 whose accept queue is full: it never accepts, its queue of one is
// taken by a first connection, so the kernel drops further connection attempts unanswered.
class CFullListener {
public:
    CFullListener() {
        m_listen = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        EXPECT_EQ(bind(m_listen, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        EXPECT_EQ(listen(m_listen, 0), 0);
        EXPECT_EQ(getsockname(m_listen, reinterpret_cast<sockaddr*>(&address), &length), 0);
        m_port = ntohs(address.sin_port);
        m_filler = socket(AF_INET, SOCK_STREAM, 0);
        EXPECT_EQ(connect(m_filler, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    }
    ~CFullListener() {
        close(m_filler);
        close(m_listen);
    }
    CFullListener(const CFullListener&) = delete;
    CFullListener& operator=(const CFullListener&) = delete;
    uint16_t Port() const { return m_port; }

private:
    int m_listen = -1;
    int m_filler = -1;
    uint16_t m_port = 0;
};

long long MillisecondsSince(Clock::time_point start) {
    return std::chrono::duration_cast<milliseconds>(Clock::now() - start).count();
}

class InternetTest : public ::testing::Test {
protected:
    void SetUp() override { g_events.clear(); }
};

// ---------------------------------------------------------------------------------------
// The request on the wire.

struct BodyCase {
    const char* name;
    std::size_t size;
    std::size_t block;  // bytes per InternetWriteFile
};

class RequestBytesTest : public ::testing::TestWithParam<BodyCase> {};

TEST_P(RequestBytesTest, ServerReceivesRequestLineAddedHeadersAndBodyExactly) {
    const BodyCase& c = GetParam();
    CRawHttpServer server(Answering(Answer("ok")));
    CClient client(server.HostAndPort());
    const std::string body = MakeBytes(c.size);

    ASSERT_TRUE(client.Upload(body, c.block)) << GetLastError();
    EXPECT_EQ(client.ReadAll(499), "ok");

    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].size(), UploadHead(c.size).size() + c.size);
    EXPECT_TRUE(requests[0] == UploadHead(c.size) + body)
        << "head as received:\n"
        << requests[0].substr(0, UploadHead(c.size).size());
}

INSTANTIATE_TEST_SUITE_P(Bodies, RequestBytesTest,
                         ::testing::Values(BodyCase{"Empty", 0, 1460}, BodyCase{"OneByte", 1, 1460},
                                           BodyCase{"OneBlock", 1460, 1460},
                                           BodyCase{"BlockAndOne", 1461, 1460},
                                           BodyCase{"TwoBlocksAndEmptyWrite", 2920, 1460},
                                           BodyCase{"ManyBlocksPastTheGatherBuffer", 200000, 1460},
                                           BodyCase{"OneLargeWrite", 3000001, 3000001},
                                           BodyCase{"WritesAcrossBufferEdges", 700000, 65535}),
                         [](const auto& test) { return std::string(test.param.name); });

TEST_F(InternetTest, OpenRequestDefaultsReferrerAcceptTypesAndSendBuffers) {
    struct Case {
        const char* verb;
        const char* object;
        const char* version;
        const char* referrer;
        std::vector<const char*> acceptTypes;  // without the closing null
        const char* sendHeaders;               // header text of INTERNET_BUFFERSA
        std::string firstBody;                 // buffer of INTERNET_BUFFERSA
        std::string expected;
    };
    const std::vector<Case> cases = {
        {nullptr, nullptr, nullptr, nullptr, {}, nullptr, "", "GET / HTTP/1.1\r\n\r\n"},
        {"PUT", "", "HTTP/1.0", nullptr, {}, nullptr, "", "PUT / HTTP/1.0\r\n\r\n"},
        {"POST",
         "/a?b=c",
         nullptr,
         "http://x/y",
         {"text/plain", "*/*"},
         "X-One: 1\r\nContent-Length: 9\r\n",
         "first",
         "POST /a?b=c HTTP/1.1\r\nReferer: http://x/y\r\nAccept: text/plain, */*\r\n"
         "X-Added: yes\r\nX-One: 1\r\nContent-Length: 9\r\n\r\nfirst-and"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expected);
        CRawHttpServer server(Answering(Answer("")));
        HINTERNET session =
            InternetOpenA("agent", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
        HINTERNET connect = InternetConnectA(session, server.HostAndPort().c_str(), 0, nullptr,
                                             nullptr, INTERNET_SERVICE_HTTP, 0, 0);
        std::vector<const char*> types = c.acceptTypes;
        types.push_back(nullptr);
        HINTERNET request = HttpOpenRequestA(connect, c.verb, c.object, c.version, c.referrer,
                                             c.acceptTypes.empty() ? nullptr : types.data(), 0, 0);
        ASSERT_NE(request, nullptr);
        INTERNET_BUFFERSA buffers{};
        std::string first = c.firstBody;
        if (c.sendHeaders != nullptr) {
            ASSERT_TRUE(HttpAddRequestHeadersA(request, "X-Added: yes", UINT32_MAX, 0));
            buffers.lpcszHeader = c.sendHeaders;
            buffers.dwHeadersLength = UINT32_MAX;
            buffers.lpvBuffer = first.data();
            buffers.dwBufferLength = static_cast<uint32_t>(first.size());
        }
        ASSERT_TRUE(HttpSendRequestExA(request, &buffers, nullptr, 0, 0)) << GetLastError();
        if (c.sendHeaders != nullptr) {
            uint32_t written = 0;
            ASSERT_TRUE(InternetWriteFile(request, "-and", 4, &written));
        }
        ASSERT_TRUE(HttpEndRequestA(request, nullptr, 0, 0)) << GetLastError();
        ASSERT_TRUE(InternetCloseHandle(session));
        const auto requests = server.Requests();
        ASSERT_EQ(requests.size(), 1u);
        EXPECT_EQ(requests[0], c.expected);
    }
}

TEST_F(InternetTest, HeaderLinesAreCheckedAndOnlyGoodOnesAreSent) {
    struct Case {
        std::string text;
        uint32_t length;  // UINT32_MAX: NUL-terminated
        uint32_t modifiers;
        bool accepted;
    };
    const std::vector<Case> cases = {
        {"X-A: 1", UINT32_MAX, HTTP_ADDREQ_FLAG_ADD, true},
        {"X-B: 2\r\nX-C: 3\r\n", UINT32_MAX, HTTP_ADDREQ_FLAG_ADD, true},
        {"X-D: 4\nX-E:5", UINT32_MAX, 0, true},
        {"X-F: 6 and the rest is cut", 6, HTTP_ADDREQ_FLAG_ADD, true},
        {"X-Tab:\tvalue", UINT32_MAX, HTTP_ADDREQ_FLAG_ADD, true},
        {"NoColon", UINT32_MAX, HTTP_ADDREQ_FLAG_ADD, false},
        {": no name", UINT32_MAX, HTTP_ADDREQ_FLAG_ADD, false},
        {"Bad Name: x", UINT32_MAX, HTTP_ADDREQ_FLAG_ADD, false},
        {"X-Split: a\rInjected: b", UINT32_MAX, HTTP_ADDREQ_FLAG_ADD, false},
        {std::string("X-Nul: a\0b", 10), 10, HTTP_ADDREQ_FLAG_ADD, false},
        {"X-Good: 1\r\nbroken", UINT32_MAX, HTTP_ADDREQ_FLAG_ADD, false},
        {"X-Replace: 1", UINT32_MAX, 0x80000000u, false},
    };
    CRawHttpServer server(Answering(Answer("")));
    CClient client(server.HostAndPort());
    for (const auto& c : cases) {
        SetLastError(0);
        EXPECT_EQ(HttpAddRequestHeadersA(client.request, c.text.c_str(), c.length, c.modifiers),
                  c.accepted)
            << c.text;
        if (!c.accepted) {
            EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER) << c.text;
        }
    }
    EXPECT_FALSE(HttpAddRequestHeadersA(client.request, nullptr, 0, HTTP_ADDREQ_FLAG_ADD));
    ASSERT_TRUE(client.SendRequest(0));
    ASSERT_TRUE(HttpEndRequestA(client.request, nullptr, 0, 0));
    ASSERT_EQ(server.Requests().size(), 1u);
    EXPECT_EQ(server.Requests()[0],
              "POST /pvp.php HTTP/1.1\r\nX-A: 1\r\nX-B: 2\r\nX-C: 3\r\nX-D: 4\r\nX-E:5\r\n"
              "X-F: 6\r\nX-Tab:\tvalue\r\n\r\n");
}

TEST_F(InternetTest, SendingAgainOnTheSameRequestStartsOverOnANewConnection) {
    CRawHttpServer server(Answering(Answer("one")));
    CClient client(server.HostAndPort());
    ASSERT_TRUE(client.Upload("first body"));
    EXPECT_EQ(client.ReadAll(100), "one");
    ASSERT_TRUE(client.SendRequest(10));
    ASSERT_TRUE(client.WriteBody("2nd body!!", 1460));
    ASSERT_TRUE(HttpEndRequestA(client.request, nullptr, 0, 0)) << GetLastError();
    EXPECT_EQ(client.ReadAll(100), "one");
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(server.Connections(), 2);
    EXPECT_EQ(requests[0], UploadHead(10) + "first body");
    // The added header lines stay with the request and go out again.
    EXPECT_EQ(requests[1], UploadHead(10) + "2nd body!!");
}

// ---------------------------------------------------------------------------------------
// Status callbacks.

struct ContextCase {
    uintptr_t connectContext;
    uintptr_t requestContext;
};

class StatusCallbackTest : public ::testing::TestWithParam<ContextCase> {
protected:
    void SetUp() override { g_events.clear(); }
};

TEST_P(StatusCallbackTest, ReportsEachStepForHandlesWithAContextOnly) {
    const ContextCase& c = GetParam();
    static std::atomic<bool> bodyMaySend;
    bodyMaySend = false;
    CRawHttpServer server([](CConnection& conn) {
        // The body follows only once the client has read the head, so that the body's
        // arrival is a receive of its own.
        if (conn.ReadRequest() && conn.Send("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\n") &&
            conn.WaitFor(bodyMaySend) && conn.Send("0123456789"))
            conn.WaitForPeerClose();
    });
    const std::string body = MakeBytes(2920);
    constexpr uint32_t kAnswerHeadSize = 39;  // the answer's head, sent on its own
    std::vector<StatusEvent> expected;
    HINTERNET connect = nullptr;
    HINTERNET request = nullptr;
    {
        CClient client(server.HostAndPort(), c.connectContext, c.requestContext);
        connect = client.connect;
        request = client.request;
        client.AddHeaders(CClient::UploadHeaders(body.size()));
        ASSERT_TRUE(client.SendRequest(body.size())) << GetLastError();
        ASSERT_TRUE(client.WriteBody(body, 1460));
        ASSERT_TRUE(HttpEndRequestA(client.request, nullptr, 0, 0)) << GetLastError();
        bodyMaySend = true;
        char answer[500];
        uint32_t read = 0;
        ASSERT_TRUE(InternetReadFile(client.request, answer, 499, &read));
        EXPECT_EQ(std::string(answer, read), "0123456789");
        ASSERT_TRUE(InternetReadFile(client.request, answer, 499, &read));
        EXPECT_EQ(read, 0u);
        ASSERT_TRUE(InternetCloseHandle(client.connect));
        ASSERT_TRUE(InternetCloseHandle(client.session));
        client.session = nullptr;
    }
    const std::string address = server.HostAndPort();
    const uint32_t headSize = static_cast<uint32_t>(UploadHead(body.size()).size());
    auto add = [&](HINTERNET h, uintptr_t context, uint32_t status, std::string text = {},
                   uint32_t number = 0, HINTERNET about = nullptr) {
        if (context != 0)
            expected.push_back({'A', h, context, status, std::move(text), number, about});
    };
    const uintptr_t cc = c.connectContext;
    const uintptr_t rc = c.requestContext;
    add(connect, cc, INTERNET_STATUS_HANDLE_CREATED, {}, 0, connect);
    add(request, rc, INTERNET_STATUS_HANDLE_CREATED, {}, 0, request);
    add(request, rc, INTERNET_STATUS_RESOLVING_NAME, "127.0.0.1");
    add(request, rc, INTERNET_STATUS_NAME_RESOLVED, "127.0.0.1");
    add(request, rc, INTERNET_STATUS_CONNECTING_TO_SERVER, address);
    add(request, rc, INTERNET_STATUS_CONNECTED_TO_SERVER, address);
    add(request, rc, INTERNET_STATUS_SENDING_REQUEST);
    add(request, rc, INTERNET_STATUS_REQUEST_SENT, {}, headSize);
    for (uint32_t block : {1460u, 1460u, 0u}) {
        add(request, rc, INTERNET_STATUS_SENDING_REQUEST);
        add(request, rc, INTERNET_STATUS_REQUEST_SENT, {}, block);
    }
    add(request, rc, INTERNET_STATUS_RECEIVING_RESPONSE);
    add(request, rc, INTERNET_STATUS_RESPONSE_RECEIVED, {}, kAnswerHeadSize);
    add(request, rc, INTERNET_STATUS_RECEIVING_RESPONSE);
    add(request, rc, INTERNET_STATUS_RESPONSE_RECEIVED, {}, 10);
    add(request, rc, INTERNET_STATUS_HANDLE_CLOSING, {}, 0, request);
    add(connect, cc, INTERNET_STATUS_CLOSING_CONNECTION);
    add(connect, cc, INTERNET_STATUS_CONNECTION_CLOSED);
    add(connect, cc, INTERNET_STATUS_HANDLE_CLOSING, {}, 0, connect);

    ASSERT_EQ(Statuses(g_events), Statuses(expected));
    for (std::size_t i = 0; i < expected.size(); ++i)
        EXPECT_EQ(g_events[i], expected[i]) << "event " << i << ", status " << expected[i].status;
}

INSTANTIATE_TEST_SUITE_P(Contexts, StatusCallbackTest,
                         ::testing::Values(ContextCase{0x5eed, 0x5eed}, ContextCase{0, 0},
                                           ContextCase{7, 0}, ContextCase{0, 9}));

TEST_F(InternetTest, CallbackIsTakenFromTheParentWhenAHandleIsCreated) {
    CRawHttpServer server(Answering(Answer("")));
    HINTERNET session = InternetOpenA("agent", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
    ASSERT_NE(session, nullptr);
    EXPECT_EQ(InternetSetStatusCallback(session, RecordA), nullptr);
    EXPECT_EQ(InternetSetStatusCallback(session, RecordA), RecordA);
    HINTERNET connect = InternetConnectA(session, server.HostAndPort().c_str(), 0, nullptr, nullptr,
                                         INTERNET_SERVICE_HTTP, 0, 1);
    EXPECT_EQ(InternetSetStatusCallback(connect, RecordB), RecordA);
    HINTERNET request = HttpOpenRequestA(connect, "POST", "/", nullptr, nullptr, nullptr, 0, 2);
    // Removing the session's callback later changes nothing for handles made before.
    EXPECT_EQ(InternetSetStatusCallback(session, nullptr), RecordA);
    ASSERT_TRUE(InternetCloseHandle(session));

    const std::vector<StatusEvent> expected = {
        {'A', connect, 1, INTERNET_STATUS_HANDLE_CREATED, {}, 0, connect},
        {'B', request, 2, INTERNET_STATUS_HANDLE_CREATED, {}, 0, request},
        {'B', request, 2, INTERNET_STATUS_HANDLE_CLOSING, {}, 0, request},
        {'B', connect, 1, INTERNET_STATUS_CLOSING_CONNECTION, {}, 0, nullptr},
        {'B', connect, 1, INTERNET_STATUS_CONNECTION_CLOSED, {}, 0, nullptr},
        {'B', connect, 1, INTERNET_STATUS_HANDLE_CLOSING, {}, 0, connect},
    };
    EXPECT_EQ(g_events, expected);
}

// ---------------------------------------------------------------------------------------
// Answers.

struct AnswerCase {
    const char* name;
    std::string answer;    // bytes the server sends
    bool closeAfter;       // the server closes after the answer
    std::string expected;  // decoded body
};

std::vector<AnswerCase> AnswerCases() {
    const std::string b499 = MakeBytes(499, 4);
    const std::string b600 = MakeBytes(600, 6);
    const std::string text = MakeText(20000);
    return {
        {"Empty", Answer(""), false, ""},
        {"Exactly499", Answer(b499), false, b499},
        {"Bytes600", Answer(b600), false, b600},
        {"ChunkedInSmallChunks", ChunkedAnswer(b600, 7), false, b600},
        {"ChunkedWithExtensionsAndTrailer",
         "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3;name=value\r\nabc\r\n"
         "2\r\nde\r\n0\r\nX-Trailer: t\r\n\r\n",
         false, "abcde"},
        {"UntilClose", "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\n" + b600, true, b600},
        {"UntilCloseEmpty", "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n", true, ""},
        {"NoContent", "HTTP/1.1 204 No Content\r\n\r\n", false, ""},
        {"InterimContinueSkipped",
         "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 102 Processing\r\n\r\n" + Answer("after"), false,
         "after"},
        {"ErrorStatusBodyDelivered", Answer("oops", "", "HTTP/1.1 500 Internal Server Error"),
         false, "oops"},
        {"Gzip", Answer(Gzip(text), "Content-Encoding: gzip\r\n"), false, text},
        {"XGzipAnyCase", Answer(Gzip(b600), "Content-Encoding:  X-GZip \r\n"), false, b600},
        {"GzipChunkedByteByByte", ChunkedAnswer(Gzip(text), 1, "Content-Encoding: gzip\r\n"), false,
         text},
        {"GzipTwoMembers",
         Answer(Gzip("first member, ") + Gzip("second member"), "Content-Encoding: gzip\r\n"),
         false, "first member, second member"},
        {"GzipEmptyBody", Answer("", "Content-Encoding: gzip\r\n"), false, ""},
        {"GzipUntilClose",
         "HTTP/1.1 200 OK\r\nContent-Encoding: gzip\r\nConnection: close\r\n\r\n" + Gzip(text),
         true, text},
        {"DeflateZlib", Answer(Compress(text, 15), "Content-Encoding: deflate\r\n"), false, text},
        {"DeflateRaw", Answer(Compress(text, -15), "Content-Encoding: deflate\r\n"), false, text},
        {"DeflateRawChunkedByteByByte",
         ChunkedAnswer(Compress(b600, -15), 1, "Content-Encoding: deflate\r\n"), false, b600},
        {"UnrequestedCodingPassedThrough", Answer("\x01\x02raw", "Content-Encoding: br\r\n"), false,
         "\x01\x02raw"},
        {"IdentityCoding", Answer("plain", "Content-Encoding: identity\r\n"), false, "plain"},
    };
}

class AnswerTest : public ::testing::TestWithParam<AnswerCase> {};

TEST_P(AnswerTest, BodyIsDeliveredDecodedInWholePieces) {
    const AnswerCase& c = GetParam();
    for (uint32_t piece : {499u, 1u, 7u, 65536u}) {
        SCOPED_TRACE("pieces of " + std::to_string(piece));
        CRawHttpServer server([&c](CConnection& conn) {
            if (!conn.ReadRequest() || !conn.Send(c.answer)) return;
            if (c.closeAfter)
                conn.Close();
            else
                conn.WaitForPeerClose();
        });
        CClient client(server.HostAndPort());
        ASSERT_TRUE(client.Upload("body")) << GetLastError();
        std::vector<uint32_t> counts;
        const std::string body = client.ReadAll(piece, &counts);
        EXPECT_TRUE(body == c.expected)
            << "got " << body.size() << " bytes, expected " << c.expected.size();
        EXPECT_EQ(counts, PieceCounts(c.expected.size(), piece));
        // After the end every read gives 0 again.
        char byte;
        uint32_t read = 1;
        EXPECT_TRUE(InternetReadFile(client.request, &byte, 1, &read));
        EXPECT_EQ(read, 0u);
    }
}

INSTANTIATE_TEST_SUITE_P(Answers, AnswerTest, ::testing::ValuesIn(AnswerCases()),
                         [](const auto& test) { return std::string(test.param.name); });

TEST_F(InternetTest, ReadOfZeroBytesTakesNothing) {
    CRawHttpServer server(Answering(Answer("abc")));
    CClient client(server.HostAndPort());
    ASSERT_TRUE(client.Upload(""));
    uint32_t read = 5;
    EXPECT_TRUE(InternetReadFile(client.request, nullptr, 0, &read));
    EXPECT_EQ(read, 0u);
    EXPECT_EQ(client.ReadAll(499), "abc");
}

TEST_F(InternetTest, SlowAnswerFillsTheReadWithEachWaitBoundedOnItsOwn) {
    // 70 bytes, one every 10 ms: the whole answer takes longer than one receive time-out,
    // yet no single wait does.
    const std::string answer = Answer("abcdefghijklmnopqrstuvwxyz0123");
    CRawHttpServer server([&answer](CConnection& conn) {
        if (conn.ReadRequest() && conn.SendSlowly(answer, milliseconds(10)))
            conn.WaitForPeerClose();
    });
    CClient client(server.HostAndPort(), 0, 1);
    const auto start = Clock::now();
    ASSERT_TRUE(client.Upload("x")) << GetLastError();
    g_events.clear();
    char buffer[500];
    uint32_t read = 0;
    ASSERT_TRUE(InternetReadFile(client.request, buffer, 499, &read)) << GetLastError();
    EXPECT_EQ(std::string(buffer, read), "abcdefghijklmnopqrstuvwxyz0123");
    EXPECT_GT(MillisecondsSince(start), static_cast<long long>(kShortTimeoutMs));
    // Each receive from the network is reported, and the bytes they report add up.
    uint32_t received = 0;
    int receives = 0;
    for (std::size_t i = 0; i < g_events.size(); ++i) {
        if (g_events[i].status == INTERNET_STATUS_RECEIVING_RESPONSE) {
            ++receives;
            ASSERT_LT(i + 1, g_events.size());
            EXPECT_EQ(g_events[i + 1].status, INTERNET_STATUS_RESPONSE_RECEIVED);
            received += g_events[i + 1].number;
        }
    }
    EXPECT_GT(receives, 1);
    EXPECT_EQ(received, 30u);
}

// The numbers of a pattern that is cheap to check at any offset.
char PatternByte(uint64_t i) {
    return static_cast<char>((i * 131 + (i >> 13)) & 0xff);
}

TEST_F(InternetTest, LargeAnswerIsReadThroughPieceByPiece) {
    constexpr uint64_t kSize = 50ull * 1000 * 1000;
    CRawHttpServer server([](CConnection& conn) {
        if (!conn.ReadRequest() ||
            !conn.Send("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(kSize) + "\r\n\r\n"))
            return;
        std::string slice(1 << 20, '\0');
        for (uint64_t at = 0; at < kSize; at += slice.size()) {
            slice.resize(std::min<uint64_t>(slice.size(), kSize - at));
            for (std::size_t i = 0; i < slice.size(); ++i) slice[i] = PatternByte(at + i);
            if (!conn.Send(slice)) return;
        }
        conn.WaitForPeerClose();
    });
    CClient client(server.HostAndPort());
    ASSERT_TRUE(client.Upload("x"));
    std::string buffer(65536, '\0');
    uint64_t total = 0;
    uint64_t wrong = 0;
    for (;;) {
        uint32_t read = 0;
        ASSERT_TRUE(InternetReadFile(client.request, buffer.data(), 65536, &read))
            << GetLastError();
        if (read == 0) break;
        ASSERT_TRUE(read == 65536 || total + read == kSize) << read << " at " << total;
        for (uint32_t i = 0; i < read; ++i) wrong += buffer[i] != PatternByte(total + i);
        total += read;
    }
    EXPECT_EQ(total, kSize);
    EXPECT_EQ(wrong, 0u);
}

TEST_F(InternetTest, LargeGzipAnswerIsDecodedAsItStreams) {
    constexpr uint64_t kSize = 20ull * 1000 * 1000;
    CRawHttpServer server([](CConnection& conn) {
        if (!conn.ReadRequest() || !conn.Send("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n"
                                              "Content-Encoding: gzip\r\n\r\n"))
            return;
        z_stream z{};
        deflateInit2(&z, 1, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY);
        std::string in(1 << 16, '\0');
        std::string out(1 << 17, '\0');
        bool ok = true;
        for (uint64_t at = 0; ok && at <= kSize; at += in.size()) {
            const std::size_t n =
                static_cast<std::size_t>(std::min<uint64_t>(in.size(), kSize - at));
            for (std::size_t i = 0; i < n; ++i) in[i] = PatternByte(at + i);
            z.next_in = reinterpret_cast<Bytef*>(in.data());
            z.avail_in = static_cast<uInt>(n);
            const int flush = at + n == kSize ? Z_FINISH : Z_NO_FLUSH;
            do {
                z.next_out = reinterpret_cast<Bytef*>(out.data());
                z.avail_out = static_cast<uInt>(out.size());
                deflate(&z, flush);
                const std::size_t produced = out.size() - z.avail_out;
                if (produced > 0)
                    ok = conn.Send(Hex(produced) + "\r\n" + out.substr(0, produced) + "\r\n");
            } while (ok && z.avail_out == 0);
            if (flush == Z_FINISH) break;
        }
        deflateEnd(&z);
        if (ok && conn.Send("0\r\n\r\n")) conn.WaitForPeerClose();
    });
    CClient client(server.HostAndPort());
    ASSERT_TRUE(client.Upload("x"));
    std::string buffer(10000, '\0');
    uint64_t total = 0;
    uint64_t wrong = 0;
    for (;;) {
        uint32_t read = 0;
        ASSERT_TRUE(InternetReadFile(client.request, buffer.data(), 10000, &read))
            << GetLastError();
        if (read == 0) break;
        for (uint32_t i = 0; i < read; ++i) wrong += buffer[i] != PatternByte(total + i);
        total += read;
    }
    EXPECT_EQ(total, kSize);
    EXPECT_EQ(wrong, 0u);
}

// ---------------------------------------------------------------------------------------
// The answer's status code.

TEST_F(InternetTest, StatusCodeIsQueriedAsNumberOrText) {
    for (const char* statusLine :
         {"HTTP/1.1 200 OK", "HTTP/1.1 201 Created", "HTTP/1.1 404 Not Found",
          "HTTP/1.1 500 Internal Server Error", "HTTP/1.0 302 Found"}) {
        SCOPED_TRACE(statusLine);
        const uint32_t expected = static_cast<uint32_t>(std::stoul(std::string(statusLine + 9, 3)));
        CRawHttpServer server(Answering(Answer("page", "Location: /elsewhere\r\n", statusLine)));
        CClient client(server.HostAndPort());
        ASSERT_TRUE(client.Upload("x"));

        uint32_t number = 0;
        uint32_t length = sizeof number;
        uint32_t index = 0;
        ASSERT_TRUE(HttpQueryInfoA(client.request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER,
                                   &number, &length, &index));
        EXPECT_EQ(number, expected);
        EXPECT_EQ(length, sizeof number);
        EXPECT_EQ(index, 1u);

        char text[8] = "zzzzzzz";
        length = sizeof text;
        ASSERT_TRUE(HttpQueryInfoA(client.request, HTTP_QUERY_STATUS_CODE, text, &length, nullptr));
        EXPECT_STREQ(text, std::to_string(expected).c_str());
        EXPECT_EQ(length, 3u);
        // No redirect is followed: the answer is the one the server gave.
        EXPECT_EQ(client.ReadAll(499), "page");
        EXPECT_EQ(server.Connections(), 1);
    }
}

TEST_F(InternetTest, StatusCodeQueryRefusesSmallBuffersAndEarlyOrOddQueries) {
    CRawHttpServer server(Answering(Answer("", "", "HTTP/1.1 503 Busy")));
    CClient client(server.HostAndPort());
    uint32_t number = 0;
    uint32_t length = sizeof number;
    EXPECT_FALSE(HttpQueryInfoA(client.request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER,
                                &number, &length, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INTERNET_INCORRECT_HANDLE_STATE);
    ASSERT_TRUE(client.Upload(""));

    length = 3;
    EXPECT_FALSE(HttpQueryInfoA(client.request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER,
                                &number, &length, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(length, 4u);
    char text[4];
    length = 3;
    EXPECT_FALSE(HttpQueryInfoA(client.request, HTTP_QUERY_STATUS_CODE, text, &length, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(length, 4u);
    length = 4;
    EXPECT_TRUE(HttpQueryInfoA(client.request, HTTP_QUERY_STATUS_CODE, text, &length, nullptr));
    EXPECT_STREQ(text, "503");

    uint32_t index = 1;
    length = sizeof number;
    EXPECT_FALSE(HttpQueryInfoA(client.request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER,
                                &number, &length, &index));
    EXPECT_EQ(GetLastError(), ERROR_HTTP_HEADER_NOT_FOUND);
    EXPECT_FALSE(HttpQueryInfoA(client.request, 1 /* content type */, text, &length, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(HttpQueryInfoA(client.request, HTTP_QUERY_STATUS_CODE, text, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

// ---------------------------------------------------------------------------------------
// Failures.

std::atomic<bool> g_clientHasHead;

enum class Step { End, Read };

struct FailureCase {
    const char* name;
    std::function<void(CConnection&)> afterRequest;  // what the server does then
    Step failingStep;
    uint32_t error;
    uint32_t piece = 499;
    std::size_t goodReads = 0;  // reads that succeed before the failing one
    bool waitsForTimeout = false;
};

std::vector<FailureCase> FailureCases() {
    const std::string gz = Gzip(MakeText(5000));
    return {
        {"GarbageInsteadOfAnAnswer",
         [](CConnection& c) {
             c.Send("SSH-2.0-OpenSSH_9.2\r\n\r\n");
             c.WaitForPeerClose();
         },
         Step::End, ERROR_HTTP_INVALID_SERVER_RESPONSE},
        {"BadStatusCode",
         [](CConnection& c) {
             c.Send("HTTP/1.1 2x0 OK\r\n\r\n");
             c.WaitForPeerClose();
         },
         Step::End, ERROR_HTTP_INVALID_SERVER_RESPONSE},
        {"ConflictingLengths",
         [](CConnection& c) {
             c.Send("HTTP/1.1 200 OK\r\nContent-Length: 5\r\nContent-Length: 6\r\n\r\nhello");
             c.WaitForPeerClose();
         },
         Step::End, ERROR_HTTP_INVALID_SERVER_RESPONSE},
        {"HeadLargerThanTheLimit",
         [](CConnection& c) {
             c.Send("HTTP/1.1 200 OK\r\nX-Fill: " + std::string(70000, 'a') + "\r\n\r\n");
             c.WaitForPeerClose();
         },
         Step::End, ERROR_HTTP_INVALID_SERVER_RESPONSE},
        {"NeverAnswers", [](CConnection& c) { c.WaitForPeerClose(); }, Step::End,
         ERROR_INTERNET_TIMEOUT, 499, 0, true},
        {"HeadStopsHalfway",
         [](CConnection& c) {
             c.Send("HTTP/1.1 200 OK\r\nContent-");
             c.WaitForPeerClose();
         },
         Step::End, ERROR_INTERNET_TIMEOUT, 499, 0, true},
        {"ClosesWithoutAnswer", [](CConnection& c) { c.Close(); }, Step::End,
         ERROR_INTERNET_CONNECTION_ABORTED},
        {"ClosesInTheHead",
         [](CConnection& c) {
             c.Send("HTTP/1.1 200 OK\r\n");
             c.Close();
         },
         Step::End, ERROR_INTERNET_CONNECTION_ABORTED},
        {"ResetsWithoutAnswer", [](CConnection& c) { c.Reset(); }, Step::End,
         ERROR_INTERNET_CONNECTION_RESET},
        // An orderly close (FIN) before the announced length is a connection aborted by the
        // peer, not a reset: the server finished its side without an error.
        {"ClosesInTheBody",
         [](CConnection& c) {
             c.Send("HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n" + std::string(300, 'p'));
             c.Close();
         },
         Step::Read, ERROR_INTERNET_CONNECTION_ABORTED},
        {"ClosesInTheBodyAfterWholePieces",
         [](CConnection& c) {
             c.Send("HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n" + std::string(300, 'p'));
             c.Close();
         },
         Step::Read, ERROR_INTERNET_CONNECTION_ABORTED, 100, 3},
        {"ClosesInAChunk",
         [](CConnection& c) {
             c.Send("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhel");
             c.Close();
         },
         Step::Read, ERROR_INTERNET_CONNECTION_ABORTED},
        {"ResetsInTheBody",
         [](CConnection& c) {
             if (c.Send("HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n") &&
                 c.WaitFor(g_clientHasHead) && c.Send(std::string(300, 'p')))
                 c.Reset();
         },
         Step::Read, ERROR_INTERNET_CONNECTION_RESET},
        {"StallsInTheBody",
         [](CConnection& c) {
             c.Send("HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n" + std::string(300, 'p'));
             c.WaitForPeerClose();
         },
         Step::Read, ERROR_INTERNET_TIMEOUT, 499, 0, true},
        {"BrokenChunkFraming",
         [](CConnection& c) {
             c.Send("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nZZ\r\nabc\r\n0\r\n\r\n");
             c.WaitForPeerClose();
         },
         Step::Read, ERROR_HTTP_INVALID_SERVER_RESPONSE},
        {"NotGzipAtAll",
         [](CConnection& c) {
             c.Send(Answer("this was never compressed", "Content-Encoding: gzip\r\n"));
             c.WaitForPeerClose();
         },
         Step::Read, ERROR_HTTP_INVALID_SERVER_RESPONSE},
        {"GzipCutShort",
         [gz](CConnection& c) {
             c.Send(Answer(gz.substr(0, gz.size() / 2), "Content-Encoding: gzip\r\n"));
             c.WaitForPeerClose();
         },
         // One piece larger than the whole text: the read that meets the cut fails.
         Step::Read, ERROR_HTTP_INVALID_SERVER_RESPONSE, 65536},
        {"GzipWithCorruptData",
         [gz](CConnection& c) {
             std::string bad = gz;
             for (std::size_t i = 20; i < 60; ++i) bad[i] = static_cast<char>(~bad[i]);
             c.Send(Answer(bad, "Content-Encoding: gzip\r\n"));
             c.WaitForPeerClose();
         },
         Step::Read, ERROR_HTTP_INVALID_SERVER_RESPONSE},
        {"DeflateWithTrailingBytes",
         [](CConnection& c) {
             c.Send(Answer(Compress("short", 15) + "junk", "Content-Encoding: deflate\r\n"));
             c.WaitForPeerClose();
         },
         Step::Read, ERROR_HTTP_INVALID_SERVER_RESPONSE},
    };
}

class FailureTest : public ::testing::TestWithParam<FailureCase> {};

TEST_P(FailureTest, FailingCallGivesItsNumberWithinTheTimeOut) {
    const FailureCase& c = GetParam();
    g_clientHasHead = false;
    CRawHttpServer server([&c](CConnection& conn) {
        if (conn.ReadRequest()) c.afterRequest(conn);
    });
    CClient client(server.HostAndPort());
    client.AddHeaders(CClient::UploadHeaders(4));
    ASSERT_TRUE(client.SendRequest(4));
    ASSERT_TRUE(client.WriteBody("body", 1460));

    const auto start = Clock::now();
    const bool ended = HttpEndRequestA(client.request, nullptr, 0, 0);
    const uint32_t endError = GetLastError();
    if (c.failingStep == Step::End) {
        ASSERT_FALSE(ended);
        EXPECT_EQ(endError, c.error);
        // The request is over: it takes no reads.
        char byte;
        uint32_t read = 7;
        EXPECT_FALSE(InternetReadFile(client.request, &byte, 1, &read));
        EXPECT_EQ(read, 0u);
    } else {
        ASSERT_TRUE(ended) << endError;
        g_clientHasHead = true;
        std::string buffer(c.piece, '\0');
        uint32_t read = 0;
        for (std::size_t i = 0; i < c.goodReads; ++i) {
            ASSERT_TRUE(InternetReadFile(client.request, buffer.data(), c.piece, &read));
            EXPECT_EQ(read, c.piece);
        }
        read = 7;
        EXPECT_FALSE(InternetReadFile(client.request, buffer.data(), c.piece, &read));
        EXPECT_EQ(GetLastError(), c.error);
        EXPECT_EQ(read, 0u);
    }
    const long long elapsed = MillisecondsSince(start);
    if (c.waitsForTimeout) {
        EXPECT_GE(elapsed, static_cast<long long>(kShortTimeoutMs) - 20);
    }
    EXPECT_LT(elapsed, 5000);
}

INSTANTIATE_TEST_SUITE_P(Failures, FailureTest, ::testing::ValuesIn(FailureCases()),
                         [](const auto& test) { return std::string(test.param.name); });

struct ConnectFailureCase {
    const char* name;
    uint32_t error;
    std::vector<uint32_t> statuses;  // reported before the failure
    bool waitsForTimeout;
};

class ConnectFailureTest : public ::testing::TestWithParam<ConnectFailureCase> {
protected:
    void SetUp() override { g_events.clear(); }
};

TEST_P(ConnectFailureTest, SendFailsWithItsNumber) {
    const ConnectFailureCase& c = GetParam();
    CFullListener full;
    std::string server;
    if (c.error == ERROR_INTERNET_CANNOT_CONNECT)
        server = "127.0.0.1:" + std::to_string(ClosedPort());
    else if (c.error == ERROR_INTERNET_NAME_NOT_RESOLVED)
        server = "print-service.invalid";
    else
        server = "127.0.0.1:" + std::to_string(full.Port());
    CClient client(server, 1, 1);
    client.AddHeaders(CClient::UploadHeaders(0));
    g_events.clear();
    const auto start = Clock::now();
    EXPECT_FALSE(client.SendRequest(0));
    EXPECT_EQ(GetLastError(), c.error);
    const long long elapsed = MillisecondsSince(start);
    if (c.waitsForTimeout) {
        EXPECT_GE(elapsed, static_cast<long long>(kShortTimeoutMs) - 20);
    }
    EXPECT_LT(elapsed, 5000);
    EXPECT_EQ(Statuses(g_events), c.statuses);
    // Nothing was sent, so there is nothing to write or end.
    uint32_t written = 9;
    EXPECT_FALSE(InternetWriteFile(client.request, "x", 1, &written));
    EXPECT_EQ(GetLastError(), ERROR_INTERNET_INCORRECT_HANDLE_STATE);
    EXPECT_EQ(written, 0u);
    EXPECT_FALSE(HttpEndRequestA(client.request, nullptr, 0, 0));
    EXPECT_EQ(GetLastError(), ERROR_INTERNET_INCORRECT_HANDLE_STATE);
}

INSTANTIATE_TEST_SUITE_P(
    Connecting, ConnectFailureTest,
    ::testing::Values(
        ConnectFailureCase{"Refused",
                           ERROR_INTERNET_CANNOT_CONNECT,
                           {INTERNET_STATUS_RESOLVING_NAME, INTERNET_STATUS_NAME_RESOLVED,
                            INTERNET_STATUS_CONNECTING_TO_SERVER},
                           false},
        ConnectFailureCase{"NameNotResolved",
                           ERROR_INTERNET_NAME_NOT_RESOLVED,
                           {INTERNET_STATUS_RESOLVING_NAME},
                           false},
        ConnectFailureCase{"NoAnswerToConnecting",
                           ERROR_INTERNET_TIMEOUT,
                           {INTERNET_STATUS_RESOLVING_NAME, INTERNET_STATUS_NAME_RESOLVED,
                            INTERNET_STATUS_CONNECTING_TO_SERVER},
                           true}),
    [](const auto& test) { return std::string(test.param.name); });

TEST_F(InternetTest, WritingToAServerThatReadsNothingTimesOut) {
    CRawHttpServer server([](CConnection& conn) {
        while (conn.Pause(milliseconds(50))) {
        }
    });
    CClient client(server.HostAndPort());
    ASSERT_TRUE(client.SendRequest(0));
    const std::string block = MakeBytes(1460);
    bool failed = false;
    Clock::time_point failedAt;
    const auto start = Clock::now();
    for (uint64_t total = 0; total < (1ull << 30); total += block.size()) {
        const auto before = Clock::now();
        uint32_t written = 0;
        if (!InternetWriteFile(client.request, block.data(), 1460, &written)) {
            failed = true;
            failedAt = before;
            break;
        }
    }
    ASSERT_TRUE(failed);
    EXPECT_EQ(GetLastError(), ERROR_INTERNET_TIMEOUT);
    const auto lastCall = std::chrono::duration_cast<milliseconds>(Clock::now() - failedAt).count();
    EXPECT_GE(lastCall, static_cast<long long>(kShortTimeoutMs) - 20);
    EXPECT_LT(MillisecondsSince(start), 10000);
}

// ---------------------------------------------------------------------------------------
// Server names and handles.

TEST_F(InternetTest, PortInTheServerNameWinsOverThePortArgument) {
    CRawHttpServer server(Answering(Answer("here")));
    const std::string port = std::to_string(server.Port());
    struct Case {
        std::string name;
        uint16_t port;
    };
    for (const Case& c : {Case{"127.0.0.1:" + port, 1}, Case{"127.0.0.1:" + port, 0},
                          Case{"127.0.0.1", server.Port()}}) {
        SCOPED_TRACE(c.name + " port " + std::to_string(c.port));
        g_events.clear();
        CClient client(c.name, 1, 1, c.port);
        ASSERT_TRUE(client.Upload("")) << GetLastError();
        EXPECT_EQ(client.ReadAll(499), "here");
        ASSERT_GE(g_events.size(), 5u);
        EXPECT_EQ(g_events[4].status, INTERNET_STATUS_CONNECTING_TO_SERVER);
        EXPECT_EQ(g_events[4].text, "127.0.0.1:" + port);
    }
}

TEST_F(InternetTest, PortZeroMeansTheHttpPort) {
    CClient client("127.0.0.1", 1, 1, INTERNET_INVALID_PORT_NUMBER);
    g_events.clear();
    client.SendRequest(0);  // whatever listens on port 80, if anything
    ASSERT_GE(g_events.size(), 3u);
    EXPECT_EQ(g_events[2].status, INTERNET_STATUS_CONNECTING_TO_SERVER);
    EXPECT_EQ(g_events[2].text, "127.0.0.1:80");
}

TEST_F(InternetTest, BadServerNamesAndServicesAreRefused) {
    HINTERNET session = InternetOpenA("agent", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
    for (const char* name : {"", "host:", "host:0", "host:65536", "host:12a", "host:-1", "[::1",
                             "[::1]x", "[::1]:", "ho st", "tab\there"}) {
        SetLastError(0);
        EXPECT_EQ(InternetConnectA(session, name, 0, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0),
                  nullptr)
            << name;
        EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER) << name;
    }
    EXPECT_EQ(InternetConnectA(session, nullptr, 0, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0),
              nullptr);
    EXPECT_EQ(InternetConnectA(session, "host", 0, nullptr, nullptr, 1 /* ftp */, 0, 0), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    for (const char* name :
         {"host", "host:8080", "[::1]", "[::1]:8080", "::1", "192.0.2.1:65535"}) {
        HINTERNET connect =
            InternetConnectA(session, name, 0, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0);
        EXPECT_NE(connect, nullptr) << name;
    }
    EXPECT_TRUE(InternetCloseHandle(session));
}

TEST_F(InternetTest, MisuseIsRefusedWithItsNumber) {
    const uint32_t ms = 100;
    const uint32_t zero = 0;
    EXPECT_EQ(InternetOpenA("a", INTERNET_OPEN_TYPE_PROXY, "proxy:8080", nullptr, 0), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(InternetOpenA("a", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, INTERNET_FLAG_ASYNC),
              nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);

    HINTERNET session = InternetOpenA("a", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
    HINTERNET connect =
        InternetConnectA(session, "127.0.0.1", 0, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0);
    HINTERNET request = HttpOpenRequestA(connect, "POST", "/", nullptr, nullptr, nullptr, 0, 0);
    ASSERT_NE(request, nullptr);
    char buffer[4];
    uint32_t count = 0;

    struct Case {
        const char* what;
        std::function<bool()> call;
        uint32_t error;
    };
    const std::vector<Case> cases = {
        {"connect on no session",
         [] { return InternetConnectA(nullptr, "h", 0, nullptr, nullptr, 3, 0, 0) != nullptr; },
         ERROR_INVALID_HANDLE},
        {"connect on a request",
         [&] { return InternetConnectA(request, "h", 0, nullptr, nullptr, 3, 0, 0) != nullptr; },
         ERROR_INVALID_HANDLE},
        {"request on a session",
         [&] {
             return HttpOpenRequestA(session, "GET", "/", nullptr, nullptr, nullptr, 0, 0) !=
                    nullptr;
         },
         ERROR_INVALID_HANDLE},
        {"verb with a blank",
         [&] {
             return HttpOpenRequestA(connect, "PO ST", "/", nullptr, nullptr, nullptr, 0, 0) !=
                    nullptr;
         },
         ERROR_INVALID_PARAMETER},
        {"object with a blank",
         [&] {
             return HttpOpenRequestA(connect, "GET", "/a b", nullptr, nullptr, nullptr, 0, 0) !=
                    nullptr;
         },
         ERROR_INVALID_PARAMETER},
        {"object with a line end",
         [&] {
             return HttpOpenRequestA(connect, "GET", "/a\r\nX: y", nullptr, nullptr, nullptr, 0,
                                     0) != nullptr;
         },
         ERROR_INVALID_PARAMETER},
        {"secure request",
         [&] {
             return HttpOpenRequestA(connect, "GET", "/", nullptr, nullptr, nullptr,
                                     INTERNET_FLAG_SECURE, 0) != nullptr;
         },
         ERROR_INVALID_PARAMETER},
        {"headers on a connection",
         [&] { return HttpAddRequestHeadersA(connect, "A: b", UINT32_MAX, HTTP_ADDREQ_FLAG_ADD); },
         ERROR_INVALID_HANDLE},
        {"write before send", [&] { return InternetWriteFile(request, "x", 1, &count); },
         ERROR_INTERNET_INCORRECT_HANDLE_STATE},
        {"write without count", [&] { return InternetWriteFile(request, "x", 1, nullptr); },
         ERROR_INVALID_PARAMETER},
        {"end before send", [&] { return HttpEndRequestA(request, nullptr, 0, 0); },
         ERROR_INTERNET_INCORRECT_HANDLE_STATE},
        {"read before end", [&] { return InternetReadFile(request, buffer, 4, &count); },
         ERROR_INTERNET_INCORRECT_HANDLE_STATE},
        {"read into nothing", [&] { return InternetReadFile(request, nullptr, 4, &count); },
         ERROR_INVALID_PARAMETER},
        {"send with a chain of buffers",
         [&] {
             INTERNET_BUFFERSA second{};
             INTERNET_BUFFERSA first{};
             first.Next = &second;
             return HttpSendRequestExA(request, &first, nullptr, 0, 0);
         },
         ERROR_INVALID_PARAMETER},
        {"send on a session", [&] { return HttpSendRequestExA(session, nullptr, nullptr, 0, 0); },
         ERROR_INVALID_HANDLE},
        {"callback on no handle",
         [] {
             return InternetSetStatusCallback(nullptr, RecordA) != INTERNET_INVALID_STATUS_CALLBACK;
         },
         ERROR_INVALID_HANDLE},
        {"unknown option", [&] { return InternetSetOptionA(session, 77, &ms, sizeof ms); },
         ERROR_INTERNET_INVALID_OPTION},
        {"option of the wrong size",
         [&] { return InternetSetOptionA(session, INTERNET_OPTION_RECEIVE_TIMEOUT, &ms, 2); },
         ERROR_INVALID_PARAMETER},
        {"time-out of zero",
         [&] {
             return InternetSetOptionA(session, INTERNET_OPTION_SEND_TIMEOUT, &zero, sizeof zero);
         },
         ERROR_INVALID_PARAMETER},
        {"close no handle", [] { return InternetCloseHandle(nullptr); }, ERROR_INVALID_HANDLE},
    };
    for (const auto& c : cases) {
        SetLastError(0);
        EXPECT_FALSE(c.call()) << c.what;
        EXPECT_EQ(GetLastError(), c.error) << c.what;
    }
    EXPECT_TRUE(InternetSetOptionA(request, INTERNET_OPTION_CONNECT_TIMEOUT, &ms, sizeof ms));

    // Closing the session releases the connection and the request with it.
    ASSERT_TRUE(InternetCloseHandle(session));
    for (HINTERNET h : {session, connect, request}) {
        SetLastError(0);
        EXPECT_FALSE(InternetCloseHandle(h));
        EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    }
}

TEST_F(InternetTest, LastErrorIsKeptPerThread) {
    SetLastError(ERROR_INTERNET_TIMEOUT);
    uint32_t seenByOther = 1;
    std::thread([&] {
        seenByOther = GetLastError();
        SetLastError(ERROR_ACCESS_DENIED);
    }).join();
    EXPECT_EQ(seenByOther, 0u);
    EXPECT_EQ(GetLastError(), ERROR_INTERNET_TIMEOUT);
}

}  // namespace
