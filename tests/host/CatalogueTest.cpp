#include "host/Catalogue.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "host/MessageIds.h"
#include "platform/Format.h"

namespace {

struct Language {
    std::uint16_t id;
    const char* name;
};

constexpr Language kLanguages[] = {
    {LANG_ENGLISH, "English"}, {LANG_GERMAN, "German"},   {LANG_FRENCH, "French"},
    {LANG_ITALIAN, "Italian"}, {LANG_SPANISH, "Spanish"},
};

std::string Load(std::uint16_t id, std::uint16_t language) {
    CString text;
    EXPECT_TRUE(LoadCatalogueString(text, id, language)) << "id " << id << " language " << language;
    return text.str();
}

// The printf conversions of a format in order, e.g. "s", "lu"; "%%" is no conversion.
std::vector<std::string> Conversions(std::string_view format) {
    std::vector<std::string> result;
    for (std::size_t i = 0; i < format.size(); ++i) {
        if (format[i] != '%') continue;
        ++i;
        if (i < format.size() && format[i] == '%') continue;
        std::size_t start = i;
        while (i < format.size() && std::string_view("-+ #0123456789.*").find(format[i]) != std::string_view::npos) ++i;
        while (i < format.size() && std::string_view("hlLqjzt").find(format[i]) != std::string_view::npos) ++i;
        if (i >= format.size()) {
            result.push_back("<incomplete>");
            break;
        }
        result.emplace_back(format.substr(start, i - start + 1));
    }
    return result;
}

bool IsValidUtf8(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        auto lead = static_cast<unsigned char>(text[i]);
        std::size_t extra = 0;
        if (lead < 0x80) extra = 0;
        else if (lead >= 0xC2 && lead <= 0xDF) extra = 1;
        else if (lead >= 0xE0 && lead <= 0xEF) extra = 2;
        else if (lead >= 0xF0 && lead <= 0xF4) extra = 3;
        else return false;
        if (i + extra >= text.size()) return false;  // sequence cut off at the end
        for (std::size_t k = 1; k <= extra; ++k) {
            auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80) return false;
        }
        i += extra + 1;
    }
    return true;
}

TEST(CatalogueTest, EveryIdExistsInEveryLanguageAnd165OnlyInEnglish) {
    for (std::uint16_t id = kFirstMessageId; id <= kLastMessageId; ++id) {
        for (const Language& language : kLanguages) {
            SCOPED_TRACE(std::to_string(id) + " " + language.name);
            CString text("previous");
            bool found = LoadCatalogueString(text, id, language.id);
            if (id == IDS_BROWSER_OPEN_FAILED && language.id != LANG_ENGLISH) {
                EXPECT_FALSE(found);
                EXPECT_EQ(text, "previous");
            } else {
                EXPECT_TRUE(found);
                EXPECT_FALSE(text.IsEmpty());
                EXPECT_NE(text, "previous");
            }
        }
    }
}

TEST(CatalogueTest, EveryTextIsValidUtf8WithoutCarriageReturns) {
    for (std::uint16_t id = kFirstMessageId; id <= kLastMessageId; ++id) {
        for (const Language& language : kLanguages) {
            CString text;
            if (!LoadCatalogueString(text, id, language.id)) continue;
            SCOPED_TRACE(std::to_string(id) + " " + language.name);
            EXPECT_TRUE(IsValidUtf8(text.str()));
            EXPECT_EQ(text.Find('\r'), -1);
        }
    }
}

