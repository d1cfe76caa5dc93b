// Network faults of the upload, end to end through the OK button against a scripted server on
// 127.0.0.1: every fault ends with a box and IDCANCEL in bounded time and keeps the order's
// files byte for byte (compared by hash); the same order then sent to a working service
// completes and arrives exactly once. Each case adds a row to $PV_RELIABILITY_TABLE when set.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "order/PrintServiceDlg.h"
#include "platform/ProfileFile.h"
#include "support/RawHttpServer.h"
#include "support/RecordingWindow.h"
#include "support/TempDir.h"
#include "Table.h"

namespace {

using Connection = CRawHttpServer::CConnection;
using Clock = std::chrono::steady_clock;

std::uint64_t Fnv1a(const std::string& bytes) {
    std::uint64_t hash = 1469598103934665603ull;
    for (char c : bytes) hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    return hash;
}

std::string Answer(const std::string& status, const std::string& body) {
    return "HTTP/1.1 " + status + "\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\n\r\n" + body;
}

struct NetworkFault {
    const char* name;
    // The server's script; null: nothing listens on the port.
    CRawHttpServer::Script script;
    bool completes;  // the order is placed despite the answer's manner
};

const NetworkFault kFaults[] = {
    {"connection_refused", nullptr, false},
    {"accepts_never_answers",
     [](Connection& c) {
         c.ReadRequest();
         c.Pause(std::chrono::seconds(20));
     },
     false},
    {"never_reads_request", [](Connection& c) { c.Pause(std::chrono::seconds(20)); }, false},
    {"closes_before_answer",
     [](Connection& c) {
         c.ReadRequest();
         c.Close();
     },
     false},
    {"closes_mid_answer_body",
     [](Connection& c) {
         c.ReadRequest();
         c.Send("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\npw-1");
         c.Close();
     },
     false},
    {"resets_after_request",
     [](Connection& c) {
         c.ReadRequest();
         c.Reset();
     },
     false},
    {"resets_mid_answer",
     [](Connection& c) {
         c.ReadRequest();
         c.Send("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\npw");
         c.Reset();
     },
     false},
    {"garbage_answer",
     [](Connection& c) {
         c.ReadRequest();
         c.Send("\x01\x02 this is not HTTP\r\n\r\n");
         c.Close();
     },
     false},
    {"broken_chunked_answer",
     [](Connection& c) {
         c.ReadRequest();
         c.Send("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\npw\r\n0\r\n\r\n");
         c.Close();
     },
     false},
    {"answers_400",
     [](Connection& c) {
         c.ReadRequest();
         c.Send(Answer("400 Bad Request", "bad"));
         c.Close();
     },
     false},
    {"answers_404",
     [](Connection& c) {
         c.ReadRequest();
         c.Send(Answer("404 Not Found", "none"));
         c.Close();
     },
     false},
    {"answers_500",
     [](Connection& c) {
         c.ReadRequest();
         c.Send(Answer("500 Internal Server Error", "oops"));
         c.Close();
     },
     false},
    {"answers_503",
     [](Connection& c) {
         c.ReadRequest();
         c.Send(Answer("503 Service Unavailable", "later"));
         c.Close();
     },
     false},
    {"answers_huge_body",
     [](Connection& c) {
         c.ReadRequest();
         c.Send("HTTP/1.1 200 OK\r\nContent-Length: 20000000\r\n\r\n");
         const std::string block(1 << 20, 'p');
         for (int i = 0; i < 19 && c.Send(block); ++i) {
         }
         c.Send(std::string(20000000 - 19 * (1 << 20), 'p'));
         c.Close();
     },
     true},
    {"answers_byte_by_byte",
     [](Connection& c) {
         c.ReadRequest();
         c.SendSlowly(Answer("200 OK", "pw-slow"), std::chrono::milliseconds(20));
         c.Close();
     },
     true},
    {"answers_chunked",
     [](Connection& c) {
         c.ReadRequest();
         c.Send("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\npw-\r\n4\r\n1234\r\n0\r\n\r\n");
         c.Close();
     },
     true},
};

class NetworkFaultTest : public ::testing::TestWithParam<NetworkFault> {
protected:
    CTempDir dir;
    CScopedEnv xdg{"XDG_CONFIG_HOME", (dir / "config").c_str()};
    CScopedEnv searchPath{"PATH", (dir / "bin").c_str()};
    std::vector<std::string> pictures;
    std::string control = dir / "Export/order.ctl";
    std::string body = dir / "Export/order.txt";
    std::string settings = dir / "config/pictorvale/pvprint.ini";

