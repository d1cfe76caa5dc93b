#include "platform/Internet.h"

// Boost 1.74's Asio does not compile under C++20 with GCC 12 unless <utility> comes before
// the first Asio header; this file is the only one that includes Asio or Beast.
#include <utility>

#include <algorithm>
#include <array>
#include <cctype>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <limits>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_set>
#include <vector>

#include <netdb.h>
#include <sys/socket.h>

#include <zlib.h>
#include <boost/asio/connect.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http/buffer_body.hpp>
#include <boost/beast/http/parser.hpp>

namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = boost::beast::http;
using tcp = asio::ip::tcp;
using boost::system::error_code;

inline constexpr uint32_t ERROR_INTERNET_INTERNAL_ERROR = 12004;

// Body bytes are gathered up to this size before they go to the socket.
constexpr std::size_t kSendBufferSize = 64 * 1024;
// Larger writes go to the socket straight from the caller's memory, in slices of this size,
// so that each socket send has its own time-out.
constexpr std::size_t kDirectSendSlice = 1024 * 1024;
// Largest single receive, the answer head's size limit, and so the most that is ever held
// of the answer: the receive buffer plus the compressed-input buffer.
constexpr std::size_t kReceiveChunk = 64 * 1024;
constexpr uint32_t kHeaderLimit = 64 * 1024;
constexpr std::size_t kReceiveBufferLimit = kHeaderLimit + kReceiveChunk;
constexpr std::size_t kCompressedInputSize = 64 * 1024;

struct Timeouts {
    uint32_t connectMs = 30000;  // name resolution and connecting together
    uint32_t sendMs = 30000;     // each socket send
    uint32_t receiveMs = 60000;  // each socket receive
};

enum class HandleKind { Session, Connection, Request };

}  // namespace

struct InternetHandle {
    explicit InternetHandle(HandleKind k) : kind(k) {}
    virtual ~InternetHandle() = default;
    InternetHandle(const InternetHandle&) = delete;
    InternetHandle& operator=(const InternetHandle&) = delete;

    const HandleKind kind;
    uintptr_t context = 0;
    INTERNET_STATUS_CALLBACK callback = nullptr;
    Timeouts timeouts;
    InternetHandle* parent = nullptr;
    std::vector<InternetHandle*> children;  // owned; closed with this handle
};

namespace {

// ---------------------------------------------------------------------------------------
// Handle table: a handle is valid from its creation until it is closed.

std::mutex g_handlesMutex;
std::unordered_set<const InternetHandle*> g_handles;

// The handle, when `h` is a live handle of that kind (any kind without one); else null with
// ERROR_INVALID_HANDLE.
InternetHandle* FindHandle(HINTERNET h, std::optional<HandleKind> kind) {
    {
        std::lock_guard lock(g_handlesMutex);
        if (h != nullptr && g_handles.contains(h) && (!kind || *kind == h->kind)) return h;
    }
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
}

template <class T>
T* Find(HINTERNET h) {
    return static_cast<T*>(FindHandle(h, T::kKind));
}

// Makes `h` valid; a child takes its parent's callback and time-outs.
void Register(InternetHandle* h, InternetHandle* parent) {
    std::lock_guard lock(g_handlesMutex);
    g_handles.insert(h);
    if (parent == nullptr) return;
    try {
        parent->children.push_back(h);
    } catch (...) {
        g_handles.erase(h);
        throw;
    }
    h->parent = parent;
    h->callback = parent->callback;
    h->timeouts = parent->timeouts;
}

void Notify(InternetHandle& h, uint32_t status, void* info = nullptr, uint32_t infoLength = 0) {
    if (h.context != 0 && h.callback != nullptr && h.callback != INTERNET_INVALID_STATUS_CALLBACK)
        h.callback(&h, h.context, status, info, infoLength);
}

void NotifyText(InternetHandle& h, uint32_t status, const std::string& text) {
    Notify(h, status, const_cast<char*>(text.c_str()), static_cast<uint32_t>(text.size() + 1));
}

void NotifyCount(InternetHandle& h, uint32_t status, uint64_t count) {
    uint32_t value = static_cast<uint32_t>(std::min<uint64_t>(count, UINT32_MAX));
    Notify(h, status, &value, sizeof value);
}

bool Fail(uint32_t code) {
    SetLastError(code);
    return false;
}

// ---------------------------------------------------------------------------------------
// Text checks.

bool IsTokenChar(unsigned char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
           std::strchr("!#$%&'*+-.^_`|~", c) != nullptr;
}

bool IsToken(std::string_view s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) {
        return c != '\0' && IsTokenChar(static_cast<unsigned char>(c));
    });
}

