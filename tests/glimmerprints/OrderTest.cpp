// Orders that the service takes: stored once, whole, and shown on the account page.

#include <gtest/gtest.h>

#include <regex>

#include "AccountPage.h"
#include "Harness.h"

namespace {

using namespace gptest;

bool IsPassword(const std::string& text) {
    return std::regex_match(text, std::regex("[A-Za-z0-9]{20}"));
}

// Every picture address on a page, with &amp; turned back into &.
std::vector<std::string> ImageTargets(const std::string& html) {
    std::vector<std::string> targets;
    std::regex image("<img src=\"([^\"]*)\"");
    for (auto it = std::sregex_iterator(html.begin(), html.end(), image);
         it != std::sregex_iterator(); ++it) {
        std::string target = (*it)[1];
        for (std::size_t at; (at = target.find("&amp;")) != std::string::npos;) {
            target.replace(at, 5, "&");
        }
        targets.push_back(target);
    }
    return targets;
}

class OrderTest : public ::testing::Test {
protected:
    TempDir temp;
    fs::path data = temp.path() / "data";
    RunningService service{Config(data)};

    std::string Order(const std::string& email, const std::vector<Picture>& pictures) {
        auto answer = PostOrder(service.port(), BuildBody(OrderParts(email, pictures)));
        if (!answer) {
            ADD_FAILURE() << "no answer";
            return {};
        }
        EXPECT_EQ(answer->status, 200) << answer->body;
        return answer->body;
    }
};

// The helper writes the tool's layout byte for byte.
TEST(BodyLayout, MatchesTheToolsBodyFile) {
    const std::string body = BuildBody(OrderParts("a@b.c", {{"C:\\t\\p.jpg", "4x6", "3", "XY"}}));
    const std::string D = "-----------------------------7d4128363704e6";
    EXPECT_EQ(body, D + "\r\nContent-Disposition: form-data; name=\"images\"\r\n\r\n1\r\n" + D +
                        "\r\nContent-Disposition: form-data; name=\"email\"\r\n\r\na@b.c\r\n" + D +
                        "\r\nContent-Disposition: form-data; name=\"Format_001\"\r\n\r\n4x6\r\n" +
                        D + "\r\nContent-Disposition: form-data; name=\"Qty_001\"\r\n\r\n3\r\n" +
                        D +
                        "\r\nContent-Disposition: form-data; name=\"uploadImage[]\"; "
                        "filename=\"C:\\t\\p.jpg\"\r\nContent-Type: image/pjpeg\r\n\r\nXY\r\n" +
                        D + "--\r\n");
    EXPECT_EQ(D.size(), 43u);
    EXPECT_EQ(kFormType.substr(kFormType.find('=') + 1), D.substr(2));
}

TEST_F(OrderTest, TwoPictureOrderIsStoredOnceAndShownOnThePage) {
    const std::vector<Picture> pictures = TwoPictures();
    auto answer = PostOrder(service.port(), BuildBody(OrderParts("Ann@Example.com", pictures)));
    ASSERT_TRUE(answer);
    ASSERT_EQ(answer->status, 200) << answer->body;
    EXPECT_EQ(answer->headers["content-type"], "text/plain");
    // The tool announces gzip; cpp-httplib compresses even this short text answer.
    EXPECT_EQ(answer->content_encoding, "gzip");
    const std::string password = answer->body;
    EXPECT_TRUE(IsPassword(password)) << "'" << password << "'";

    EXPECT_EQ(CountRows(data, "accounts"), 1);
    EXPECT_EQ(CountRows(data, "passwords"), 1);
    EXPECT_EQ(CountRows(data, "orders"), 1);
    const std::vector<PictureRow> rows = PictureRows(data);
    ASSERT_EQ(rows.size(), 2u);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(rows[i].position, static_cast<int>(i + 1));
        EXPECT_EQ(rows[i].format, pictures[i].format);
        EXPECT_EQ(std::to_string(rows[i].quantity), pictures[i].quantity);
        EXPECT_EQ(rows[i].file_name, pictures[i].file_name);
        EXPECT_EQ(rows[i].size, static_cast<std::int64_t>(pictures[i].content.size()));
        EXPECT_EQ(ReadFile(rows[i].file), pictures[i].content) << rows[i].file;
    }
    // Nothing but the two pictures: no staged body, no leftovers.
    EXPECT_EQ(StoredFiles(data).size(), 2u);

