#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "PvhostTestSupport.h"
#include "order/PrintServiceDlg.h"
#include "pvhost/Launch.h"
#include "support/RecordingWindow.h"
#include "support/TempDir.h"

namespace {

// Orders run through pvhost's Main with stub tools written by the test. Exports go into
// a private TMPDIR, so "nothing left" can be checked by listing it.
class PvhostOrder : public ::testing::Test {
protected:
    CTempDir tmp;
    CTempDir work;
    CScopedEnv tmpdir{"TMPDIR", tmp.path().c_str()};

    void SetUp() override {
        WriteFile(work / "Beach.jpg", "beach bytes");
        WriteFile(work / "Forest.png", "forest bytes");
    }

    std::vector<std::string> Pictures() const { return {work / "Beach.jpg", work / "Forest.png"}; }

    // A tool that records its arguments and a copy of the control file, then runs `rest`.
    std::string Stub(const std::string& rest) {
        std::string path = work / "stub-tool";
        WriteScript(path, "printf '%s\\n' \"$#\" \"$1\" > '" + (work / "args") + "'\n"
                          "cp \"$1\" '" + (work / "seen.ctl") + "'\n" + rest);
        return path;
    }

    // The export folder the order made (the one folder in TMPDIR).
    std::string ExportFolder() const {
        std::vector<std::string> names = ListFolder(tmp.path());
        return names.size() == 1 ? tmp / names[0] : std::string("<" + std::to_string(names.size()) + " folders>");
    }

