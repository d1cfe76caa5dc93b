#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/Registry.h"
#include "support/TempDir.h"

namespace {

const std::string kExported = std::string(PV_TEST_DATA_DIR) + "/platform/exported.reg";
const char* const kIniFilePath = "SOFTWARE\\Tessaly\\Pictorvale Gallery\\1.0\\IniFilePath";

// The default value, or nothing when the lookup fails; a failed lookup must leave the
// caller's text alone.
std::optional<std::string> Query(const std::vector<CString>& files, HKey root, const char* subKey) {
    CString value("untouched");
    if (!RegQueryDefaultValue(files, root, subKey, value)) {
        EXPECT_EQ(value, "untouched") << subKey;
        return std::nullopt;
    }
    return value.str();
}

std::optional<std::string> QueryText(const std::string& text, HKey root, const char* subKey) {
    CTempDir dir;
    WriteFile(dir / "r.reg", text);
    return Query({CString(dir / "r.reg")}, root, subKey);
}

TEST(Registry, ExportedFileWithBothHivesEscapesAndValueTypes) {
    std::string bytes = ReadFile(kExported);
    // The fixture must keep its byte-order mark and CR LF line ends.
    ASSERT_EQ(bytes.substr(0, 3), "\xEF\xBB\xBF");
    ASSERT_EQ(bytes.find("\n"), bytes.find("\r\n") + 1);

    using enum HKey;
    struct Case {
        HKey root;
        const char* subKey;
        std::optional<std::string> value;
    } cases[] = {
        {LocalMachine, kIniFilePath, "/opt/pictorvale/data/relax.ini"},
        {LocalMachine, "software\\TESSALY\\pictorvale gallery\\1.0\\inifilepath",
         "/opt/pictorvale/data/relax.ini"},
        {ClassesRoot, kIniFilePath, std::nullopt},  // the other hive
        {ClassesRoot, "http\\shell\\open\\command", "\"/usr/bin/firefox\" -new-window %1"},
        {LocalMachine, "http\\shell\\open\\command", std::nullopt},
        {ClassesRoot, "HTTP\\Shell\\Open\\Command", "\"/usr/bin/firefox\" -new-window %1"},
        // \\ and \" are escapes; a lone backslash stays; blanks around @ and = are allowed.
        {ClassesRoot, "Escapes", "C:\\Program Files\\Viewer \"x\" C:\\Data"},
        {LocalMachine, "SOFTWARE\\Tessaly", "parent key, not the one asked for"},
        {LocalMachine, "SOFTWARE\\Tessaly\\Pictorvale Gallery", std::nullopt},  // no such key
        {LocalMachine, "SOFTWARE\\OnlyNamed", std::nullopt},
        {LocalMachine, "SOFTWARE\\Number", std::nullopt},  // dword is no text
        {LocalMachine, "SOFTWARE\\Expandable", "%PV_HOME%\\data\\relax.ini"},  // UTF-16LE lines
        {LocalMachine, "SOFTWARE\\Binary", "/bin"},  // trailing NULs dropped
        {LocalMachine, "SOFTWARE\\Short Form", "short machine"},
        {ClassesRoot, "short\\classes", "short classes"},
        {LocalMachine, "SOFTWARE\\Deleted", std::nullopt},
        {LocalMachine, "SOFTWARE\\Unterminated", std::nullopt},
        {LocalMachine, "SOFTWARE\\Junk", "after the junk"},
        {LocalMachine, "SOFTWARE\\Missing", std::nullopt},
        {LocalMachine, "", std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Query({CString(kExported)}, c.root, c.subKey), c.value) << c.subKey;
    CString value("untouched");
    EXPECT_FALSE(RegQueryDefaultValue({CString(kExported)}, HKey::LocalMachine, nullptr, value));
}

TEST(Registry, ValueForms) {
    using namespace std::string_literals;
    struct Case {
        const char* name;
        std::string text;
        std::optional<std::string> value;
    } cases[] = {
        {"no header, lf", "[HKLM\\K]\n@=\"v\"\n", "v"},
        {"no final line end", "[HKLM\\K]\n@=\"v\"", "v"},
        {"empty string", "[HKLM\\K]\n@=\"\"\n", ""},
        {"escaped backslash before quote", "[HKLM\\K]\n@=\"C:\\\\\"\n", "C:\\"},
        {"text after closing quote", "[HKLM\\K]\n@=\"v\" trailing\n", "v"},
        {"escaped quote does not close", "[HKLM\\K]\n@=\"v\\\"\n", std::nullopt},
        {"unquoted text", "[HKLM\\K]\n@=plain\n", std::nullopt},
        {"deleted value", "[HKLM\\K]\n@=-\n", std::nullopt},
        {"nothing after =", "[HKLM\\K]\n@=\n", std::nullopt},
        {"last line of the key wins", "[HKLM\\K]\n@=\"a\"\n@=\"b\"\n", "b"},
        {"key repeated later", "[HKLM\\K]\n@=\"a\"\n[HKLM\\L]\n@=\"x\"\n[HKLM\\K]\n@=\"b\"\n", "b"},
        {"later unreadable line removes it", "[HKLM\\K]\n@=\"a\"\n@=\"b\n", std::nullopt},
        {"REGEDIT4 hex(2) is bytes", "REGEDIT4\n\n[HKLM\\K]\n@=hex(2):2f,6f,70,74,00\n", "/opt"},
        {"version 5 hex(1) is UTF-16LE",
         "Windows Registry Editor Version 5.00\n[HKLM\\K]\n@=hex(1):47,00,72,00,f6,00,00,00\n",
         "Gr\xC3\xB6"},
        {"version 5 hex(7) gives its first text",
         "Windows Registry Editor Version 5.00\n[HKLM\\K]\n@=hex(7):61,00,00,00,62,00,00,00,00,00\n",
         "a"},
        {"version 5 hex is still bytes",
         "Windows Registry Editor Version 5.00\n[HKLM\\K]\n@=hex:61,62,00\n", "ab"},
        {"hex continued with blanks", "[HKLM\\K]\n@=HEX(2): 61, 62 ,\\\n   63,\\\n\t64\n", "abcd"},
        {"empty hex list", "[HKLM\\K]\n@=hex:\n", ""},
        {"bad hex item", "[HKLM\\K]\n@=hex:61,zz\n", std::nullopt},
        {"hex without colon", "[HKLM\\K]\n@=hex(2)61\n", std::nullopt},
        {"dword", "[HKLM\\K]\n@=dword:0000002f\n", std::nullopt},
        {"continuation ends the file", "[HKLM\\K]\n@=hex:61,\\", "a"},
        {"named value only", "[HKLM\\K]\n\"@\"=\"named\"\n", std::nullopt},
        {"value before any key", "@=\"top\"\n[HKLM\\K]\n", std::nullopt},
        {"values after a deletion line", "[HKLM\\K]\n[-HKLM\\K]\n@=\"gone\"\n", std::nullopt},
        {"values after a broken key line", "[HKLM\\K]\n[HKLM\\K\n@=\"v\"\n", std::nullopt},
        {"key line with a trailing blank", "[HKLM\\K] \n@=\"v\"\n", "v"},
        {"prefix of the key", "[HKLM\\K\\Sub]\n@=\"v\"\n", std::nullopt},
        {"comment that looks like a value", "[HKLM\\K]\n;@=\"c\"\n", std::nullopt},
        {"other root", "[HKEY_USERS\\K]\n@=\"v\"\n", std::nullopt},
        {"NUL ends the line", "[HKLM\\K]\n@=\"a\0b\"\n"s, std::nullopt},
        {"UTF-16LE file",
         "\xFF\xFE[\0H\0K\0L\0M\0\\\0K\0]\0\r\0\n\0@\0=\0\"\0\xE9\0\"\0\r\0\n\0"s,
         "\xC3\xA9"},
    };
    for (const auto& c : cases) EXPECT_EQ(QueryText(c.text, HKey::LocalMachine, "K"), c.value) << c.name;
}

TEST(Registry, SurvivesBinaryAndLongLines) {
    std::string binary;
    unsigned state = 987654321;
    for (int i = 0; i < 100000; ++i) {
        state = state * 1103515245u + 12345u;
        binary += static_cast<char>(state >> 24);
    }
    EXPECT_EQ(QueryText(binary + "\n[HKLM\\K]\n@=\"after\"\n", HKey::LocalMachine, "K"), "after");
    std::string longValue(300000, 'x');
    EXPECT_EQ(QueryText("[HKLM\\K]\n@=\"" + longValue + "\"\n", HKey::LocalMachine, "K"), longValue);
    EXPECT_EQ(QueryText("[\n]\n[-\n[]\n@\n@=\n@=\"\n@=hex(\n\\\n", HKey::LocalMachine, "K"), std::nullopt);
    EXPECT_EQ(QueryText("\xFF\xFE\x41", HKey::LocalMachine, "K"), std::nullopt);  // odd UTF-16
}

TEST(Registry, FilesInOrderFirstMatchWins) {
    CTempDir dir;
    WriteFile(dir / "user.reg", "[HKLM\\K]\n@=\"user\"\n[HKLM\\NamedOnly]\n\"x\"=\"1\"\n");
    WriteFile(dir / "system.reg",
              "[HKLM\\K]\n@=\"system\"\n[HKLM\\NamedOnly]\n@=\"system default\"\n"
              "[HKLM\\SystemOnly]\n@=\"only here\"\n");
    std::vector<CString> files = {CString(dir / "missing.reg"), CString(dir / "user.reg"),
                                  CString(dir / "system.reg")};
    EXPECT_EQ(Query(files, HKey::LocalMachine, "K"), "user");
    // A file that has the key without a default value does not hide the next file's.
    EXPECT_EQ(Query(files, HKey::LocalMachine, "NamedOnly"), "system default");
    EXPECT_EQ(Query(files, HKey::LocalMachine, "SystemOnly"), "only here");
    EXPECT_EQ(Query(files, HKey::LocalMachine, "Nowhere"), std::nullopt);
    EXPECT_EQ(Query({CString(dir / "system.reg"), CString(dir / "user.reg")}, HKey::LocalMachine, "K"),
              "system");
    EXPECT_EQ(Query({CString(dir / "missing.reg")}, HKey::LocalMachine, "K"), std::nullopt);
    EXPECT_EQ(Query({CString(dir.path())}, HKey::LocalMachine, "K"), std::nullopt);  // a folder
    EXPECT_EQ(Query({}, HKey::LocalMachine, "K"), std::nullopt);
}

TEST(Registry, UserFileUnderXdgConfigHomeComesFirst) {
    CTempDir dir;
    const char* const key = "SOFTWARE\\PictorvaleRegistryTest\\Xdg";
    {
        CScopedEnv xdg("XDG_CONFIG_HOME", (dir / "config").c_str());
        std::vector<CString> files = RegistryFiles();
        ASSERT_EQ(files.size(), 2u);
        EXPECT_EQ(files[0], CString(dir / "config/pictorvale/registry.reg"));
        EXPECT_EQ(files[1], "/etc/pictorvale/registry.reg");

        CString value("untouched");
        EXPECT_FALSE(RegQueryDefaultValue(HKey::LocalMachine, key, value));
        EXPECT_EQ(value, "untouched");
        MakeDirs(dir / "config/pictorvale");
        WriteFile(dir / "config/pictorvale/registry.reg",
                  "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\" +
                      std::string(key) + "]\r\n@=\"/from/xdg\"\r\n");
        ASSERT_TRUE(RegQueryDefaultValue(HKey::LocalMachine, key, value));
        EXPECT_EQ(value, "/from/xdg");
    }
    // Without XDG_CONFIG_HOME the user file is under $HOME/.config.
    CScopedEnv noXdg("XDG_CONFIG_HOME", nullptr);
    CScopedEnv home("HOME", (dir / "home").c_str());
    std::vector<CString> files = RegistryFiles();
    ASSERT_EQ(files.size(), 2u);
    EXPECT_EQ(files[0], CString(dir / "home/.config/pictorvale/registry.reg"));
}

}  // namespace
