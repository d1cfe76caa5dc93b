#include "Options.h"

#include <gtest/gtest.h>

namespace {

using glimmer::Options;
using glimmer::ParseOptions;

std::optional<Options> Parse(std::vector<std::string> args, std::string* error = nullptr) {
    std::string message;
    auto options = ParseOptions(args, message);
    if (error) *error = message;
    return options;
}

TEST(Options, Defaults) {
    auto options = Parse({"--data", "/srv/gp"});
    ASSERT_TRUE(options);
    EXPECT_EQ(options->host, "127.0.0.1");
    EXPECT_EQ(options->port, 8080);
    EXPECT_EQ(options->config.data_dir, "/srv/gp");
    EXPECT_EQ(options->config.max_body, std::uint64_t{8} << 30);
    EXPECT_EQ(options->config.max_parts, 20000u);
    EXPECT_EQ(options->config.read_timeout, std::chrono::seconds(30));
    EXPECT_EQ(options->config.write_timeout, std::chrono::seconds(30));
    EXPECT_TRUE(options->config.log);
    EXPECT_FALSE(options->help);
}

TEST(Options, EveryOption) {
    auto options = Parse({"--listen", "0.0.0.0:0", "--data=/d", "--max-body", "2M", "--max-parts=7",
                          "--read-timeout", "3", "--write-timeout=4", "--threads", "2", "--quiet"});
    ASSERT_TRUE(options);
    EXPECT_EQ(options->host, "0.0.0.0");
    EXPECT_EQ(options->port, 0);
    EXPECT_EQ(options->config.data_dir, "/d");
    EXPECT_EQ(options->config.max_body, 2u << 20);
    EXPECT_EQ(options->config.max_parts, 7u);
    EXPECT_EQ(options->config.read_timeout, std::chrono::seconds(3));
    EXPECT_EQ(options->config.write_timeout, std::chrono::seconds(4));
    EXPECT_EQ(options->config.threads, 2u);
    EXPECT_FALSE(options->config.log);
}

TEST(Options, ListenForms) {
    struct Case {
        const char* listen;
        const char* host;
        int port;
    } const kCases[] = {
        {"127.0.0.1:41234", "127.0.0.1", 41234},
        {"localhost:80", "localhost", 80},
        {"[::1]:0", "::1", 0},
        {"127.0.0.1:65535", "127.0.0.1", 65535},
    };
    for (const Case& c : kCases) {
        auto options = Parse({"--data", "d", "--listen", c.listen});
        ASSERT_TRUE(options) << c.listen;
        EXPECT_EQ(options->host, c.host);
        EXPECT_EQ(options->port, c.port);
    }
}

TEST(Options, ByteSuffixes) {
    struct Case {
        const char* text;
        std::uint64_t bytes;
    } const kCases[] = {
        {"1", 1}, {"10k", 10240}, {"3K", 3072}, {"1m", 1u << 20}, {"8G", 8ull << 30}};
    for (const Case& c : kCases) {
        auto options = Parse({"--data", "d", "--max-body", c.text});
        ASSERT_TRUE(options) << c.text;
        EXPECT_EQ(options->config.max_body, c.bytes) << c.text;
    }
}

TEST(Options, BadCommandLines) {
    const std::vector<std::vector<std::string>> kBad = {
        {},                                             // no --data
        {"--listen", "127.0.0.1:1"},                    // no --data
        {"--data"},                                     // no value
        {"--data", ""},                                 // empty value
        {"--data", "d", "--bogus"},                     // unknown option
        {"--data", "d", "extra"},                       // stray argument
        {"--data", "d", "--listen", "127.0.0.1"},       // no port
        {"--data", "d", "--listen", ":80"},             // no host
        {"--data", "d", "--listen", "h:65536"},         // port out of range
        {"--data", "d", "--listen", "h:-1"},            // negative port
        {"--data", "d", "--listen", "h:8o"},            // not a number
        {"--data", "d", "--max-body", "0"},             // below the minimum
        {"--data", "d", "--max-body", "12x"},           // bad suffix
        {"--data", "d", "--max-body", "99999999999G"},  // overflows
        {"--data", "d", "--max-parts", "0"},
        {"--data", "d", "--read-timeout", "0"},
        {"--data", "d", "--write-timeout", "1.5"},
        {"--data", "d", "--threads", "0"},
    };
    for (const auto& args : kBad) {
        std::string error;
        EXPECT_FALSE(Parse(args, &error)) << ::testing::PrintToString(args);
        EXPECT_FALSE(error.empty()) << ::testing::PrintToString(args);
    }
}

TEST(Options, HelpNeedsNothingElse) {
    auto options = Parse({"--help"});
    ASSERT_TRUE(options);
    EXPECT_TRUE(options->help);
    EXPECT_NE(glimmer::Usage("glimmerprints").find("--max-body"), std::string::npos);
}

}  // namespace
