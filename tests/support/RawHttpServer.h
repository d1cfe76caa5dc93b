#pragma once
// A scripted TCP server on 127.0.0.1 for tests of HTTP clients. It records the exact bytes of
// each request it reads and answers whatever its script sends, byte for byte, so that tests
// can produce chunked, compressed, slow, cut-off, reset or missing answers.
//
// The server binds port 0 and listens in its constructor, so it is ready when that returns.
// Connections are taken one after the other on the server's own thread; each runs the script.
// The destructor stops the thread (also inside a script that waits) and joins it.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

class CRawHttpServer {
public:
    class CConnection {
    public:
        CConnection(CRawHttpServer& server, int fd);
        ~CConnection();
        CConnection(const CConnection&) = delete;
        CConnection& operator=(const CConnection&) = delete;

        // Reads one request: the head up to its empty line and then as many body bytes as its
        // Content-Length line announces (none without one). The bytes are recorded with the
        // server. False when the peer closes first or the server stops.
        bool ReadRequest();
        // The bytes of the last request read.
        const std::string& Request() const { return m_request; }

        bool Send(std::string_view bytes);
        // Sends one byte at a time with `gap` before each.
        bool SendSlowly(std::string_view bytes, std::chrono::milliseconds gap);
        // Closes normally (FIN).
        void Close();
        // Closes with a reset (RST): SO_LINGER on with a zero time-out.
        void Reset();
        // Reads and drops whatever comes until the peer closes or the server stops.
        void WaitForPeerClose();
        // Waits until `flag` is set; false when the server stops first.
        bool WaitFor(const std::atomic<bool>& flag);
        // Sleeps, but wakes early when the server stops; false then.
        bool Pause(std::chrono::milliseconds time);
        bool Stopping() const;

    private:
        // Waits for `events` on the socket; false on stop or poll failure.
        bool WaitReady(short events, int timeoutMs = -1);
        // Appends what arrives to m_pending; false at end of stream, on error or on stop.
        bool ReceiveMore();

        CRawHttpServer& m_server;
        int m_fd;
        std::string m_pending;
        std::string m_request;
    };

    using Script = std::function<void(CConnection&)>;

    explicit CRawHttpServer(Script script);
    ~CRawHttpServer();
    CRawHttpServer(const CRawHttpServer&) = delete;
    CRawHttpServer& operator=(const CRawHttpServer&) = delete;

    uint16_t Port() const { return m_port; }
    // "127.0.0.1:<port>"
    std::string HostAndPort() const;
    // Every request read so far, in order.
    std::vector<std::string> Requests() const;
    // Connections accepted so far.
    int Connections() const { return m_connections.load(); }

private:
    void Run();
    void Record(const std::string& request);

    Script m_script;
    int m_listenFd = -1;
    int m_stopPipe[2] = {-1, -1};
    uint16_t m_port = 0;
    std::atomic<bool> m_stopping{false};
    std::atomic<int> m_connections{0};
    mutable std::mutex m_mutex;
    std::vector<std::string> m_requests;
    std::thread m_thread;
};