    for (bool gzip : {false, true}) {
        auto page = Get(service.port(), AccountTarget("Ann@Example.com", password), gzip);
        ASSERT_TRUE(page);
        ASSERT_EQ(page->status, 200);
        EXPECT_EQ(page->content_encoding, gzip ? "gzip" : "");
        EXPECT_EQ(page->headers["content-type"], "text/html; charset=utf-8");
        const std::string& html = page->body;
        EXPECT_EQ(html.rfind("<!doctype html>", 0), 0u);
        EXPECT_EQ(CountOf(html, "<section class=\"order\">"), 1u);
        for (const Picture& picture : pictures) {
            EXPECT_NE(html.find(">" + picture.file_name + "<"), std::string::npos);
            EXPECT_NE(html.find(">" + picture.format + "<"), std::string::npos);
            EXPECT_NE(html.find("class=\"quantity\">" + picture.quantity + "<"), std::string::npos);
        }
        const std::vector<std::string> images = ImageTargets(html);
        ASSERT_EQ(images.size(), 2u);
        const char* types[] = {"image/jpeg", "image/png"};
        for (std::size_t i = 0; i < images.size(); ++i) {
            auto image = Get(service.port(), images[i], gzip);
            ASSERT_TRUE(image);
            EXPECT_EQ(image->status, 200);
            EXPECT_EQ(image->headers["content-type"], types[i]);
            EXPECT_EQ(image->body, pictures[i].content);
        }
    }
}

TEST_F(OrderTest, LaterOrdersGetNewPasswordsAndEveryPasswordOpensThePage) {
    const std::string first = Order("Ann@Example.com", TwoPictures());
    const std::string second =
        Order("ann@EXAMPLE.com", {{"/tmp/c.jpg", "8x10", "5", JpegBytes(100, 3)}});
    ASSERT_TRUE(IsPassword(first));
    ASSERT_TRUE(IsPassword(second));
    EXPECT_NE(first, second);
    EXPECT_EQ(CountRows(data, "accounts"), 1);
    EXPECT_EQ(CountRows(data, "passwords"), 2);
    EXPECT_EQ(CountRows(data, "orders"), 2);
    EXPECT_EQ(CountRows(data, "pictures"), 3);

    for (const char* user : {"Ann@Example.com", "ann@example.com", "ANN@EXAMPLE.COM"}) {
        for (const std::string& password : {first, second}) {
            auto page = Get(service.port(), AccountTarget(user, password));
            ASSERT_TRUE(page);
            ASSERT_EQ(page->status, 200) << user;
            EXPECT_EQ(CountOf(page->body, "<section class=\"order\">"), 2u);
            EXPECT_NE(page->body.find("/tmp/c.jpg"), std::string::npos);
            EXPECT_NE(page->body.find("C:\\Temp\\PV0001.jpg"), std::string::npos);
            // Pictures of both orders open with either password.
            for (const std::string& image : ImageTargets(page->body)) {
                auto picture = Get(service.port(), image);
                ASSERT_TRUE(picture);
                EXPECT_EQ(picture->status, 200) << image;
            }
        }
    }
}

TEST_F(OrderTest, WrongCredentialsShowNothing) {
    const std::string ann = Order("ann@example.com", TwoPictures());
    const std::string bob = Order("bob@example.com", {{"/tmp/bob.jpg", "4x6", "1", "B"}});
    const std::string kTargets[] = {
        AccountTarget("ann@example.com", ann.substr(1)),
        AccountTarget("ann@example.com", ann + "x"),
        AccountTarget("ann@example.com", ""),
        AccountTarget("ann@example.com", bob),  // another account's password
        AccountTarget("", ann),
        AccountTarget("nobody@example.com", ann),
        "/glimmerprints.php?username=ann%40example.com",
        "/glimmerprints.php?password=" + ann,
        "/glimmerprints.php",
    };
    for (const std::string& target : kTargets) {
        auto page = Get(service.port(), target);
        ASSERT_TRUE(page);
        EXPECT_EQ(page->status, 403) << target;
        EXPECT_EQ(page->body.find("example.com"), std::string::npos) << target;
        EXPECT_EQ(page->body.find("PV0001"), std::string::npos) << target;
        EXPECT_EQ(page->body.find("bob.jpg"), std::string::npos) << target;
    }
}

