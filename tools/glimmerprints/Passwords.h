#pragma once
// Account passwords: issued at random, stored only as a salted SHA-256, checked in constant
// time.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace glimmer {

constexpr std::size_t kPasswordLength = 20;  // 20 of 62 characters: about 119 bits
constexpr std::size_t kSaltLength = 16;

using Salt = std::array<std::uint8_t, kSaltLength>;
using PasswordHash = std::array<std::uint8_t, 32>;

struct StoredPassword {
    Salt salt;
    PasswordHash hash;
};

// A new password: kPasswordLength characters of A-Z a-z 0-9.
std::string NewPassword();

// A fresh salt and the hash of the password with it.
StoredPassword HashNewPassword(std::string_view password);

// SHA-256 over salt then password.
PasswordHash HashPassword(const Salt& salt, std::string_view password);

// True when the password hashes to the stored value. The comparison takes the same time
// wherever the hashes differ.
bool CheckPassword(const StoredPassword& stored, std::string_view password);

bool EqualConstantTime(const std::uint8_t* a, const std::uint8_t* b, std::size_t size);

}  // namespace glimmer
