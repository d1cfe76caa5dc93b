#include "OrderIntake.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <limits>

namespace glimmer {
namespace {

constexpr std::size_t kPictureBuffer = 64 * 1024;

bool AllDigits(std::string_view text) {
    if (text.empty()) return false;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
    }
    return true;
}

// A client-supplied name as it may appear in a plain-text reason: printable ASCII, cut short.
std::string Printable(std::string_view text) {
    std::string out;
    for (char c : text.substr(0, 40)) out.push_back(c >= 0x20 && c < 0x7f ? c : '?');
    if (text.size() > 40) out += "...";
    return out;
}

std::string Index3(int index) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%03d", index);
    return buffer;
}

// True when the fields carry exactly the numbers 1..count.
bool RunsOneTo(const std::map<int, std::string>& fields, std::size_t count) {
    return fields.size() == count &&
           (count == 0 || (fields.begin()->first == 1 &&
                           static_cast<std::size_t>(fields.rbegin()->first) == count));
}

}  // namespace

std::optional<int> FieldIndex(std::string_view name, std::string_view prefix) {
    if (name.substr(0, prefix.size()) != prefix) return std::nullopt;
    std::string_view digits = name.substr(prefix.size());
    if (!AllDigits(digits) || digits.size() > 9) return std::nullopt;
    int value = 0;
    for (char c : digits) value = value * 10 + (c - '0');
    if (value < 1 || Index3(value) != digits) return std::nullopt;
    return value;
}

std::optional<int> ParseQuantity(std::string_view text) {
    if (!AllDigits(text) || text.size() > 10) return std::nullopt;
    long long value = 0;
    for (char c : text) value = value * 10 + (c - '0');
    if (value < 1 || value > std::numeric_limits<int>::max()) return std::nullopt;
    return static_cast<int>(value);
}

OrderIntake::OrderIntake(std::filesystem::path pictures_dir, std::size_t max_parts)
    : dir_(std::move(pictures_dir)), max_parts_(max_parts) {}

OrderIntake::~OrderIntake() {
    if (picture_) std::fclose(picture_);
}

bool OrderIntake::Fail(int status, std::string reason) {
    if (status_ == 0) {
        status_ = status;
        reason_ = std::move(reason);
    }
    return false;
}

bool OrderIntake::OnPartHeader(std::string_view name, std::string_view file_name) {
    if (failed()) return false;
    if (!EndPart()) return false;
    if (++parts_ > max_parts_) {
        return Fail(413, "too many parts: more than " + std::to_string(max_parts_));
    }
    field_.clear();
    if (name == "images") {
        if (images_) return Fail(400, "field images appears twice");
        kind_ = Kind::kImages;
    } else if (name == "email") {
        if (email_) return Fail(400, "field email appears twice");
        kind_ = Kind::kEmail;
    } else if (name == "uploadImage[]") {
        kind_ = Kind::kPicture;
        return OpenPicture(file_name);
    } else if (auto format = FieldIndex(name, "Format_")) {
        if (formats_.count(*format))
            return Fail(400, "field " + Printable(name) + " appears twice");
        kind_ = Kind::kFormat;
        index_ = *format;
    } else if (auto quantity = FieldIndex(name, "Qty_")) {
        if (quantities_.count(*quantity)) {
            return Fail(400, "field " + Printable(name) + " appears twice");
        }
        kind_ = Kind::kQuantity;
        index_ = *quantity;
    } else {
        return Fail(400, "unknown field \"" + Printable(name) + "\"");
    }
    return true;
}

bool OrderIntake::OpenPicture(std::string_view file_name) {
    if (file_name.size() > kMaxFileNameBytes) return Fail(400, "picture file name too long");
    std::error_code error;
    std::filesystem::create_directories(dir_, error);
    if (error) return Fail(500, "cannot store the pictures");
    char stored[16];
    std::snprintf(stored, sizeof stored, "%06zu", pictures_.size() + 1);
    std::filesystem::path path = dir_ / stored;
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0640);
    if (fd < 0) return Fail(500, "cannot store the pictures");
    picture_ = ::fdopen(fd, "wb");
    if (!picture_) {
        ::close(fd);
        return Fail(500, "cannot store the pictures");
    }
    picture_buffer_.resize(kPictureBuffer);
    std::setvbuf(picture_, picture_buffer_.data(), _IOFBF, picture_buffer_.size());
    StagedPicture picture;
    picture.stored_name = stored;
    picture.file_name = std::string(file_name);
    pictures_.push_back(std::move(picture));
    return true;
}

bool OrderIntake::OnPartData(const char* data, std::size_t size) {
    if (failed()) return false;
    switch (kind_) {
        case Kind::kPicture:
            if (std::fwrite(data, 1, size, picture_) != size) {
                return Fail(500, "cannot store the pictures");
            }
            pictures_.back().size += size;
            return true;
        case Kind::kNone:
            return true;
        default:
            if (field_.size() + size > kMaxFieldBytes) {
                return Fail(400, "a field value is longer than " + std::to_string(kMaxFieldBytes) +
                                     " bytes");
            }
            field_.append(data, size);
            return true;
    }
}

bool OrderIntake::EndPart() {
    switch (kind_) {
        case Kind::kNone:
            break;
        case Kind::kImages:
            images_ = field_;
            break;
        case Kind::kEmail:
            email_ = field_;
            break;
        case Kind::kFormat:
            formats_[index_] = field_;
            break;
        case Kind::kQuantity:
            quantities_[index_] = field_;
            break;
        case Kind::kPicture: {
            std::FILE* file = picture_;
            picture_ = nullptr;
            if (std::fclose(file) != 0) return Fail(500, "cannot store the pictures");
            break;
        }
    }
    kind_ = Kind::kNone;
    field_.clear();
    return true;
}

std::optional<StagedOrder> OrderIntake::Finish() {
    if (failed() || !EndPart()) return std::nullopt;
    auto refuse = [this](std::string reason) {
        Fail(400, std::move(reason));
        return std::nullopt;
    };
    if (!images_) return refuse("missing field images");
    if (!email_ || email_->empty()) return refuse("missing field email");
    for (char c : *email_) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
            return refuse("email holds control characters");
        }
    }
    if (!AllDigits(*images_) || images_->size() > 9) return refuse("images is not a count");
    const std::size_t count = std::stoul(*images_);
    if (count == 0) return refuse("an order needs at least one picture");
    if (pictures_.size() != count) {
        return refuse("images says " + std::to_string(count) + " but the body holds " +
                      std::to_string(pictures_.size()) + " pictures");
    }
    const std::string last = Index3(static_cast<int>(count));
    if (!RunsOneTo(formats_, count)) {
        return refuse("the Format_NNN fields do not run from 001 to " + last);
    }
    if (!RunsOneTo(quantities_, count)) {
        return refuse("the Qty_NNN fields do not run from 001 to " + last);
    }
    StagedOrder order;
    order.email = *email_;
    for (std::size_t i = 0; i < count; ++i) {
        const int index = static_cast<int>(i + 1);
        auto quantity = ParseQuantity(quantities_[index]);
        if (!quantity) return refuse("Qty_" + Index3(index) + " is not a positive whole number");
        StagedPicture picture = std::move(pictures_[i]);
        picture.format = std::move(formats_[index]);
        picture.quantity = *quantity;
        order.pictures.push_back(std::move(picture));
    }
    return order;
}

}  // namespace glimmer
