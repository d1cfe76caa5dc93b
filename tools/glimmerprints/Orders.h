#pragma once
// The data of an order on its way in (staged) and on its way out (the account page).

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace glimmer {

// One picture of an accepted body, already on disk in the request's staging folder.
struct StagedPicture {
    std::string stored_name;  // server-chosen file name inside the staging folder
    std::string file_name;    // the file name the client sent, kept as text only
    std::string format;
    int quantity = 0;
    std::uint64_t size = 0;
};

struct StagedOrder {
    std::string email;                    // as sent
    std::vector<StagedPicture> pictures;  // in body order; the n-th has Format_n and Qty_n
};

struct PictureView {
    std::int64_t id = 0;
    int position = 0;
    std::string format;
    int quantity = 0;
    std::string file_name;
    std::uint64_t size = 0;
};

struct OrderView {
    std::int64_t id = 0;
    std::string created;  // UTC, "YYYY-MM-DD HH:MM:SS"
    std::string email;    // as sent with this order
    std::vector<PictureView> pictures;
};

struct AccountView {
    std::string email;              // as sent with the first order
    std::vector<OrderView> orders;  // oldest first
};

}  // namespace glimmer
