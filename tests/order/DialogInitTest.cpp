#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "order/PrintServiceDlg.h"
#include "platform/ProfileFile.h"
#include "support/RecordingWindow.h"
#include "support/HostInstall.h"
#include "support/TempDir.h"

namespace {

// A host installed in a private XDG_CONFIG_HOME and an exported order.
class DialogInitTest : public ::testing::Test {
protected:
    CTempDir dir;
    CScopedEnv xdg{"XDG_CONFIG_HOME", dir.path().c_str()};
    CRecordingWindow window;
    CPrintServiceDlg dlg{window};
    std::string control = dir / "My Order/order.ctl";

    DialogInitTest() {
        MakeDirs(dir / "My Order/images");
        WriteFile(control, dir / "My Order/images/p1.jpg" + "|1|4.00x6.00|x|One\n");
    }

    void InstallHost(const char* letter) { ::InstallHost(dir.path(), letter); }

    std::vector<std::string> Boxes() const {
        std::vector<std::string> out;
        for (const auto& b : window.boxes) out.push_back(b.text);
        return out;
    }
};

TEST_F(DialogInitTest, DerivesEverythingFromTheQuotedPath) {
    InstallHost("E");
    EXPECT_TRUE(dlg.OnInitDialog(("\"" + control + "\"").c_str()));
    EXPECT_TRUE(window.boxes.empty());
    EXPECT_FALSE(window.ended);
    EXPECT_EQ(dlg.m_strControlFile, control.c_str());
    EXPECT_EQ(dlg.m_strBodyFile, (dir / "My Order/order.txt").c_str());
    EXPECT_EQ(dlg.m_strControlDir, (dir / "My Order").c_str());
    EXPECT_EQ(dlg.m_strImageDir, (dir / "My Order/images/").c_str());
    EXPECT_EQ(dlg.m_strSettingsFile, (dir / "pictorvale/order_tests.ini").c_str());
    EXPECT_EQ(dlg.m_wLanguage, 1033);
    EXPECT_EQ(window.texts[IDC_PROMPT],
              "Please enter your Email address to be used for your account with Glimmerprints:");
    EXPECT_EQ(window.texts[IDC_PROGRESS_LABEL], "Upload progress:");
    EXPECT_EQ(window.texts[IDCANCEL], "Cancel");
    EXPECT_EQ(window.texts[IDC_HEADING], "Uploading images to Glimmerprints.\n\n");
    EXPECT_EQ(window.caption, "Pictorvale Print Service Interface");
    EXPECT_EQ(window.texts[IDC_EMAIL], "");
}

TEST_F(DialogInitTest, GermanHostAndSavedAddress) {
    InstallHost("g");
    WritePrivateProfileString("Dialog", "CustomerID", "Kunde@Example.de",
                              (dir / "pictorvale/order_tests.ini").c_str());
    dlg.OnInitDialog(control.c_str());
    EXPECT_EQ(dlg.m_wLanguage, 1031);
    EXPECT_EQ(window.caption, "Pictorvale-Print-Service-Modul");
    EXPECT_EQ(window.texts[IDCANCEL], "Abbrechen");
    EXPECT_EQ(window.texts[IDC_PROGRESS_LABEL], "Fortschritt der Übertragung:");
    EXPECT_EQ(window.texts[IDC_EMAIL], "Kunde@Example.de");
    EXPECT_EQ(dlg.m_strEmail, "Kunde@Example.de");
}

TEST_F(DialogInitTest, QuotesAnywhereAreRemoved) {
    InstallHost("E");
    std::string quoted = control;
    quoted.insert(5, "\"");
    dlg.OnInitDialog(quoted.c_str());
    EXPECT_EQ(dlg.m_strControlFile, control.c_str());
    EXPECT_TRUE(window.boxes.empty());
}

TEST_F(DialogInitTest, MissingControlFileEndsTheDialogInEnglish) {
    InstallHost("I");
    // The program's own path in front of the control file's gives a path that does not exist.
    std::string line = "/usr/bin/pvprint " + control;
    dlg.OnInitDialog(line.c_str());
    EXPECT_EQ(Boxes(), std::vector<std::string>{"Unable to find control file:\n\n'" + line + "'"});
    EXPECT_TRUE(window.ended);
    EXPECT_EQ(window.endResult, -1);
    EXPECT_EQ(window.texts[IDCANCEL], "Cancellare");  // the later steps still ran
}

TEST_F(DialogInitTest, MissingRelaxIniThenTheLaterStepsStillRun) {
    std::remove(control.c_str());
    dlg.OnInitDialog(control.c_str());
    EXPECT_EQ(Boxes(), (std::vector<std::string>{"Unable to find relax.ini file.",
                                                 "Unable to find control file:\n\n'" + control + "'"}));
    EXPECT_EQ(window.endResult, -1);
    EXPECT_EQ(window.caption, "Pictorvale Print Service Interface");
}

TEST_F(DialogInitTest, EmptyControlFileAndEmptyFirstValue) {
    InstallHost("E");
    WriteFile(control, "");
    dlg.OnInitDialog(control.c_str());
    EXPECT_EQ(Boxes(), std::vector<std::string>{"Error reading control file:\n\n'" + control + "'"});
    EXPECT_EQ(window.endResult, -1);
}

TEST_F(DialogInitTest, OverlongControlPathNamesNoBodyFile) {
    InstallHost("E");
    // Cut to 259 characters the path could name another file; no body file is named.
    std::string folder = dir / (std::string(120, 'a') + "/" + std::string(120, 'b'));
    MakeDirs(folder);
    std::string longName = folder + "/order.ctl";
    WriteFile(longName, "/x/p.jpg|1|f|x|n\n");
    dlg.OnInitDialog(longName.c_str());
    EXPECT_EQ(dlg.m_strControlFile, longName.c_str());
    EXPECT_EQ(dlg.m_strBodyFile, "");
}

}  // namespace