// Visible bytes only: no blank, no control character (UTF-8 bytes are allowed).
bool IsVisible(std::string_view s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return u > 0x20 && u != 0x7f;
    });
}

// Splits header text into lines at LF or CR LF, drops empty lines and checks that each is
// "name: value" with a token name and no control character but tab in the value.
bool SplitHeaderLines(std::string_view text, std::vector<std::string>& lines) {
    while (!text.empty()) {
        std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.empty()) continue;
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos || !IsToken(line.substr(0, colon))) return false;
        for (char c : line.substr(colon + 1)) {
            const auto u = static_cast<unsigned char>(c);
            if ((u < 0x20 && u != '\t') || u == 0x7f) return false;
        }
        lines.emplace_back(line);
    }
    return true;
}

bool ParsePort(std::string_view digits, uint16_t& port) {
    if (digits.empty() || digits.size() > 5) return false;
    unsigned value = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (value == 0 || value > 65535) return false;
    port = static_cast<uint16_t>(value);
    return true;
}

// "host", "host:port", "[v6]" or "[v6]:port"; a name with more than one colon and no
// brackets is an IPv6 address without a port.
bool ParseServer(std::string_view name, std::string& host, uint16_t& port) {
    std::string_view hostPart = name;
    if (!name.empty() && name.front() == '[') {
        const std::size_t close = name.find(']');
        if (close == std::string_view::npos) return false;
        hostPart = name.substr(1, close - 1);
        const std::string_view rest = name.substr(close + 1);
        if (!rest.empty() && (rest.front() != ':' || !ParsePort(rest.substr(1), port)))
            return false;
    } else {
        const std::size_t colon = name.find(':');
        if (colon != std::string_view::npos &&
            name.find(':', colon + 1) == std::string_view::npos) {
            hostPart = name.substr(0, colon);
            if (!ParsePort(name.substr(colon + 1), port)) return false;
        }
    }
    if (!IsVisible(hostPart)) return false;
    host.assign(hostPart);
    return true;
}

std::string EndpointText(const tcp::endpoint& ep) {
    const std::string address = ep.address().to_string();
    const std::string port = std::to_string(ep.port());
    return ep.address().is_v6() ? "[" + address + "]:" + port : address + ":" + port;
}

// ---------------------------------------------------------------------------------------
// Name resolution. getaddrinfo cannot be cancelled, so it runs on a thread of its own that
// may outlive the wait; the shared record keeps the result alive for whichever side is
// last.

struct Lookup {
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    int result = 0;
    std::vector<tcp::endpoint> endpoints;
};

// 0 on success, else ERROR_INTERNET_NAME_NOT_RESOLVED or ERROR_INTERNET_TIMEOUT.
uint32_t Resolve(const std::string& host, uint16_t port, std::chrono::milliseconds timeout,
                 std::vector<tcp::endpoint>& endpoints) {
    auto lookup = std::make_shared<Lookup>();
    std::thread([lookup, host, port] {
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        hints.ai_protocol = IPPROTO_TCP;
        addrinfo* list = nullptr;
        const int rc = getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &list);
        std::vector<tcp::endpoint> found;
        for (const addrinfo* ai = list; rc == 0 && ai != nullptr; ai = ai->ai_next) {
            tcp::endpoint ep;
            if ((ai->ai_family == AF_INET || ai->ai_family == AF_INET6) &&
                ai->ai_addrlen <= ep.capacity()) {
                std::memcpy(ep.data(), ai->ai_addr, ai->ai_addrlen);
                ep.resize(ai->ai_addrlen);
                found.push_back(ep);
            }
        }
        if (list != nullptr) freeaddrinfo(list);
        std::lock_guard lock(lookup->mutex);
        lookup->result = rc;
        lookup->endpoints = std::move(found);
        lookup->done = true;
        lookup->finished.notify_all();
    }).detach();

    std::unique_lock lock(lookup->mutex);
    if (!lookup->finished.wait_for(lock, timeout, [&] { return lookup->done; }))
        return ERROR_INTERNET_TIMEOUT;
    if (lookup->result != 0 || lookup->endpoints.empty()) return ERROR_INTERNET_NAME_NOT_RESOLVED;
    endpoints = std::move(lookup->endpoints);
    return 0;
}

// ---------------------------------------------------------------------------------------
// Handles.

struct Session final : InternetHandle {
    static constexpr HandleKind kKind = HandleKind::Session;
    Session() : InternetHandle(kKind) {}
    std::string agent;
};

struct Connection final : InternetHandle {
    static constexpr HandleKind kKind = HandleKind::Connection;
    Connection() : InternetHandle(kKind) {}
    std::string host;
    uint16_t port = INTERNET_DEFAULT_HTTP_PORT;
};