TEST_F(OrderTest, PicturesOpenOnlyForTheirOwnAccount) {
    const std::string ann = Order("ann@example.com", TwoPictures());
    const std::string bob = Order("bob@example.com", {{"/tmp/bob.jpg", "4x6", "1", "BOBBYTES"}});
    const std::vector<PictureRow> rows = PictureRows(data);
    ASSERT_EQ(rows.size(), 3u);
    const std::string bob_id = std::to_string(rows[2].id);
    const std::string ann_id = std::to_string(rows[0].id);
    auto picture = [&](const std::string& user, const std::string& password,
                       const std::string& id) {
        auto answer = Get(service.port(),
                          "/picture?username=" + user + "&password=" + password + "&id=" + id);
        EXPECT_TRUE(answer);
        return answer ? *answer : Answer{};
    };
    EXPECT_EQ(picture("bob%40example.com", bob, bob_id).body, "BOBBYTES");
    EXPECT_EQ(picture("ann%40example.com", ann, ann_id).status, 200);

    struct Case {
        std::string user, password, id;
        int status;
    } const kRefused[] = {
        {"ann%40example.com", ann, bob_id, 404},  // a guessed id of another account
        {"ann%40example.com", bob, bob_id, 403},  // the other account's password
        {"bob%40example.com", ann, bob_id, 403}, {"bob%40example.com", bob + "x", bob_id, 403},
        {"bob%40example.com", "", bob_id, 403},  {"ann%40example.com", ann, "999999", 404},
        {"ann%40example.com", ann, "", 404},     {"ann%40example.com", ann, "1%20OR%201", 404},
        {"ann%40example.com", ann, "-1", 404},
    };
    for (const Case& c : kRefused) {
        Answer answer = picture(c.user, c.password, c.id);
        EXPECT_EQ(answer.status, c.status) << c.user << " " << c.id;
        EXPECT_EQ(answer.body.find("BOBBYTES"), std::string::npos);
    }
}

TEST_F(OrderTest, StoredTextsAreEscapedOnThePage) {
    const std::string email = "<b>o'neil\"&amp;</b>@example.com";
    const std::vector<Picture> pictures = {
        {"<script>alert(1)</script>.jpg", "<i>4x6</i>", "1", "A"},
        {"x\" onerror=\"alert(2)", "5x7'", "2", "B"},
    };
    const std::string password = Order(email, pictures);
    ASSERT_TRUE(IsPassword(password));
    auto page = Get(service.port(), AccountTarget(email, password));
    ASSERT_TRUE(page);
    ASSERT_EQ(page->status, 200);
    const std::string& html = page->body;
    for (const char* raw : {"<script>", "<b>", "<i>", "o'neil", "\" onerror", "5x7'"}) {
        EXPECT_EQ(html.find(raw), std::string::npos) << raw;
    }
    for (const char* escaped :
         {"&lt;script&gt;alert(1)&lt;/script&gt;.jpg", "&lt;i&gt;4x6&lt;/i&gt;",
          "&lt;b&gt;o&#39;neil&quot;&amp;amp;&lt;/b&gt;@example.com",
          "x&quot; onerror=&quot;alert(2)", "5x7&#39;"}) {
        EXPECT_NE(html.find(escaped), std::string::npos) << escaped;
    }
    // The picture links still work with the percent-encoded odd address.
    for (const std::string& image : ImageTargets(html)) {
        auto picture = Get(service.port(), image);
        ASSERT_TRUE(picture);
        EXPECT_EQ(picture->status, 200) << image;
    }
}

TEST_F(OrderTest, ClientFileNamesNeverBecomePaths) {
    const std::vector<Picture> pictures = {
        {"../../x", "4x6", "1", "ESCAPE1"},
        {"/tmp/glimmerprints-absolute-name", "4x6", "1", "ESCAPE2"},
        {"..\\..\\y", "4x6", "1", "ESCAPE3"},
        {"", "4x6", "1", "EMPTYNAME"},
    };
    ASSERT_TRUE(IsPassword(Order("ann@example.com", pictures)));
    // Nothing beside the data folder, nothing at the absolute name.
    std::vector<std::string> beside;
    for (const auto& entry : fs::directory_iterator(temp.path())) {
        beside.push_back(entry.path().filename().string());
    }
    EXPECT_EQ(beside, std::vector<std::string>{"data"});
    EXPECT_FALSE(fs::exists("/tmp/glimmerprints-absolute-name"));
    const std::vector<PictureRow> rows = PictureRows(data);
    ASSERT_EQ(rows.size(), pictures.size());
    const std::string root = fs::weakly_canonical(data / "pictures").string() + "/";
    for (std::size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(rows[i].file_name, pictures[i].file_name);
        EXPECT_EQ(fs::weakly_canonical(rows[i].file).string().rfind(root, 0), 0u) << rows[i].file;
        EXPECT_EQ(ReadFile(rows[i].file), pictures[i].content);
    }
}

