#pragma once
// The HTTP client calls the upload uses, with the desktop HTTP library's names, argument
// order and numbers, on Linux. Everything is synchronous: each call blocks until it is done
// or has failed, and the status callback runs on the calling thread inside the calls.
//
// Handles: a session (InternetOpenA) holds connections (InternetConnectA), a connection
// holds requests (HttpOpenRequestA). Closing a handle also closes everything under it, so
// closing the session releases all. A failing call returns false or null and stores the
// reason for GetLastError() (platform/LastError.h).
//
// One request on the wire:
//   HttpSendRequestExA   resolves the name, connects and sends the head: the request line
//                        "<verb> <object> <version>" and then exactly the header lines the
//                        caller added, in its order, and an empty line. No header line is
//                        made up by this layer (no Host, Content-Length or User-Agent).
//   InternetWriteFile    body bytes, gathered into 64 KiB socket writes.
//   HttpEndRequestA      sends what is left of the body and reads the answer's head.
//   InternetReadFile     the answer's body, decoded from chunked transfer and from gzip or
//                        deflate content encoding; memory stays bounded for any size.
//
// Every wait is bounded: connecting (name resolution included) 30 s, each socket send 30 s,
// each socket receive 60 s; InternetSetOptionA changes them. There is no proxy, no cache, no
// TLS, no authentication, and redirects are returned to the caller as they are.

#include <cstdint>

#include "platform/LastError.h"

struct InternetHandle;
using HINTERNET = InternetHandle*;

// Status callback: the handle that reports, that handle's context value, the status code
// and status information (see the status codes below). It is only called for handles with
// a non-zero context. It must not close the handle that reports.
using INTERNET_STATUS_CALLBACK = void (*)(HINTERNET hInternet, uintptr_t context, uint32_t status,
                                          void* info, uint32_t infoLength);
inline const INTERNET_STATUS_CALLBACK INTERNET_INVALID_STATUS_CALLBACK =
    reinterpret_cast<INTERNET_STATUS_CALLBACK>(static_cast<intptr_t>(-1));

// Buffers record of HttpSendRequestExA. Lengths of whole bodies are 64-bit.
struct INTERNET_BUFFERSA {
    uint32_t dwStructSize = 0;          // not checked
    INTERNET_BUFFERSA* Next = nullptr;  // must be null: one record only
    const char* lpcszHeader = nullptr;  // more header lines for this send, or null
    uint32_t dwHeadersLength = 0;       // their length in bytes; 0xFFFFFFFF: NUL-terminated
    uint32_t dwHeadersTotal = 0;        // not used
    void* lpvBuffer = nullptr;          // first body bytes, sent after the head, or null
    uint32_t dwBufferLength = 0;        // their length
    uint64_t dwBufferTotal = 0;         // announced body length; not used on the wire
};

// InternetOpenA access types and flags.
inline constexpr uint32_t INTERNET_OPEN_TYPE_PRECONFIG = 0;  // the same as direct here
inline constexpr uint32_t INTERNET_OPEN_TYPE_DIRECT = 1;
inline constexpr uint32_t INTERNET_OPEN_TYPE_PROXY = 3;      // not supported
inline constexpr uint32_t INTERNET_FLAG_ASYNC = 0x10000000;  // not supported

// InternetConnectA.
inline constexpr uint16_t INTERNET_INVALID_PORT_NUMBER = 0;  // the service's default port
inline constexpr uint16_t INTERNET_DEFAULT_HTTP_PORT = 80;
inline constexpr uint32_t INTERNET_SERVICE_HTTP = 3;

// HttpOpenRequestA flags. There is no cache, so the cache flags change nothing.
inline constexpr uint32_t INTERNET_FLAG_RELOAD = 0x80000000;
inline constexpr uint32_t INTERNET_FLAG_NO_CACHE_WRITE = 0x04000000;
inline constexpr uint32_t INTERNET_FLAG_SECURE = 0x00800000;  // not supported

// HttpAddRequestHeadersA modifiers: only adding is supported.
inline constexpr uint32_t HTTP_ADDREQ_FLAG_ADD = 0x20000000;

// HttpQueryInfoA.
inline constexpr uint32_t HTTP_QUERY_STATUS_CODE = 19;
inline constexpr uint32_t HTTP_QUERY_FLAG_NUMBER = 0x20000000;

