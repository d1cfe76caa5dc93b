#include "Query.h"

#include <gtest/gtest.h>

namespace {

using glimmer::PercentDecode;
using glimmer::PercentEncode;
using glimmer::QueryValue;

TEST(Query, PercentDecode) {
    struct Case {
        std::string in;
        std::string out;
    } const kCases[] = {
        {"plain", "plain"},     {"a%40b.c", "a@b.c"}, {"%41%62%2b%2B", "Ab++"},
        {"a+b", "a+b"},  // a plus sign stays a plus sign
        {"%20", " "},           {"%", "%"},           {"%4", "%4"},
        {"%zz1", "%zz1"},       {"100%", "100%"},     {"%00x", std::string("\0x", 2)},
        {"%C3%A9", "\xC3\xA9"},
    };
    for (const Case& c : kCases) EXPECT_EQ(PercentDecode(c.in), c.out) << c.in;
}

TEST(Query, PercentEncodeKeepsOnlyUnreservedBytes) {
    EXPECT_EQ(PercentEncode("Az09-._~@"), "Az09-._~@");
    EXPECT_EQ(PercentEncode("a+b c&d=e#f%g/h"), "a%2Bb%20c%26d%3De%23f%25g%2Fh");
    EXPECT_EQ(PercentEncode("\xC3\xA9\n"), "%C3%A9%0A");
    const std::string all = [] {
        std::string s;
        for (int i = 0; i < 256; ++i) s.push_back(static_cast<char>(i));
        return s;
    }();
    EXPECT_EQ(PercentDecode(PercentEncode(all)), all);
}

TEST(Query, QueryValue) {
    const std::string target = "/glimmerprints.php?username=a%2Bb%40c.d&password=XyZ&empty=&bare";
    EXPECT_EQ(QueryValue(target, "username"), "a+b@c.d");
    EXPECT_EQ(QueryValue(target, "password"), "XyZ");
    EXPECT_EQ(QueryValue(target, "empty"), "");
    EXPECT_EQ(QueryValue(target, "bare"), "");
    EXPECT_EQ(QueryValue(target, "missing"), std::nullopt);
    EXPECT_EQ(QueryValue("/glimmerprints.php", "username"), std::nullopt);
    EXPECT_EQ(QueryValue("/p?id=1&id=2", "id"), "1");  // the first wins
    EXPECT_EQ(QueryValue("/p?pass=1&password=2", "password"), "2");
    EXPECT_EQ(QueryValue("/p?password=2#frag", "password"), "2");
    EXPECT_EQ(QueryValue("/p?user%6eame=x", "username"), "x");
}

}  // namespace