TEST(CatalogueTest, TextsAreExactToTheByte) {
    struct Case {
        std::uint16_t id;
        std::uint16_t language;
        std::string expected;
    };
    // Non-ASCII letters are written as UTF-8 bytes so that the check does not depend on
    // how this file itself is encoded.
    const Case cases[] = {
        {165, LANG_ENGLISH,
         "Unable to open your Internet browser.  Please open your browser and go to the "
         "address below:\n\n%s"},
        {140, LANG_ENGLISH, "Error: %s\n\n LastError: %lu "},
        {140, LANG_FRENCH, "Erreur : %s\n\n LastError : %lu "},
        {136, LANG_ENGLISH, "Error on HttpEndRequest %lu \n"},
        {136, LANG_SPANISH, "Error en HttpEndRequest    %lu  \n"},
        {137, LANG_SPANISH, "Error en HttpSendRequestEx  %lu\n"},
        {137, LANG_ITALIAN, "Errore su HttpSendRequestEx %lu \n"},
        {130, LANG_ENGLISH, "\nFailed to open local file %s."},
        {159, LANG_ENGLISH, "Uploading images to Glimmerprints.\n\n"},
        {135, LANG_ENGLISH, "Error copying image file:\n\n'%s'\n\n to transfer file: \n\n'%s'"},
        {145, LANG_GERMAN, "Pictorvale-Print-Service-Modul"},
        {144, LANG_GERMAN, "\xC3\x9C" "bertragung abgeschlossen."},
        {130, LANG_GERMAN, "\nLokale Datei '%s' konnte nicht ge\xC3\xB6" "ffnet werden."},
        {141, LANG_GERMAN, "Konnte Anforderungskennung '%lu'\n nicht \xC3\xB6" "ffnen"},
        {132, LANG_FRENCH,
         "Une t\xC3\xA2" "che de l'interface du service d'impression Pictorvale est toujours active"},
        {158, LANG_FRENCH, "T\xC3\xA9l\xC3\xA9" "chargement en cours :"},
        {138, LANG_FRENCH, "Erreur de lecture du fichier de contr\xC3\xB4le : \n\n'%s'"},
        {132, LANG_ITALIAN,
         "Un'altra interfaccia per il servizio di stampa di Pictorvale \xC3\xA9 gi\xC3\xA1 aperta"},
        {133, LANG_ITALIAN, "La variabile '%s' del file di controllo  \xC3\xA9 vuota"},
        // Italian 138 has its own form: no quotes, no blank lines, a trailing line feed.
        {138, LANG_ITALIAN, "Errore di lettura del file di controllo %s \n"},
        {138, LANG_ENGLISH, "Error reading control file:\n\n'%s'"},
        {155, LANG_ITALIAN,
         "Impossibile scrivere il seperatore mime nel file mime:\n\n'%s' mentre \xC3\xA9 in corso "
         "l'elaborazione dell'immagine:\n\n'%s'\n\ndal file temporaneo:\n\n'%s'"},
        {155, LANG_SPANISH,
         "Imposible de escribir el separador mime en el archivo mime :\n\n'%s'durante el "
         "procesamiento de la imagen:\n\n'%s'\nde el archivo temporario:\n\n'%s'"},
        {142, LANG_SPANISH, "Fallo InernerWriteFile %lu"},
        {161, LANG_SPANISH, "Error de escritura de WriteMineHeader en el archivo mime"},
        {163, LANG_ENGLISH, "Cancel"},
        {163, LANG_GERMAN, "Abbrechen"},
        {163, LANG_FRENCH, "Abandon"},
        {163, LANG_ITALIAN, "Cancellare"},
        {163, LANG_SPANISH, "Cancelar"},
        {164, LANG_GERMAN, "OK"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.id) + " in " + std::to_string(c.language));
        EXPECT_EQ(Load(c.id, c.language), c.expected);
    }
}

// The values each message is filled with decide its conversions; every language must
// take them in the same order, or the formatter would read the wrong argument type.
TEST(CatalogueTest, EveryLanguageHasTheConversionsOfTheValuesInOrder) {
    using V = std::vector<std::string>;
    const V none;
    const V s{"s"};
    const V lu{"lu"};
    const V sss{"s", "s", "s"};
    const struct {
        std::uint16_t id;
        V conversions;
    } expected[] = {
        {130, s},    {131, lu},   {132, none}, {133, s},         {134, none}, {135, {"s", "s"}},
        {136, lu},   {137, lu},   {138, s},    {139, s},         {140, {"s", "lu"}},
        {141, lu},   {142, lu},   {143, none}, {144, none},      {145, none}, {146, s},
        {147, none}, {148, none}, {149, s},    {150, none},      {151, none}, {152, s},
        {153, none}, {154, sss},  {155, sss},  {156, sss},       {157, s},    {158, none},
        {159, none}, {160, lu},   {161, none}, {162, none},      {163, none}, {164, none},
        {165, s},
    };
    std::uint16_t nextId = kFirstMessageId;
    for (const auto& entry : expected) {
        ASSERT_EQ(entry.id, nextId) << "the table must list every id in order";
        ++nextId;
        for (const Language& language : kLanguages) {
            CString text;
            if (!LoadCatalogueString(text, entry.id, language.id)) continue;
            SCOPED_TRACE(std::to_string(entry.id) + " " + language.name + ": " + text.str());
            EXPECT_EQ(Conversions(text.str()), entry.conversions);
        }
    }
    EXPECT_EQ(nextId, kLastMessageId + 1);
}

