#pragma once
// Reads a multipart/form-data body from a file with cpp-httplib's multipart parser, feeding it
// the file in chunks, so that neither the body nor a part is ever held whole in memory.

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

namespace glimmer {

struct MultipartCallbacks {
    // The start of a part: its name and (for file parts) file name. False stops the reading.
    std::function<bool(std::string_view name, std::string_view file_name)> part;
    // A piece of the current part's content. False stops the reading.
    std::function<bool(const char* data, std::size_t size)> data;
};

// True when `content_type` is multipart/form-data with a boundary parameter.
bool IsMultipartFormData(std::string_view content_type);

// Runs the body in `body_file` through the parser, with the boundary taken from
// `content_type`. True when the body is a complete multipart document (close delimiter
// included) and no callback said stop.
bool ReadMultipartFile(const std::filesystem::path& body_file, std::string_view content_type,
                       const MultipartCallbacks& callbacks);

}  // namespace glimmer
