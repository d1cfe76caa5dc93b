#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include "host/StartUp.h"
#include "platform/InstanceLock.h"
#include "support/HostInstall.h"
#include "support/TempDir.h"

namespace {

class CFakeShell : public IStartUpShell {
public:
    void MessageBox(const CString& text, unsigned type) override { boxes.push_back({text.str(), type}); }
    void RunOrderDialog() override {
        ++dialogs;
        if (duringDialog) duringDialog();
    }
    std::vector<std::pair<std::string, unsigned>> boxes;
    int dialogs = 0;
    std::function<void()> duringDialog;
};

class StartUpTest : public ::testing::Test {
protected:
    CTempDir dir;
    CScopedEnv xdg{"XDG_CONFIG_HOME", dir.path().c_str()};
    CStartUpOptions options;
    CFakeShell shell;

    StartUpTest() { options.lockPath = (dir / "instance.lock").c_str(); }

    void InstallHost(const char* letter) { ::InstallHost(dir.path(), letter); }
};

TEST_F(StartUpTest, MissingRelaxIniShowsTheEnglishBoxAndTakesNoLock) {
    EXPECT_FALSE(RunStartUp(shell, options));
    ASSERT_EQ(shell.boxes.size(), 1u);
    EXPECT_EQ(shell.boxes[0].first, "Unable to find relax.ini file.");
    EXPECT_EQ(shell.boxes[0].second, 0x10u);
    EXPECT_EQ(shell.dialogs, 0);
    EXPECT_FALSE(Exists(options.lockPath.str()));
}

TEST_F(StartUpTest, TheDialogRunsHoldingTheLock) {
    InstallHost("G");
    shell.duringDialog = [&] {
        CInstanceLock other;
        ASSERT_TRUE(other.Open(options.lockPath));
        EXPECT_FALSE(other.Acquire(std::chrono::milliseconds(0)));
    };
    EXPECT_FALSE(RunStartUp(shell, options));
    EXPECT_EQ(shell.dialogs, 1);
    EXPECT_TRUE(shell.boxes.empty());
    // Released afterwards.
    CInstanceLock after;
    ASSERT_TRUE(after.Open(options.lockPath));
    EXPECT_TRUE(after.Acquire(std::chrono::milliseconds(0)));
}

TEST_F(StartUpTest, ASecondInstanceGivesUpWithMessage132InTheHostsLanguage) {
    struct Case {
        const char* letter;
        const char* text;
    } cases[] = {
        {"F", "Une tâche de l'interface du service d'impression Pictorvale est toujours active"},
        {"e", "A previous Pictorvale Print Service Interface task is still running"},
        {"G", "Das Pictorvale-Print-Service-Modul ist bereits aktiv"},
    };
    CInstanceLock first;
    ASSERT_TRUE(first.Open(options.lockPath));
    ASSERT_TRUE(first.Acquire(std::chrono::milliseconds(0)));
    options.lockWait = std::chrono::milliseconds(200);
    for (const auto& c : cases) {
        InstallHost(c.letter);
        shell.boxes.clear();
        EXPECT_FALSE(RunStartUp(shell, options));
        ASSERT_EQ(shell.boxes.size(), 1u);
        EXPECT_EQ(shell.boxes[0].first, c.text);
        EXPECT_EQ(shell.dialogs, 0);
    }
}

TEST_F(StartUpTest, ASecondInstanceGoesOnWhenTheFirstEndsInTime) {
    InstallHost("E");
    CInstanceLock first;
    ASSERT_TRUE(first.Open(options.lockPath));
    ASSERT_TRUE(first.Acquire(std::chrono::milliseconds(0)));
    std::thread releaser([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        first.Release();
    });
    options.lockWait = std::chrono::milliseconds(5000);
    EXPECT_FALSE(RunStartUp(shell, options));
    releaser.join();
    EXPECT_EQ(shell.dialogs, 1);
    EXPECT_TRUE(shell.boxes.empty());
}

TEST_F(StartUpTest, AnAbandonedLockIsObtainedAtOnce) {
    InstallHost("E");
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        CInstanceLock held;
        bool ok = held.Open(options.lockPath) && held.Acquire(std::chrono::milliseconds(0));
        char c = ok ? '1' : '0';
        (void)!::write(ready[1], &c, 1);
        ::pause();
        ::_exit(0);
    }
    char c = 0;
    ASSERT_EQ(::read(ready[0], &c, 1), 1);
    ASSERT_EQ(c, '1');
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    ::close(ready[0]);
    ::close(ready[1]);

    options.lockWait = std::chrono::milliseconds(0);  // no waiting at all
    EXPECT_FALSE(RunStartUp(shell, options));
    EXPECT_EQ(shell.dialogs, 1);
}

TEST(InstanceLock, DefaultPathFollowsTheRuntimeFolder) {
    {
        CScopedEnv runtime("XDG_RUNTIME_DIR", "/run/user/1234");
        EXPECT_EQ(CInstanceLock::DefaultPath(), "/run/user/1234/Pictorvale_Export_Plugin_Mutex.lock");
    }
    CScopedEnv runtime("XDG_RUNTIME_DIR", nullptr);
    EXPECT_EQ(CInstanceLock::DefaultPath(),
              ("/tmp/Pictorvale_Export_Plugin_Mutex-" + std::to_string(::getuid()) + ".lock").c_str());
}

}  // namespace
