// The network phase of an order: one POST of the body file to the print service, whose
// answer is the account password.

#include <cerrno>
#include <cstdio>
#include <memory>
#include <string>

#include "host/HostFiles.h"
#include "host/MessageIds.h"
#include "order/BodyFile.h"
#include "order/PrintServiceDlg.h"
#include "platform/ErrorText.h"
#include "platform/FileSystem.h"
#include "platform/Format.h"
#include "platform/Internet.h"
#include "submit/TransferStatus.h"

namespace {

constexpr const char* kAgent = "Pictorvale";
constexpr const char* kObjectName = "/pvp.php";
constexpr const char* kErrorFormat = "Error: %s\n\n LastError: %lu ";
constexpr std::size_t kTransferBlock = 1460;
constexpr uint32_t kAnswerRead = 499;
// The body is read through a large stdio buffer; it is still handed on in 1460-byte blocks.
constexpr std::size_t kBodyStreamBuffer = 256 * 1024;

// GetLastError in the form the texts show: a positive code as the HRESULT of a system
// error (0x8007xxxx), anything else as it is.
unsigned long ConvertedLastError() {
    uint32_t code = GetLastError();
    if (static_cast<int32_t>(code) > 0) return (code & 0xFFFFu) | 0x80070000u;
    return code;
}

unsigned long LastErrorCode() { return GetLastError(); }

// Percent-encodes every byte outside A-Z a-z 0-9 - . _ ~ @, so the address carries the
// values exactly, whatever they hold.
std::string EncodeQueryValue(const std::string& value) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (char ch : value) {
        const auto c = static_cast<unsigned char>(ch);
        bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                     c == '-' || c == '.' || c == '_' || c == '~' || c == '@';
        if (plain) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    return out;
}

void AddHeader(HINTERNET request, const std::string& line) {
    HttpAddRequestHeadersA(request, line.c_str(), static_cast<uint32_t>(line.size()), HTTP_ADDREQ_FLAG_ADD);
}

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

// Closes the session (and with it its connection) when a failure leaves it open.
struct SessionGuard {
    HINTERNET session;
    ~SessionGuard() {
        if (session) InternetCloseHandle(session);
    }
};

}  // namespace

