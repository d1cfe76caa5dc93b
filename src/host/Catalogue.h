#pragma once
// The message catalogue: texts by message id and language, compiled in from
// res/messages.def. Texts are UTF-8.

#include <cstdint>

#include "platform/CString.h"

// Language ids (Windows language identifiers).
inline constexpr std::uint16_t LANG_ENGLISH = 1033;
inline constexpr std::uint16_t LANG_GERMAN = 1031;
inline constexpr std::uint16_t LANG_FRENCH = 1036;
inline constexpr std::uint16_t LANG_ITALIAN = 1040;
inline constexpr std::uint16_t LANG_SPANISH = 1034;

// Loads the text of `id` in exactly `language` into `target`. There is no fallback to
// another language: when the entry is missing, `target` keeps its content and the result
// is false.
bool LoadCatalogueString(CString& target, std::uint16_t id, std::uint16_t language);

// The language of the host's letter: "E", "F", "G", "I", "S" in any letter case give
// English, French, German, Italian, Spanish; any other text gives English.
std::uint16_t LanguageFromLetter(const char* letter);