// InternetSetOptionA: time-outs in milliseconds (a uint32_t, at least 1).
inline constexpr uint32_t INTERNET_OPTION_CONNECT_TIMEOUT = 2;
inline constexpr uint32_t INTERNET_OPTION_SEND_TIMEOUT = 5;
inline constexpr uint32_t INTERNET_OPTION_RECEIVE_TIMEOUT = 6;

// Status codes and their information:
//   10 RESOLVING_NAME      the host name (NUL-terminated text; length counts the NUL)
//   11 NAME_RESOLVED       the first address found, as text
//   20 CONNECTING_TO_SERVER, 21 CONNECTED_TO_SERVER
//                          the address and port, "127.0.0.1:80" or "[::1]:80"
//   30 SENDING_REQUEST     none (null, 0)
//   31 REQUEST_SENT        uint32_t: the head's size (HttpSendRequestExA) or the count
//                          taken (InternetWriteFile)
//   40 RECEIVING_RESPONSE  none
//   41 RESPONSE_RECEIVED   uint32_t: bytes received from the network in this step
//   50 CLOSING_CONNECTION, 51 CONNECTION_CLOSED  none
//   60 HANDLE_CREATED, 70 HANDLE_CLOSING         HINTERNET: the handle
// When: 60 as a connection or request is created; HttpSendRequestExA 10, 11, 20, 21, 30,
// 31; InternetWriteFile 30, 31; HttpEndRequestA 40, 41; InternetReadFile 40, 41 around each
// receive from the network; closing a request 70; closing a connection first closes its
// requests, then 50, 51, 70.
inline constexpr uint32_t INTERNET_STATUS_RESOLVING_NAME = 10;
inline constexpr uint32_t INTERNET_STATUS_NAME_RESOLVED = 11;
inline constexpr uint32_t INTERNET_STATUS_CONNECTING_TO_SERVER = 20;
inline constexpr uint32_t INTERNET_STATUS_CONNECTED_TO_SERVER = 21;
inline constexpr uint32_t INTERNET_STATUS_SENDING_REQUEST = 30;
inline constexpr uint32_t INTERNET_STATUS_REQUEST_SENT = 31;
inline constexpr uint32_t INTERNET_STATUS_RECEIVING_RESPONSE = 40;
inline constexpr uint32_t INTERNET_STATUS_RESPONSE_RECEIVED = 41;
inline constexpr uint32_t INTERNET_STATUS_CLOSING_CONNECTION = 50;
inline constexpr uint32_t INTERNET_STATUS_CONNECTION_CLOSED = 51;
inline constexpr uint32_t INTERNET_STATUS_HANDLE_CREATED = 60;
inline constexpr uint32_t INTERNET_STATUS_HANDLE_CLOSING = 70;
// Never reported by this layer; named for the callback's table.
inline constexpr uint32_t INTERNET_STATUS_REQUEST_COMPLETE = 100;
inline constexpr uint32_t INTERNET_STATUS_REDIRECT = 110;
inline constexpr uint32_t INTERNET_STATUS_INTERMEDIATE_RESPONSE = 120;
inline constexpr uint32_t INTERNET_STATUS_STATE_CHANGE = 200;

// GetLastError() numbers of the calls below, besides ERROR_INVALID_HANDLE (a null, closed or
// wrong kind of handle), ERROR_INVALID_PARAMETER (a bad argument) and
// ERROR_INSUFFICIENT_BUFFER (HttpQueryInfoA).
inline constexpr uint32_t ERROR_INTERNET_TIMEOUT = 12002;
inline constexpr uint32_t ERROR_INTERNET_NAME_NOT_RESOLVED = 12007;
inline constexpr uint32_t ERROR_INTERNET_INVALID_OPTION = 12009;
inline constexpr uint32_t ERROR_INTERNET_INCORRECT_HANDLE_STATE = 12019;  // call out of order
inline constexpr uint32_t ERROR_INTERNET_CANNOT_CONNECT = 12029;
inline constexpr uint32_t ERROR_INTERNET_CONNECTION_ABORTED = 12030;  // peer closed early
inline constexpr uint32_t ERROR_INTERNET_CONNECTION_RESET = 12031;    // peer reset (RST)
inline constexpr uint32_t ERROR_HTTP_HEADER_NOT_FOUND = 12150;
inline constexpr uint32_t ERROR_HTTP_INVALID_SERVER_RESPONSE = 12152;