void CPrintServiceDlg::PostBodyFile() {
    const CString bodyFile = m_strBodyFile.Left(kTextBufferSize - 1);
    const CString host = LoadServiceHost(m_strSettingsFile);

    HINTERNET session = InternetOpenA(kAgent, INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
    if (!session) {
        LoadMessage(IDS_ERROR_LAST_ERROR);
        throw CErrorText(FormatText(m_strMessage, "InternetOpen Failed", ConvertedLastError()));
    }
    SessionGuard guard{session};
    InternetSetOptionA(session, INTERNET_OPTION_CONNECT_TIMEOUT, &m_timeouts.connectMs, sizeof(uint32_t));
    InternetSetOptionA(session, INTERNET_OPTION_SEND_TIMEOUT, &m_timeouts.sendMs, sizeof(uint32_t));
    InternetSetOptionA(session, INTERNET_OPTION_RECEIVE_TIMEOUT, &m_timeouts.receiveMs, sizeof(uint32_t));

    m_context.hDlg = &m_wnd;
    m_context.szPrefix[0] = '\0';
    m_context.dwBytesSent = 0;
    m_context.dwBytesTotal = 0;

    if (InternetSetStatusCallback(session, TransferStatusCallback) == INTERNET_INVALID_STATUS_CALLBACK)
        throw CErrorText(FormatText(kErrorFormat, "InternetSetStatusCallback failed", ConvertedLastError()));

    HINTERNET connect = InternetConnectA(session, host, INTERNET_INVALID_PORT_NUMBER, nullptr, nullptr,
                                         INTERNET_SERVICE_HTTP, 0, reinterpret_cast<uintptr_t>(&m_context));
    if (!connect) throw CErrorText(FormatText(kErrorFormat, "InternetConnect Failed", ConvertedLastError()));

    if (!UseHttpSendReqEx(connect, bodyFile)) {
        LoadMessage(IDS_USE_HTTP_SEND_REQ_EX_FAILED);
        throw CErrorText(FormatText(m_strMessage, LastErrorCode()));
    }
    if (!InternetCloseHandle(connect))
        throw CErrorText(FormatText(kErrorFormat, "Failed to close Connect handle", ConvertedLastError()));
    guard.session = nullptr;
    if (!InternetCloseHandle(session))
        throw CErrorText(FormatText(kErrorFormat, "Failed to close Session handle", ConvertedLastError()));
}

bool CPrintServiceDlg::UseHttpSendReqEx(HINTERNET connect, const CString& bodyFile) {
    const CString host = LoadServiceHost(m_strSettingsFile);
    const auto context = reinterpret_cast<uintptr_t>(&m_context);
    auto raise = [this](std::uint16_t id, auto value) {
        LoadMessage(id);
        throw CErrorText(FormatText(m_strMessage, value));
    };
    try {
        m_strObjectName = kObjectName;
        HINTERNET request = HttpOpenRequestA(connect, "POST", m_strObjectName, nullptr, nullptr, nullptr,
                                             INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, context);
        if (!request) raise(IDS_OPEN_REQUEST_FAILED, LastErrorCode());

        AddHeader(request,
                  "Accept: image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, "
                  "application/vnd.ms-powerpoint, application/vnd.ms-excel, application/msword, "
                  "application/x-shockwave-flash, */*");
        AddHeader(request, "Accept-Language: en-us");
        AddHeader(request, std::string("Content-Type: multipart/form-data; boundary=") + kMimeBoundary);
        AddHeader(request, "Accept-Encoding: gzip, deflate");
        AddHeader(request,
                  "User-Agent: Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1; SV1; .NET CLR "
                  "1.0.3705; .NET CLR 1.1.4322; Tablet PC 1.7)");
        AddHeader(request, "Host: " + host.str());

        // The stream's buffer is ours: given no buffer, the C library ignores the size and
        // reads in pieces of one disk block. Declared first, it outlives the stream.
        const auto streamBuffer = std::make_unique<char[]>(kBodyStreamBuffer);
        std::unique_ptr<std::FILE, FileCloser> file(std::fopen(bodyFile, "rb"));
        if (!file) {
            SetLastError(LastErrorFromErrno(errno));
            raise(IDS_LOCAL_FILE_OPEN_FAILED, bodyFile);
        }
        std::setvbuf(file.get(), streamBuffer.get(), _IOFBF, kBodyStreamBuffer);
        std::fseek(file.get(), 0, SEEK_END);
        const long long size = ::ftello(file.get());
        std::fseek(file.get(), 0, SEEK_SET);
        if (size < 0) {
            SetLastError(LastErrorFromErrno(errno));
            raise(IDS_READFILE_FAILED, LastErrorCode());
        }
        m_context.dwBytesTotal = static_cast<std::uint64_t>(size);

        AddHeader(request, "Content-Length: " + std::to_string(size));
        AddHeader(request, "Connection: Keep-Alive");

        INTERNET_BUFFERSA buffers{};
        buffers.dwStructSize = 40;
        buffers.dwBufferTotal = static_cast<std::uint64_t>(size);
        if (!HttpSendRequestExA(request, &buffers, nullptr, 0, context))
            raise(IDS_SEND_REQUEST_FAILED, LastErrorCode());

        char block[kTransferBlock];
        std::uint64_t total = 0;
        std::size_t count;
        do {
            count = std::fread(block, 1, sizeof block, file.get());
            if (count < sizeof block && std::ferror(file.get())) {
                SetLastError(LastErrorFromErrno(errno));
                raise(IDS_READFILE_FAILED, LastErrorCode());
            }
            // Counted before the write, so the reports during the write include this block.
            total += count;
            m_context.dwBytesSent = total;
            uint32_t written = 0;
            if (!InternetWriteFile(request, block, static_cast<uint32_t>(count), &written))
                raise(IDS_INTERNET_WRITE_FAILED, LastErrorCode());
        } while (count == sizeof block);

        if (!HttpEndRequestA(request, nullptr, 0, 0)) raise(IDS_END_REQUEST_FAILED, LastErrorCode());
        file.reset();

        // Only a 2xx answer carries a password; an error page must not become one.
        uint32_t status = 0;
        uint32_t length = sizeof status;
        if (!HttpQueryInfoA(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &length,
                            nullptr))
            raise(IDS_END_REQUEST_FAILED, LastErrorCode());
        if (status < 200 || status > 299) {
            SetLastError(status);
            raise(IDS_END_REQUEST_FAILED, static_cast<unsigned long>(status));
        }

        char answer[kAnswerRead + 1];
        uint32_t read = 0;
        if (!InternetReadFile(request, answer, kAnswerRead, &read))
            throw CErrorText(FormatText(kErrorFormat, "InternetReadFile failed", ConvertedLastError()));
        const std::string password(answer, read);

        m_strAccountUrl = CString("http://" + host.str() + "/glimmerprints.php?username=" +
                                  EncodeQueryValue(m_strEmail.str()) +
                                  "&password=" + EncodeQueryValue(password));
        return true;
    } catch (const CErrorText& e) {
        AfxMessageBox(e.Text(), MB_ICONERROR);
        m_wnd.EndDialog(IDCANCEL);
        return false;
    }
}
