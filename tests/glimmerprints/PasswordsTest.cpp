#include "Passwords.h"

#include <gtest/gtest.h>

#include <map>
#include <set>

#include "Random.h"
#include "Sha256.h"

namespace {

using namespace glimmer;

bool Alphanumeric(const std::string& text) {
    for (char c : text) {
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))) {
            return false;
        }
    }
    return true;
}

TEST(Passwords, NewPasswordsAreTwentyAlphanumericsAndDistinct) {
    std::set<std::string> seen;
    for (int i = 0; i < 2000; ++i) {
        std::string password = NewPassword();
        ASSERT_EQ(password.size(), 20u);
        ASSERT_TRUE(Alphanumeric(password)) << password;
        seen.insert(password);
    }
    EXPECT_EQ(seen.size(), 2000u);
}

// Every one of the 62 characters turns up about equally often (the draw drops the bytes that
// would favour some of them).
TEST(Passwords, CharactersAreEvenlyDrawn) {
    std::map<char, int> counts;
    const std::string text = RandomAlphanumeric(62 * 2000);
    for (char c : text) ++counts[c];
    ASSERT_EQ(counts.size(), 62u);
    for (const auto& [c, count] : counts) {
        // Expected 2000 each; the standard deviation is about 44.
        EXPECT_GT(count, 1700) << c;
        EXPECT_LT(count, 2300) << c;
    }
}

TEST(Passwords, HashIsSha256OfSaltThenPassword) {
    Salt salt{};
    for (std::size_t i = 0; i < salt.size(); ++i) salt[i] = static_cast<std::uint8_t>('a' + i);
    PasswordHash hash = HashPassword(salt, "secret");
    EXPECT_EQ(Sha256::Hex(hash), Sha256::Hex(Sha256::Of("abcdefghijklmnopsecret")));
}

TEST(Passwords, CheckAcceptsOnlyTheExactPassword) {
    const std::string password = NewPassword();
    const StoredPassword stored = HashNewPassword(password);
    EXPECT_TRUE(CheckPassword(stored, password));
    const std::string wrong[] = {"", password.substr(0, 19), password + "x", " " + password,
                                 password.substr(1) + password.substr(0, 1)};
    for (const std::string& candidate : wrong) {
        EXPECT_FALSE(CheckPassword(stored, candidate)) << "'" << candidate << "'";
    }
    std::string flipped = password;
    flipped[7] = flipped[7] == 'A' ? 'B' : 'A';
    EXPECT_FALSE(CheckPassword(stored, flipped));
}

TEST(Passwords, SaltsDifferSoEqualPasswordsHashDifferently) {
    StoredPassword a = HashNewPassword("same");
    StoredPassword b = HashNewPassword("same");
    EXPECT_NE(a.salt, b.salt);
    EXPECT_NE(a.hash, b.hash);
    EXPECT_TRUE(CheckPassword(a, "same"));
    EXPECT_TRUE(CheckPassword(b, "same"));
}

TEST(Passwords, EqualConstantTimeComparesEveryByte) {
    std::uint8_t a[32] = {};
    std::uint8_t b[32] = {};
    EXPECT_TRUE(EqualConstantTime(a, b, sizeof a));
    for (std::size_t at : {0u, 1u, 15u, 31u}) {
        b[at] = 0x80;
        EXPECT_FALSE(EqualConstantTime(a, b, sizeof a)) << at;
        b[at] = 0;
    }
}

TEST(Random, HexHasTwoDigitsPerByte) {
    std::string hex = RandomHex(16);
    ASSERT_EQ(hex.size(), 32u);
    EXPECT_EQ(hex.find_first_not_of("0123456789abcdef"), std::string::npos);
    EXPECT_NE(RandomHex(16), hex);
}

}  // namespace
