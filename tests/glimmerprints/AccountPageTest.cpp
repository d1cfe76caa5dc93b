#include "AccountPage.h"

#include <gtest/gtest.h>

#include "PictureType.h"

namespace {

using namespace glimmer;

TEST(AccountPage, HtmlEscapeReplacesTheFiveSpecialCharacters) {
    EXPECT_EQ(HtmlEscape("plain text 123"), "plain text 123");
    EXPECT_EQ(HtmlEscape("<a href=\"x\">'&'</a>"),
              "&lt;a href=&quot;x&quot;&gt;&#39;&amp;&#39;&lt;/a&gt;");
    EXPECT_EQ(HtmlEscape("&amp;"), "&amp;amp;");
    EXPECT_EQ(HtmlEscape("\xC3\xA9"), "\xC3\xA9");
}

AccountView SampleAccount() {
    AccountView account;
    account.email = "Ann@Example.com";
    OrderView first;
    first.id = 7;
    first.created = "2024-05-01 10:00:00";
    first.email = "Ann@Example.com";
    first.pictures.push_back({11, 1, "4x6", 2, "C:\\Temp\\a.jpg", 2500});
    first.pictures.push_back({12, 2, "<b>5x7</b>", 1, "x\"><script>alert(1)</script>", 0});
    OrderView second;
    second.id = 9;
    second.created = "2024-05-02 11:30:00";
    second.email = "ann@example.com";
    second.pictures.push_back({20, 1, "8x10", 30, "/tmp/b.png", 7});
    account.orders = {first, second};
    return account;
}

TEST(AccountPage, ListsEveryOrderWithItsPictures) {
    const std::string html = RenderAccountPage(SampleAccount(), "Ann@Example.com", "Pw123");
    EXPECT_EQ(html.rfind("<!doctype html>", 0), 0u);
    EXPECT_NE(html.find("<meta charset=\"utf-8\">"), std::string::npos);
    const auto first = html.find("2024-05-01 10:00:00");
    const auto second = html.find("2024-05-02 11:30:00");
    ASSERT_NE(first, std::string::npos);
    ASSERT_NE(second, std::string::npos);
    EXPECT_LT(first, second);
    for (const char* text :
         {"C:\\Temp\\a.jpg", "/tmp/b.png", ">4x6<", ">8x10<", ">30<", "2500 bytes"}) {
        EXPECT_NE(html.find(text), std::string::npos) << text;
    }
    EXPECT_NE(html.find("src=\"/picture?username=Ann@Example.com&amp;password=Pw123&amp;id=11\""),
              std::string::npos);
    EXPECT_NE(html.find("id=20\""), std::string::npos);
}

TEST(AccountPage, StoredTextsAreEscaped) {
    const std::string html = RenderAccountPage(SampleAccount(), "Ann@Example.com", "Pw123");
    EXPECT_EQ(html.find("<script>"), std::string::npos);
    EXPECT_EQ(html.find("<b>"), std::string::npos);
    EXPECT_NE(html.find("x&quot;&gt;&lt;script&gt;alert(1)&lt;/script&gt;"), std::string::npos);
    EXPECT_NE(html.find("&lt;b&gt;5x7&lt;/b&gt;"), std::string::npos);
}

TEST(AccountPage, PictureAddressEncodesTheCredentials) {
    EXPECT_EQ(PictureAddress("a+b&c@d.e", "p w#", 5),
              "/picture?username=a%2Bb%26c@d.e&password=p%20w%23&id=5");
    const std::string html = RenderAccountPage(SampleAccount(), "x\"<y>@z", "p&q");
    EXPECT_NE(html.find("src=\"/picture?username=x%22%3Cy%3E@z&amp;password=p%26q&amp;id=11\""),
              std::string::npos);
}

TEST(PictureType, GuessedFromTheFirstBytes) {
    using namespace std::string_literals;
    struct Case {
        std::string head;
        const char* type;
    } const kCases[] = {
        {"\xFF\xD8\xFF\xE0rest"s, "image/jpeg"},
        {"\x89PNG\r\n\x1a\n...."s, "image/png"},
        {"GIF89a.."s, "image/gif"},
        {"GIF87a.."s, "image/gif"},
        {"BM......"s, "image/bmp"},
        {"II*\0...."s, "image/tiff"},
        {"MM\0*...."s, "image/tiff"},
        {"RIFF\x10\0\0\0WEBPVP8 "s, "image/webp"},
        {"RIFF\x10\0\0\0WAVEfmt "s, "image/jpeg"},
        {"\x89PN"s, "image/jpeg"},
        {""s, "image/jpeg"},
        {"<svg>"s, "image/jpeg"},
    };
    for (const Case& c : kCases) EXPECT_EQ(GuessPictureType(c.head), c.type) << c.head;
}

}  // namespace
