// The e-mail address check on arbitrary bytes: an accepted address always meets the rules
// that every later step relies on (one '@', only letters, digits, '_', '.', '-', a dot that is
// not last, at most three bytes after it).

#include <cstddef>
#include <cstdint>
#include <string>

#include "FuzzSupport.h"
#include "order/EmailCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    if (!IsProperEmailAddress(CString(text))) return 0;

    if (text.size() < 5) fuzz::Fail("accepted a text shorter than five bytes");
    std::size_t ats = 0;
    for (char c : text) {
        const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        const bool allowed = letter || (c >= '0' && c <= '9') || c == '_' || c == '.' ||
                             c == '-' || c == '@';
        if (!allowed) fuzz::Fail("accepted a byte outside the allowed set");
        if (c == '@') ++ats;
    }
    if (ats != 1) fuzz::Fail("accepted an address without exactly one '@'");
    const std::size_t dot = text.rfind('.');
    if (dot == std::string::npos || dot == text.size() - 1 || text.size() - dot > 4)
        fuzz::Fail("accepted an address with a bad last dot");
    const std::size_t underscore = text.rfind('_');
    if (underscore != std::string::npos && underscore > text.find('@'))
        fuzz::Fail("accepted an '_' in the domain");
    return 0;
}