    MainResult Order(const std::string& tool, std::vector<std::string> extra = {}) {
        std::vector<std::string> args{"order", "--tool", tool};
        args.insert(args.end(), extra.begin(), extra.end());
        for (const std::string& p : Pictures()) args.push_back(p);
        return RunPvhost(args);
    }
};

// Removes the pictures named in the control file and the control file, as a completed
// upload does.
constexpr const char* kConsumeOrder =
    "while IFS='|' read -r file rest; do rm -f -- \"$file\"; done < \"$1\"\n"
    "rm -f -- \"$1\"\n";

TEST_F(PvhostOrder, StartsTheToolWithTheControlFileAsItsOneArgument) {
    MainResult r = Order(Stub("exit 7\n"), {"--format", "8.00x10.00", "--quantity", "2"});
    EXPECT_EQ(r.code, 7) << r.err;
    std::string folder = ExportFolder();
    std::string control = folder + "/order.ctl";
    EXPECT_EQ(ReadFile(work / "args"), "1\n" + control + "\n");

    // The control file was complete when the tool started, and the tool's reader accepts it.
    std::string seen = ReadFile(work / "seen.ctl");
    EXPECT_EQ(seen, ReadFile(control));
    CRecordingWindow window;
    CPrintServiceDlg dlg(window);
    dlg.m_strControlFile = (work / "seen.ctl").c_str();
    std::vector<OrderRecord> records;
    dlg.ReadControlFile([&records](int, const OrderRecord& rec) { records.push_back(rec); });
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].strTempFile, (folder + "/images/img0001.jpg").c_str());
    EXPECT_EQ(records[0].strImageName, "Beach");
    EXPECT_EQ(records[1].strTempFile, (folder + "/images/img0002.png").c_str());
    EXPECT_EQ(records[1].strImageName, "Forest");
    for (const OrderRecord& rec : records) {
        EXPECT_EQ(rec.nQuantity, 2);
        EXPECT_EQ(rec.strFormat, "8.00x10.00");
        EXPECT_EQ(ReadFile(rec.strTempFile.str()), ReadFile(work / (rec.strImageName.str() +
                                                                    (rec.strImageName == "Beach" ? ".jpg" : ".png"))));
    }

    // The tool kept everything: reported, and left for another try.
    EXPECT_NE(r.out.find("stub-tool ended with exit status 7\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("order kept: control file and 2 pictures still in " + folder + "\n"), std::string::npos)
        << r.out;
    EXPECT_TRUE(Exists(folder + "/images/img0001.jpg"));
}

TEST_F(PvhostOrder, ReportsHowTheToolEnded) {
    struct Case {
        std::string script;
        int code;
        std::string ended;
        std::string state;
        bool folderLeft;
    } cases[] = {
        {"exit 0\n", 0, "ended with exit status 0", "order kept: control file and 2 pictures still in ", true},
        {"exit 255\n", 255, "ended with exit status 255", "order kept: control file and 2 pictures", true},
        {std::string(kConsumeOrder) + "exit 0\n", 0, "ended with exit status 0", "order sent: files removed", false},
        {std::string(kConsumeOrder) + "exit 4\n", 4, "ended with exit status 4", "order sent: files removed", false},
        {"rm -f -- \"$1\"\nexit 0\n", 0, "ended with exit status 0",
         "order incomplete: control file removed, 2 pictures still in ", true},
        {"kill -TERM $$\n", 128 + SIGTERM, "was ended by signal 15", "order kept: control file and 2 pictures",
         true},
    };
    for (const auto& c : cases) {
        CTempDir caseTmp;
        CScopedEnv caseTmpdir("TMPDIR", caseTmp.path().c_str());
        MainResult r = Order(Stub(c.script));
        EXPECT_EQ(r.code, c.code) << c.script << r.err;
        EXPECT_NE(r.out.find(c.ended), std::string::npos) << c.script << r.out;
        EXPECT_NE(r.out.find(c.state), std::string::npos) << c.script << r.out;
        EXPECT_EQ(ListFolder(caseTmp.path()).size(), c.folderLeft ? 1u : 0u) << c.script;
        if (!c.folderLeft) {
            EXPECT_NE(r.out.find("export folder removed"), std::string::npos) << r.out;
        }
    }
}

TEST_F(PvhostOrder, ToolThatCannotStartLeavesNoExport) {
    WriteFile(work / "not-executable", "#!/bin/sh\nexit 0\n");
    ASSERT_EQ(::chmod((work / "not-executable").c_str(), 0644), 0);
    CScopedEnv path("PATH", (work.path()).c_str());
    struct Case {
        std::string tool;
        std::string reason;
    } cases[] = {
        {work / "no-such-tool", "No such file or directory"},
        {"no-such-tool-on-path", "No such file or directory"},
        {work / "not-executable", "Permission denied"},
    };
    for (const auto& c : cases) {
        MainResult r = Order(c.tool);
        EXPECT_EQ(r.code, 1) << c.tool;
        EXPECT_NE(r.err.find("cannot start " + c.tool + ": " + c.reason), std::string::npos) << r.err;
        EXPECT_TRUE(ListFolder(tmp.path()).empty()) << c.tool;
    }
}

TEST_F(PvhostOrder, BadPictureStartsNothing) {
    WriteFile(work / "Sun|set.jpg", "bar in the name");
    std::string stub = Stub("exit 0\n");
    struct Case {
        std::string picture;
        std::string error;
    } cases[] = {
        {work / "Missing.jpg", "cannot read picture " + (work / "Missing.jpg")},
        {work / "Sun|set.jpg", "holds '|'"},
        {work.path(), "not a picture file"},
    };
    for (const auto& c : cases) {
        MainResult r = RunPvhost({"order", "--tool", stub, work / "Beach.jpg", c.picture});
        EXPECT_EQ(r.code, 1) << c.picture;
        EXPECT_NE(r.err.find(c.error), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("the tool was not started"), std::string::npos) << r.err;
        EXPECT_FALSE(Exists(work / "args")) << c.picture;
        EXPECT_TRUE(ListFolder(tmp.path()).empty()) << c.picture;
    }
    // The same with a given export folder: it is created and removed again.
    MainResult r = RunPvhost({"order", "--tool", stub, "--export-dir", work / "exp", work / "Missing.jpg"});
    EXPECT_EQ(r.code, 1);
    EXPECT_FALSE(Exists(work / "exp"));
    EXPECT_FALSE(Exists(work / "args"));
}

TEST_F(PvhostOrder, ExportDirOptionIsUsed) {
    MainResult r = Order(Stub("exit 0\n"), {"--export-dir", work / "My Export"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(ReadFile(work / "args"), "1\n" + (work / "My Export/order.ctl") + "\n");
    EXPECT_TRUE(ListFolder(tmp.path()).empty());
}

TEST_F(PvhostOrder, NoWaitReturnsWhileTheToolRuns) {
    // The tool waits until the test lets it go, so pvhost can only have returned without it.
    std::string gate = work / "go";
    MainResult r = Order(Stub("while [ ! -e '" + gate + "' ]; do sleep 0.05; done\n"
                              "touch '" + (work / "done") + "'\nexit 3\n"),
                         {"--no-wait"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("not waiting"), std::string::npos) << r.out;
    EXPECT_FALSE(Exists(work / "done"));
    WriteFile(gate, "");
    // Collect the tool, which is this process's child.
    int status = 0;
    pid_t pid = -1;
    for (int i = 0; i < 200 && pid <= 0; ++i) {
        pid = ::waitpid(-1, &status, WNOHANG);
        if (pid == 0) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ASSERT_GT(pid, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 3);
    EXPECT_TRUE(Exists(work / "done"));
    // The order stays for the tool: pvhost removes nothing it did not wait for.
    EXPECT_TRUE(Exists(ExportFolder() + "/order.ctl"));
}

TEST_F(PvhostOrder, DefaultToolIsPvprintNextToPvhost) {
    MakeDirs(work / "bin");
    WriteScript(work / "bin/pvprint", "printf '%s\\n' \"$0\" \"$1\" > '" + (work / "args") + "'\n" + kConsumeOrder);
    MainResult r = RunPvhost({"order", work / "Beach.jpg"}, work / "bin/pvhost");
    EXPECT_EQ(r.code, 0) << r.err;
    std::string args = ReadFile(work / "args");
    EXPECT_EQ(args.rfind((work / "bin/pvprint") + "\n" + tmp.path() + "/pvexport-", 0), 0u) << args;
    EXPECT_NE(r.out.find("order sent: files removed"), std::string::npos) << r.out;
    EXPECT_TRUE(ListFolder(tmp.path()).empty());
}

TEST(PvhostLaunch, DefaultToolPath) {
    CTempDir dir;
    EXPECT_EQ(pvhost::DefaultToolPath(dir / "pvhost"), "pvprint");  // none there: PATH
    WriteFile(dir / "pvprint", "not executable");
    EXPECT_EQ(pvhost::DefaultToolPath(dir / "pvhost"), "pvprint");
    ASSERT_EQ(::chmod((dir / "pvprint").c_str(), 0755), 0);
    EXPECT_EQ(pvhost::DefaultToolPath(dir / "pvhost"), dir / "pvprint");
    EXPECT_EQ(pvhost::DefaultToolPath("pvhost"), "pvprint");
    MakeDirs(dir / "sub/pvprint");  // a folder is no tool
    EXPECT_EQ(pvhost::DefaultToolPath(dir / "sub/pvhost"), "pvprint");
}

TEST(PvhostLaunch, ArgumentIsPassedAsOneWordWithoutAShell) {
    CTempDir dir;
    std::string tool = dir / "tool";
    WriteScript(tool, "printf '%s\\n' \"$#\" \"$1\" > '" + (dir / "args") + "'\n");
    const std::string argument = "/tmp/my order/$(touch " + (dir / "pwned") + ") ; 'x\" *.ctl";
    pvhost::StartResult started = pvhost::StartTool(tool, argument);
    ASSERT_GT(started.pid, 0) << started.error;
    pvhost::ToolEnd end = pvhost::WaitTool(started.pid);
    EXPECT_TRUE(end.exited);
    EXPECT_EQ(end.status, 0);
    EXPECT_EQ(ReadFile(dir / "args"), "1\n" + argument + "\n");
    EXPECT_FALSE(Exists(dir / "pwned"));
}

TEST(PvhostLaunch, ExitCodeAndDescription) {
    pvhost::ToolEnd exited{true, 5, 0};
    pvhost::ToolEnd killed{false, 0, SIGKILL};
    EXPECT_EQ(pvhost::ExitCodeOf(exited), 5);
    EXPECT_EQ(pvhost::ExitCodeOf(killed), 137);
    EXPECT_EQ(pvhost::DescribeEnd("pvprint", exited), "pvprint ended with exit status 5");
    EXPECT_EQ(pvhost::DescribeEnd("pvprint", killed).rfind("pvprint was ended by signal 9", 0), 0u);
}

}  // namespace
