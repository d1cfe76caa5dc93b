#include <gtest/gtest.h>

#include <string>

#include "host/HostFiles.h"
#include "order/PrintServiceDlg.h"
#include "platform/ProfileFile.h"
#include "support/RecordingWindow.h"
#include "support/HostInstall.h"
#include "support/TempDir.h"

namespace {

// A private XDG_CONFIG_HOME holding the registry file, so no real installation is seen.
class HostFilesTest : public ::testing::Test {
protected:
    CTempDir dir;
    CScopedEnv xdg{"XDG_CONFIG_HOME", dir.path().c_str()};

    void WriteRegistry(const std::string& iniFilePath) {
        WriteRegistryValue(dir.path(), std::string("HKEY_LOCAL_MACHINE\\") + kHostRegistryKey, iniFilePath);
    }
};

TEST_F(HostFilesTest, LocateRelaxIniTakesTheFolderOfTheRegistryValue) {
    MakeDirs(dir / "host/data");
    WriteFile(dir / "host/data/relax.ini", "[PVGallery_#_Registration]\nLanguage=G\n");
    WriteFile(dir / "host/relax.ini", "");
    struct Case {
        std::string value, path;
        int result;
    } cases[] = {
        {dir / "host/data/relax.ini", dir / "host/data/relax.ini", 0},
        {dir / "host/data/", dir / "host/data/relax.ini", 0},
        {dir / "host/data", dir / "host/relax.ini", 0},  // the last element always goes
        {dir / "host/data/other.file", dir / "host/data/relax.ini", 0},
        {dir / "nowhere/relax.ini", dir / "nowhere/relax.ini", -1},
        {"relax.ini", "", -1},  // no folder part
    };
    for (const auto& c : cases) {
        WriteRegistry(c.value);
        CString path;
        EXPECT_EQ(LocateRelaxIni(path, kPathBufferSize), c.result) << c.value;
        if (!c.path.empty()) {
            EXPECT_EQ(path, c.path.c_str()) << c.value;
        }
    }
}

TEST_F(HostFilesTest, LocateRelaxIniLimits) {
    CString path;
    EXPECT_EQ(LocateRelaxIni(path, kPathBufferSize), -1);  // no registry file at all

    // A folder part of 249 characters still fits, 250 do not.
    std::string folder249 = "/" + std::string(248, 'f');
    WriteRegistry(folder249 + "/relax.ini");
    EXPECT_EQ(LocateRelaxIni(path, kPathBufferSize), -1);  // fits, but no such file
    EXPECT_EQ(path, (folder249 + "/relax.ini").c_str());
    WriteRegistry(folder249 + "f/r");
    EXPECT_EQ(LocateRelaxIni(path, kPathBufferSize), ERROR_PATH_TOO_LONG);

    // A value that does not fit into the buffer (259 characters and the terminator) is
    // not found at all, although its folder would be short.
    WriteRegistry("/a/" + std::string(256, 'v'));  // 259 characters: fits
    EXPECT_EQ(LocateRelaxIni(path, kPathBufferSize), -1);
    EXPECT_EQ(path, "/a/relax.ini");
    path = "before";
    WriteRegistry("/a/" + std::string(257, 'v'));  // 260 characters: does not
    EXPECT_EQ(LocateRelaxIni(path, kPathBufferSize), -1);
    EXPECT_EQ(path, "before");
}

TEST_F(HostFilesTest, LanguageLetterDefaultsToE) {
    WriteFile(dir / "relax.ini", "[Other]\nLanguage=G\n");
    EXPECT_EQ(ReadLanguageLetter((dir / "relax.ini").c_str()), "E");
    WriteFile(dir / "relax.ini", "[pvgallery_#_registration]\r\nlanguage = g\r\n");
    EXPECT_EQ(ReadLanguageLetter((dir / "relax.ini").c_str()), "g");
    EXPECT_EQ(ReadLanguageLetter((dir / "missing.ini").c_str()), "E");
}

TEST_F(HostFilesTest, SettingsFileIsNamedAfterTheExecutable) {
    std::string base = dir.path() + "/pictorvale/";
    struct Case {
        std::string executable, settings;
    } cases[] = {
        {"/usr/bin/pvprint", base + "pvprint.ini"},
        {"/opt/Tool.2/upload", base + "upload.ini"},  // dots in folders never count
        {"/opt/tool/Upload.exe", base + "Upload.ini"},
        {"/opt/tool/up.load.bin", base + "up.load.ini"},
        {"/opt/tool/name.", base + "name.ini"},
    };
    for (const auto& c : cases) {
        CString path;
        EXPECT_EQ(MakeSettingsFilePathFor(c.executable.c_str(), path, kPathBufferSize), 0);
        EXPECT_EQ(path, c.settings.c_str()) << c.executable;
    }
    CString path;
    std::string longName = "/usr/bin/" + std::string(260 - base.size() - 4, 'p');
    EXPECT_EQ(MakeSettingsFilePathFor(longName.c_str(), path, kPathBufferSize), ERROR_PATH_TOO_LONG);

    // The running executable: the test binary itself.
    EXPECT_EQ(MakeSettingsFilePath(path, kPathBufferSize), 0);
    EXPECT_EQ(path, (base + "host_tests.ini").c_str());
}

TEST_F(HostFilesTest, SettingsFileFallsBackToHomeConfig) {
    CScopedEnv noXdg("XDG_CONFIG_HOME", nullptr);
    CScopedEnv home("HOME", "/home/someone");
    CString path;
    EXPECT_EQ(MakeSettingsFilePathFor("/usr/bin/pvprint", path, kPathBufferSize), 0);
    EXPECT_EQ(path, "/home/someone/.config/pictorvale/pvprint.ini");
}

TEST_F(HostFilesTest, BodyFileReplacesTheControlFilesExtension) {
    struct Case {
        std::string control, body;
        int result;
    } cases[] = {
        {"/tmp/Order/order.ctl", "/tmp/Order/order.txt", 0},
        {"/tmp/x..ctl", "/tmp/x.txt", 0},
        {"/tmp/a.b.c", "/tmp/a.b.txt", 0},
        // The dot rule looks at the file name only; never a stranger's /tmp/Order.txt.
        {"/tmp/Order.1/order", "/tmp/Order.1/order.txt", 0},
        // A control file named order.txt is not emptied by its own body file.
        {"/tmp/Export/order.txt", "/tmp/Export/order.txt.txt", 0},
        {"/tmp/Export/order.TXT", "/tmp/Export/order.txt", 0},
        // 254 characters before the dot fit, 255 do not; the text then stays cut.
        {"/" + std::string(253, 'a') + ".ctl", "/" + std::string(253, 'a') + ".txt", 0},
        {"/" + std::string(254, 'a') + ".ctl", "/" + std::string(254, 'a'), ERROR_PATH_TOO_LONG},
    };
    for (const auto& c : cases) {
        CString path = c.control.c_str();
        EXPECT_EQ(MakeBodyFilePath(path, kPathBufferSize), c.result) << c.control;
        EXPECT_EQ(path, c.body.c_str()) << c.control;
    }
}

TEST_F(HostFilesTest, CustomerIdRoundTripsWhole) {
    CRecordingWindow window;
    CPrintServiceDlg dlg(window);
    std::string settings = dir / "pictorvale/pvprint.ini";

    dlg.LoadCustomerId(settings.c_str());
    EXPECT_EQ(dlg.m_strEmail, "");  // no file yet

    // 60 and 100 characters come back whole (a cut address could pass the check and
    // send the next order to another account).
    for (size_t length : {5u, 60u, 100u}) {
        std::string address = std::string(length - 4, 'a') + "@b.c";
        dlg.m_strEmail = address.c_str();
        EXPECT_TRUE(dlg.SaveCustomerId(settings.c_str()));
        CPrintServiceDlg next(window);
        next.LoadCustomerId(settings.c_str());
        EXPECT_EQ(next.m_strEmail, address.c_str()) << length;
    }
    EXPECT_EQ(GetPrivateProfileString("Dialog", "CustomerID", "", 260, settings.c_str()).GetLength(), 100);
}

TEST_F(HostFilesTest, SavingTheAddressKeepsTheRestOfAHandEditedFile) {
    std::string settings = dir / "pvprint.ini";
    WriteFile(settings, "; my settings\n[Service]\nHost=127.0.0.1:8080\n\n[Dialog]\nCustomerID=old@x.de\n");
    CRecordingWindow window;
    CPrintServiceDlg dlg(window);
    dlg.LoadCustomerId(settings.c_str());
    EXPECT_EQ(dlg.m_strEmail, "old@x.de");
    dlg.m_strEmail = "New@Example.com";
    EXPECT_TRUE(dlg.SaveCustomerId(settings.c_str()));
    EXPECT_EQ(ReadFile(settings),
              "; my settings\n[Service]\nHost=127.0.0.1:8080\n\n[Dialog]\nCustomerID=New@Example.com\n");
    EXPECT_EQ(LoadServiceHost(settings.c_str()), "127.0.0.1:8080");
}

TEST_F(HostFilesTest, ServiceHostDefault) {
    EXPECT_EQ(LoadServiceHost((dir / "missing.ini").c_str()), kDefaultServiceHost);
    WriteFile(dir / "s.ini", "[Service]\nHost=\n");
    EXPECT_EQ(LoadServiceHost((dir / "s.ini").c_str()), kDefaultServiceHost);
}

}  // namespace