// Picture bytes that look like the body's own structure pass through unchanged, and so do
// empty and large pictures.
TEST_F(OrderTest, PictureBytesSurviveExactly) {
    std::string tricky = "\r\n" + kDelimiter.substr(0, kDelimiter.size() - 1) + "\r\n--\r\n\r\n";
    tricky += std::string("\0\xFF\r\r\n\n", 6) + "Content-Disposition: form-data; name=\"email\"";
    // The delimiter text itself, never after CR LF (that would end the part, as in any
    // multipart body).
    tricky += kDelimiter + "x" + kDelimiter + "--\r\n";
    const std::vector<Picture> pictures = {
        {"a.jpg", "4x6", "1", tricky},
        {"empty.jpg", "4x6", "1", ""},
        {"big.jpg", "4x6", "1", JpegBytes(3 * 1024 * 1024 + 17, 9)},
    };
    const std::string password = Order("ann@example.com", pictures);
    ASSERT_TRUE(IsPassword(password));
    const std::vector<PictureRow> rows = PictureRows(data);
    ASSERT_EQ(rows.size(), 3u);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(rows[i].size, static_cast<std::int64_t>(pictures[i].content.size()));
        EXPECT_TRUE(ReadFile(rows[i].file) == pictures[i].content) << i;
        // And served back whole.
        auto served =
            Get(service.port(), glimmer::PictureAddress("ann@example.com", password, rows[i].id));
        ASSERT_TRUE(served);
        EXPECT_EQ(served->status, 200);
        EXPECT_TRUE(served->body == pictures[i].content) << i;
    }
}

// From the thousandth record on, the field numbers have four digits.
TEST_F(OrderTest, ThousandAndMoreRecords) {
    std::vector<Picture> pictures;
    for (int i = 0; i < 1001; ++i) {
        pictures.push_back({"p" + std::to_string(i), i % 2 ? "4x6" : "5x7", std::to_string(i + 1),
                            std::string(1, static_cast<char>('a' + i % 26))});
    }
    const std::string body = BuildBody(OrderParts("many@example.com", pictures));
    ASSERT_NE(body.find("name=\"Format_1000\""), std::string::npos);
    ASSERT_NE(body.find("name=\"Qty_1001\""), std::string::npos);
    auto answer = PostOrder(service.port(), body);
    ASSERT_TRUE(answer);
    ASSERT_EQ(answer->status, 200) << answer->body;
    const std::vector<PictureRow> rows = PictureRows(data);
    ASSERT_EQ(rows.size(), 1001u);
    EXPECT_EQ(rows[999].quantity, 1000);
    EXPECT_EQ(rows[1000].quantity, 1001);
    EXPECT_EQ(rows[1000].file_name, "p1000");
    EXPECT_EQ(ReadFile(rows[1000].file), "m");
}

// The query is percent-decoded; a '+' stays a plus sign.
TEST_F(OrderTest, UsernamesArePercentDecodedAndPlusStays) {
    const std::string password = Order("a+b@example.com", {{"p.jpg", "4x6", "1", "P"}});
    ASSERT_TRUE(IsPassword(password));
    struct Case {
        std::string user;
        int status;
    } const kCases[] = {
        {"a%2Bb%40example.com", 200}, {"a+b@example.com", 200}, {"a%2bb@example.com", 200},
        {"a%20b@example.com", 403},   {"ab@example.com", 403},
    };
    for (const Case& c : kCases) {
        auto page =
            Get(service.port(), "/glimmerprints.php?username=" + c.user + "&password=" + password);
        ASSERT_TRUE(page);
        EXPECT_EQ(page->status, c.status) << c.user;
    }
}

}  // namespace
