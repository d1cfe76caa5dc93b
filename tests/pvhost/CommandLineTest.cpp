#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "PvhostTestSupport.h"
#include "pvhost/CommandLine.h"
#include "support/TempDir.h"

namespace {

using pvhost::Command;
using pvhost::CommandLine;
using pvhost::ParseCommandLine;

TEST(PvhostCommandLine, OrderOptionsAndPictures) {
    CommandLine line;
    std::string error;
    ASSERT_TRUE(ParseCommandLine({"order", "a.jpg", "--format=5.00x7.00", "--quantity", "3", "--no-wait",
                                  "--tool", "/opt/t", "--export-dir", "out", "b.png", "--", "-c.jpg", "--no-wait"},
                                 line, error))
        << error;
    EXPECT_EQ(line.command, Command::Order);
    EXPECT_EQ(line.order.format, "5.00x7.00");
    EXPECT_EQ(line.order.quantity, 3);
    EXPECT_FALSE(line.order.wait);
    EXPECT_EQ(line.order.tool, "/opt/t");
    EXPECT_EQ(line.order.exportDir, "out");
    EXPECT_EQ(line.order.pictures, (std::vector<std::string>{"a.jpg", "b.png", "-c.jpg", "--no-wait"}));
}

TEST(PvhostCommandLine, OrderDefaults) {
    CommandLine line;
    std::string error;
    ASSERT_TRUE(ParseCommandLine({"order", "a.jpg"}, line, error)) << error;
    EXPECT_EQ(line.order.format, "4.00x6.00");
    EXPECT_EQ(line.order.quantity, 1);
    EXPECT_TRUE(line.order.wait);
    EXPECT_TRUE(line.order.tool.empty());
    EXPECT_TRUE(line.order.exportDir.empty());
}

TEST(PvhostCommandLine, InstallOptions) {
    CommandLine line;
    std::string error;
    ASSERT_TRUE(ParseCommandLine({"install", "--language", "g", "--service=127.0.0.1:8080", "--data", "/d",
                                  "--browser", "firefox", "--tool", "/opt/pvprint"},
                                 line, error))
        << error;
    EXPECT_EQ(line.command, Command::Install);
    EXPECT_EQ(line.install.language, 'G');  // lower case is accepted and stored upper case
    EXPECT_EQ(line.install.service, "127.0.0.1:8080");
    EXPECT_EQ(line.install.dataDir, "/d");
    EXPECT_EQ(line.install.browser, "firefox");
    EXPECT_EQ(line.install.tool, "/opt/pvprint");

    ASSERT_TRUE(ParseCommandLine({"install"}, line, error));
    EXPECT_EQ(line.install.language, 'E');
    EXPECT_FALSE(line.install.service.has_value());
    EXPECT_FALSE(line.install.browser.has_value());
}

TEST(PvhostCommandLine, ServiceHostForms) {
    struct Case {
        const char* text;
        bool ok;
    } cases[] = {
        {"glimmerprints.example", true}, {"127.0.0.1:8080", true}, {"my-host_1:1", true},
        {"host:65535", true},            {"", false},              {":80", false},
        {"host:", false},                {"host:0", false},        {"host:65536", false},
        {"host:80x", false},             {"ho st", false},         {"http://host", false},
        {"host:8080:1", false},          {"host|x", false},
    };
    for (const auto& c : cases) EXPECT_EQ(pvhost::IsServiceHost(c.text), c.ok) << c.text;
}

TEST(PvhostCommandLine, BadUsageExitsTwoWithUsageOnStderr) {
    CTempDir tmp;
    CTempDir config;  // made before TMPDIR points into `tmp`
    CScopedEnv tmpdir("TMPDIR", tmp.path().c_str());
    CScopedEnv xdg("XDG_CONFIG_HOME", config.path().c_str());
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"frobnicate"},
        {"order"},
        {"order", "--no-wait"},
        {"order", "--quantity", "0", "a.jpg"},
        {"order", "--quantity", "-1", "a.jpg"},
        {"order", "--quantity", "x", "a.jpg"},
        {"order", "--quantity", "2147483648", "a.jpg"},
        {"order", "a.jpg", "--quantity"},
        {"order", "a.jpg", "--format"},
        {"order", "--format=", "a.jpg"},
        {"order", "--tool", "", "a.jpg"},
        {"order", "--bogus", "a.jpg"},
        {"install", "--language", "X"},
        {"install", "--language", "EE"},
        {"install", "--language"},
        {"install", "--service", ""},
        {"install", "--service", "host:0"},
        {"install", "--service", "host:65536"},
        {"install", "--service", "ho st"},
        {"install", "--data", ""},
        {"install", "extra"},
    };
    for (const auto& args : cases) {
        std::string shown;
        for (const auto& a : args) shown += "[" + a + "]";
        MainResult r = RunPvhost(args);
        EXPECT_EQ(r.code, 2) << shown;
        EXPECT_NE(r.err.find("pvhost: "), std::string::npos) << shown;
        EXPECT_NE(r.err.find("usage: pvhost"), std::string::npos) << shown;
        EXPECT_EQ(r.out, "") << shown;
    }
    // Nothing was exported or installed on the way.
    EXPECT_TRUE(ListFolder(tmp.path()).empty());
    EXPECT_TRUE(ListFolder(config.path()).empty());
}

TEST(PvhostCommandLine, HelpGoesToStderrAndSucceeds) {
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--help"}, {"help"}, {"-h"}, {"order", "--help"}, {"install", "--help"}}) {
        MainResult r = RunPvhost(args);
        EXPECT_EQ(r.code, 0) << args.front();
        EXPECT_EQ(r.out, "") << args.front();
        EXPECT_NE(r.err.find("usage: pvhost install"), std::string::npos) << args.front();
        EXPECT_NE(r.err.find("pvhost order"), std::string::npos) << args.front();
    }
}

}  // namespace
