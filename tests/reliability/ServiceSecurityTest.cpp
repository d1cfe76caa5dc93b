// The print service attacked over raw HTTP, as a stranger on the network would: the
// glimmerprints program on a fresh data folder with two accounts, one table of requests per
// kind of attack. Credentials that do not fit, another account's pictures and guessed ids
// show nothing; stored texts come back escaped; client file names never become paths; limits
// refuse with 413 and store nothing; slow and oversized requests are cut off without the
// service's memory following them. Each case adds a row to $PV_RELIABILITY_TABLE when set.

#include <gtest/gtest.h>

#include <atomic>
#include <cctype>
#include <fstream>
#include <functional>
#include <regex>
#include <thread>

#include "AccountPage.h"
#include "Query.h"
#include "ServiceSupport.h"
#include "Table.h"

namespace {

using namespace svctest;
using gptest::Answer;
using gptest::Picture;

constexpr std::size_t kMaxBody = 1 << 20;  // the fixture's --max-body
constexpr int kMaxParts = 50;              // and --max-parts

// A GET as a plain client sends it: the target exactly as given, nothing encoded.
std::optional<Answer> RawGet(int port, const std::string& target) {
    Client client(port, std::chrono::seconds(10));
    if (!client.Send("GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n"))
        return std::nullopt;
    return gptest::ParseAnswer(client.ReadToClose());
}

std::string Target(const std::string& path, const std::string& username,
                   const std::string& password) {
    return path + "?username=" + glimmer::PercentEncode(username) +
           "&password=" + glimmer::PercentEncode(password);
}

struct Account {
    std::string email;
    std::vector<std::string> passwords;  // one per order
    std::vector<SentOrder> orders;
    std::vector<std::int64_t> picture_ids;
};

class ServiceSecurity : public ::testing::Test {
protected:
    gptest::TempDir temp;
    fs::path data = temp.path() / "data";
    // The service's current folder, deep enough that relative names stay inside `temp`.
    fs::path work = temp.path() / "work" / "a" / "b";
    std::unique_ptr<ServiceProcess> service;
    Account ann{"ann@example.com", {}, {}, {}};
    Account bob{"bob@example.com", {}, {}, {}};

    void SetUp() override {
        fs::create_directories(work);
        service = std::make_unique<ServiceProcess>(
            data,
            std::vector<std::string>{"--max-body", std::to_string(kMaxBody), "--max-parts",
                                     std::to_string(kMaxParts), "--read-timeout", "1",
                                     "--write-timeout", "5"},
            work);
        // Interleaved, so that each account's picture ids have the other's as neighbours.
        Place(ann, {{"ann-beach.jpg", "4x6", "2", gptest::JpegBytes(40000, 1)},
                    {"ann-dog.png", "5x7", "1", gptest::PngBytes(30000, 2)}});
        Place(bob, {{"bob-secret.jpg", "4x6", "1", gptest::JpegBytes(35000, 3)},
                    {"bob-private.png", "8x10", "3", gptest::PngBytes(25000, 4)}});
        Place(ann, {{"ann-garden.jpg", "10x15", "1", gptest::JpegBytes(20000, 5)}});
        for (Account* account : {&ann, &bob}) {
            for (const StoredOrder& order : StoredOrders(data)) {
                if (order.row.email != account->email) continue;
                for (const StoredPicture& picture : order.pictures) {
                    account->picture_ids.push_back(picture.row.id);
                }
            }
        }
        ASSERT_EQ(ann.picture_ids.size(), 3u);
        ASSERT_EQ(bob.picture_ids.size(), 2u);
    }

    int port() const { return service->port(); }

    void Place(Account& account, std::vector<Picture> pictures) {
        SentOrder order{account.email, std::move(pictures)};
        auto answer =
            Deliver(port(), gptest::BuildBody(gptest::OrderParts(order.email, order.pictures)));
        ASSERT_TRUE(answer);
        ASSERT_EQ(answer->status, 200) << answer->body;
        account.passwords.push_back(answer->body);
        account.orders.push_back(std::move(order));
    }

