// The service's order intake fed arbitrary bodies, as the service runs it: the multipart
// reader over the body file, every part through OrderIntake. An order accepted has as many
// pictures as announced, each with its format, a quantity of at least 1 and a file of the
// size counted inside the pictures folder; nothing is ever written outside that folder.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <system_error>

#include "FuzzSupport.h"
#include "MultipartFile.h"
#include "OrderIntake.h"

namespace fs = std::filesystem;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const fs::path root = fuzz::ScratchDir();
    const fs::path body = root / "body";
    const fs::path pictures = root / "staging" / "pictures";
    fs::remove_all(root / "staging");
    fs::create_directories(root / "staging");
    fuzz::WriteInput(body.string(), data, size);

    const std::string type = "multipart/form-data; boundary=---------------------------7d4128363704e6";
    {
        glimmer::OrderIntake intake(pictures, 64);
        glimmer::MultipartCallbacks callbacks;
        callbacks.part = [&intake](std::string_view name, std::string_view file_name) {
            return intake.OnPartHeader(name, file_name);
        };
        callbacks.data = [&intake](const char* bytes, std::size_t count) {
            return intake.OnPartData(bytes, count);
        };
        const bool complete = glimmer::ReadMultipartFile(body, type, callbacks);
        if (intake.failed()) {
            const int status = intake.status();
            if (status != 400 && status != 413 && status != 500) fuzz::Fail("an unknown status");
        } else if (complete) {
            auto order = intake.Finish();
            if (order) {
                if (order->pictures.empty()) fuzz::Fail("an order without pictures");
                for (const auto& picture : order->pictures) {
                    if (picture.format.empty()) fuzz::Fail("a picture without format");
                    if (picture.quantity < 1) fuzz::Fail("a quantity below 1");
                    const fs::path stored = pictures / picture.stored_name;
                    if (stored.parent_path() != pictures) fuzz::Fail("a picture outside its folder");
                    std::error_code error;
                    if (fs::file_size(stored, error) != picture.size || error)
                        fuzz::Fail("a picture's file does not have the size counted");
                }
            } else if (intake.status() == 0) {
                fuzz::Fail("a refused order without status");
            }
        }
    }
    // Only the staging folder's pictures may have been written.
    for (const auto& entry : fs::directory_iterator(root / "staging")) {
        if (entry.path() != pictures) fuzz::Fail("a file written outside the pictures folder");
    }
    for (const auto& entry : fs::directory_iterator(root)) {
        const auto name = entry.path().filename();
        if (name != "body" && name != "staging") fuzz::Fail("a file written outside staging");
    }
    return 0;
}