enum class ContentCoding { Identity, Gzip, Deflate };

// Streaming inflater for a gzip or deflate answer body, with its own bounded input buffer.
struct Inflater {
    explicit Inflater(ContentCoding c) : coding(c), input(new char[kCompressedInputSize]) {}
    ~Inflater() {
        if (started) inflateEnd(&stream);
    }
    Inflater(const Inflater&) = delete;
    Inflater& operator=(const Inflater&) = delete;

    ContentCoding coding;
    z_stream stream{};
    bool started = false;      // inflateInit2 done
    bool streamEnded = false;  // the compressed stream (or gzip member) is complete
    bool inputEnded = false;   // the answer body has ended
    std::unique_ptr<char[]> input;
    std::size_t begin = 0;  // unread compressed bytes: input[begin, end)
    std::size_t end = 0;
};

ContentCoding CodingOf(std::string_view value) {
    while (!value.empty() && (value.front() == ' ' || value.front() == '\t'))
        value.remove_prefix(1);
    while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) value.remove_suffix(1);
    auto is = [value](std::string_view name) {
        return value.size() == name.size() &&
               std::equal(value.begin(), value.end(), name.begin(), [](char a, char b) {
                   return std::tolower(static_cast<unsigned char>(a)) == b;
               });
    };
    if (is("gzip") || is("x-gzip")) return ContentCoding::Gzip;
    if (is("deflate")) return ContentCoding::Deflate;
    // Identity, or a coding that was not asked for: the bytes go to the caller as they are.
    return ContentCoding::Identity;
}

// A zlib stream starts with a CMF/FLG pair: deflate method, window up to 32 KiB, and the
// pair divisible by 31. Anything else in a "deflate" answer is taken as raw deflate.
bool IsZlibHeader(unsigned char cmf, unsigned char flg) {
    return (cmf & 0x0f) == 8 && (cmf >> 4) <= 7 && ((cmf << 8) | flg) % 31 == 0;
}

enum class RequestState { Open, Sending, Receiving, Failed };

struct Request final : InternetHandle {
    static constexpr HandleKind kKind = HandleKind::Request;
    Request() : InternetHandle(kKind) {}

    std::string verb;
    std::string object;
    std::string version;
    std::vector<std::string> headerLines;  // the caller's lines, in its order, no line ends

    RequestState state = RequestState::Open;
    asio::io_context io{1};
    tcp::socket socket{io};
    std::vector<char> sendBuffer;
    beast::flat_buffer received{kReceiveBufferLimit};
    std::optional<http::response_parser<http::buffer_body>> parser;
    bool haveAnswerHead = false;
    std::unique_ptr<Inflater> inflater;  // null for an answer that is not compressed

    void Reset();
    bool Failed(uint32_t code);
    template <class Start>
    error_code RunBounded(uint32_t timeoutMs, Start start, std::size_t* bytes = nullptr);
    bool Connect(const Connection& connection);
    bool SendAll(asio::const_buffer data);
    bool Write(const char* data, std::size_t count);
    bool Flush();
    error_code ReceiveSome(bool report, std::size_t& received);
    bool ReadHead(uint64_t& headBytes);
    bool PullBody(char* out, std::size_t capacity, std::size_t& produced);
    bool FillInflaterInput();
    bool StartInflater();
    bool Inflate(char* out, std::size_t capacity, std::size_t& produced);
};

uint32_t TransferError(const error_code& ec) {
    if (ec == asio::error::timed_out) return ERROR_INTERNET_TIMEOUT;
    if (ec == asio::error::connection_reset) return ERROR_INTERNET_CONNECTION_RESET;
    // An orderly close by the peer (end of file), a broken pipe and the like.
    return ERROR_INTERNET_CONNECTION_ABORTED;
}

void Request::Reset() {
    error_code ignored;
    socket.close(ignored);
    sendBuffer.clear();
    received.consume(received.size());
    parser.reset();
    haveAnswerHead = false;
    inflater.reset();
    state = RequestState::Open;
}

// Ends the transfer after a failure: the socket is closed and the request takes no more
// transfer calls until it is sent again.
bool Request::Failed(uint32_t code) {
    error_code ignored;
    socket.close(ignored);
    state = RequestState::Failed;
    return Fail(code);
}