    // Failure text when the answer shows anything of either account: an address, a file
    // name, a picture address or picture bytes; empty when it shows nothing.
    std::string Leak(const Answer& answer) const {
        if (answer.headers.count("content-type") &&
            answer.headers.at("content-type").rfind("image/", 0) == 0) {
            return "an image answer";
        }
        for (const Account* account : {&ann, &bob}) {
            if (answer.body.find(account->email) != std::string::npos) return account->email;
            for (const SentOrder& order : account->orders) {
                for (const Picture& picture : order.pictures) {
                    if (answer.body.find(picture.file_name) != std::string::npos)
                        return picture.file_name;
                    if (answer.body.find(picture.content.substr(100, 32)) != std::string::npos)
                        return "bytes of " + picture.file_name;
                }
            }
        }
        if (answer.body.find("/picture?") != std::string::npos) return "a picture address";
        return {};
    }

    // The orders in the data folder, for before/after comparisons.
    std::size_t OrderCount() const { return StoredOrders(data).size(); }
};

// --- credentials -------------------------------------------------------------------------

TEST_F(ServiceSecurity, CredentialsThatDoNotFitShowNothing) {
    const std::string& own = ann.passwords[0];
    std::string flipped = own;
    flipped[0] = flipped[0] == 'A' ? 'B' : 'A';
    std::string other_case = own;
    for (char& c : other_case) {
        c = std::isupper(static_cast<unsigned char>(c)) ? static_cast<char>(std::tolower(c))
                                                        : static_cast<char>(std::toupper(c));
    }
    struct Case {
        std::string what;
        std::string query;  // after the path
    };
    const std::vector<Case> kCases = {
        {"no credentials", ""},
        {"no password", "?username=ann@example.com"},
        {"no user name", "?password=" + own},
        {"empty password", "?username=ann@example.com&password="},
        {"made-up password", "?username=ann@example.com&password=Zq3Zq3Zq3Zq3Zq3Zq3Zq3"},
        {"other account's password", "?username=ann@example.com&password=" + bob.passwords[0]},
        {"own password, other account", "?username=bob@example.com&password=" + own},
        {"one character changed", "?username=ann@example.com&password=" + flipped},
        {"one character short", "?username=ann@example.com&password=" + own.substr(1)},
        {"one character more", "?username=ann@example.com&password=" + own + "x"},
        {"NUL after the password", "?username=ann@example.com&password=" + own + "%00"},
        {"password in the other letter case", "?username=ann@example.com&password=" + other_case},
        {"unknown account", "?username=nobody@example.com&password=" + own},
        {"SQL in both", "?username=%27%20OR%20%271%27%3D%271&password=%27%20OR%20%271%27%3D%271"},
        {"wildcard user name", "?username=%25&password=" + own},
        {"first password wrong", "?username=ann@example.com&password=wrong&password=" + own},
        {"first user name wrong",
         "?username=bob@example.com&username=ann@example.com&password=" + own},
    };
    int refused = 0;
    int tried = 0;
    for (const char* path : {"/glimmerprints.php", "/picture"}) {
        for (const Case& c : kCases) {
            std::string target = path + c.query;
            if (std::string(path) == "/picture") {
                target += (c.query.empty() ? "?id=" : "&id=") + std::to_string(ann.picture_ids[0]);
            }
            ++tried;
            auto answer = RawGet(port(), target);
            ASSERT_TRUE(answer) << target;
            EXPECT_EQ(answer->status, 403) << c.what << ": " << target;
            EXPECT_EQ(Leak(*answer), "") << c.what << ": " << target;
            EXPECT_EQ(answer->headers["cache-control"], "no-store") << target;
            refused += answer->status == 403 && Leak(*answer).empty();
        }
    }
    // The same requests with the right credentials do open: the refusals are not an accident.
    auto page = RawGet(port(), Target("/glimmerprints.php", ann.email, own));
    ASSERT_TRUE(page);
    EXPECT_EQ(page->status, 200);
    EXPECT_NE(page->body.find("ann-beach.jpg"), std::string::npos);
    reliability::AddTableRow("security", "wrong_credentials", tried,
                             std::to_string(refused) + " of " + std::to_string(tried) +
                                 " refused with 403 showing no names or picture bytes",
                             refused != tried);
}

TEST_F(ServiceSecurity, AnotherAccountsPicturesStayHidden) {
    int tried = 0;
    int refused = 0;
    auto check = [&](const Account& owner, const Account& asker, const std::string& password) {
        for (std::int64_t id : owner.picture_ids) {
            ++tried;
            auto answer = RawGet(
                port(), Target("/picture", asker.email, password) + "&id=" + std::to_string(id));
            ASSERT_TRUE(answer);
            EXPECT_EQ(answer->status, 404) << asker.email << " asked for " << id;
            EXPECT_EQ(Leak(*answer), "") << asker.email << " asked for " << id;
            refused += answer->status == 404 && Leak(*answer).empty();
        }
    };
    check(ann, bob, bob.passwords[0]);
    for (const std::string& password : ann.passwords) check(bob, ann, password);
    // The account page of one never lists the other's orders.
    for (const std::string& password : ann.passwords) {
        ++tried;
        auto page = RawGet(port(), Target("/glimmerprints.php", ann.email, password));
        ASSERT_TRUE(page);
        EXPECT_EQ(page->status, 200);
        const bool clean = page->body.find("bob") == std::string::npos &&
                           gptest::CountOf(page->body, "<tr><td><img") == ann.picture_ids.size();
        EXPECT_TRUE(clean) << page->body;
        refused += clean;
    }
    // Each owner does get their own pictures, byte for byte.
    for (std::size_t i = 0; i < bob.picture_ids.size(); ++i) {
        auto answer = RawGet(port(), Target("/picture", bob.email, bob.passwords[0]) +
                                         "&id=" + std::to_string(bob.picture_ids[i]));
        ASSERT_TRUE(answer);
        EXPECT_EQ(answer->status, 200);
        EXPECT_EQ(answer->body, bob.orders[0].pictures[i].content);
    }
    reliability::AddTableRow("security", "other_account_pictures", tried,
                             std::to_string(refused) + " of " + std::to_string(tried) +
                                 " hidden (404, no bytes; pages list only their own)",
                             refused != tried);
}

TEST_F(ServiceSecurity, GuessedIdsShowNothing) {
    std::int64_t highest = 0;
    for (const Account* account : {&ann, &bob}) {
        for (std::int64_t id : account->picture_ids) highest = std::max(highest, id);
    }
    std::vector<std::string> ids = {"0",
                                    "-1",
                                    "-" + std::to_string(ann.picture_ids[0]),
                                    std::to_string(highest + 1),
                                    std::to_string(highest + 1000),
                                    "9223372036854775807",
                                    "9223372036854775808",
                                    "18446744073709551617",
                                    "99999999999999999999999",
                                    "1e3",
                                    "0x1",
                                    "+" + std::to_string(ann.picture_ids[0]),
                                    "%20" + std::to_string(ann.picture_ids[0]),
                                    std::to_string(ann.picture_ids[0]) + "%00",
                                    "1;2",
                                    "",
                                    "id"};
    // Bob's pictures, each a neighbour of one of Ann's.
    for (std::int64_t id : bob.picture_ids) ids.push_back(std::to_string(id));
    int tried = 0;
    int refused = 0;
    for (const std::string& id : ids) {
        ++tried;
        auto answer = RawGet(port(), Target("/picture", ann.email, ann.passwords[1]) + "&id=" + id);
        ASSERT_TRUE(answer);
        EXPECT_EQ(answer->status, 404) << "id=" << id;
        EXPECT_EQ(Leak(*answer), "") << "id=" << id;
        refused += answer->status == 404 && Leak(*answer).empty();
    }
    ++tried;  // no id at all
    auto none = RawGet(port(), Target("/picture", ann.email, ann.passwords[1]));
    ASSERT_TRUE(none);
    EXPECT_EQ(none->status, 404);
    refused += none->status == 404 && Leak(*none).empty();
    // Extra parameters naming Bob's order or pictures change nothing on Ann's page.
    ++tried;
    auto page = RawGet(port(), Target("/glimmerprints.php", ann.email, ann.passwords[0]) +
                                   "&id=" + std::to_string(bob.picture_ids[0]) +
                                   "&order=2&account=2&username=bob@example.com");
    ASSERT_TRUE(page);
    EXPECT_EQ(page->status, 200);
    const bool own_only = page->body.find("bob") == std::string::npos &&
                          page->body.find("ann-garden.jpg") != std::string::npos;
    EXPECT_TRUE(own_only);
    refused += own_only;
    // Ann's own ids do open, so the refusals above are about the ids.
    for (std::size_t i = 0; i < 2; ++i) {
        auto own = RawGet(port(), Target("/picture", ann.email, ann.passwords[1]) +
                                      "&id=" + std::to_string(ann.picture_ids[i]));
        ASSERT_TRUE(own);
        EXPECT_EQ(own->status, 200);
        EXPECT_EQ(own->body, ann.orders[0].pictures[i].content);
    }
    reliability::AddTableRow("security", "guessed_ids", tried,
                             std::to_string(refused) + " of " + std::to_string(tried) +
                                 " guessed or neighbouring ids refused with 404",
                             refused != tried);
}

// --- stored texts ------------------------------------------------------------------------

TEST_F(ServiceSecurity, StoredTextsComeBackEscaped) {
    const std::string kScript = "<script>alert(1)</script>";
    const std::string kQuotes = "\"'&";
    const std::string email = "<script>alert(1)</script>\"'&@example.com";
    struct Text {
        std::string file_name;
        std::string format;
    };
    const std::vector<Text> kTexts = {
        {kScript + ".jpg", kScript},
        {kQuotes + ".jpg", kQuotes},
        {"x\" onerror=\"alert(1)", "4x6' onmouseover='alert(1)"},
        {"</td></tr></table><img src=x>", "<!--"},
    };
    std::vector<Picture> pictures;
    for (std::size_t i = 0; i < kTexts.size(); ++i) {
        pictures.push_back({kTexts[i].file_name, kTexts[i].format, "1",
                            gptest::JpegBytes(3000, 70u + static_cast<unsigned>(i))});
    }
    auto answer = Deliver(port(), gptest::BuildBody(gptest::OrderParts(email, pictures)));
    ASSERT_TRUE(answer);
    ASSERT_EQ(answer->status, 200) << answer->body;
    // The texts are kept as sent.
    const std::vector<StoredOrder> stored = StoredOrders(data);
    ASSERT_EQ(TimesStored(stored, SentOrder{email, pictures}), 1);

    auto page = RawGet(port(), Target("/glimmerprints.php", email, answer->body));
    ASSERT_TRUE(page);
    ASSERT_EQ(page->status, 200);
    int tried = 0;
    int escaped = 0;
    auto expect_escaped = [&](const std::string& raw) {
        ++tried;
        const bool absent = page->body.find(raw) == std::string::npos;
        const bool shown = page->body.find(glimmer::HtmlEscape(raw)) != std::string::npos;
        EXPECT_TRUE(absent) << "raw on the page: " << raw;
        EXPECT_TRUE(shown) << "not shown escaped: " << raw;
        escaped += absent && shown;
    };
    expect_escaped(email);
    for (const Text& text : kTexts) {
        expect_escaped(text.file_name);
        expect_escaped(text.format);
    }
    EXPECT_EQ(page->body.find("<script"), std::string::npos);
    EXPECT_NE(page->body.find("&lt;script&gt;alert(1)&lt;/script&gt;"), std::string::npos);
    EXPECT_NE(page->body.find("&quot;&#39;&amp;"), std::string::npos);
    EXPECT_EQ(gptest::CountOf(page->body, "<img "), kTexts.size());  // only the thumbnails
    EXPECT_NE(page->headers["content-security-policy"].find("default-src 'none'"),
              std::string::npos);
    // The picture addresses carry the address percent-encoded, inside an escaped attribute.
    EXPECT_NE(page->body.find("username=%3Cscript%3Ealert%281%29%3C%2Fscript%3E%22%27%26@"),
              std::string::npos);
    // A refusal does not echo what was asked.
    auto refused = RawGet(port(), Target("/glimmerprints.php", email, "wrong"));
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->status, 403);
    EXPECT_EQ(refused->body.find("script"), std::string::npos);
    reliability::AddTableRow("security", "html_escaping", tried,
                             std::to_string(escaped) + " of " + std::to_string(tried) +
                                 " hostile texts shown only escaped, raw absent",
                             escaped != tried);
}

