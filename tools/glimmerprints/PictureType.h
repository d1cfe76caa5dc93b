#pragma once

#include <string>
#include <string_view>

namespace glimmer {

// The media type of a picture from its first bytes (JPEG, PNG, GIF, BMP, TIFF, WebP);
// image/jpeg when none matches, since the tool announces every picture as JPEG.
std::string GuessPictureType(std::string_view first_bytes);

}  // namespace glimmer
