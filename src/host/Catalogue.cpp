#include "host/Catalogue.h"

#include <cstddef>
#include <string_view>

#include "host/MessageIds.h"

namespace {

struct CatalogueEntry {
    std::uint16_t id;
    std::uint16_t language;
    std::string_view text;
};

constexpr std::uint16_t LanguageOfLetter(char letter) {
    switch (letter) {
        case 'E': return LANG_ENGLISH;
        case 'G': return LANG_GERMAN;
        case 'F': return LANG_FRENCH;
        case 'I': return LANG_ITALIAN;
        case 'S': return LANG_SPANISH;
        default: return 0;  // rejected by the check below
    }
}

// messages.def names the language by a bare letter; it is stringized here, and an unknown
// letter gives language 0, which the check below turns into a compile error.
#define MESSAGE(id, letter, text) CatalogueEntry{id, LanguageOfLetter(#letter[0]), text},
constexpr CatalogueEntry kCatalogue[] = {
#include "messages.def"
};
#undef MESSAGE

constexpr bool CatalogueIsWellFormed() {
    constexpr std::size_t count = sizeof(kCatalogue) / sizeof(kCatalogue[0]);
    for (std::size_t i = 0; i < count; ++i) {
        const CatalogueEntry& entry = kCatalogue[i];
        if (entry.language == 0 || entry.id < kFirstMessageId || entry.id > kLastMessageId) {
            return false;
        }
        for (std::size_t j = i + 1; j < count; ++j) {
            if (kCatalogue[j].id == entry.id && kCatalogue[j].language == entry.language) {
                return false;
            }
        }
    }
    return true;
}
static_assert(CatalogueIsWellFormed(),
              "messages.def: unknown language letter, id out of range or duplicate entry");

}  // namespace

bool LoadCatalogueString(CString& target, std::uint16_t id, std::uint16_t language) {
    for (const CatalogueEntry& entry : kCatalogue) {
        if (entry.id == id && entry.language == language) {
            target = CString(entry.text);
            return true;
        }
    }
    return false;
}

std::uint16_t LanguageFromLetter(const char* letter) {
    if (letter == nullptr) {
        return LANG_ENGLISH;
    }
    // The whole value must equal one letter; the order of the checks is the host's.
    static constexpr struct {
        const char* letter;
        std::uint16_t language;
    } kLetters[] = {
        {"E", LANG_ENGLISH}, {"F", LANG_FRENCH}, {"G", LANG_GERMAN},
        {"I", LANG_ITALIAN}, {"S", LANG_SPANISH},
    };
    for (const auto& candidate : kLetters) {
        if (CompareNoCaseAscii(letter, candidate.letter) == 0) {
            return candidate.language;
        }
    }
    return LANG_ENGLISH;
}
