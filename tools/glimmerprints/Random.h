#pragma once
// Random values from the kernel's CSPRNG (getrandom).

#include <cstddef>
#include <string>

namespace glimmer {

// Fills the buffer; throws std::system_error when the kernel refuses.
void RandomBytes(void* buffer, std::size_t size);

// `length` characters drawn uniformly from A-Z a-z 0-9.
std::string RandomAlphanumeric(std::size_t length);

// `bytes` random bytes as lower-case hex (2 * bytes characters).
std::string RandomHex(std::size_t bytes);

}  // namespace glimmer