// Runs the asynchronous operation that `start` begins for at most `timeoutMs`. On time-out
// the socket is closed, which aborts the operation, and the result is timed_out.
template <class Start>
error_code Request::RunBounded(uint32_t timeoutMs, Start start, std::size_t* bytes) {
    bool done = false;
    error_code result;
    start([&](const error_code& ec, std::size_t n) {
        result = ec;
        if (bytes != nullptr) *bytes = n;
        done = true;
    });
    io.restart();
    io.run_for(std::chrono::milliseconds(timeoutMs));
    if (done) return result;
    error_code ignored;
    socket.close(ignored);
    io.restart();
    io.run();  // lets the aborted operation finish before its buffers go
    return asio::error::timed_out;
}

bool Request::Connect(const Connection& connection) {
    const auto started = std::chrono::steady_clock::now();
    const std::chrono::milliseconds budget(timeouts.connectMs);

    NotifyText(*this, INTERNET_STATUS_RESOLVING_NAME, connection.host);
    std::vector<tcp::endpoint> endpoints;
    if (uint32_t code = Resolve(connection.host, connection.port, budget, endpoints))
        return Failed(code);
    NotifyText(*this, INTERNET_STATUS_NAME_RESOLVED, endpoints.front().address().to_string());

    const auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - started);
    const auto left = std::max<std::chrono::milliseconds::rep>(1, (budget - spent).count());
    NotifyText(*this, INTERNET_STATUS_CONNECTING_TO_SERVER, EndpointText(endpoints.front()));
    tcp::endpoint connected;
    const error_code ec = RunBounded(static_cast<uint32_t>(left), [&](auto handler) {
        asio::async_connect(socket, endpoints,
                            [&connected, handler](const error_code& e, const tcp::endpoint& ep) {
                                connected = ep;
                                handler(e, 0);
                            });
    });
    if (ec)
        return Failed(ec == asio::error::timed_out ? ERROR_INTERNET_TIMEOUT
                                                   : ERROR_INTERNET_CANNOT_CONNECT);
    // The body is gathered here already; small segments must not wait for acknowledgements.
    error_code ignored;
    socket.set_option(tcp::no_delay(true), ignored);
    NotifyText(*this, INTERNET_STATUS_CONNECTED_TO_SERVER, EndpointText(connected));
    return true;
}

bool Request::SendAll(asio::const_buffer data) {
    const error_code ec = RunBounded(
        timeouts.sendMs, [&](auto handler) { asio::async_write(socket, data, handler); });
    return ec ? Failed(TransferError(ec)) : true;
}

bool Request::Flush() {
    if (sendBuffer.empty()) return true;
    if (!SendAll(asio::buffer(sendBuffer))) return false;
    sendBuffer.clear();
    return true;
}

// Gathers body bytes; a full buffer goes out, and large writes go out directly.
bool Request::Write(const char* data, std::size_t count) {
    if (sendBuffer.size() + count < kSendBufferSize) {
        sendBuffer.insert(sendBuffer.end(), data, data + count);
        return true;
    }
    const std::size_t topUp = kSendBufferSize - sendBuffer.size();
    sendBuffer.insert(sendBuffer.end(), data, data + topUp);
    data += topUp;
    count -= topUp;
    if (!Flush()) return false;
    while (count >= kSendBufferSize) {
        const std::size_t slice = std::min(count, kDirectSendSlice);
        if (!SendAll(asio::buffer(data, slice))) return false;
        data += slice;
        count -= slice;
    }
    sendBuffer.insert(sendBuffer.end(), data, data + count);
    return true;
}

// One receive from the network into `received`, reported with 40 and 41 when `report`.
error_code Request::ReceiveSome(bool report, std::size_t& count) {
    count = 0;
    const std::size_t room = std::min(kReceiveChunk, received.max_size() - received.size());
    if (room == 0) return http::error::buffer_overflow;
    const auto space = received.prepare(room);
    if (report) Notify(*this, INTERNET_STATUS_RECEIVING_RESPONSE);
    const error_code ec = RunBounded(
        timeouts.receiveMs, [&](auto handler) { socket.async_read_some(space, handler); }, &count);
    received.commit(count);
    if (report) NotifyCount(*this, INTERNET_STATUS_RESPONSE_RECEIVED, count);
    return ec;
}

