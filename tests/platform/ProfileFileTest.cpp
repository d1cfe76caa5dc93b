#include <grp.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "platform/ProfileFile.h"
#include "support/TempDir.h"

namespace {

const std::string kHandEdited = std::string(PV_TEST_DATA_DIR) + "/platform/hand_edited.ini";

std::string Get(const std::string& file, const char* section, const char* key,
                const char* defaultValue = "(default)", int size = 260) {
    return GetPrivateProfileString(section, key, defaultValue, size, file.c_str()).str();
}

bool Put(const std::string& file, const char* section, const char* key, const char* value) {
    return WritePrivateProfileString(section, key, value, file.c_str());
}

std::vector<std::string> FolderEntries(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::string ReplaceOnce(std::string text, const std::string& from, const std::string& to) {
    size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos) text.replace(at, from.size(), to);
    return text;
}

// Runs `body` in a child process and gives its exit code. With `unprivileged` the child
// first becomes the user "nobody" when the tests run as root, so that file permissions
// apply to it; 77 tells that this was not possible.
int RunInChild(bool unprivileged, const std::function<int()>& body) {
    pid_t pid = ::fork();
    if (pid == 0) {
        if (unprivileged && ::geteuid() == 0) {
            if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)
                ::_exit(77);
        }
        ::_exit(body());
    }
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

TEST(ProfileFileRead, HandEditedFileWithCrLfCommentsQuotesAndJunk) {
    std::string bytes = ReadFile(kHandEdited);
    // The fixture must keep its CR LF line ends, or this test proves nothing about them.
    ASSERT_NE(bytes.find("\r\n"), std::string::npos);
    ASSERT_EQ(bytes.find("\n"), bytes.find("\r\n") + 1);

    struct Case {
        const char* section;
        const char* key;
        const char* expected;
    } cases[] = {
        {"Dialog", "CustomerID", "  spaced@example.com  "},  // quotes keep inner blanks
        {"DIALOG", "customerid", "  spaced@example.com  "},  // the first of two wins
        {" Dialog\t", " CustomerID ", "  spaced@example.com  "},
        {"Dialog", "Empty", ""},                   // present but empty is not missing
        {"Dialog", "Quoted", "single"},
        {"Dialog", "Mixed", "\"open'"},            // quotes that do not match stay
        {"Dialog", "Name", "Gr\xC3\xB6\xC3\x9F" "e"},
        {"service", "HOST", "prints.example:8080"},  // trailing tab and CR dropped
        {"Service", "CustomerID", "(default)"},    // key of another section
        {"Dialog", "key before", "(default)"},     // before any section: in none
        {"Dialog", "this line is junk", "(default)"},
        {"Broken section", "Empty", "(default)"},  // "[Broken section" starts no section
        {"Dialog", "; the next line has no equals sign", "(default)"},
        {"Missing", "CustomerID", "(default)"},
        {"Dialog", "Missing", "(default)"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Get(kHandEdited, c.section, c.key), c.expected) << c.section << "/" << c.key;
}

TEST(ProfileFileRead, MissingFileOrArgumentsGiveTheDefault) {
    CTempDir dir;
    EXPECT_EQ(Get(dir / "none.ini", "Dialog", "CustomerID", "fallback"), "fallback");
    EXPECT_EQ(Get(dir / "none.ini", "Dialog", "CustomerID", nullptr), "");
    EXPECT_EQ(Get(dir.path(), "Dialog", "CustomerID", "folder"), "folder");  // not a file
    WriteFile(dir / "a.ini", "[Dialog]\nCustomerID=x\n");
    EXPECT_EQ(Get(dir / "a.ini", nullptr, "CustomerID", "d"), "d");
    EXPECT_EQ(Get(dir / "a.ini", "Dialog", nullptr, "d"), "d");
    EXPECT_EQ(GetPrivateProfileString("Dialog", "CustomerID", "d", 260, nullptr).str(), "d");
}

TEST(ProfileFileRead, KeepsAtMostSizeMinusOneBytes) {
    CTempDir dir;
    WriteFile(dir / "a.ini", "[S]\nk=abcdef\n");
    struct Case {
        int size;
        const char* value;
        const char* fallback;
    } cases[] = {
        {-5, "", ""}, {0, "", ""}, {1, "", ""}, {2, "a", "x"},
        {6, "abcde", "xyz"}, {7, "abcdef", "xyz"}, {1000, "abcdef", "xyz"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Get(dir / "a.ini", "S", "k", "xyz", c.size), c.value) << c.size;
        EXPECT_EQ(Get(dir / "a.ini", "S", "missing", "xyz", c.size), c.fallback) << c.size;
    }
    // A saved address of 60 characters comes back as its first 49 from a 50-byte buffer.
    std::string address(50, 'a');
    address += "@examp.com";
    WriteFile(dir / "b.ini", "[Dialog]\nCustomerID=" + address + "\n");
    EXPECT_EQ(Get(dir / "b.ini", "Dialog", "CustomerID", "", 50), address.substr(0, 49));
}

TEST(ProfileFileRead, SurvivesLongLinesNulBytesAndBinary) {
    CTempDir dir;
    std::string longValue(200000, 'y');
    WriteFile(dir / "long.ini", "[S]\nx=" + longValue + "\nz=1\n");
    EXPECT_EQ(Get(dir / "long.ini", "S", "x", "", 50), std::string(49, 'y'));
    EXPECT_EQ(Get(dir / "long.ini", "S", "z"), "1");

    // A NUL byte ends a line's text; the lines after it still count.
    WriteFile(dir / "nul.ini", std::string("[S]\nk=ab\0cd\n\0m=3\nm=2\n", 21));
    EXPECT_EQ(Get(dir / "nul.ini", "S", "k"), "ab");
    EXPECT_EQ(Get(dir / "nul.ini", "S", "m"), "2");

    std::string binary;
    unsigned state = 12345;
    for (int i = 0; i < 100000; ++i) {
        state = state * 1103515245u + 12345u;
        binary += static_cast<char>(state >> 24);
    }
    WriteFile(dir / "bin.ini", binary + "\n[S]\nafter=binary\n");
    EXPECT_EQ(Get(dir / "bin.ini", "S", "after"), "binary");
    WriteFile(dir / "odd.ini", "[\n]\n[[]]\n=\n==\n'\n[S\n\"");
    EXPECT_EQ(Get(dir / "odd.ini", "S", "k"), "(default)");
}

TEST(ProfileFileWrite, CreatesFolderFileAndSection) {
    CTempDir dir;
    std::string file = dir / "a/b/c/pvprint.ini";
    ASSERT_TRUE(Put(file, "Dialog", "CustomerID", "me@example.com"));
    EXPECT_EQ(ReadFile(file), "[Dialog]\nCustomerID=me@example.com\n");
    EXPECT_EQ(FolderEntries(dir / "a/b/c"), std::vector<std::string>{"pvprint.ini"});

    // A folder that cannot be created: a file stands where it would go.
    WriteFile(dir / "plain", "x");
    EXPECT_FALSE(Put(dir / "plain/sub/pvprint.ini", "Dialog", "CustomerID", "x"));
    EXPECT_EQ(ReadFile(dir / "plain"), "x");
}

TEST(ProfileFileWrite, UpdatesInPlaceAndKeepsEveryOtherByte) {
    CTempDir dir;
    std::string original = ReadFile(kHandEdited);
    WriteFile(dir / "s.ini", original);

    ASSERT_TRUE(Put(dir / "s.ini", "dialog", "CUSTOMERID", "new@example.com"));
    // Only the first CustomerID line changes; its spelling and spacing before the value stay.
    EXPECT_EQ(ReadFile(dir / "s.ini"),
              ReplaceOnce(original, "  CustomerID  =  \"  spaced@example.com  \"\r\n",
                          "  CustomerID  =  new@example.com\r\n"));
    EXPECT_EQ(Get(dir / "s.ini", "Dialog", "CustomerID"), "new@example.com");

    ASSERT_TRUE(Put(dir / "s.ini", "Service", "Host", "other.example"));
    EXPECT_EQ(ReadFile(dir / "s.ini"),
              ReplaceOnce(ReplaceOnce(original, "  CustomerID  =  \"  spaced@example.com  \"\r\n",
                                      "  CustomerID  =  new@example.com\r\n"),
                          "Host = prints.example:8080\t\r\n", "Host = other.example\r\n"));
    EXPECT_EQ(FolderEntries(dir.path()), std::vector<std::string>{"s.ini"});
}

TEST(ProfileFileWrite, AppendsMissingKeyAtTheEndOfItsSection) {
    CTempDir dir;
    std::string original = ReadFile(kHandEdited);
    WriteFile(dir / "s.ini", original);

    // Before the blank line that ends [Dialog], in the file's CR LF style.
    ASSERT_TRUE(Put(dir / "s.ini", "Dialog", "Added", "1"));
    std::string expected = ReplaceOnce(original, "customerid=second@example.com\r\n",
                                       "customerid=second@example.com\r\nAdded=1\r\n");
    EXPECT_EQ(ReadFile(dir / "s.ini"), expected);

    // [Service] is the last section: the key goes after its last line.
    ASSERT_TRUE(Put(dir / "s.ini", "Service", "Port", "8080"));
    EXPECT_EQ(ReadFile(dir / "s.ini"), expected + "Port=8080\r\n");

    struct Case {
        const char* name;
        std::string before;
        std::string after;
    } cases[] = {
        {"no final line end", "[A]\nx=1", "[A]\nx=1\nk=v\n"},
        {"before trailing blanks and comments", "[A]\nx=1\n\n; about B\n[B]\ny=2\n",
         "[A]\nx=1\nk=v\n\n; about B\n[B]\ny=2\n"},
        {"empty section", "[A]\n[B]\n", "[A]\nk=v\n[B]\n"},
        {"key of the same name elsewhere", "k=top\n[B]\nk=b\n[A]\n", "k=top\n[B]\nk=b\n[A]\nk=v\n"},
        {"first of repeated sections", "[A]\nx=1\n[B]\n[A]\ny=2\n", "[A]\nx=1\nk=v\n[B]\n[A]\ny=2\n"},
        {"repeated key: the first, the one read", "[A]\nk=1\nk=2\n", "[A]\nk=v\nk=2\n"},
        {"key in a repeated section", "[A]\n[B]\n[a]\nk=old\n", "[A]\n[B]\n[a]\nk=v\n"},
    };
    for (const auto& c : cases) {
        WriteFile(dir / "t.ini", c.before);
        ASSERT_TRUE(Put(dir / "t.ini", "A", "k", "v")) << c.name;
        EXPECT_EQ(ReadFile(dir / "t.ini"), c.after) << c.name;
        EXPECT_EQ(Get(dir / "t.ini", "A", "k"), "v") << c.name;
    }
}

TEST(ProfileFileWrite, AppendsNewSectionAtTheEnd) {
    CTempDir dir;
    struct Case {
        const char* name;
        std::string before;
        std::string after;
    } cases[] = {
        {"empty file", "", "[Dialog]\nCustomerID=v\n"},
        {"after a key", "[A]\nx=1\n", "[A]\nx=1\n\n[Dialog]\nCustomerID=v\n"},
        {"no final line end", "[A]\nx=1", "[A]\nx=1\n\n[Dialog]\nCustomerID=v\n"},
        {"after a blank line", "[A]\nx=1\n\n", "[A]\nx=1\n\n[Dialog]\nCustomerID=v\n"},
        {"crlf file", "[A]\r\nx=1\r\n", "[A]\r\nx=1\r\n\r\n[Dialog]\r\nCustomerID=v\r\n"},
        {"key before any section is not in it", "CustomerID=top\n",
         "CustomerID=top\n\n[Dialog]\nCustomerID=v\n"},
    };
    for (const auto& c : cases) {
        WriteFile(dir / "t.ini", c.before);
        ASSERT_TRUE(Put(dir / "t.ini", "Dialog", "CustomerID", "v")) << c.name;
        EXPECT_EQ(ReadFile(dir / "t.ini"), c.after) << c.name;
    }
}

TEST(ProfileFileWrite, ValuesRoundTrip) {
    CTempDir dir;
    std::string file = dir / "r.ini";
    const std::string values[] = {
        std::string(100, 'v'),
        "  leading blanks",
        "trailing blanks \t",
        "\"quoted\"",
        "'single'",
        "\"",
        "'",
        "\"mixed'",
        "",
        "a=b=c",
        "; not a comment",
        "[not a section]",
        "Gr\xC3\xB6\xC3\x9F" "e",
        "\tx",
    };
    for (size_t i = 0; i < std::size(values); ++i) {
        std::string key = "k" + std::to_string(i);
        ASSERT_TRUE(Put(file, "R", key.c_str(), values[i].c_str())) << values[i];
        EXPECT_EQ(Get(file, "R", key.c_str(), "(default)", 1000), values[i]);
    }
    // Writing the later keys left the earlier ones intact.
    for (size_t i = 0; i < std::size(values); ++i)
        EXPECT_EQ(Get(file, "R", ("k" + std::to_string(i)).c_str(), "(default)", 1000), values[i]);
    // Plain values are written as they are.
    ASSERT_TRUE(Put(dir / "p.ini", "S", "k", "plain value"));
    EXPECT_EQ(ReadFile(dir / "p.ini"), "[S]\nk=plain value\n");
}

TEST(ProfileFileWrite, RefusesWhatWouldBreakTheFile) {
    CTempDir dir;
    const std::string original = "[S]\r\nk=old\r\n";
    WriteFile(dir / "s.ini", original);
    struct Case {
        const char* section;
        const char* key;
        const char* value;
    } cases[] = {
        {"S", "k", "line\nbreak"}, {"S", "k", "carriage\rreturn"}, {"S", "k", "a\r\n[X]\r\nb=c"},
        {"S", "k", nullptr},       {"S", "new\nkey", "v"},          {"S\n", "k", "v"},
        {"S", "", "v"},            {"S", " \t", "v"},               {"S", "a=b", "v"},
        {"S", "[k", "v"},          {"S", ";k", "v"},                {"a]b", "k", "v"},
        {nullptr, "k", "v"},       {"S", nullptr, "v"},
    };
    for (const auto& c : cases) {
        EXPECT_FALSE(Put(dir / "s.ini", c.section, c.key, c.value))
            << (c.section ? c.section : "null") << "/" << (c.key ? c.key : "null");
        EXPECT_EQ(ReadFile(dir / "s.ini"), original);
    }
    EXPECT_FALSE(WritePrivateProfileString("S", "k", "v", nullptr));
    EXPECT_FALSE(WritePrivateProfileString("S", "k", "v", ""));
    EXPECT_FALSE(Put(dir.path(), "S", "k", "v"));  // a folder is not a settings file
    EXPECT_EQ(FolderEntries(dir.path()), std::vector<std::string>{"s.ini"});
}

TEST(ProfileFileWrite, KeepsModeAndSymbolicLink) {
    CTempDir dir;
    WriteFile(dir / "real.ini", "[S]\nk=old\n");
    ASSERT_EQ(::chmod((dir / "real.ini").c_str(), 0640), 0);
    std::filesystem::create_symlink(dir / "real.ini", dir / "link.ini");

    ASSERT_TRUE(Put(dir / "link.ini", "S", "k", "new"));
    EXPECT_TRUE(std::filesystem::is_symlink(dir / "link.ini"));
    EXPECT_EQ(ReadFile(dir / "real.ini"), "[S]\nk=new\n");
    struct stat st {};
    ASSERT_EQ(::stat((dir / "real.ini").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
}

TEST(ProfileFileWrite, ReadOnlyFolderGivesFalseAndKeepsTheOldFile) {
    CTempDir dir;
    ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
    MakeDirs(dir / "ro");
    const std::string original = "; mine\n[Dialog]\nCustomerID=old@example.com\n";
    WriteFile(dir / "ro/s.ini", original);
    ASSERT_EQ(::chmod((dir / "ro/s.ini").c_str(), 0644), 0);
    ASSERT_EQ(::chmod((dir / "ro").c_str(), 0555), 0);

    int code = RunInChild(true, [&] {
        return Put(dir / "ro/s.ini", "Dialog", "CustomerID", "new@example.com") ? 1 : 0;
    });
    if (code == 77) GTEST_SKIP() << "cannot drop root rights";
    EXPECT_EQ(code, 0);
    EXPECT_EQ(ReadFile(dir / "ro/s.ini"), original);
    EXPECT_EQ(FolderEntries(dir / "ro"), std::vector<std::string>{"s.ini"});
}

TEST(ProfileFileWrite, UnreadableFileIsNotReplaced) {
    CTempDir dir;
    ASSERT_EQ(::chmod(dir.path().c_str(), 0777), 0);
    const std::string original = "[Dialog]\nCustomerID=old@example.com\n[Other]\nx=1\n";
    WriteFile(dir / "s.ini", original);
    ASSERT_EQ(::chmod((dir / "s.ini").c_str(), 0), 0);

    int code = RunInChild(true, [&] {
        return Put(dir / "s.ini", "Dialog", "CustomerID", "new@example.com") ? 1 : 0;
    });
    if (code == 77) GTEST_SKIP() << "cannot drop root rights";
    EXPECT_EQ(code, 0);
    ASSERT_EQ(::chmod((dir / "s.ini").c_str(), 0600), 0);
    EXPECT_EQ(ReadFile(dir / "s.ini"), original);
    EXPECT_EQ(FolderEntries(dir.path()), std::vector<std::string>{"s.ini"});
}

TEST(ProfileFileWrite, FailedWriteRemovesTheTemporaryFileAndKeepsTheOld) {
    CTempDir dir;
    const std::string original = "[Dialog]\nCustomerID=old@example.com\n";
    WriteFile(dir / "s.ini", original);
    const std::string big(64 * 1024, 'b');

    // A file-size limit makes the write fail part way, like a full disk.
    int code = RunInChild(false, [&] {
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{4096, 4096};
        if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) return 2;
        return Put(dir / "s.ini", "Dialog", "CustomerID", big.c_str()) ? 1 : 0;
    });
    EXPECT_EQ(code, 0);
    EXPECT_EQ(ReadFile(dir / "s.ini"), original);
    EXPECT_EQ(FolderEntries(dir.path()), std::vector<std::string>{"s.ini"});

    // Without the limit the same write goes through.
    ASSERT_TRUE(Put(dir / "s.ini", "Dialog", "CustomerID", big.c_str()));
    EXPECT_EQ(Get(dir / "s.ini", "Dialog", "CustomerID", "", 100000), big);
}

}  // namespace
