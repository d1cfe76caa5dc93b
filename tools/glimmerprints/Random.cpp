#include "Random.h"

#include <sys/random.h>

#include <cerrno>
#include <cstdint>
#include <system_error>
#include <vector>

namespace glimmer {

void RandomBytes(void* buffer, std::size_t size) {
    auto* out = static_cast<std::uint8_t*>(buffer);
    while (size > 0) {
        ssize_t got = getrandom(out, size, 0);
        if (got < 0) {
            if (errno == EINTR) continue;
            throw std::system_error(errno, std::generic_category(), "getrandom");
        }
        out += got;
        size -= static_cast<std::size_t>(got);
    }
}

std::string RandomAlphanumeric(std::size_t length) {
    static constexpr char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    constexpr unsigned kSize = sizeof kAlphabet - 1;  // 62
    // Bytes from 248 up are dropped so that every character is equally likely (248 = 4 * 62).
    constexpr unsigned kLimit = 256 - 256 % kSize;
    std::string out;
    out.reserve(length);
    std::vector<std::uint8_t> pool(length + 16);
    while (out.size() < length) {
        RandomBytes(pool.data(), pool.size());
        for (std::uint8_t byte : pool) {
            if (byte >= kLimit) continue;
            out.push_back(kAlphabet[byte % kSize]);
            if (out.size() == length) break;
        }
    }
    return out;
}

std::string RandomHex(std::size_t bytes) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::vector<std::uint8_t> raw(bytes);
    RandomBytes(raw.data(), raw.size());
    std::string out;
    out.reserve(2 * bytes);
    for (std::uint8_t byte : raw) {
        out.push_back(kHex[byte >> 4]);
        out.push_back(kHex[byte & 15]);
    }
    return out;
}

}  // namespace glimmer