// Reads the answer's head, skipping interim (1xx) answers.
bool Request::ReadHead(uint64_t& headBytes) {
    for (;;) {
        parser.emplace();
        parser->header_limit(kHeaderLimit);
        // No size limit: the body is never held whole. (Beast 1.74 compares a Content-Length
        // with an unset limit as if it were exceeded, so the limit is the largest value.)
        parser->body_limit(std::numeric_limits<std::uint64_t>::max());
        while (!parser->is_header_done()) {
            if (received.size() > 0) {
                error_code ec;
                received.consume(parser->put(received.data(), ec));
                if (ec && ec != http::error::need_more)
                    return Failed(ERROR_HTTP_INVALID_SERVER_RESPONSE);
                if (parser->is_header_done()) break;
            }
            std::size_t count = 0;
            const error_code ec = ReceiveSome(false, count);
            headBytes += count;
            if (ec == http::error::buffer_overflow)
                return Failed(ERROR_HTTP_INVALID_SERVER_RESPONSE);
            if (ec) return Failed(TransferError(ec));
        }
        const unsigned status = parser->get().result_int();
        if (status / 100 != 1 || status == 101) break;
    }
    haveAnswerHead = true;
    const auto encoding = parser->get()[http::field::content_encoding];
    const ContentCoding coding = CodingOf(std::string_view(encoding.data(), encoding.size()));
    if (coding != ContentCoding::Identity) inflater = std::make_unique<Inflater>(coding);
    return true;
}

// Delivers undecoded body bytes into `out`: at least one, or none at the end of the body.
bool Request::PullBody(char* out, std::size_t capacity, std::size_t& produced) {
    produced = 0;
    auto& p = *parser;
    auto& body = p.get().body();
    while (!p.is_done()) {
        bool needData = received.size() == 0;
        if (!needData) {
            body.data = out;
            body.size = capacity;
            error_code ec;
            const std::size_t used = p.put(received.data(), ec);
            received.consume(used);
            produced = capacity - body.size;
            body.data = nullptr;
            body.size = 0;
            if (ec == http::error::need_buffer) {
                ec = {};  // `out` is full
            } else if (ec == http::error::need_more) {
                ec = {};
                needData = true;
            }
            if (ec) return Failed(ERROR_HTTP_INVALID_SERVER_RESPONSE);
            if (produced > 0) return true;
            if (used == 0) needData = true;
        }
        if (needData) {
            std::size_t count = 0;
            const error_code ec = ReceiveSome(true, count);
            if (ec == asio::error::eof) {
                // Only an answer without length or chunks ends with the connection.
                error_code eofEc;
                p.put_eof(eofEc);
                if (eofEc) return Failed(ERROR_INTERNET_CONNECTION_ABORTED);
            } else if (ec == http::error::buffer_overflow) {
                return Failed(ERROR_HTTP_INVALID_SERVER_RESPONSE);
            } else if (ec) {
                return Failed(TransferError(ec));
            }
        }
    }
    return true;
}

bool Request::FillInflaterInput() {
    Inflater& z = *inflater;
    if (z.begin == z.end) z.begin = z.end = 0;
    std::size_t count = 0;
    if (!PullBody(z.input.get() + z.end, kCompressedInputSize - z.end, count)) return false;
    if (count == 0) z.inputEnded = true;
    z.end += count;
    return true;
}

bool Request::StartInflater() {
    Inflater& z = *inflater;
    // 15 + 32: a 32 KiB window, with a gzip or zlib wrapper told apart by its header.
    int windowBits = 15 + 32;
    if (z.coding == ContentCoding::Deflate &&
        !IsZlibHeader(static_cast<unsigned char>(z.input[z.begin]),
                      static_cast<unsigned char>(z.input[z.begin + 1])))
        windowBits = -15;
    const int rc = inflateInit2(&z.stream, windowBits);
    if (rc != Z_OK)
        return Failed(rc == Z_MEM_ERROR ? ERROR_NOT_ENOUGH_MEMORY : ERROR_INTERNET_INTERNAL_ERROR);
    z.started = true;
    return true;
}

// Delivers decoded body bytes into `out`: at least one, or none at the end of the body.
bool Request::Inflate(char* out, std::size_t capacity, std::size_t& produced) {
    Inflater& z = *inflater;
    produced = 0;
    for (;;) {
        if (z.begin == z.end && !z.inputEnded && !FillInflaterInput()) return false;
        if (!z.started) {
            // Two bytes tell a zlib stream from raw deflate.
            while (z.end - z.begin < 2 && !z.inputEnded)
                if (!FillInflaterInput()) return false;
            if (z.begin == z.end) return true;  // an empty body stays empty
            if (z.end - z.begin < 2) return Failed(ERROR_HTTP_INVALID_SERVER_RESPONSE);
            if (!StartInflater()) return false;
        }
        if (z.streamEnded) {
            if (z.begin == z.end) {
                if (z.inputEnded) return true;
                continue;
            }
            // More bytes after the end: the next member of a gzip file, else an error.
            if (z.coding != ContentCoding::Gzip || inflateReset(&z.stream) != Z_OK)
                return Failed(ERROR_HTTP_INVALID_SERVER_RESPONSE);
            z.streamEnded = false;
        }
        z.stream.next_in = reinterpret_cast<Bytef*>(z.input.get() + z.begin);
        z.stream.avail_in = static_cast<uInt>(z.end - z.begin);
        z.stream.next_out = reinterpret_cast<Bytef*>(out);
        z.stream.avail_out = static_cast<uInt>(std::min<std::size_t>(capacity, UINT_MAX));
        const uInt room = z.stream.avail_out;
        const int rc = inflate(&z.stream, Z_NO_FLUSH);
        z.begin = z.end - z.stream.avail_in;
        produced = room - z.stream.avail_out;
        if (rc == Z_STREAM_END)
            z.streamEnded = true;
        else if (rc == Z_MEM_ERROR)
            return Failed(ERROR_NOT_ENOUGH_MEMORY);
        else if (rc != Z_OK && rc != Z_BUF_ERROR)
            return Failed(ERROR_HTTP_INVALID_SERVER_RESPONSE);
        if (produced > 0) return true;
        if (z.begin == z.end && z.inputEnded && !z.streamEnded)
            return Failed(ERROR_HTTP_INVALID_SERVER_RESPONSE);  // cut short
    }
}

