#pragma once
// Checks the parts of an order body as the multipart reader delivers them, and writes every
// picture to its own file in a staging folder.
//
// Fields: `images` (decimal count), `email`, `Format_NNN` and `Qty_NNN` for NNN = 001..N
// ("%03d", all digits from 1000 on), and N `uploadImage[]` parts. Anything else is refused.

#include <cstddef>
#include <cstdio>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Orders.h"

namespace glimmer {

constexpr std::size_t kMaxFieldBytes = 512;      // a text field's value
constexpr std::size_t kMaxFileNameBytes = 4096;  // the file name of a picture part

class OrderIntake {
public:
    // Pictures go to `pictures_dir` (created on the first picture). A body with more than
    // `max_parts` parts is refused with 413.
    OrderIntake(std::filesystem::path pictures_dir, std::size_t max_parts);
    ~OrderIntake();
    OrderIntake(const OrderIntake&) = delete;
    OrderIntake& operator=(const OrderIntake&) = delete;

    // The start of a part. False stops the reading; status() and reason() say why.
    bool OnPartHeader(std::string_view name, std::string_view file_name);
    // A piece of the current part's content.
    bool OnPartData(const char* data, std::size_t size);
    // After the reader has taken the whole body: the order, or nullopt with status() and
    // reason() set.
    std::optional<StagedOrder> Finish();

    bool failed() const { return status_ != 0; }
    int status() const { return status_; }  // 400 or 413; 500 for a disk failure
    const std::string& reason() const { return reason_; }
    const std::filesystem::path& pictures_dir() const { return dir_; }

private:
    enum class Kind { kNone, kImages, kEmail, kFormat, kQuantity, kPicture };

    bool Fail(int status, std::string reason);
    bool EndPart();
    bool OpenPicture(std::string_view file_name);

    std::filesystem::path dir_;
    std::size_t max_parts_;
    std::size_t parts_ = 0;

    Kind kind_ = Kind::kNone;
    int index_ = 0;  // NNN of the current Format_/Qty_ part
    std::string field_;
    std::FILE* picture_ = nullptr;
    std::vector<char> picture_buffer_;

    std::optional<std::string> images_;
    std::optional<std::string> email_;
    std::map<int, std::string> formats_;
    std::map<int, std::string> quantities_;
    std::vector<StagedPicture> pictures_;

    int status_ = 0;
    std::string reason_;
};

// NNN of "Format_NNN" / "Qty_NNN" for the given prefix: the number when the digits are exactly
// what "%03d" gives for it (001, 012, 123, 1000), else nullopt.
std::optional<int> FieldIndex(std::string_view name, std::string_view prefix);

// A quantity: decimal digits only, 1 to 2147483647.
std::optional<int> ParseQuantity(std::string_view text);

}  // namespace glimmer
