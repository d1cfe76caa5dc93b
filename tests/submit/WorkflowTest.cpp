#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "order/PrintServiceDlg.h"
#include "platform/FileSystem.h"
#include "platform/ProfileFile.h"
#include "support/RawHttpServer.h"
#include "support/RecordingWindow.h"
#include "support/TempDir.h"

namespace {

std::string OkAnswer(const std::string& password) {
    return "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: " + std::to_string(password.size()) +
           "\r\n\r\n" + password;
}

// The print service stand-in: answers each order with a password, or with `status`.
class CService {
public:
    explicit CService(int status = 200)
        : m_server([status](CRawHttpServer::CConnection& c) {
              if (!c.ReadRequest()) return;
              if (status == 200)
                  c.Send(OkAnswer("pw-123"));
              else
                  c.Send("HTTP/1.1 " + std::to_string(status) + " Error\r\nContent-Length: 4\r\n\r\nfail");
              c.Close();
          }) {}
    std::string HostAndPort() const { return m_server.HostAndPort(); }
    std::vector<std::string> Requests() const { return m_server.Requests(); }

private:
    CRawHttpServer m_server;
};

const char* g_undeletable = nullptr;
int FailingUnlink(const char* path) {
    if (g_undeletable && std::strcmp(path, g_undeletable) == 0) {
        errno = EBUSY;
        return -1;
    }
    return ::unlink(path);
}

// An exported order of three pictures outside the control file's folder, a private host
// installation, a browser stub and the dialog state as the dialog's initialisation sets it.
class WorkflowTest : public ::testing::Test {
protected:
    CTempDir dir;
    CScopedEnv xdg{"XDG_CONFIG_HOME", (dir / "config").c_str()};
    CScopedEnv searchPath{"PATH", (dir / "bin").c_str()};
    CRecordingWindow window;
    std::unique_ptr<CPrintServiceDlg> dlg;
    std::vector<std::string> pictures;
    std::string control = dir / "Export/order.ctl";
    std::string body = dir / "Export/order.txt";
    std::string settings = dir / "config/pictorvale/pvprint.ini";

    WorkflowTest() {
        MakeDirs(dir / "Export");
        MakeDirs(dir / "Pictures/Job17");
        MakeDirs(dir / "bin");
        MakeDirs(dir / "config/pictorvale");
        std::string lines;
        for (int i = 1; i <= 3; ++i) {
            std::string p = dir / ("Pictures/Job17/p" + std::to_string(i) + ".jpg");
            WriteFile(p, std::string(static_cast<size_t>(1000 * i), static_cast<char>('0' + i)));
            pictures.push_back(p);
            lines += p + "|" + std::to_string(i) + "|4.00x6.00|x|Picture " + std::to_string(i) + "\n";
        }
        WriteFile(control, lines);
        std::string browser = dir / "bin/browser";
        WriteFile(browser, "#!/bin/sh\nprintf '%s' \"$1\" > \"" + dir / "browser.tmp" + "\"\n/bin/mv \"" +
                               dir / "browser.tmp" + "\" \"" + dir / "browser.out" + "\"\n");
        ::chmod(browser.c_str(), 0755);
        WriteFile(dir / "config/pictorvale/registry.reg",
                  "[HKEY_CLASSES_ROOT\\http\\shell\\open\\command]\n@=\"\\\"" + browser + "\\\" %1\"\n");
        NewDialog();
    }

    ~WorkflowTest() override { SetUnlinkFunction(nullptr); }

    void NewDialog() {
        window = CRecordingWindow();
        dlg = std::make_unique<CPrintServiceDlg>(window);
        dlg->m_strControlFile = control.c_str();
        dlg->m_strBodyFile = body.c_str();
        dlg->m_strSettingsFile = settings.c_str();
        dlg->GetControlDir();
        dlg->ReadImageDir();
        dlg->m_btnCancel.Attach(window, IDCANCEL);
        dlg->m_timeouts = {2000, 2000, 2000};
        window.texts[IDC_EMAIL] = "Ann.Lee@Example.com";
        window.events.clear();
    }

    void UseService(const std::string& hostAndPort) {
        WritePrivateProfileString("Service", "Host", hostAndPort.c_str(), settings.c_str());
    }

    std::vector<std::string> Boxes() const {
        std::vector<std::string> out;
        for (const auto& b : window.boxes) out.push_back(b.text);
        return out;
    }