void CloseTree(InternetHandle* h) {
    while (!h->children.empty()) CloseTree(h->children.front());
    if (h->kind == HandleKind::Connection) {
        Notify(*h, INTERNET_STATUS_CLOSING_CONNECTION);
        Notify(*h, INTERNET_STATUS_CONNECTION_CLOSED);
    }
    HINTERNET self = h;
    Notify(*h, INTERNET_STATUS_HANDLE_CLOSING, &self, sizeof self);
    if (h->parent != nullptr) {
        auto& siblings = h->parent->children;
        siblings.erase(std::find(siblings.begin(), siblings.end(), h));
    }
    {
        std::lock_guard lock(g_handlesMutex);
        g_handles.erase(h);
    }
    delete h;
}

// Maps an exception escaping from a call to its last-error number.
uint32_t ErrorOf(const std::exception& e) {
    return dynamic_cast<const std::bad_alloc*>(&e) != nullptr ? ERROR_NOT_ENOUGH_MEMORY
                                                              : ERROR_INTERNET_INTERNAL_ERROR;
}

}  // namespace

// -----------------------------------------------------------------------------------------

HINTERNET InternetOpenA(const char* agent, uint32_t accessType, const char* /*proxy*/,
                        const char* /*proxyBypass*/, uint32_t flags) {
    if ((accessType != INTERNET_OPEN_TYPE_DIRECT && accessType != INTERNET_OPEN_TYPE_PRECONFIG) ||
        (flags & INTERNET_FLAG_ASYNC) != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    try {
        auto session = std::make_unique<Session>();
        session->agent = agent != nullptr ? agent : "";
        Register(session.get(), nullptr);
        return session.release();
    } catch (const std::exception& e) {
        SetLastError(ErrorOf(e));
        return nullptr;
    }
}

INTERNET_STATUS_CALLBACK InternetSetStatusCallback(HINTERNET hInternet,
                                                   INTERNET_STATUS_CALLBACK callback) {
    InternetHandle* h = FindHandle(hInternet, std::nullopt);
    if (h == nullptr) return INTERNET_INVALID_STATUS_CALLBACK;
    return std::exchange(h->callback, callback);
}

bool InternetSetOptionA(HINTERNET hInternet, uint32_t option, const void* buffer, uint32_t length) {
    InternetHandle* h = FindHandle(hInternet, std::nullopt);
    if (h == nullptr) return false;
    uint32_t* target = nullptr;
    switch (option) {
        case INTERNET_OPTION_CONNECT_TIMEOUT:
            target = &h->timeouts.connectMs;
            break;
        case INTERNET_OPTION_SEND_TIMEOUT:
            target = &h->timeouts.sendMs;
            break;
        case INTERNET_OPTION_RECEIVE_TIMEOUT:
            target = &h->timeouts.receiveMs;
            break;
        default:
            return Fail(ERROR_INTERNET_INVALID_OPTION);
    }
    uint32_t value = 0;
    if (buffer == nullptr || length != sizeof value) return Fail(ERROR_INVALID_PARAMETER);
    std::memcpy(&value, buffer, sizeof value);
    if (value == 0) return Fail(ERROR_INVALID_PARAMETER);  // every wait stays bounded
    *target = value;
    return true;
}

HINTERNET InternetConnectA(HINTERNET session, const char* serverName, uint16_t port,
                           const char* /*user*/, const char* /*password*/, uint32_t service,
                           uint32_t /*flags*/, uintptr_t context) {
    Session* s = Find<Session>(session);
    if (s == nullptr) return nullptr;
    try {
        auto connection = std::make_unique<Connection>();
        connection->port = port == INTERNET_INVALID_PORT_NUMBER ? INTERNET_DEFAULT_HTTP_PORT : port;
        if (service != INTERNET_SERVICE_HTTP || serverName == nullptr ||
            !ParseServer(serverName, connection->host, connection->port)) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return nullptr;
        }
        connection->context = context;
        Register(connection.get(), s);
        Connection* c = connection.release();
        HINTERNET created = c;
        Notify(*c, INTERNET_STATUS_HANDLE_CREATED, &created, sizeof created);
        return c;
    } catch (const std::exception& e) {
        SetLastError(ErrorOf(e));
        return nullptr;
    }
}