    NetworkFaultTest() {
        MakeDirs(dir / "Export");
        MakeDirs(dir / "Pictures/Job");
        MakeDirs(dir / "bin");
        MakeDirs(dir / "config/pictorvale");
        std::string lines;
        for (int i = 1; i <= 3; ++i) {
            std::string p = dir / ("Pictures/Job/p" + std::to_string(i) + ".jpg");
            std::string bytes;
            for (int k = 0; k < 3000 * i; ++k) bytes += static_cast<char>((k * 7 + i) & 0xff);
            WriteFile(p, bytes);
            pictures.push_back(p);
            lines += p + "|" + std::to_string(i) + "|4.00x6.00|x|Picture " + std::to_string(i) + "\n";
        }
        WriteFile(control, lines);
        // The browser: records that it was started.
        std::string browser = dir / "bin/browser";
        WriteFile(browser, "#!/bin/sh\nprintf '%s' \"$1\" > \"" + dir / "browser.out" + "\"\n");
        ::chmod(browser.c_str(), 0755);
        WriteFile(dir / "config/pictorvale/registry.reg",
                  "[HKEY_CLASSES_ROOT\\http\\shell\\open\\command]\n@=\"\\\"" + browser + "\\\" %1\"\n");
    }

    std::map<std::string, std::uint64_t> OrderHashes() const {
        std::map<std::string, std::uint64_t> hashes;
        hashes[control] = Exists(control) ? Fnv1a(ReadFile(control)) : 0;
        for (const auto& p : pictures) hashes[p] = Exists(p) ? Fnv1a(ReadFile(p)) : 0;
        return hashes;
    }

    // One press of OK against `service`; returns the window as it was left.
    std::unique_ptr<CRecordingWindow> PressOk(const std::string& service) {
        WritePrivateProfileString("Service", "Host", service.c_str(), settings.c_str());
        auto window = std::make_unique<CRecordingWindow>();
        CPrintServiceDlg dlg(*window);
        dlg.m_strControlFile = control.c_str();
        dlg.m_strBodyFile = body.c_str();
        dlg.m_strSettingsFile = settings.c_str();
        dlg.GetControlDir();
        dlg.ReadImageDir();
        dlg.m_btnCancel.Attach(*window, IDCANCEL);
        dlg.m_timeouts = {1500, 1500, 1500};
        window->texts[IDC_EMAIL] = "Ann.Lee@Example.com";
        dlg.OnBnClickedOk();
        return window;
    }

    std::string SavedAddress() const {
        return GetPrivateProfileString("Dialog", "CustomerID", "", 101, settings.c_str()).str();
    }
};

TEST_P(NetworkFaultTest, EndsClearlyKeepsTheOrderAndSendsItOnceLater) {
    const NetworkFault& fault = GetParam();
    const auto before = OrderHashes();
    std::string service;
    std::unique_ptr<CRawHttpServer> server;
    if (fault.script) {
        server = std::make_unique<CRawHttpServer>(fault.script);
        service = server->HostAndPort();
    } else {
        service = CRawHttpServer([](Connection&) {}).HostAndPort();  // closed again: refused
    }

    const auto start = Clock::now();
    auto window = PressOk(service);
    const auto seconds = std::chrono::duration<double>(Clock::now() - start).count();
    EXPECT_LT(seconds, 15.0) << "the fault was not ended by a time-out";
    ASSERT_TRUE(window->ended);

    if (fault.completes) {
        EXPECT_TRUE(window->boxes.empty()) << window->boxes[0].text;
        EXPECT_EQ(window->endResult, IDOK);
        EXPECT_EQ(server->Requests().size(), 1u);
        EXPECT_FALSE(Exists(control));
        EXPECT_EQ(SavedAddress(), "Ann.Lee@Example.com");
        reliability::AddTableRow("network", fault.name, 1, "placed once", false);
        return;
    }
    ASSERT_FALSE(window->boxes.empty()) << "no box for the failure";
    EXPECT_EQ(window->endResult, IDCANCEL);
    const bool lost = OrderHashes() != before;
    EXPECT_FALSE(lost) << "an order file changed or vanished";
    EXPECT_EQ(SavedAddress(), "");
    EXPECT_FALSE(Exists(dir / "browser.out"));
    server.reset();

    // The same order again, to a service that works: placed, and sent exactly once.
    CRawHttpServer good([](Connection& c) {
        if (!c.ReadRequest()) return;
        c.Send(Answer("200 OK", "pw-again"));
        c.Close();
    });
    auto again = PressOk(good.HostAndPort());
    EXPECT_TRUE(again->boxes.empty()) << again->boxes[0].text;
    EXPECT_EQ(again->endResult, IDOK);
    const auto requests = good.Requests();
    ASSERT_EQ(requests.size(), 1u);
    for (std::size_t i = 0; i < pictures.size(); ++i) {
        std::string bytes;
        for (int k = 0; k < 3000 * static_cast<int>(i + 1); ++k)
            bytes += static_cast<char>((k * 7 + static_cast<int>(i) + 1) & 0xff);
        EXPECT_NE(requests[0].find(bytes), std::string::npos) << "picture " << i + 1 << " not sent whole";
    }
    reliability::AddTableRow("network", fault.name, 1,
                             "box \"" + window->boxes.back().text.substr(0, 40) + "\", resent once",
                             lost);
}

INSTANTIATE_TEST_SUITE_P(Faults, NetworkFaultTest, ::testing::ValuesIn(kFaults),
                         [](const ::testing::TestParamInfo<NetworkFault>& param) {
                             return std::string(param.param.name);
                         });

}  // namespace
