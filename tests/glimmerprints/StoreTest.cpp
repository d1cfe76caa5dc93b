// An order is stored whole or not at all, also when storing fails, when orders come at the
// same time, and after a run that ended abruptly.

#include <sqlite3.h>

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <thread>

#include "Harness.h"

namespace {

using namespace gptest;

TEST(Store, FailedCommitLeavesNothing) {
    TempDir temp;
    glimmer::ServiceConfig config = Config(temp.path());
    config.db_busy_timeout = std::chrono::milliseconds(200);
    RunningService service(config);
    const std::string body = BuildBody(OrderParts("ann@example.com", TwoPictures()));

    // Another writer holds the database, so the order's transaction cannot start.
    sqlite3* blocker = nullptr;
    ASSERT_EQ(sqlite3_open((temp.path() / "glimmerprints.db").c_str(), &blocker), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(blocker, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
    auto answer = PostOrder(service.port(), body);
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->status, 500);
    EXPECT_EQ(StoredFiles(temp.path()), std::vector<std::string>{});
    sqlite3_exec(blocker, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(blocker);
    EXPECT_TRUE(NothingStored(temp.path()));

    answer = PostOrder(service.port(), body);
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->status, 200);
    EXPECT_EQ(CountRows(temp.path(), "orders"), 1);
    EXPECT_EQ(StoredFiles(temp.path()).size(), 2u);
}

TEST(Store, StartRemovesWhatAnAbruptEndLeft) {
    TempDir temp;
    std::string password;
    {
        RunningService service(Config(temp.path()));
        auto answer =
            PostOrder(service.port(), BuildBody(OrderParts("ann@example.com", TwoPictures())));
        ASSERT_TRUE(answer);
        ASSERT_EQ(answer->status, 200);
        password = answer->body;
    }
    // What a killed run leaves: a staged request, and moved pictures whose rows never came.
    fs::create_directories(temp.path() / "tmp" / "0123abcd" / "pictures");
    std::ofstream(temp.path() / "tmp" / "0123abcd" / "body") << "partial";
    fs::create_directories(temp.path() / "pictures" / "feedbeef");
    std::ofstream(temp.path() / "pictures" / "feedbeef" / "000001") << "orphan";
    ASSERT_EQ(StoredFiles(temp.path()).size(), 4u);

    RunningService service(Config(temp.path()));
    EXPECT_FALSE(fs::exists(temp.path() / "tmp" / "0123abcd"));
    EXPECT_FALSE(fs::exists(temp.path() / "pictures" / "feedbeef"));
    const std::vector<PictureRow> rows = PictureRows(temp.path());
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(ReadFile(rows[1].file), TwoPictures()[1].content);
    EXPECT_EQ(StoredFiles(temp.path()).size(), 2u);
    auto page = Get(service.port(), AccountTarget("ann@example.com", password));
    ASSERT_TRUE(page);
    EXPECT_EQ(page->status, 200);
}

TEST(Store, ConcurrentOrdersAreEachStoredOnce) {
    TempDir temp;
    RunningService service(Config(temp.path()));
    constexpr int kClients = 12;
    constexpr int kOrdersEach = 4;
    std::atomic<int> accepted{0};
    std::atomic<int> refused{0};
    std::vector<std::string> passwords(kClients * kOrdersEach);
    std::vector<std::thread> clients;
    for (int client = 0; client < kClients; ++client) {
        clients.emplace_back([&, client] {
            for (int n = 0; n < kOrdersEach; ++n) {
                const std::string email = "user" + std::to_string(client % 3) + "@example.com";
                std::vector<Part> parts = OrderParts(
                    email, {{"c" + std::to_string(client) + "n" + std::to_string(n), "4x6", "1",
                             JpegBytes(20000 + static_cast<std::size_t>(client * 100 + n), 1)},
                            {"second", "5x7", "3", PngBytes(3000, 2)}});
                const bool broken = n == 1;  // every client also sends one broken order
                if (broken) parts[0].content = "3";
                auto answer = PostOrder(service.port(), BuildBody(parts));
                if (!answer) continue;
                if (answer->status == 200 && !broken) {
                    ++accepted;
                    passwords[static_cast<std::size_t>(client * kOrdersEach + n)] = answer->body;
                } else if (answer->status == 400 && broken) {
                    ++refused;
                }
            }
        });
    }
    for (std::thread& client : clients) client.join();
    EXPECT_EQ(accepted, kClients * (kOrdersEach - 1));
    EXPECT_EQ(refused, kClients);
    EXPECT_EQ(CountRows(temp.path(), "accounts"), 3);
    EXPECT_EQ(CountRows(temp.path(), "orders"), kClients * (kOrdersEach - 1));
    EXPECT_EQ(CountRows(temp.path(), "pictures"), 2 * kClients * (kOrdersEach - 1));
    EXPECT_EQ(StoredFiles(temp.path()).size(), std::size_t{2} * kClients * (kOrdersEach - 1));
    for (const PictureRow& row : PictureRows(temp.path())) {
        EXPECT_EQ(static_cast<std::int64_t>(fs::file_size(row.file)), row.size);
    }
    // Each account page lists exactly that account's orders.
    for (int client = 0; client < 3; ++client) {
        const std::string& password = passwords[static_cast<std::size_t>(client * kOrdersEach)];
        auto page = Get(service.port(),
                        AccountTarget("user" + std::to_string(client) + "@example.com", password));
        ASSERT_TRUE(page);
        ASSERT_EQ(page->status, 200);
        EXPECT_EQ(CountOf(page->body, "<section class=\"order\">"),
                  static_cast<std::size_t>(kClients / 3 * (kOrdersEach - 1)));
    }
}

}  // namespace
