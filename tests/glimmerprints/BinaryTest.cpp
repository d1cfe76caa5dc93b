// The glimmerprints program itself: start-up line, an order, and a clean stop on SIGTERM.

#include <signal.h>

#include <gtest/gtest.h>

#include <chrono>

#include "Harness.h"
#include "Program.h"

namespace {

using namespace gptest;

TEST(Program, ServesAnOrderAndStopsOnSigterm) {
    TempDir temp;
    const std::string data = (temp.path() / "data").string();
    std::string password;
    for (int signal_number : {SIGTERM, SIGINT}) {
        Program program({"--listen", "127.0.0.1:0", "--data", data, "--quiet"});
        auto line = program.ReadLine(std::chrono::seconds(10));
        ASSERT_TRUE(line);
        const int port = PortOf(*line);
        ASSERT_GT(port, 0) << *line;

        if (password.empty()) {
            auto answer = PostOrder(port, BuildBody(OrderParts("ann@example.com", TwoPictures())));
            ASSERT_TRUE(answer);
            ASSERT_EQ(answer->status, 200) << answer->body;
            password = answer->body;
        }
        // The second run finds the first run's order.
        auto page = Get(port, AccountTarget("ann@example.com", password));
        ASSERT_TRUE(page);
        EXPECT_EQ(page->status, 200);
        EXPECT_NE(page->body.find("C:\\Temp\\PV0001.jpg"), std::string::npos);

        program.Signal(signal_number);
        EXPECT_EQ(program.Wait(std::chrono::seconds(10)), 0) << "signal " << signal_number;
    }
    EXPECT_EQ(CountRows(temp.path() / "data", "orders"), 1);
}

TEST(Program, OneProgramPerDataFolder) {
    TempDir temp;
    const std::string data = (temp.path() / "data").string();
    Program first({"--listen", "127.0.0.1:0", "--data", data, "--quiet"});
    ASSERT_TRUE(first.ReadLine(std::chrono::seconds(10)));
    Program second({"--listen", "127.0.0.1:0", "--data", data, "--quiet"});
    EXPECT_EQ(second.Wait(std::chrono::seconds(10)), 1);
    EXPECT_NE(second.Stderr().find("in use"), std::string::npos);
    first.Signal(SIGTERM);
    EXPECT_EQ(first.Wait(std::chrono::seconds(10)), 0);
}

TEST(Program, HelpAndBadCommandLines) {
    {
        Program help({"--help"});
        EXPECT_EQ(help.Wait(std::chrono::seconds(10)), 0);
        EXPECT_NE(help.Stdout().find("usage: "), std::string::npos);
    }
    const std::vector<std::vector<std::string>> kBad = {
        {},
        {"--data", "/tmp/x", "--frobnicate"},
        {"--data", "/tmp/x", "--listen", "127.0.0.1"},
        {"--data", "/tmp/x", "--max-body", "lots"},
        {"--listen", "127.0.0.1:0"},
    };
    for (const auto& args : kBad) {
        Program program(args);
        EXPECT_EQ(program.Wait(std::chrono::seconds(10)), 2) << ::testing::PrintToString(args);
        const std::string err = program.Stderr();
        EXPECT_NE(err.find("glimmerprints: "), std::string::npos) << err;
        EXPECT_EQ(program.Stdout(), "");
    }
}

}  // namespace
