// The print service under load: the glimmerprints program on a fresh data folder takes orders
// from many clients at once, valid ones mixed with every kind of broken body. Every valid
// order must be stored exactly once (found by content: its rows, and its pictures' bytes by
// size and hash), no broken one at all, nothing may be left in the staging area, the database
// must stay sound, and the service's peak memory must stay small whatever the bodies' sizes
// (bodies are streamed to disk, never held). Each case adds a row to $PV_RELIABILITY_TABLE
// when set.

#include <gtest/gtest.h>

#include <atomic>
#include <cctype>
#include <functional>
#include <latch>
#include <set>
#include <thread>

#include "ServiceSupport.h"
#include "Table.h"

namespace {

using namespace svctest;
using gptest::Part;
using gptest::Picture;

// The service's peak resident memory must stay under this (not checked in sanitizer builds,
// whose allocator keeps freed memory in quarantine).
constexpr long kRssBoundKib = 64 * 1024;

bool IsPassword(const std::string& text) {
    if (text.size() != 20) return false;
    for (char c : text) {
        if (!std::isalnum(static_cast<unsigned char>(c))) return false;
    }
    return true;
}

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// One order of the load: what is sent, how, and what must come of it.
struct LoadOrder {
    std::string kind = "valid";
    SentOrder sent;
    std::string body;
    Delivery how;
    int expected = 200;  // 0: no answer is awaited (the client hangs up)
};

std::size_t AfterHalfOfLastPicture(const LoadOrder& order) {
    const std::string& last = order.sent.pictures.back().content;
    return order.body.rfind(last) + last.size() / 2;
}

// The broken bodies: each turns a valid order into one the service must refuse.
struct Breakage {
    const char* kind;
    std::function<void(LoadOrder&, std::vector<Part>&)> apply;  // before the body is built
    std::function<void(LoadOrder&)> finish;                     // after (may be empty)
};

Part* Named(std::vector<Part>& parts, const std::string& name) {
    for (Part& part : parts) {
        if (part.name == name) return &part;
    }
    return nullptr;
}

const std::vector<Breakage>& Breakages() {
    static const std::vector<Breakage> kBreakages = {
        {"wrong_count",
         [](LoadOrder& o, std::vector<Part>& p) {
             Named(p, "images")->content = std::to_string(o.sent.pictures.size() + 1);
         },
         {}},
        {"no_close_delimiter", [](LoadOrder&, std::vector<Part>&) {},
         [](LoadOrder& o) { o.body.resize(o.body.rfind("\r\n" + gptest::kDelimiter + "--")); }},
        {"cut_mid_picture", [](LoadOrder&, std::vector<Part>&) {},
         [](LoadOrder& o) { o.how.send_only = AfterHalfOfLastPicture(o); }},
        {"hang_up_mid_body", [](LoadOrder&, std::vector<Part>&) {},
         [](LoadOrder& o) {
             o.how.send_only = AfterHalfOfLastPicture(o);
             o.how.hang_up = true;
             o.expected = 0;
         }},
        {"zero_quantity",
         [](LoadOrder&, std::vector<Part>& p) { Named(p, "Qty_001")->content = "0"; },
         {}},
        {"bad_quantity",
         [](LoadOrder& o, std::vector<Part>& p) {
             static const char* const kBad[] = {"-1", "two", "1.5", "", " 1", "2147483648"};
             Named(p, "Qty_001")->content = kBad[o.sent.pictures.front().content.size() % 6];
         },
         {}},
        {"unknown_field",
         [](LoadOrder&, std::vector<Part>& p) {
             p.insert(p.begin() + 2, Part{"coupon", std::nullopt, "FREE"});
         },
         {}},
        {"empty_email",
         [](LoadOrder&, std::vector<Part>& p) { Named(p, "email")->content = ""; },
         {}},
        {"control_in_email",
         [](LoadOrder&, std::vector<Part>& p) {
             Named(p, "email")->content = "ann\x01@example.com";
         },
         {}},
        {"missing_format",
         [](LoadOrder&, std::vector<Part>& p) {
             p.erase(p.begin() + static_cast<std::ptrdiff_t>(Named(p, "Format_001") - p.data()));
         },
         {}},
        {"repeated_field",
         [](LoadOrder&, std::vector<Part>& p) {
             const Part email = p[1];
             p.insert(p.begin() + 2, email);
         },
         {}},
        {"wrong_numbering",
         [](LoadOrder&, std::vector<Part>& p) { Named(p, "Format_001")->name = "Format_1"; },
         {}},
        {"not_multipart", [](LoadOrder&, std::vector<Part>&) {},
         [](LoadOrder& o) { o.body = "images=1&email=ann@example.com&Qty_001=1\r\n"; }},
    };
    return kBreakages;
}

// Order `n` of `client`: three in five are valid, the others cycle through the breakages.
// Every picture has its own bytes, so that each one can be found by its hash.
LoadOrder MakeOrder(int client, int n, int orders_each) {
    const int index = client * orders_each + n;
    LoadOrder order;
    // Four accounts, with the address written in different letter cases.
    const std::string account = "client" + std::to_string(client % 4) + "@example.com";
    order.sent.email = client % 2 ? account : "Client" + account.substr(6, 1) + "@Example.COM";
    const int pictures = 1 + index % 3;
    for (int k = 0; k < pictures; ++k) {
        const unsigned seed = static_cast<unsigned>(index * 10 + k + 1);
        std::size_t size = 1500 + static_cast<std::size_t>(index * 7919 + k * 104729) % 180000;
        if (index % 10 == 0 && k == 0) size = 3 << 20;
        char name[64];
        std::snprintf(name, sizeof name, "C:\\Pictures\\c%02d-o%d-p%d.jpg", client, n, k + 1);
        order.sent.pictures.push_back(
            {name, k % 2 ? "10.00x15.00" : "4x6", std::to_string(1 + (index + k) % 5),
             k % 2 ? gptest::PngBytes(size, seed) : gptest::JpegBytes(size, seed)});
    }
    std::vector<Part> parts = gptest::OrderParts(order.sent.email, order.sent.pictures);
    const Breakage* breakage = nullptr;
    if (index % 5 >= 3) {
        const auto& all = Breakages();
        breakage = &all[static_cast<std::size_t>(index / 5 * 2 + index % 5 - 3) % all.size()];
        order.kind = breakage->kind;
        order.expected = 400;
        breakage->apply(order, parts);
    }
    order.body = gptest::BuildBody(parts);
    if (breakage && breakage->finish) breakage->finish(order);
    return order;
}

TEST(ServiceLoad, ConcurrentMixedOrdersAreEachStoredOnceOrNotAtAll) {
    constexpr int kClients = 20;
    constexpr int kOrdersEach = 5;
    gptest::TempDir temp;
    const fs::path data = temp.path() / "data";
    ServiceProcess service(data, {"--read-timeout", "5", "--write-timeout", "5"});

    std::vector<LoadOrder> orders;
    for (int client = 0; client < kClients; ++client) {
        for (int n = 0; n < kOrdersEach; ++n) orders.push_back(MakeOrder(client, n, kOrdersEach));
    }
    std::vector<std::optional<gptest::Answer>> answers(orders.size());

    const auto start = Clock::now();
    std::latch ready(kClients);
    std::vector<std::jthread> clients;
    for (int client = 0; client < kClients; ++client) {
        clients.emplace_back([&, client] {
            ready.arrive_and_wait();  // all clients start together
            for (int n = 0; n < kOrdersEach; ++n) {
                const std::size_t i = static_cast<std::size_t>(client * kOrdersEach + n);
                answers[i] = Deliver(service.port(), orders[i].body, orders[i].how);
            }
        });
    }
    for (std::jthread& client : clients) client.join();
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const std::optional<long> rss = service.PeakRssKib();
    ASSERT_TRUE(rss);

    // The answers.
    int valid = 0;
    int refused = 0;
    std::set<std::string> kinds;
    std::map<std::string, std::vector<std::size_t>> by_account;  // lower-case address -> orders
    for (std::size_t i = 0; i < orders.size(); ++i) {
        const LoadOrder& order = orders[i];
        const auto& answer = answers[i];
        kinds.insert(order.kind);
        if (order.expected == 0) {
            ++refused;  // nothing to read; the data folder shows what came of it
            continue;
        }
        ASSERT_TRUE(answer) << "order " << i << " (" << order.kind << "): no answer, "
                            << order.body.size() << " bytes";
        EXPECT_EQ(answer->status, order.expected)
            << "order " << i << " (" << order.kind << "): " << answer->body;
        if (order.expected == 200) {
            ++valid;
            EXPECT_TRUE(IsPassword(answer->body)) << answer->body;
            by_account[Lower(order.sent.email)].push_back(i);
        } else {
            ++refused;
        }
    }
    EXPECT_EQ(kinds.size(), Breakages().size() + 1) << "every breakage is sent";

    // Every password opens its account's page, which lists exactly that account's orders.
    for (const auto& [account, indexes] : by_account) {
        std::size_t pictures = 0;
        for (std::size_t i : indexes) pictures += orders[i].sent.pictures.size();
        for (std::size_t i : indexes) {
            if (!answers[i] || answers[i]->status != 200) continue;
            auto page = gptest::Get(service.port(),
                                    gptest::AccountTarget(orders[i].sent.email, answers[i]->body));
            ASSERT_TRUE(page);
            ASSERT_EQ(page->status, 200) << account;
            EXPECT_EQ(gptest::CountOf(page->body, "<section class=\"order\">"), indexes.size());
            EXPECT_EQ(gptest::CountOf(page->body, "<tr><td><img"), pictures) << account;
            for (std::size_t j : indexes) {
                for (const Picture& picture : orders[j].sent.pictures) {
                    EXPECT_EQ(gptest::CountOf(page->body, picture.file_name), 1u)
                        << account << ": " << picture.file_name;
                }
            }
        }
    }

    // A clean stop: requests in progress end first.
    EXPECT_EQ(service.Stop(), 0);

    // The data folder, by content.
    const std::vector<StoredOrder> stored = StoredOrders(data);
    const std::map<std::string, int> hashes = PictureFileHashes(data);
    int stored_once = 0;
    int lost = 0;
    int leaked = 0;
    for (const LoadOrder& order : orders) {
        if (order.expected == 200) {
            const int times = TimesStored(stored, order.sent);
            stored_once += times == 1;
            lost += times != 1;
            EXPECT_EQ(times, 1) << order.sent.pictures.front().file_name;
            for (const Picture& picture : order.sent.pictures) {
                auto found = hashes.find(Fingerprint(picture.content));
                EXPECT_TRUE(found != hashes.end() && found->second == 1) << picture.file_name;
            }
        } else {
            for (const Picture& picture : order.sent.pictures) {
                const bool there = hashes.count(Fingerprint(picture.content)) > 0;
                leaked += there;
                EXPECT_FALSE(there) << order.kind << ": " << picture.file_name << " was stored";
            }
        }
    }
    EXPECT_EQ(static_cast<int>(stored.size()), valid) << "orders stored that were not sent";
    EXPECT_EQ(gptest::CountRows(data, "accounts"), static_cast<std::int64_t>(by_account.size()));
    EXPECT_EQ(gptest::CountRows(data, "passwords"), valid);
    const std::vector<std::string> problems = FolderProblems(data);
    EXPECT_TRUE(problems.empty()) << ::testing::PrintToString(problems);

    if (!kSanitized) {
        EXPECT_LT(*rss, kRssBoundKib) << "peak memory " << Megabytes(*rss);
    }
    EXPECT_LT(seconds, 30.0) << "the load took too long";

    reliability::AddTableRow(
        "load", "mixed_concurrent", static_cast<long>(orders.size()),
        std::to_string(orders.size()) + " sent by " + std::to_string(kClients) + " clients, " +
            std::to_string(stored_once) + " stored once, " + std::to_string(refused) + " broken (" +
            std::to_string(Breakages().size()) + " kinds) refused, " + std::to_string(leaked) +
            " broken pictures stored, " + (problems.empty() ? "folder sound" : "FOLDER PROBLEMS") +
            ", peak rss " + Megabytes(*rss) + (kSanitized ? " (sanitizer build, unbounded)" : "") +
            ", sent in " + std::to_string(static_cast<int>(seconds * 1000)) + " ms",
        lost > 0 || leaked > 0 || !problems.empty() || HasFailure());
}

// Large bodies at once: the service's memory does not follow the bodies' sizes.
TEST(ServiceLoad, LargeBodiesAtOnceKeepMemorySmall) {
    constexpr int kClients = 12;
    // Smaller in sanitizer builds, where the memory bound is not checked.
    constexpr std::size_t kPictureBytes = std::size_t{kSanitized ? 4 : 12} << 20;
    gptest::TempDir temp;
    const fs::path data = temp.path() / "data";
    ServiceProcess service(data, {"--read-timeout", "10", "--write-timeout", "10"});
    const std::optional<long> idle = service.PeakRssKib();
    ASSERT_TRUE(idle);

    std::vector<SentOrder> orders;
    std::vector<std::string> bodies;
    for (int client = 0; client < kClients; ++client) {
        SentOrder order{"big" + std::to_string(client) + "@example.com",
                        {{"big-" + std::to_string(client) + ".jpg", "20x30", "1",
                          gptest::JpegBytes(kPictureBytes, 500u + static_cast<unsigned>(client))}}};
        bodies.push_back(gptest::BuildBody(gptest::OrderParts(order.email, order.pictures)));
        orders.push_back(std::move(order));
    }
    std::vector<std::optional<gptest::Answer>> answers(kClients);
    const auto start = Clock::now();
    std::latch ready(kClients);
    std::vector<std::jthread> clients;
    for (int client = 0; client < kClients; ++client) {
        clients.emplace_back([&, client] {
            ready.arrive_and_wait();
            Delivery how;
            how.timeout = std::chrono::seconds(20);
            answers[static_cast<std::size_t>(client)] =
                Deliver(service.port(), bodies[static_cast<std::size_t>(client)], how);
        });
    }
    for (std::jthread& client : clients) client.join();
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const std::optional<long> rss = service.PeakRssKib();
    ASSERT_TRUE(rss);
    int accepted = 0;
    for (const auto& answer : answers) {
        ASSERT_TRUE(answer);
        EXPECT_EQ(answer->status, 200) << answer->body;
        accepted += answer->status == 200;
    }
    EXPECT_EQ(service.Stop(), 0);

    const std::vector<StoredOrder> stored = StoredOrders(data);
    int stored_once = 0;
    for (const SentOrder& order : orders) stored_once += TimesStored(stored, order) == 1;
    EXPECT_EQ(stored_once, kClients);
    const std::vector<std::string> problems = FolderProblems(data);
    EXPECT_TRUE(problems.empty()) << ::testing::PrintToString(problems);
    const long in_flight_kib = static_cast<long>(kClients * bodies[0].size() / 1024);
    if (!kSanitized) {
        EXPECT_LT(*rss, kRssBoundKib) << "peak memory " << Megabytes(*rss) << " with "
                                      << Megabytes(in_flight_kib) << " of bodies in flight";
    }
    reliability::AddTableRow(
        "load", "large_bodies_at_once", kClients,
        std::to_string(kClients) + " x " + std::to_string(kPictureBytes >> 20) + " MB at once, " +
            std::to_string(stored_once) + " stored once, rss " + Megabytes(*idle) + " idle, " +
            Megabytes(*rss) + " peak for " + Megabytes(in_flight_kib) + " sent in " +
            std::to_string(static_cast<int>(seconds * 1000)) + " ms",
        stored_once != kClients || !problems.empty() || HasFailure());
}

}  // namespace