// --- client file names -------------------------------------------------------------------

TEST_F(ServiceSecurity, ClientFileNamesNeverBecomePaths) {
    using namespace std::string_literals;
    const fs::path outside = temp.path() / "outside";
    fs::create_directories(outside);
    std::ofstream(outside / "keep") << "outside the data folder";
    std::string dotdot;
    while (dotdot.size() + 3 <= 4090) dotdot += "../";
    const std::string longest = dotdot + std::string(4096 - dotdot.size(), 'x');
    struct Name {
        std::string name;
        bool stored;  // false: refused with 400
    };
    const std::vector<Name> kNames = {
        {"../../etc/passwd", true},
        {"/etc/passwd", true},
        {"..\\..\\x", true},
        {"../../../outside/escaped", true},
        {"../../../../../../../../../../" + outside.string().substr(1) + "/keep", true},
        {outside.string() + "/absolute", true},
        {"a/../../b", true},
        {".", true},
        {"..", true},
        {"", true},
        {"~/x", true},
        {"C:\\Windows\\system32\\drivers\\etc\\hosts", true},
        {"%2e%2e%2f%2e%2e%2fx", true},
        {"$(touch pwned)`touch pwned2`", true},
        {"name\x01with\x7f"
         "controls",
         true},
        {"nul\0inside.jpg"s, true},
        {std::string(255, 'a') + ".jpg", true},
        {"\xC3\xA9t\xC3\xA9/\xE6\x97\xA5\xE6\x9C\xAC.jpg", true},
        {longest, true},
        {longest + "x", false},
    };
    const auto before = Tree(temp.path());
    const std::string passwd = gptest::ReadFile("/etc/passwd");
    int stored_as_text = 0;
    int refused = 0;
    int tried = 0;
    std::vector<SentOrder> accepted;
    for (std::size_t i = 0; i < kNames.size(); ++i) {
        ++tried;
        SentOrder order{"names" + std::to_string(i) + "@example.com",
                        {{kNames[i].name, "4x6", "1",
                          gptest::JpegBytes(2000, 300u + static_cast<unsigned>(i))}}};
        auto answer =
            Deliver(port(), gptest::BuildBody(gptest::OrderParts(order.email, order.pictures)));
        ASSERT_TRUE(answer) << i;
        EXPECT_EQ(answer->status, kNames[i].stored ? 200 : 400) << i << ": " << answer->body;
        if (answer->status == 200) {
            const int times = TimesStored(StoredOrders(data), order);
            EXPECT_EQ(times, 1) << "name " << i << " not kept as text";
            stored_as_text += times == 1;
            auto page = RawGet(port(), Target("/glimmerprints.php", order.email, answer->body));
            ASSERT_TRUE(page);
            EXPECT_NE(page->body.find(glimmer::HtmlEscape(kNames[i].name)), std::string::npos) << i;
            accepted.push_back(order);
        } else {
            refused += 1;
        }
    }

    // Outside the data folder nothing changed; inside, only the service's own names.
    const auto after = Tree(temp.path());
    const std::regex own(R"(data/(glimmerprints\.(db|db-wal|db-shm|lock)|tmp|pictures|)"
                         R"(pictures/[0-9a-f]{32}|pictures/[0-9a-f]{32}/[0-9]{6}))");
    int stray = 0;
    for (const auto& [path, size] : after) {
        if (before.count(path) && (before.at(path) == size || path.rfind("data/", 0) == 0))
            continue;
        if (std::regex_match(path, own)) continue;
        ADD_FAILURE() << "created by the service: " << path;
        ++stray;
    }
    for (const auto& [path, size] : before) {
        // The database's side files come and go with its connections.
        if (!after.count(path) && !std::regex_match(path, own)) {
            ADD_FAILURE() << "removed: " << path;
            ++stray;
        }
    }
    EXPECT_EQ(gptest::ReadFile("/etc/passwd"), passwd);
    EXPECT_EQ(gptest::ReadFile(outside / "keep"), "outside the data folder");
    EXPECT_FALSE(fs::exists(work / "pwned"));
    const std::vector<std::string> problems = FolderProblems(data);
    EXPECT_TRUE(problems.empty()) << ::testing::PrintToString(problems);
    EXPECT_EQ(stored_as_text, static_cast<int>(accepted.size()));

    reliability::AddTableRow("security", "client_file_names", tried,
                             std::to_string(stored_as_text) + " hostile names kept as text only, " +
                                 std::to_string(refused) + " refused (over 4096 bytes), " +
                                 std::to_string(stray) +
                                 " paths created outside pictures/<random>/NNNNNN",
                             stray > 0 || !problems.empty() || HasFailure());
}