HINTERNET HttpOpenRequestA(HINTERNET connect, const char* verb, const char* objectName,
                           const char* version, const char* referrer,
                           const char* const* acceptTypes, uint32_t flags, uintptr_t context) {
    Connection* c = Find<Connection>(connect);
    if (c == nullptr) return nullptr;
    try {
        auto request = std::make_unique<Request>();
        request->verb = verb != nullptr ? verb : "GET";
        request->object = objectName != nullptr && *objectName != '\0' ? objectName : "/";
        request->version = version != nullptr ? version : "HTTP/1.1";
        bool valid = IsToken(request->verb) && IsVisible(request->object) &&
                     IsVisible(request->version) && (flags & INTERNET_FLAG_SECURE) == 0;
        if (valid && referrer != nullptr)
            valid = SplitHeaderLines(std::string("Referer: ") + referrer, request->headerLines);
        if (valid && acceptTypes != nullptr && *acceptTypes != nullptr) {
            std::string accept = "Accept: ";
            for (const char* const* type = acceptTypes; *type != nullptr; ++type)
                accept.append(type == acceptTypes ? "" : ", ").append(*type);
            valid = SplitHeaderLines(accept, request->headerLines);
        }
        if (!valid) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return nullptr;
        }
        request->context = context;
        request->sendBuffer.reserve(kSendBufferSize);
        Register(request.get(), c);
        Request* r = request.release();
        HINTERNET created = r;
        Notify(*r, INTERNET_STATUS_HANDLE_CREATED, &created, sizeof created);
        return r;
    } catch (const std::exception& e) {
        SetLastError(ErrorOf(e));
        return nullptr;
    }
}

bool HttpAddRequestHeadersA(HINTERNET request, const char* headers, uint32_t length,
                            uint32_t modifiers) {
    Request* r = Find<Request>(request);
    if (r == nullptr) return false;
    if (headers == nullptr || (modifiers & ~HTTP_ADDREQ_FLAG_ADD) != 0)
        return Fail(ERROR_INVALID_PARAMETER);
    try {
        const std::string_view text =
            length == UINT32_MAX ? std::string_view(headers) : std::string_view(headers, length);
        std::vector<std::string> lines;
        if (text.find('\0') != std::string_view::npos || !SplitHeaderLines(text, lines))
            return Fail(ERROR_INVALID_PARAMETER);
        r->headerLines.insert(r->headerLines.end(), lines.begin(), lines.end());
        return true;
    } catch (const std::exception& e) {
        return Fail(ErrorOf(e));
    }
}

bool HttpSendRequestExA(HINTERNET request, const INTERNET_BUFFERSA* in, INTERNET_BUFFERSA* /*out*/,
                        uint32_t /*flags*/, uintptr_t /*context*/) {
    Request* r = Find<Request>(request);
    if (r == nullptr) return false;
    try {
        std::vector<std::string> extraLines;
        if (in != nullptr) {
            if (in->Next != nullptr || (in->dwBufferLength != 0 && in->lpvBuffer == nullptr))
                return Fail(ERROR_INVALID_PARAMETER);
            if (in->lpcszHeader != nullptr) {
                const std::string_view text =
                    in->dwHeadersLength == UINT32_MAX
                        ? std::string_view(in->lpcszHeader)
                        : std::string_view(in->lpcszHeader, in->dwHeadersLength);
                if (text.find('\0') != std::string_view::npos ||
                    !SplitHeaderLines(text, extraLines))
                    return Fail(ERROR_INVALID_PARAMETER);
            }
        }
        r->Reset();
        if (!r->Connect(*static_cast<const Connection*>(r->parent))) return false;

        std::string head = r->verb + " " + r->object + " " + r->version + "\r\n";
        for (const auto* lines : {&r->headerLines, &extraLines})
            for (const std::string& line : *lines) head.append(line).append("\r\n");
        head.append("\r\n");

        Notify(*r, INTERNET_STATUS_SENDING_REQUEST);
        if (!r->SendAll(asio::buffer(head))) return false;
        r->state = RequestState::Sending;
        NotifyCount(*r, INTERNET_STATUS_REQUEST_SENT, head.size());
        if (in != nullptr && in->dwBufferLength != 0 &&
            !r->Write(static_cast<const char*>(in->lpvBuffer), in->dwBufferLength))
            return false;
        return true;
    } catch (const std::exception& e) {
        return r->Failed(ErrorOf(e));
    }
}

