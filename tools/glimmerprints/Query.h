#pragma once
// Query strings of the account page and picture addresses.

#include <optional>
#include <string>
#include <string_view>

namespace glimmer {

// Decodes every %XX (two hex digits) to its byte. A '%' without two hex digits after it stays
// as it is, and so does '+': the tool encodes a plus sign as %2B, and e-mail addresses may
// hold a literal '+', so it is never read as a blank.
std::string PercentDecode(std::string_view text);

// Encodes every byte outside A-Z a-z 0-9 - . _ ~ @ as %XX (upper-case hex), the same rule the
// tool uses for the account address.
std::string PercentEncode(std::string_view text);

// The decoded value of the first `key=value` pair named `key` in the query part of a request
// target ("/path?a=1&b=2"); nullopt when there is none. A pair without '=' has an empty value.
std::optional<std::string> QueryValue(std::string_view target, std::string_view key);

}  // namespace glimmer