// --- limits ------------------------------------------------------------------------------

// A chunked POST /pvp.php of `body`, in chunks of `chunk` bytes.
std::optional<Answer> PostChunked(int port, const std::string& body, std::size_t chunk) {
    Client client(port, std::chrono::seconds(10));
    std::string head =
        "POST /pvp.php HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: " + gptest::kFormType +
        "\r\nTransfer-Encoding: chunked\r\n\r\n";
    if (!client.Send(head)) return std::nullopt;
    for (std::size_t at = 0; at < body.size(); at += chunk) {
        const std::string piece = body.substr(at, chunk);
        char size[32];
        std::snprintf(size, sizeof size, "%zx\r\n", piece.size());
        if (!client.Send(size + piece + "\r\n")) break;
    }
    client.Send("0\r\n\r\n");
    return gptest::ParseAnswer(client.ReadToClose());
}

TEST_F(ServiceSecurity, LimitsRefuseWith413AndStoreNothing) {
    auto order_of = [](const std::string& tag, int pictures, std::size_t size) {
        SentOrder order{tag + "@example.com", {}};
        for (int k = 0; k < pictures; ++k) {
            order.pictures.push_back({tag + std::to_string(k), "4x6", "1",
                                      gptest::JpegBytes(size, 900u + static_cast<unsigned>(k))});
        }
        return order;
    };
    auto body_of = [](const SentOrder& order) {
        return gptest::BuildBody(gptest::OrderParts(order.email, order.pictures));
    };
    // Just inside both limits: taken (the refusals below are about the limits).
    SentOrder at_parts = order_of("at-parts", (kMaxParts - 2) / 3, 1000);  // 2 + 3 * 16 = 50
    SentOrder over_parts = order_of("over-parts", (kMaxParts - 2) / 3 + 1, 1000);
    SentOrder many_parts = order_of("many-parts", 1000, 1);
    SentOrder over_body = order_of("over-body", 1, kMaxBody);
    SentOrder at_body = order_of("at-body", 1, 1000);
    std::string at_body_text = body_of(at_body);
    at_body.pictures[0].content += std::string(kMaxBody - at_body_text.size(), 'z');
    ASSERT_EQ(body_of(at_body).size(), kMaxBody);

    struct Case {
        std::string what;
        std::function<std::optional<Answer>()> send;
        int status;
        const SentOrder* order;  // checked by content afterwards
    };
    const int p = port();
    const std::vector<Case> kCases = {
        {"body over --max-body", [&] { return Deliver(p, body_of(over_body)); }, 413, &over_body},
        {"huge Content-Length, little sent",
         [&] {
             Client client(p, std::chrono::seconds(10));
             client.Send(gptest::OrderRequestHead(p, "9000000000000") + "x");
             client.ShutdownWrite();
             return gptest::ParseAnswer(client.ReadToClose());
         },
         413, nullptr},
        {"chunked body over --max-body",
         [&] { return PostChunked(p, body_of(over_body), 64 * 1024); }, 413, &over_body},
        {"one part over --max-parts", [&] { return Deliver(p, body_of(over_parts)); }, 413,
         &over_parts},
        {"3002 parts", [&] { return Deliver(p, body_of(many_parts)); }, 413, &many_parts},
        {"exactly --max-body", [&] { return Deliver(p, body_of(at_body)); }, 200, &at_body},
        {"exactly --max-parts", [&] { return Deliver(p, body_of(at_parts)); }, 200, &at_parts},
    };
    int tried = 0;
    int right = 0;
    bool stored_refused = false;
    for (const Case& c : kCases) {
        const std::size_t orders_before = OrderCount();
        auto answer = c.send();
        ++tried;
        ASSERT_TRUE(answer) << c.what;
        EXPECT_EQ(answer->status, c.status) << c.what << ": " << answer->body;
        const std::size_t orders_after = OrderCount();
        const std::size_t added = c.status == 200 ? 1 : 0;
        EXPECT_EQ(orders_after, orders_before + added) << c.what;
        if (c.order) {
            EXPECT_EQ(TimesStored(StoredOrders(data), *c.order), static_cast<int>(added)) << c.what;
        }
        if (c.status != 200 && orders_after != orders_before) stored_refused = true;
        right += answer->status == c.status && orders_after == orders_before + added;
    }
    const std::vector<std::string> problems = FolderProblems(data);
    EXPECT_TRUE(problems.empty()) << ::testing::PrintToString(problems);
    reliability::AddTableRow("security", "max_body_and_parts", tried,
                             std::to_string(right) + " of " + std::to_string(tried) +
                                 " right: 5 over a limit refused with 413 storing nothing, "
                                 "2 at the limits taken",
                             stored_refused || !problems.empty() || HasFailure());
}