TEST(CatalogueTest, ConversionsHelperFindsEveryKind) {
    EXPECT_EQ(Conversions("a %s b %lu c %d %% %5.2f %"),
              (std::vector<std::string>{"s", "lu", "d", "5.2f", "<incomplete>"}));
    EXPECT_TRUE(Conversions("100%% sure").empty());
}

TEST(CatalogueTest, MissingEntryLeavesTargetUnchanged) {
    const struct {
        std::uint16_t id;
        std::uint16_t language;
    } cases[] = {
        {165, LANG_GERMAN}, {165, LANG_FRENCH}, {165, LANG_ITALIAN}, {165, LANG_SPANISH},
        {129, LANG_ENGLISH}, {166, LANG_ENGLISH}, {0, LANG_ENGLISH},
        {130, 0},       // no neutral language
        {130, 2055},    // Swiss German: no fallback to another German
        {130, 0x0009},  // the primary English id alone
        {143, 1032},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.id) + " in " + std::to_string(c.language));
        CString target("kept as it was");
        EXPECT_FALSE(LoadCatalogueString(target, c.id, c.language));
        EXPECT_EQ(target, "kept as it was");
    }
}

TEST(CatalogueTest, LoadReplacesTheWholeContent) {
    CString message;
    ASSERT_TRUE(LoadCatalogueString(message, IDS_EMAIL_PROMPT, LANG_ENGLISH));
    ASSERT_TRUE(LoadCatalogueString(message, IDS_PROGRESS_LABEL, LANG_ENGLISH));
    EXPECT_EQ(message.str(), "Upload progress:");

    ASSERT_TRUE(LoadCatalogueString(message, IDS_EMAIL_PROMPT, LANG_GERMAN));
    ASSERT_TRUE(LoadCatalogueString(message, IDS_PROGRESS_LABEL, LANG_GERMAN));
    EXPECT_EQ(message.str(), "Fortschritt der \xC3\x9C" "bertragung:");
}

TEST(CatalogueTest, FormattedImageHeaderMessageIsCutAt259Bytes) {
    const std::string paths[] = {
        "/tmp/Export/" + std::string(100, 'b') + ".txt",
        "Picture " + std::string(100, 'n'),
        "/tmp/Export/" + std::string(100, 't') + ".jpg",
    };
    for (const Language& language : kLanguages) {
        SCOPED_TRACE(language.name);
        CString format;
        ASSERT_TRUE(LoadCatalogueString(format, IDS_IMAGE_HEADER_WRITE_FAILED, language.id));

        // The full text, filled by hand: each %s in turn takes the next path.
        std::string full;
        std::size_t next = 0;
        std::string_view rest = format.str();
        for (std::size_t pos; (pos = rest.find("%s")) != std::string_view::npos;) {
            full += rest.substr(0, pos);
            full += paths[next++];
            rest = rest.substr(pos + 2);
        }
        full += rest;
        ASSERT_EQ(next, 3u);
        ASSERT_GT(full.size(), 259u);

        CString shown = FormatText(format, paths[0], paths[1], paths[2]);
        EXPECT_EQ(shown.GetLength(), 259);
        EXPECT_EQ(shown.str(), full.substr(0, 259));
    }
    CString english;
    ASSERT_TRUE(LoadCatalogueString(english, IDS_IMAGE_HEADER_WRITE_FAILED, LANG_ENGLISH));
    EXPECT_TRUE(FormatText(english, paths[0], paths[1], paths[2])
                    .str()
                    .starts_with("Unable to write image header to mime file:\n\n'/tmp/Export/bbb"));
}

TEST(LanguageTest, LetterGivesLanguage) {
    const struct {
        const char* letter;
        std::uint16_t language;
    } cases[] = {
        {"E", LANG_ENGLISH}, {"e", LANG_ENGLISH}, {"G", LANG_GERMAN},  {"g", LANG_GERMAN},
        {"F", LANG_FRENCH},  {"f", LANG_FRENCH},  {"I", LANG_ITALIAN}, {"i", LANG_ITALIAN},
        {"S", LANG_SPANISH}, {"s", LANG_SPANISH},
        // Anything but exactly one of the five letters gives English.
        {"", LANG_ENGLISH},  {"EN", LANG_ENGLISH}, {"D", LANG_ENGLISH}, {"GE", LANG_ENGLISH},
        {"G ", LANG_ENGLISH}, {" S", LANG_ENGLISH}, {"\xC3\x89", LANG_ENGLISH},
        {nullptr, LANG_ENGLISH},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.letter ? std::string("\"") + c.letter + "\"" : std::string("null"));
        EXPECT_EQ(LanguageFromLetter(c.letter), c.language);
    }
}

}  // namespace
