#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <string>
#include <thread>

#include "order/PrintServiceDlg.h"
#include "submit/Browser.h"
#include "support/RecordingWindow.h"
#include "support/HostInstall.h"
#include "support/TempDir.h"

namespace {

TEST(BrowserPath, CutsTheCommandToTheProgram) {
    struct Case {
        const char* command;
        const char* path;
    } cases[] = {
        {"\"/opt/Web Browser/browse\" -new-window %1", "/opt/Web Browser/browse"},
        {"\"/opt/Web Browser/browse", "\"/opt/Web Browser/browse"},  // no closing quote
        {"\"", "\""},
        {"\"\" -x", ""},
        {"/opt/Program Files/Web/web -nohome", "/opt/Program Files/Web/web"},
        {"/usr/bin/firefox", "/usr/bin/firefox"},
        {"firefox -new-window", "firefox -new-window"},  // no '/' at all
        {"/usr/bin/web -profile /a b", "/usr/bin/web -profile /a"},  // cut inside the argument
        {"x\"/usr/bin/web\" %1", "x\"/usr/bin/web\""},
    };
    for (const auto& c : cases) {
        CString holder = c.command;
        EXPECT_EQ(GetDefaultBrowserPath(holder), c.path) << c.command;
        EXPECT_EQ(holder, c.path) << c.command;
    }
}

// A private registry, a stub browser and a stub xdg-open that write their arguments.
class BrowserTest : public ::testing::Test {
protected:
    CTempDir dir;
    CScopedEnv xdg{"XDG_CONFIG_HOME", dir.path().c_str()};
    CScopedEnv searchPath{"PATH", (dir / "bin").c_str()};
    CRecordingWindow window;
    CPrintServiceDlg dlg{window};
    const std::string url = "http://127.0.0.1:8080/glimmerprints.php?username=a%40b.de&password=x y;$(id)";

    BrowserTest() { MakeDirs(dir / "bin"); }

    std::string Stub(const std::string& path, const std::string& out) {
        WriteFile(path, "#!/bin/sh\nfor a in \"$@\"; do printf '[%s]' \"$a\"; done > \"" + out + ".tmp\"\n/bin/mv \"" +
                            out + ".tmp\" \"" + out + "\"\n");
        ::chmod(path.c_str(), 0755);
        return path;
    }

    void Register(const std::string& command) {
        WriteRegistryValue(dir.path(), "HKEY_CLASSES_ROOT\\http\\shell\\open\\command", command);
    }

    // The stubs run detached; wait a little for their output.
    static std::string WaitFor(const std::string& file) {
        for (int i = 0; i < 500 && !Exists(file); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return Exists(file) ? ReadFile(file) : std::string("(not started)");
    }
};

TEST_F(BrowserTest, RegisteredBrowserGetsTheAddressAsOneArgument) {
    MakeDirs(dir / "Web Browser");
    std::string browser = Stub(dir / "Web Browser/browse", dir / "browser.out");
    Stub(dir / "bin/xdg-open", dir / "xdg.out");
    for (const std::string& command : {"\"" + browser + "\" -new-window %1", browser}) {
        std::remove((dir / "browser.out").c_str());
        Register(command);
        dlg.OpenUrlInBrowser(url.c_str());
        EXPECT_EQ(WaitFor(dir / "browser.out"), "[" + url + "]") << command;
    }
    EXPECT_FALSE(Exists(dir / "xdg.out"));
    EXPECT_TRUE(window.boxes.empty());
}

TEST_F(BrowserTest, WithoutAUsableBrowserXdgOpenOpensTheAddress) {
    Stub(dir / "bin/xdg-open", dir / "xdg.out");
    WriteFile(dir / "not-executable", "#!/bin/sh\n");
    const std::string setups[] = {
        "",                                        // no registry key at all
        "\"" + dir / "missing/browser" + "\" %1",  // a path that does not exist
        "firefox -new-window %1",                  // no path
        dir / "not-executable",                    // exists, but cannot be started
    };
    for (const auto& command : setups) {
        std::remove((dir / "xdg.out").c_str());
        if (command.empty())
            std::remove((dir / "pictorvale/registry.reg").c_str());
        else
            Register(command);
        dlg.OpenUrlInBrowser(url.c_str());
        EXPECT_EQ(WaitFor(dir / "xdg.out"), "[" + url + "]") << command;
    }
    EXPECT_TRUE(window.boxes.empty());
}

TEST_F(BrowserTest, BothWaysFailingShowOneEnglishBox) {
    Register(dir / "missing");  // and no xdg-open on PATH
    dlg.m_wLanguage = 1031;
    dlg.OpenUrlInBrowser(url.c_str());
    ASSERT_EQ(window.boxes.size(), 1u);
    EXPECT_EQ(window.boxes[0].text,
              "Unable to open your Internet browser.  Please open your browser and go to the "
              "address below:\n\n" + url);
    EXPECT_EQ(window.boxes[0].type, MB_ICONERROR);

    // A long address is cut at 259 characters in the box.
    window.boxes.clear();
    dlg.OpenUrlInBrowser(("http://h/" + std::string(400, 'x')).c_str());
    ASSERT_EQ(window.boxes.size(), 1u);
    EXPECT_EQ(window.boxes[0].text.size(), 259u);
}

}  // namespace