bool InternetWriteFile(HINTERNET request, const void* buffer, uint32_t count, uint32_t* written) {
    Request* r = Find<Request>(request);
    if (r == nullptr) return false;
    if (written == nullptr || (buffer == nullptr && count != 0))
        return Fail(ERROR_INVALID_PARAMETER);
    *written = 0;
    if (r->state != RequestState::Sending) return Fail(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
    try {
        Notify(*r, INTERNET_STATUS_SENDING_REQUEST);
        if (count != 0 && !r->Write(static_cast<const char*>(buffer), count)) return false;
        *written = count;
        NotifyCount(*r, INTERNET_STATUS_REQUEST_SENT, count);
        return true;
    } catch (const std::exception& e) {
        return r->Failed(ErrorOf(e));
    }
}

bool HttpEndRequestA(HINTERNET request, INTERNET_BUFFERSA* /*out*/, uint32_t /*flags*/,
                     uintptr_t /*context*/) {
    Request* r = Find<Request>(request);
    if (r == nullptr) return false;
    if (r->state != RequestState::Sending) return Fail(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
    try {
        if (!r->Flush()) return false;
        Notify(*r, INTERNET_STATUS_RECEIVING_RESPONSE);
        uint64_t headBytes = 0;
        if (!r->ReadHead(headBytes)) return false;
        r->state = RequestState::Receiving;
        NotifyCount(*r, INTERNET_STATUS_RESPONSE_RECEIVED, headBytes);
        return true;
    } catch (const std::exception& e) {
        return r->Failed(ErrorOf(e));
    }
}

bool InternetReadFile(HINTERNET request, void* buffer, uint32_t count, uint32_t* read) {
    Request* r = Find<Request>(request);
    if (r == nullptr) return false;
    if (read == nullptr || (buffer == nullptr && count != 0)) return Fail(ERROR_INVALID_PARAMETER);
    *read = 0;
    if (r->state != RequestState::Receiving) return Fail(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
    try {
        char* out = static_cast<char*>(buffer);
        std::size_t delivered = 0;
        while (delivered < count) {
            std::size_t n = 0;
            const bool ok = r->inflater ? r->Inflate(out + delivered, count - delivered, n)
                                        : r->PullBody(out + delivered, count - delivered, n);
            if (!ok) return false;
            if (n == 0) break;
            delivered += n;
        }
        *read = static_cast<uint32_t>(delivered);
        return true;
    } catch (const std::exception& e) {
        return r->Failed(ErrorOf(e));
    }
}

bool HttpQueryInfoA(HINTERNET request, uint32_t infoLevel, void* buffer, uint32_t* length,
                    uint32_t* index) {
    Request* r = Find<Request>(request);
    if (r == nullptr) return false;
    if ((infoLevel & ~HTTP_QUERY_FLAG_NUMBER) != HTTP_QUERY_STATUS_CODE || length == nullptr)
        return Fail(ERROR_INVALID_PARAMETER);
    if (!r->haveAnswerHead) return Fail(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
    if (index != nullptr && *index != 0)
        return Fail(ERROR_HTTP_HEADER_NOT_FOUND);  // the status line occurs once
    const uint32_t status = r->parser->get().result_int();
    if ((infoLevel & HTTP_QUERY_FLAG_NUMBER) != 0) {
        if (buffer == nullptr || *length < sizeof status) {
            *length = sizeof status;
            return Fail(ERROR_INSUFFICIENT_BUFFER);
        }
        std::memcpy(buffer, &status, sizeof status);
        *length = sizeof status;
    } else {
        const std::string text = std::to_string(status);
        if (buffer == nullptr || *length < text.size() + 1) {
            *length = static_cast<uint32_t>(text.size() + 1);
            return Fail(ERROR_INSUFFICIENT_BUFFER);
        }
        std::memcpy(buffer, text.c_str(), text.size() + 1);
        *length = static_cast<uint32_t>(text.size());
    }
    if (index != nullptr) *index = 1;
    return true;
}

bool InternetCloseHandle(HINTERNET hInternet) {
    InternetHandle* h = FindHandle(hInternet, std::nullopt);
    if (h == nullptr) return false;
    CloseTree(h);
    return true;
}
