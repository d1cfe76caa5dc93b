#pragma once
// SHA-256 (FIPS 180-4), used to hash account passwords with their salt.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace glimmer {

class Sha256 {
public:
    using Digest = std::array<std::uint8_t, 32>;

    Sha256();

    void Update(const void* data, std::size_t size);
    void Update(std::string_view text) { Update(text.data(), text.size()); }
    // Finishes the hash; the object must not be updated afterwards.
    Digest Finish();

    static Digest Of(std::string_view text);
    static std::string Hex(const Digest& digest);

private:
    void Block(const std::uint8_t* block);

    std::array<std::uint32_t, 8> state_;
    std::array<std::uint8_t, 64> buffer_{};
    std::size_t buffered_ = 0;
    std::uint64_t length_ = 0;  // message length in bytes
};

}  // namespace glimmer
