#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <zlib.h>

#include <string>
#include <vector>

#include "order/PrintServiceDlg.h"
#include "platform/ErrorText.h"
#include "support/RawHttpServer.h"
#include "support/RecordingWindow.h"
#include "support/TempDir.h"

namespace {

const std::string kHeaders =
    "Accept: image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, application/vnd.ms-powerpoint, "
    "application/vnd.ms-excel, application/msword, application/x-shockwave-flash, */*\r\n"
    "Accept-Language: en-us\r\n"
    "Content-Type: multipart/form-data; boundary=---------------------------7d4128363704e6\r\n"
    "Accept-Encoding: gzip, deflate\r\n"
    "User-Agent: Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1; SV1; .NET CLR 1.0.3705; .NET CLR "
    "1.1.4322; Tablet PC 1.7)\r\n";

std::string Answer(const std::string& body, const std::string& extra = "") {
    return "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n" + extra +
           "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

std::string Gzip(const std::string& text) {
    z_stream z{};
    deflateInit2(&z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY);
    std::string out(text.size() + 64, '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
    z.avail_in = static_cast<uInt>(text.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

// A port on 127.0.0.1 where nothing listens.
uint16_t ClosedPort() {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    socklen_t len = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    ::close(fd);
    return ntohs(addr.sin_port);
}

class UploadTest : public ::testing::Test {
protected:
    CTempDir dir;
    CRecordingWindow window;
    CPrintServiceDlg dlg{window};

    UploadTest() {
        dlg.m_strSettingsFile = (dir / "pvprint.ini").c_str();
        dlg.m_strBodyFile = (dir / "order.txt").c_str();
        dlg.m_strEmail = "Ann.Lee@example.com";
        dlg.m_timeouts = {2000, 2000, 400};
    }

    void SetService(const std::string& host) { WriteFile(dlg.m_strSettingsFile.str(), "[Service]\nHost=" + host + "\n"); }

    // Runs the network phase; returns the raised text ("" when it completed).
    std::string Post() {
        try {
            dlg.PostBodyFile();
        } catch (const CErrorText& e) {
            return e.Text().str();
        }
        return "";
    }

    std::vector<std::string> Boxes() const {
        std::vector<std::string> out;
        for (const auto& b : window.boxes) out.push_back(b.text);
        return out;
    }

    std::vector<std::string> StatusTexts() const {
        std::vector<std::string> out;
        for (const auto& e : window.events)
            if (e.rfind("text 1002 ", 0) == 0) out.push_back(e.substr(10));
        return out;
    }
};

TEST_F(UploadTest, SendsTheExactRequestAndBuildsTheAccountAddress) {
    const std::string body = std::string(1460, 'a') + std::string(1460, 'b');  // a multiple of 1460
    WriteFile(dlg.m_strBodyFile.str(), body);
    CRawHttpServer server([](CRawHttpServer::CConnection& c) {
        if (c.ReadRequest()) c.Send(Answer("S3cret"));
        c.Close();
    });
    SetService(server.HostAndPort());

    ASSERT_EQ(Post(), "");
    ASSERT_EQ(server.Requests().size(), 1u);
    EXPECT_EQ(server.Requests()[0], "POST /pvp.php HTTP/1.1\r\n" + kHeaders + "Host: " + server.HostAndPort() +
                                        "\r\nContent-Length: 2920\r\nConnection: Keep-Alive\r\n\r\n" + body);
    EXPECT_EQ(dlg.m_strAccountUrl, ("http://" + server.HostAndPort() +
                                    "/glimmerprints.php?username=Ann.Lee@example.com&password=S3cret").c_str());
    EXPECT_EQ(dlg.m_strObjectName, "/pvp.php");
    EXPECT_EQ(dlg.m_context.dwBytesSent, 2920u);
    EXPECT_EQ(dlg.m_context.dwBytesTotal, 2920u);
    EXPECT_TRUE(window.boxes.empty());
    EXPECT_FALSE(window.ended);
}

TEST_F(UploadTest, StatusLineAndProgressFollowTheTransfer) {
    WriteFile(dlg.m_strBodyFile.str(), std::string(2920, 'x'));
    CRawHttpServer server([](CRawHttpServer::CConnection& c) {
        if (c.ReadRequest()) c.Send(Answer("pw"));
        c.Close();
    });
    SetService(server.HostAndPort());
    ASSERT_EQ(Post(), "");

    const std::vector<std::string> head = {" HANDLE_CREATED",     " HANDLE_CREATED",      " RESOLVING_NAME",
                                           " NAME_RESOLVED",      " CONNECTING_TO_SERVER", " CONNECTED_TO_SERVER",
                                           " SENDING_REQUEST",    " REQUEST_SENT"};
    auto texts = StatusTexts();
    ASSERT_GE(texts.size(), head.size() + 6);
    EXPECT_EQ(std::vector<std::string>(texts.begin(), texts.begin() + 8), head);
    // Three writes (1460, 1460 and 0 bytes), each reported before and after.
    for (size_t i = 8; i < 14; ++i) EXPECT_EQ(texts[i], i % 2 == 0 ? " SENDING_REQUEST" : " REQUEST_SENT");
    EXPECT_EQ(texts[14], " RECEIVING_RESPONSE");
    EXPECT_EQ(texts[15], " RESPONSE_RECEIVED");
    EXPECT_EQ(texts.back(), " HANDLE_CLOSING");

    // The bar is untouched until the first block is counted, then shows 50, then 100.
    ASSERT_FALSE(window.progress.empty());
    EXPECT_EQ(window.progress.front(), 50);
    EXPECT_EQ(window.progress.back(), 100);
    size_t firstProgress = 0;
    while (window.events[firstProgress].rfind("progress", 0) != 0) ++firstProgress;
    int statusBefore = 0;
    for (size_t i = 0; i < firstProgress; ++i) statusBefore += window.events[i].rfind("text 1002", 0) == 0;
    EXPECT_EQ(statusBefore, 9);  // the head's eight reports and the first write's "sending"
    for (int p : window.progress) EXPECT_TRUE(p == 50 || p == 100) << p;
}

TEST_F(UploadTest, AnswersOfEveryShapeBecomeThePassword) {
    const std::string long600(600, 'p');
    struct Case {
        const char* name;
        std::string answer;
        std::string password;  // as it stands in the address
    } cases[] = {
        {"empty", Answer(""), ""},
        {"499 bytes", Answer(std::string(499, 'q')), std::string(499, 'q')},
        {"600 bytes", Answer(long600), std::string(499, 'p')},
        {"chunked", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n4\r\ndefg\r\n0\r\n\r\n", "abcdefg"},
        {"gzip", Answer(Gzip("zipped-pw"), "Content-Encoding: gzip\r\n"), "zipped-pw"},
        {"until close", "HTTP/1.0 200 OK\r\n\r\nclosed-pw", "closed-pw"},
        // Bytes that would break the address are percent-encoded.
        {"special", Answer("a b&c#d%e+f\r\n"), "a%20b%26c%23d%25e%2Bf%0D%0A"},
    };
    WriteFile(dlg.m_strBodyFile.str(), "body");
    for (const auto& c : cases) {
        CRawHttpServer server([&](CRawHttpServer::CConnection& conn) {
            if (conn.ReadRequest()) conn.Send(c.answer);
            conn.Close();
        });
        SetService(server.HostAndPort());
        EXPECT_EQ(Post(), "") << c.name;
        EXPECT_EQ(dlg.m_strAccountUrl.str(), "http://" + server.HostAndPort() +
                                                 "/glimmerprints.php?username=Ann.Lee@example.com&password=" +
                                                 c.password)
            << c.name;
    }
    EXPECT_TRUE(window.boxes.empty());
}

TEST_F(UploadTest, AnAddressOfAnyLengthIsEncodedWhole) {
    dlg.m_strEmail = (std::string(96, 'a') + "@b.c").c_str();
    WriteFile(dlg.m_strBodyFile.str(), "body");
    CRawHttpServer server([](CRawHttpServer::CConnection& c) {
        if (c.ReadRequest()) c.Send(Answer(std::string(499, 'z')));
        c.Close();
    });
    SetService(server.HostAndPort());
    ASSERT_EQ(Post(), "");
    EXPECT_GT(dlg.m_strAccountUrl.GetLength(), 600);
    EXPECT_EQ(dlg.m_strAccountUrl.Right(509).str(), "&password=" + std::string(499, 'z'));
    EXPECT_NE(dlg.m_strAccountUrl.Find(std::string(96, 'a') + "@b.c"), -1);
}

struct FailureCase {
    const char* name;
    std::function<void(CRawHttpServer::CConnection&)> script;  // null: no server
    std::string host;                                           // used without a server
    std::vector<std::string> boxPrefixes;                       // the request's own box
    std::string raisedPrefix;
};

TEST_F(UploadTest, FailuresShowTheirTextsAndKeepTheBodyFile) {
    const std::string body(100000, 'b');
    const FailureCase cases[] = {
        {"refused", nullptr, "127.0.0.1:" + std::to_string(ClosedPort()),
         {"Error on HttpSendRequestEx 12029\n"}, "UseHttpSendReqEx failed 12029"},
        {"unresolvable", nullptr, "print-service.invalid", {"Error on HttpSendRequestEx 12007\n"},
         "UseHttpSendReqEx failed 12007"},
        {"never answers",
         [](CRawHttpServer::CConnection& c) {
             c.ReadRequest();
             c.WaitForPeerClose();
         },
         "", {"Error on HttpEndRequest 12002 \n"}, "UseHttpSendReqEx failed 12002"},
        {"reset after the request",
         [](CRawHttpServer::CConnection& c) {
             c.ReadRequest();
             c.Reset();
         },
         "", {"Error on HttpEndRequest 12031 \n"}, "UseHttpSendReqEx failed 12031"},
        {"garbage answer",
         [](CRawHttpServer::CConnection& c) {
             if (c.ReadRequest()) c.Send("NONSENSE\r\n\r\n");
             c.Close();
         },
         "", {"Error on HttpEndRequest 12152 \n"}, "UseHttpSendReqEx failed 12152"},
        // An error page is not a password.
        {"500 answer",
         [](CRawHttpServer::CConnection& c) {
             if (c.ReadRequest()) c.Send("HTTP/1.1 500 Internal Server Error\r\nContent-Length: 5\r\n\r\noops!");
             c.Close();
         },
         "", {"Error on HttpEndRequest 500 \n"}, "UseHttpSendReqEx failed 500"},
        {"404 answer",
         [](CRawHttpServer::CConnection& c) {
             if (c.ReadRequest()) c.Send("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n");
             c.Close();
         },
         "", {"Error on HttpEndRequest 404 \n"}, "UseHttpSendReqEx failed 404"},
    };
    for (const auto& c : cases) {
        WriteFile(dlg.m_strBodyFile.str(), body);
        window.boxes.clear();
        window.ended = false;
        dlg.m_strAccountUrl = "previous";
        std::unique_ptr<CRawHttpServer> server;
        if (c.script) {
            server = std::make_unique<CRawHttpServer>(c.script);
            SetService(server->HostAndPort());
        } else {
            SetService(c.host);
        }
        std::string raised = Post();
        EXPECT_EQ(raised, c.raisedPrefix) << c.name;
        EXPECT_EQ(Boxes(), c.boxPrefixes) << c.name;
        EXPECT_TRUE(window.ended && window.endResult == IDCANCEL) << c.name;
        EXPECT_EQ(dlg.m_strAccountUrl, "previous") << c.name;
        EXPECT_EQ(ReadFile(dlg.m_strBodyFile.str()), body) << c.name;
    }
}

TEST_F(UploadTest, ServerClosingMidBodyFailsTheTransfer) {
    WriteFile(dlg.m_strBodyFile.str(), std::string(8 << 20, 'm'));
    CRawHttpServer server([](CRawHttpServer::CConnection& c) {
        c.Pause(std::chrono::milliseconds(20));
        c.Close();  // after the head, in the middle of the body
    });
    SetService(server.HostAndPort());
    std::string raised = Post();
    ASSERT_EQ(window.boxes.size(), 1u);
    const std::string& box = window.boxes[0].text;
    // Where the loss shows depends on the socket buffers: a write or the end of the request.
    bool known = box == "InternetWriteFile failed 12030" || box == "InternetWriteFile failed 12031" ||
                 box == "Error on HttpEndRequest 12030 \n" || box == "Error on HttpEndRequest 12031 \n";
    EXPECT_TRUE(known) << box;
    EXPECT_EQ(raised.rfind("UseHttpSendReqEx failed 1203", 0), 0u) << raised;
    EXPECT_TRUE(Exists(dlg.m_strBodyFile.str()));
}

TEST_F(UploadTest, MissingBodyFileShowsItsPath) {
    CRawHttpServer server([](CRawHttpServer::CConnection& c) { c.Close(); });
    SetService(server.HostAndPort());
    EXPECT_EQ(Post(), "UseHttpSendReqEx failed 2");
    EXPECT_EQ(Boxes(), std::vector<std::string>{"\nFailed to open local file " + dlg.m_strBodyFile.str() + "."});
    EXPECT_EQ(dlg.m_strAccountUrl, "");
}

TEST_F(UploadTest, TextsFollowTheDialogLanguage) {
    dlg.m_wLanguage = 1031;
    SetService("127.0.0.1:" + std::to_string(ClosedPort()));
    WriteFile(dlg.m_strBodyFile.str(), "b");
    EXPECT_EQ(Post(), "'UseHttpSendReqEx' fehlgeschlagen 12029");
    EXPECT_EQ(Boxes(), std::vector<std::string>{"Fehler bei 'HttpSendRequestEx' 12029\n"});
}

}  // namespace
