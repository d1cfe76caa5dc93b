#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "PvhostTestSupport.h"
#include "host/HostFiles.h"
#include "platform/ProfileFile.h"
#include "platform/Registry.h"
#include "pvhost/Install.h"
#include "submit/Browser.h"
#include "support/TempDir.h"

namespace {

constexpr const char* kLanguageSection = "PVGallery_#_Registration";
constexpr const char* kBrowserKey = "http\\shell\\open\\command";

// A private XDG_CONFIG_HOME, so the tool's readers see only what the install wrote.
class PvhostInstall : public ::testing::Test {
protected:
    CTempDir dir;
    CScopedEnv xdg{"XDG_CONFIG_HOME", dir.path().c_str()};

    std::string RegistryFile() const { return dir / "pictorvale/registry.reg"; }
    std::string SettingsFile() const { return dir / "pictorvale/pvprint.ini"; }

    // relax.ini as the tool finds it; fails the test when it does not.
    std::string Located() const {
        CString path;
        EXPECT_EQ(LocateRelaxIni(path, kPathBufferSize), 0);
        return path.str();
    }
    static std::string Language(const std::string& relaxIni) {
        return GetPrivateProfileString(kLanguageSection, "Language", "?", kPathBufferSize, relaxIni.c_str()).str();
    }
    static std::string BrowserCommand() {
        CString value;
        if (!RegQueryDefaultValue(HKey::ClassesRoot, kBrowserKey, value)) return "<none>";
        return value.str();
    }
};

TEST_F(PvhostInstall, DefaultInstallIsFoundByTheTool) {
    MainResult r = RunPvhost({"install"});
    ASSERT_EQ(r.code, 0) << r.err;
    std::string relaxIni = Located();
    EXPECT_EQ(relaxIni, dir / "pictorvale/host/relax.ini");
    EXPECT_EQ(Language(relaxIni), "E");
    EXPECT_EQ(ReadLanguageLetter(relaxIni.c_str()), "E");
    EXPECT_EQ(ReadFile(RegistryFile()).rfind("Windows Registry Editor Version 5.00\n\n", 0), 0u);
    EXPECT_FALSE(Exists(SettingsFile()));  // no --service: the tool keeps its built-in host
    EXPECT_EQ(LoadServiceHost(SettingsFile().c_str()), kDefaultServiceHost);
    EXPECT_NE(r.out.find(relaxIni), std::string::npos);
    EXPECT_NE(r.out.find(RegistryFile()), std::string::npos);
    EXPECT_EQ(r.err, "");
}

TEST_F(PvhostInstall, LanguageServiceAndDataFolderReachTheTool) {
    struct Case {
        std::vector<std::string> args;
        std::string language;
        std::string service;  // empty: none written
        std::string dataDir;  // below the case's config folder; empty: the default
    } cases[] = {
        {{"--language", "G"}, "G", "", ""},
        {{"--language=f"}, "F", "", ""},
        {{"--language", "I", "--service", "127.0.0.1:8080"}, "I", "127.0.0.1:8080", ""},
        {{"--service=glimmer.test", "--language", "S", "--data", "@/Host Data"}, "S", "glimmer.test", "Host Data"},
    };
    for (const auto& c : cases) {
        CTempDir config;
        CScopedEnv caseXdg("XDG_CONFIG_HOME", config.path().c_str());
        std::vector<std::string> args{"install"};
        for (const std::string& a : c.args) args.push_back(a.starts_with("@/") ? config / a.substr(2) : a);
        MainResult r = RunPvhost(args);
        ASSERT_EQ(r.code, 0) << r.err;

        CString relaxIni;
        ASSERT_EQ(LocateRelaxIni(relaxIni, kPathBufferSize), 0) << c.language;
        std::string folder = c.dataDir.empty() ? config / "pictorvale/host" : config / c.dataDir;
        EXPECT_EQ(relaxIni, (folder + "/relax.ini").c_str());
        EXPECT_EQ(Language(relaxIni.str()), c.language);

        std::string settings = config / "pictorvale/pvprint.ini";
        if (c.service.empty()) {
            EXPECT_FALSE(Exists(settings)) << c.language;
        } else {
            EXPECT_EQ(LoadServiceHost(settings.c_str()), c.service.c_str());
            EXPECT_EQ(GetPrivateProfileString("Service", "Host", "", kPathBufferSize, settings.c_str()),
                      c.service.c_str());
            EXPECT_NE(r.out.find(settings), std::string::npos);
        }
    }
}

TEST_F(PvhostInstall, QuoteAndBackslashInTheFolderRoundTrip) {
    std::string folder = dir / "odd \"quoted\" back\\slash\\";
    MainResult r = RunPvhost({"install", "--data", folder, "--language", "G"});
    ASSERT_EQ(r.code, 0) << r.err;
    // A trailing backslash is a file-name character here, not a separator.
    std::string expected = folder + "/relax.ini";
    EXPECT_EQ(Located(), expected);
    EXPECT_EQ(Language(expected), "G");
    std::string text = ReadFile(RegistryFile());
    EXPECT_NE(text.find("@=\"" + pvhost::EscapeRegString(expected) + "\"\n"), std::string::npos) << text;
    EXPECT_NE(text.find("odd \\\"quoted\\\" back\\\\slash\\\\/relax.ini"), std::string::npos) << text;
}

TEST_F(PvhostInstall, RelativeDataFolderIsStoredAbsolute) {
    std::filesystem::path old = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    MainResult r = RunPvhost({"install", "--data", "rel/./data/"});
    std::filesystem::current_path(old);
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(Located(), dir / "rel/data/relax.ini");
}

TEST_F(PvhostInstall, BrowserIsRegisteredAndKeptOnReinstall) {
    std::string browser = dir / "bin/browser stub";
    MakeDirs(dir / "bin");
    WriteScript(browser, "exit 0\n");
    MainResult first = RunPvhost({"install", "--browser", browser});
    ASSERT_EQ(first.code, 0) << first.err;
    EXPECT_EQ(BrowserCommand(), "\"" + browser + "\" %1");
    CString holder;
    EXPECT_EQ(GetDefaultBrowserPath(holder), browser.c_str());  // the tool's own reading

    MainResult second = RunPvhost({"install", "--language", "F", "--data", dir / "other"});
    ASSERT_EQ(second.code, 0) << second.err;
    EXPECT_EQ(BrowserCommand(), "\"" + browser + "\" %1");
    EXPECT_EQ(Located(), dir / "other/relax.ini");
    EXPECT_EQ(Language(dir / "other/relax.ini"), "F");
    EXPECT_NE(second.out.find("browser:   registration kept"), std::string::npos);
}

TEST_F(PvhostInstall, HandWrittenBrowserSectionSurvivesOtherKeysDoNot) {
    MakeDirs(dir / "pictorvale");
    WriteFile(RegistryFile(),
              "Windows Registry Editor Version 5.00\r\n\r\n"
              "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Tessaly\\Pictorvale Gallery\\1.0\\IniFilePath]\r\n"
              "@=\"/old/place/relax.ini\"\r\n\r\n"
              "[HKCR\\HTTP\\Shell\\Open\\Command]\r\n"
              "\"Other\"=\"x\"\r\n"
              "@=\"\\\"/usr/bin/firefox\\\" -new-window %1\"\r\n\r\n"
              "[HKEY_CURRENT_USER\\Software\\Unrelated]\r\n"
              "@=\"gone\"\r\n");
    MainResult r = RunPvhost({"install"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(BrowserCommand(), "\"/usr/bin/firefox\" -new-window %1");
    EXPECT_EQ(Located(), dir / "pictorvale/host/relax.ini");
    std::string text = ReadFile(RegistryFile());
    EXPECT_EQ(text.find("/old/place"), std::string::npos) << text;
    EXPECT_EQ(text.find("Unrelated"), std::string::npos) << text;
    EXPECT_NE(text.find("\"Other\"=\"x\""), std::string::npos) << text;
}

TEST_F(PvhostInstall, BrowserOnPathIsStoredWithItsFullPath) {
    MakeDirs(dir / "bin");
    WriteScript(dir / "bin/mybrowser", "exit 0\n");
    CScopedEnv path("PATH", ("relative:" + (dir / "bin") + ":/usr/bin").c_str());
    MainResult r = RunPvhost({"install", "--browser", "mybrowser"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(BrowserCommand(), "\"" + (dir / "bin/mybrowser") + "\" %1");
}

TEST_F(PvhostInstall, ReinstallKeepsTheOtherSettings) {
    MakeDirs(dir / "pictorvale/host");
    WriteFile(SettingsFile(), "[Dialog]\nCustomerID=anna@example.com\n");
    WriteFile(dir / "pictorvale/host/relax.ini", "; host settings\n[General]\nTheme=dark\n"
                                                 "[PVGallery_#_Registration]\nLanguage=E\nSerial=123\n");
    MainResult r = RunPvhost({"install", "--language", "G", "--service", "printer.test:81"});
    ASSERT_EQ(r.code, 0) << r.err;
    std::string settings = SettingsFile();
    EXPECT_EQ(GetPrivateProfileString("Dialog", "CustomerID", "", 101, settings.c_str()), "anna@example.com");
    EXPECT_EQ(LoadServiceHost(settings.c_str()), "printer.test:81");
    std::string relaxIni = Located();
    EXPECT_EQ(Language(relaxIni), "G");
    EXPECT_EQ(GetPrivateProfileString("General", "Theme", "", 50, relaxIni.c_str()), "dark");
    EXPECT_EQ(GetPrivateProfileString(kLanguageSection, "Serial", "", 50, relaxIni.c_str()), "123");

    // Without --service the stored host stays.
    ASSERT_EQ(RunPvhost({"install"}).code, 0);
    EXPECT_EQ(LoadServiceHost(settings.c_str()), "printer.test:81");
    EXPECT_EQ(Language(relaxIni), "E");
}

TEST_F(PvhostInstall, ToolOptionNamesTheSettingsFile) {
    MainResult r = RunPvhost({"install", "--service", "h.test", "--tool", "/opt/x.1/myprint"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(LoadServiceHost((dir / "pictorvale/myprint.ini").c_str()), "h.test");
    EXPECT_FALSE(Exists(SettingsFile()));
}

TEST_F(PvhostInstall, DefaultToolNextToPvhostNamesTheSettingsFile) {
    // A pvprint beside pvhost is the tool; its settings file follows its own name rule.
    MakeDirs(dir / "bin");
    WriteScript(dir / "bin/pvprint", "exit 0\n");
    MainResult r = RunPvhost({"install", "--service", "h.test"}, dir / "bin/pvhost");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(LoadServiceHost(SettingsFile().c_str()), "h.test");
}

TEST_F(PvhostInstall, FailuresWriteNothing) {
    WriteFile(dir / "a-file", "x");
    struct Case {
        std::vector<std::string> args;
        std::string message;
    } cases[] = {
        {{"install", "--data", dir / "a-file/below"}, "cannot write"},
        {{"install", "--data", dir / ("line\nbreak")}, "line break"},
        {{"install", "--data", dir / std::string(250, 'd')}, "bytes; the tool reads at most 259"},
        {{"install", "--browser", dir / "no-such-browser"}, "browser not found"},
        {{"install", "--service", "h.test", "--tool", "/opt/" + std::string(260, 't')}, "settings file"},
    };
    for (const auto& c : cases) {
        MainResult r = RunPvhost(c.args);
        EXPECT_EQ(r.code, 1) << c.message;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_FALSE(Exists(RegistryFile())) << c.message;
        EXPECT_FALSE(Exists(dir / "pictorvale")) << c.message;
    }
}

TEST(PvhostRegistryText, BrowserSectionsAreFoundInAnyCaseAndRootForm) {
    std::string text =
        "\xEF\xBB\xBF"
        "Windows Registry Editor Version 5.00\n\n"
        "[hkey_classes_root\\http\\shell\\open\\command]\n@=\"a\"\n\n\n"
        "[HKEY_CLASSES_ROOT\\https\\shell\\open\\command]\n@=\"not this\"\n"
        "  [HKCR\\http\\shell\\open\\command]  \r\n@=\"b\"\r\n";
    std::vector<std::string> sections = pvhost::FindBrowserSections(text);
    ASSERT_EQ(sections.size(), 2u);
    EXPECT_EQ(sections[0], "[hkey_classes_root\\http\\shell\\open\\command]\n@=\"a\"\n");
    EXPECT_EQ(sections[1], "  [HKCR\\http\\shell\\open\\command]  \n@=\"b\"\n");
    EXPECT_TRUE(pvhost::FindBrowserSections("").empty());
    EXPECT_TRUE(pvhost::FindBrowserSections("[HKEY_LOCAL_MACHINE\\http\\shell\\open\\command]\n@=\"x\"\n").empty());
}

TEST(PvhostRegistryText, ComposedFileReadsBackThroughTheRegistryReader) {
    CTempDir dir;
    std::string value = "/a \"b\"\\c/relax.ini";
    std::string file = dir / "r.reg";
    WriteFile(file, pvhost::ComposeRegistry(value, {pvhost::BrowserSection("/usr/bin/b\\x")}));
    CString read;
    ASSERT_TRUE(RegQueryDefaultValue({CString(file)}, HKey::LocalMachine, kHostRegistryKey, read));
    EXPECT_EQ(read, value.c_str());
    ASSERT_TRUE(RegQueryDefaultValue({CString(file)}, HKey::ClassesRoot, kBrowserKey, read));
    EXPECT_EQ(read, "\"/usr/bin/b\\x\" %1");
}

}  // namespace
