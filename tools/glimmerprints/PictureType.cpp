#include "PictureType.h"

namespace glimmer {

std::string GuessPictureType(std::string_view head) {
    auto starts = [head](std::string_view magic) { return head.substr(0, magic.size()) == magic; };
    using namespace std::string_view_literals;
    if (starts("\x89PNG\r\n\x1a\n"sv)) return "image/png";
    if (starts("GIF87a"sv) || starts("GIF89a"sv)) return "image/gif";
    if (starts("BM"sv)) return "image/bmp";
    if (starts("II*\0"sv) || starts("MM\0*"sv)) return "image/tiff";
    if (head.size() >= 12 && starts("RIFF"sv) && head.substr(8, 4) == "WEBP"sv) return "image/webp";
    return "image/jpeg";
}

}  // namespace glimmer