// A session. `agent` is kept but not sent (the caller adds its own User-Agent line).
// Access type PRECONFIG or DIRECT; no proxy; flags 0 (ASYNC is refused).
HINTERNET InternetOpenA(const char* agent, uint32_t accessType, const char* proxy,
                        const char* proxyBypass, uint32_t flags);

// Installs `callback` (null removes it) on any handle and returns the one it had (null when
// none), or INTERNET_INVALID_STATUS_CALLBACK for a bad handle. Connections and requests take
// their parent's callback when they are created.
INTERNET_STATUS_CALLBACK InternetSetStatusCallback(HINTERNET hInternet,
                                                   INTERNET_STATUS_CALLBACK callback);

// Changes a time-out of a handle; connections and requests take their parent's time-outs
// when they are created. `buffer` points to a uint32_t of milliseconds, `length` is 4.
bool InternetSetOptionA(HINTERNET hInternet, uint32_t option, const void* buffer, uint32_t length);

// A connection to `serverName`: "host", "host:port", "[v6-address]" or "[v6-address]:port".
// A port in the name is used in place of `port`; port 0 is 80. Nothing goes over the
// network yet: the name is resolved by HttpSendRequestExA. User and password are ignored.
HINTERNET InternetConnectA(HINTERNET session, const char* serverName, uint16_t port,
                           const char* user, const char* password, uint32_t service, uint32_t flags,
                           uintptr_t context);

// A request on a connection. Null verb: "GET"; null or empty object: "/"; null version:
// "HTTP/1.1". A referrer or accepted types, when given, become "Referer:" and "Accept:"
// lines before the added ones.
HINTERNET HttpOpenRequestA(HINTERNET connect, const char* verb, const char* objectName,
                           const char* version, const char* referrer,
                           const char* const* acceptTypes, uint32_t flags, uintptr_t context);

// Adds header lines ("Name: value", several separated by CR LF, line ends optional) to the
// request. `length` in bytes, or 0xFFFFFFFF for NUL-terminated text. Modifiers 0 or
// HTTP_ADDREQ_FLAG_ADD; a line without a name and colon is refused.
bool HttpAddRequestHeadersA(HINTERNET request, const char* headers, uint32_t length,
                            uint32_t modifiers);

// Connects and sends the head (see the top). `in` may be null; `out`, flags and context are
// not used. Calling it again on the same request starts the request over on a new socket.
bool HttpSendRequestExA(HINTERNET request, const INTERNET_BUFFERSA* in, INTERNET_BUFFERSA* out,
                        uint32_t flags, uintptr_t context);

// Hands `count` body bytes to the request (0 is allowed); `*written` becomes `count`.
bool InternetWriteFile(HINTERNET request, const void* buffer, uint32_t count, uint32_t* written);

// Sends the rest of the body and reads the answer's head (an interim 1xx answer is skipped).
// `out`, flags and context are not used.
bool HttpEndRequestA(HINTERNET request, INTERNET_BUFFERSA* out, uint32_t flags, uintptr_t context);

// Reads answer body bytes, decoded. It blocks until `count` bytes are there or the body has
// ended, so `*read` is less than `count` only at the end; true with 0 after the end. A call
// that fails (connection lost, broken framing or compression) delivers nothing.
bool InternetReadFile(HINTERNET request, void* buffer, uint32_t count, uint32_t* read);

// The answer's status code, after HttpEndRequestA: with HTTP_QUERY_FLAG_NUMBER a uint32_t
// (`*length` 4), else the decimal text with a NUL (`*length` the text's length). A buffer too
// small fails with ERROR_INSUFFICIENT_BUFFER and `*length` the size needed. `index` may be
// null; a non-zero `*index` finds nothing (ERROR_HTTP_HEADER_NOT_FOUND).
bool HttpQueryInfoA(HINTERNET request, uint32_t infoLevel, void* buffer, uint32_t* length,
                    uint32_t* index);

// Closes a handle and everything under it (see the status codes above).
bool InternetCloseHandle(HINTERNET hInternet);