    std::string SavedAddress() const {
        return GetPrivateProfileString("Dialog", "CustomerID", "", 101, settings.c_str()).str();
    }

    void ExpectOrderKept() {
        EXPECT_TRUE(Exists(control));
        for (const auto& p : pictures) EXPECT_TRUE(Exists(p)) << p;
        EXPECT_EQ(SavedAddress(), "");
        EXPECT_FALSE(Exists(dir / "browser.out"));
    }

    std::string BrowserGot() const {
        for (int i = 0; i < 500 && !Exists(dir / "browser.out"); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return Exists(dir / "browser.out") ? ReadFile(dir / "browser.out") : "(browser not started)";
    }
};

TEST_F(WorkflowTest, CompletedOrderCleansUpAndOpensTheAccountPage) {
    CService service;
    UseService(service.HostAndPort());
    dlg->OnBnClickedOk();

    EXPECT_TRUE(window.boxes.empty()) << window.boxes[0].text;
    EXPECT_TRUE(window.ended);
    EXPECT_EQ(window.endResult, IDOK);
    ASSERT_EQ(service.Requests().size(), 1u);
    EXPECT_NE(service.Requests()[0].find("filename=\"" + pictures[2] + "\""), std::string::npos);
    for (const auto& p : pictures) EXPECT_FALSE(Exists(p)) << p;
    EXPECT_FALSE(Exists(body));
    EXPECT_FALSE(Exists(control));
    EXPECT_FALSE(Exists(dir / "Pictures"));  // emptied folders outside the control folder
    EXPECT_TRUE(Exists(dir / "Export"));
    EXPECT_EQ(window.texts[IDC_STATUS], "Send Complete.");
    EXPECT_EQ(BrowserGot(), "http://" + service.HostAndPort() +
                                "/glimmerprints.php?username=Ann.Lee@Example.com&password=pw-123");
    EXPECT_EQ(SavedAddress(), "Ann.Lee@Example.com");
    EXPECT_EQ(window.enabled[IDCANCEL], false);
    EXPECT_EQ(window.waitCursorDepth, 0);
    EXPECT_EQ(window.events.front(), "wait on");
    EXPECT_EQ(window.events.back(), "wait off");
}

TEST_F(WorkflowTest, RefusedAddressTouchesNothingAndKeepsCancel) {
    window.texts[IDC_EMAIL] = "not an address";
    dlg->OnBnClickedOk();
    EXPECT_EQ(Boxes(), std::vector<std::string>{"Please enter a proper email address."});
    EXPECT_FALSE(window.ended);
    EXPECT_EQ(window.enabled.count(IDCANCEL), 0u);  // never disabled
    EXPECT_FALSE(Exists(body));
    ExpectOrderKept();
}

TEST_F(WorkflowTest, ControlFileGone) {
    std::remove(control.c_str());
    dlg->OnBnClickedOk();
    EXPECT_EQ(Boxes(), std::vector<std::string>{"Unable to find control file:\n\n'" + control + "'"});
    EXPECT_TRUE(window.ended && window.endResult == IDCANCEL);
    EXPECT_FALSE(Exists(body));
}

TEST_F(WorkflowTest, BadThirdLineStopsBeforeAnythingIsWritten) {
    std::string lines = ReadFile(control);
    lines = lines.substr(0, lines.rfind('|')) + "\n";  // the third line loses its name
    WriteFile(control, lines);
    dlg->OnBnClickedOk();
    EXPECT_EQ(Boxes(), (std::vector<std::string>{"blank ImageName in controlfile", "Unable to parse controlfile record"}));
    EXPECT_TRUE(window.ended && window.endResult == IDCANCEL);
    EXPECT_FALSE(Exists(body));
    ExpectOrderKept();
}

TEST_F(WorkflowTest, BodyFileCannotBeCreated) {
    body = dir / "missing-folder/order.txt";
    dlg->m_strBodyFile = body.c_str();
    dlg->OnBnClickedOk();
    EXPECT_EQ(Boxes(), std::vector<std::string>{"Unable to create mime file:\n\n'" + body + "'"});
    EXPECT_TRUE(window.ended && window.endResult == IDCANCEL);
    ExpectOrderKept();
}

TEST_F(WorkflowTest, MissingSecondPictureKeepsEverything) {
    CService service;
    UseService(service.HostAndPort());
    std::remove(pictures[1].c_str());
    dlg->OnBnClickedOk();
    EXPECT_EQ(Boxes(), std::vector<std::string>{"Unable to open image file:\n\n'" + pictures[1] + "'"});
    EXPECT_TRUE(window.ended && window.endResult == IDCANCEL);
    EXPECT_TRUE(Exists(pictures[0]));
    EXPECT_TRUE(Exists(pictures[2]));
    EXPECT_TRUE(Exists(body));
    EXPECT_TRUE(Exists(control));
    EXPECT_TRUE(service.Requests().empty());
}

TEST_F(WorkflowTest, FailedUploadKeepsTheOrderAndASecondTrySucceeds) {
    {
        CService failing(500);
        UseService(failing.HostAndPort());
        dlg->OnBnClickedOk();
        EXPECT_EQ(Boxes(), (std::vector<std::string>{"Error on HttpEndRequest 500 \n", "UseHttpSendReqEx failed 500"}));
        EXPECT_TRUE(window.ended && window.endResult == IDCANCEL);
        EXPECT_TRUE(Exists(body));
        ExpectOrderKept();
        EXPECT_EQ(dlg->m_strAccountUrl, "");
    }
    // The host starts the tool again with the same control file.
    CService service;
    UseService(service.HostAndPort());
    NewDialog();
    dlg->OnBnClickedOk();
    EXPECT_TRUE(window.boxes.empty());
    EXPECT_EQ(window.endResult, IDOK);
    ASSERT_EQ(service.Requests().size(), 1u);
    EXPECT_FALSE(Exists(control));
    EXPECT_EQ(SavedAddress(), "Ann.Lee@Example.com");
}

TEST_F(WorkflowTest, ServiceDownShowsBothBoxes) {
    UseService("print-service.invalid");
    dlg->OnBnClickedOk();
    EXPECT_EQ(Boxes(), (std::vector<std::string>{"Error on HttpSendRequestEx 12007\n", "UseHttpSendReqEx failed 12007"}));
    ExpectOrderKept();
    EXPECT_TRUE(Exists(body));
}

TEST_F(WorkflowTest, UndeletableFileAfterTheUploadIsNamedAndTheRestRuns) {
    CService service;
    UseService(service.HostAndPort());
    g_undeletable = pictures[1].c_str();
    SetUnlinkFunction(FailingUnlink);
    dlg->OnBnClickedOk();
    ASSERT_EQ(window.boxes.size(), 1u);
    EXPECT_EQ(window.boxes[0].text, "Unable to delete file:\n\n'" + pictures[1] + "'\n\n" + std::strerror(EBUSY));
    EXPECT_EQ(window.boxes[0].type, MB_ICONERROR);
    EXPECT_FALSE(Exists(pictures[0]));
    EXPECT_TRUE(Exists(pictures[1]));
    EXPECT_FALSE(Exists(pictures[2]));
    EXPECT_FALSE(Exists(body));
    EXPECT_FALSE(Exists(control));
    EXPECT_TRUE(Exists(dir / "Pictures/Job17"));  // still holds the picture
    EXPECT_EQ(window.texts[IDC_STATUS], "Send Complete.");
    EXPECT_NE(BrowserGot().find("password=pw-123"), std::string::npos);
    EXPECT_EQ(SavedAddress(), "Ann.Lee@Example.com");
    EXPECT_EQ(window.endResult, IDOK);
    EXPECT_EQ(service.Requests().size(), 1u);
}

TEST_F(WorkflowTest, FullDiskNeverSendsACutBody) {
    // /dev/full fails every write that reaches it: when the buffer flushes, or at the
    // latest when the body file is closed.
    CService service;
    UseService(service.HostAndPort());
    dlg->m_strBodyFile = "/dev/full";
    dlg->OnBnClickedOk();
    ASSERT_EQ(window.boxes.size(), 1u);
    const std::string& box = window.boxes[0].text;
    EXPECT_TRUE(box == "Unable to write to mime file:\n\n'/dev/full'" ||
                box.rfind("Error copying image file:", 0) == 0 || box.rfind("Unable to write", 0) == 0)
        << box;
    EXPECT_TRUE(window.ended && window.endResult == IDCANCEL);
    EXPECT_TRUE(service.Requests().empty());
    ExpectOrderKept();
}

}  // namespace
