#include "Sha256.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using glimmer::Sha256;

struct Vector {
    std::string message;
    const char* digest;
};

// The SHA-256 examples of FIPS 180-2 (appendix B) and the NIST short-message vectors.
TEST(Sha256, KnownVectors) {
    const Vector kVectors[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklm"
         "nopqrlmnopqrsmnopqrstnopqrstu",
         "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
        {std::string(1000000, 'a'),
         "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
        // Lengths around the padding edges: 55 bytes fit one block, 56 need a second.
        {std::string(55, 'a'), "9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318"},
        {std::string(56, 'a'), "b35439a4ac6f0948b6d6f9e3c6af0f5f590ce20f1bde7090ef7970686ec6738a"},
        {std::string(64, 'a'), "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb"},
    };
    for (const Vector& v : kVectors) {
        EXPECT_EQ(Sha256::Hex(Sha256::Of(v.message)), v.digest) << "length " << v.message.size();
    }
}

// Feeding a message in pieces gives the same digest as feeding it at once, wherever it is cut.
TEST(Sha256, PiecesGiveTheSameDigest) {
    std::string message;
    for (int i = 0; i < 300; ++i) message.push_back(static_cast<char>(i * 7 + 3));
    const std::string whole = Sha256::Hex(Sha256::Of(message));
    for (std::size_t cut = 0; cut <= message.size(); cut += 13) {
        for (std::size_t second = cut; second <= message.size(); second += 61) {
            Sha256 sha;
            sha.Update(message.substr(0, cut));
            sha.Update(message.substr(cut, second - cut));
            sha.Update(message.substr(second));
            EXPECT_EQ(Sha256::Hex(sha.Finish()), whole) << cut << "/" << second;
        }
    }
}

}  // namespace