// --- slow clients --------------------------------------------------------------------------

// Sends `bytes` one at a time with `pause` between; how long until the server hung up, or
// nullopt when it kept the connection open to the end.
std::optional<std::chrono::milliseconds> Trickle(Client& client, const std::string& bytes,
                                                 std::chrono::milliseconds pause) {
    const auto start = Clock::now();
    for (char c : bytes) {
        if (!client.Send(std::string_view(&c, 1)) || client.ClosedByServer()) {
            return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
        }
        std::this_thread::sleep_for(pause);
        if (client.ClosedByServer()) {
            return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
        }
    }
    return std::nullopt;
}

TEST_F(ServiceSecurity, SlowClientsAreCutOffByTheTimeouts) {
    // --read-timeout 1: the whole head within 1 s, and at most 1 s for each later read.
    const std::string head =
        "GET /glimmerprints.php?username=ann@example.com&password=" + ann.passwords[0] +
        " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    int tried = 0;
    int cut = 0;
    std::string figures;
    for (int pause_ms : {1000, 300}) {
        ++tried;
        Client client(port(), std::chrono::seconds(5));
        auto closed = Trickle(client, head, std::chrono::milliseconds(pause_ms));
        ASSERT_TRUE(closed) << "a head at a byte per " << pause_ms << " ms was taken whole";
        EXPECT_LT(closed->count(), 3000) << pause_ms;
        const std::string rest = client.ReadToClose();
        EXPECT_EQ(rest.find("ann-"), std::string::npos);
        cut += closed->count() < 3000;
        figures += "head at 1 byte/" + std::to_string(pause_ms) + " ms cut after " +
                   std::to_string(closed->count()) + " ms, ";
    }

    // Stalled bodies: the order's head, then part of the body or none, then nothing.
    const SentOrder order{"stall@example.com",
                          {{"stall.jpg", "4x6", "1", gptest::JpegBytes(50000, 77)}}};
    const std::string body = gptest::BuildBody(gptest::OrderParts(order.email, order.pictures));
    for (std::size_t sent : {std::size_t{0}, body.size() / 2, body.size() - 1}) {
        ++tried;
        Client client(port(), std::chrono::seconds(10));
        const auto start = Clock::now();
        client.Send(gptest::OrderRequestHead(port(), std::to_string(body.size())) +
                    body.substr(0, sent));
        const std::string raw = client.ReadToClose();  // our side stays open
        const auto waited =
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
        auto answer = gptest::ParseAnswer(raw);
        EXPECT_TRUE(answer && answer->status == 400) << raw;
        EXPECT_GE(waited.count(), 800) << sent;
        EXPECT_LT(waited.count(), 4000) << sent;
        cut += answer && answer->status == 400 && waited.count() < 4000;
        if (sent == body.size() / 2) {
            figures += "stalled body cut after " + std::to_string(waited.count()) + " ms, ";
        }
    }
    EXPECT_EQ(TimesStored(StoredOrders(data), order), 0);

    // Many trickling connections at once do not keep a real request out for long.
    ++tried;
    std::atomic<bool> stop{false};
    std::vector<std::jthread> trickles;
    for (int i = 0; i < 24; ++i) {
        trickles.emplace_back([&] {
            Client client(port(), std::chrono::seconds(5));
            for (int n = 0; n < 40 && !stop; ++n) {
                if (!client.Send("G") || client.ClosedByServer()) break;
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            }
        });
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const auto start = Clock::now();
    auto page = RawGet(port(), Target("/glimmerprints.php", ann.email, ann.passwords[0]));
    const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
    stop = true;
    for (std::jthread& t : trickles) t.join();
    ASSERT_TRUE(page);
    EXPECT_EQ(page->status, 200);
    EXPECT_LT(waited.count(), 4000);
    cut += page->status == 200 && waited.count() < 4000;
    figures += "page served in " + std::to_string(waited.count()) + " ms amid 24 trickling";

    const std::vector<std::string> problems = FolderProblems(data);
    EXPECT_TRUE(problems.empty()) << ::testing::PrintToString(problems);
    reliability::AddTableRow(
        "security", "slow_and_stalled", tried,
        std::to_string(cut) + " of " + std::to_string(tried) + " right: " + figures,
        !problems.empty() || HasFailure());
}

// --- oversized requests (the service with its default limits) ------------------------------

// Sends `bytes` (giving up once the server stops taking them) and reads what comes back.
struct Flood {
    std::optional<Answer> answer;
    std::chrono::milliseconds took{0};
};
Flood SendFlood(int port, const std::string& bytes) {
    Client client(port, std::chrono::seconds(10));
    const auto start = Clock::now();
    client.Send(bytes);
    client.ShutdownWrite();
    Flood flood;
    flood.answer = gptest::ParseAnswer(client.ReadToClose());
    flood.took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
    return flood;
}

TEST_F(ServiceSecurity, OversizedRequestsDoNotGrowTheService) {
    gptest::TempDir other;
    ServiceProcess defaults(other.path() / "data");  // 8 GiB bodies, 30 s time-outs
    const long idle = defaults.PeakRssKib().value_or(0);
    ASSERT_GT(idle, 0);
    // What the service may grow by for any of these requests.
    const long kGrowthKib = (kSanitized ? 64 : 16) * 1024;
    constexpr std::size_t kFlood = std::size_t{48} << 20;

    std::string header_lines = "GET /glimmerprints.php HTTP/1.1\r\nHost: 127.0.0.1\r\n";
    while (header_lines.size() < kFlood / 8) header_lines += "X: y\r\n";
    auto with_body = [&](const std::string& request_line) {
        return request_line + "\r\nHost: 127.0.0.1\r\nContent-Length: " + std::to_string(kFlood) +
               "\r\n\r\n" + std::string(kFlood, 'b');
    };
    struct Case {
        std::string what;
        std::function<std::string()> request;  // built when sent: each is large
    };
    const std::vector<Case> kCases = {
        {"one 48 MB header line",
         [&] {
             return "GET /glimmerprints.php HTTP/1.1\r\nX: " + std::string(kFlood, 'a') +
                    "\r\n\r\n";
         }},
        {"a million header lines", [&] { return header_lines + "\r\n"; }},
        {"a 48 MB request target",
         [&] {
             return "GET /glimmerprints.php?" + std::string(kFlood, 'a') + " HTTP/1.1\r\n\r\n";
         }},
        {"PRI with a 48 MB body", [&] { return with_body("PRI /pvp.php HTTP/1.1"); }},
        {"GET with a 48 MB body", [&] { return with_body("GET /glimmerprints.php HTTP/1.1"); }},
        {"OPTIONS with a 48 MB body", [&] { return with_body("OPTIONS /pvp.php HTTP/1.1"); }},
        {"POST elsewhere, chunked 48 MB",
         [&] {
             return "POST /upload HTTP/1.1\r\nHost: 127.0.0.1\r\nTransfer-Encoding: "
                    "chunked\r\n\r\n" +
                    std::string("3000000\r\n") + std::string(kFlood, 'c') + "\r\n0\r\n\r\n";
         }},
    };
    int tried = 0;
    int bounded = 0;
    long peak = idle;
    for (const Case& c : kCases) {
        ++tried;
        const long before = defaults.PeakRssKib().value_or(0);
        Flood flood = SendFlood(defaults.port(), c.request());
        const long after = defaults.PeakRssKib().value_or(0);
        peak = std::max(peak, after);
        const bool refused = !flood.answer || flood.answer->status >= 400;
        EXPECT_TRUE(refused) << c.what << ": " << flood.answer->status;
        EXPECT_LT(after - before, kGrowthKib) << c.what << ": the service grew from "
                                              << Megabytes(before) << " to " << Megabytes(after);
        EXPECT_LT(flood.took.count(), 10000) << c.what;
        bounded += refused && after - before < kGrowthKib && flood.took.count() < 10000;
    }
    // Still serving.
    auto answer =
        Deliver(defaults.port(),
                gptest::BuildBody(gptest::OrderParts("after@example.com", gptest::TwoPictures())));
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->status, 200);
    EXPECT_EQ(defaults.Stop(), 0);
    EXPECT_TRUE(FolderProblems(other.path() / "data").empty());
    reliability::AddTableRow("security", "oversized_requests", tried,
                             std::to_string(bounded) + " of " + std::to_string(tried) +
                                 " 48 MB heads/bodies refused, rss " + Megabytes(idle) + " idle, " +
                                 Megabytes(peak) + " peak",
                             HasFailure());
}

}  // namespace
