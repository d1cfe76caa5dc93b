#pragma once
// Orders on disk: pictures under DATA/pictures/<random folder>/, everything else in SQLite
// (DATA/glimmerprints.db, WAL mode). An order is stored whole or not at all.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "Orders.h"

namespace glimmer {

class Store {
public:
    // Creates the folders and the database as needed and takes the data folder's lock (one
    // service per folder). Removes what an interrupted run left: staging folders and picture
    // folders that no order refers to. Throws std::runtime_error on failure.
    // Writers wait up to `busy_timeout` for one another.
    explicit Store(std::filesystem::path data_dir,
                   std::chrono::milliseconds busy_timeout = std::chrono::seconds(15));
    ~Store();
    Store(const Store&) = delete;
    Store& operator=(const Store&) = delete;

    const std::filesystem::path& data_dir() const { return dir_; }
    // Where requests stage their bodies and pictures (DATA/tmp).
    std::filesystem::path staging_root() const { return dir_ / "tmp"; }

    // Stores the order whose pictures lie in `staged_pictures` (named by their stored_name) and
    // returns a new password for its account. The account is created on the e-mail
    // address's first order; addresses compare without regard to ASCII letter case. On any
    // failure nothing of the order remains and std::runtime_error is thrown.
    std::string AddOrder(const StagedOrder& order, const std::filesystem::path& staged_pictures);

    // The account whose address is `email` when `password` is one of the passwords issued to it.
    std::optional<std::int64_t> Authenticate(std::string_view email,
                                             std::string_view password) const;

    AccountView LoadAccount(std::int64_t account) const;

    // The file of picture `picture` when it belongs to an order of `account`.
    std::optional<std::filesystem::path> PictureFile(std::int64_t account,
                                                     std::int64_t picture) const;

private:
    std::filesystem::path dir_;
    int busy_timeout_ms_;
    int lock_fd_ = -1;
};

}  // namespace glimmer
