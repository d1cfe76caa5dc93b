#include "Passwords.h"

#include "Random.h"
#include "Sha256.h"

namespace glimmer {

std::string NewPassword() {
    return RandomAlphanumeric(kPasswordLength);
}

PasswordHash HashPassword(const Salt& salt, std::string_view password) {
    Sha256 sha;
    sha.Update(salt.data(), salt.size());
    sha.Update(password);
    return sha.Finish();
}

StoredPassword HashNewPassword(std::string_view password) {
    StoredPassword stored;
    RandomBytes(stored.salt.data(), stored.salt.size());
    stored.hash = HashPassword(stored.salt, password);
    return stored;
}

bool EqualConstantTime(const std::uint8_t* a, const std::uint8_t* b, std::size_t size) {
    // volatile keeps the compiler from turning the loop into an early-exit comparison.
    volatile std::uint8_t difference = 0;
    for (std::size_t i = 0; i < size; ++i) {
        difference = static_cast<std::uint8_t>(difference | (a[i] ^ b[i]));
    }
    return difference == 0;
}

bool CheckPassword(const StoredPassword& stored, std::string_view password) {
    PasswordHash hash = HashPassword(stored.salt, password);
    return EqualConstantTime(hash.data(), stored.hash.data(), hash.size());
}

}  // namespace glimmer
