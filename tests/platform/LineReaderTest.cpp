#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/LineReader.h"
#include "support/TempDir.h"

namespace {

// Reads the whole file the way every pass does: test for the end before each read.
std::vector<std::string> ReadAll(const std::string& path) {
    CLineReader reader(path.c_str());
    EXPECT_TRUE(reader.IsOpen());
    std::vector<std::string> lines;
    CString line;
    while (!reader.AtEnd()) {
        if (!reader.ReadLine(line)) continue;
        lines.push_back(line.str());
    }
    EXPECT_FALSE(reader.Failed());
    return lines;
}

TEST(LineReader, ReadsLikeFgetsAfterCrLfTranslation) {
    struct Case {
        const char* name;
        std::string bytes;
        std::vector<std::string> lines;
    } cases[] = {
        {"lf", "a\nb\n", {"a\n", "b\n"}},
        {"no final lf", "a\nb", {"a\n", "b"}},
        {"crlf", "a\r\nb\r\n", {"a\n", "b\n"}},
        {"lone cr stays", "a\rb\n", {"a\rb\n"}},
        {"cr at end", "a\r", {"a\r"}},
        {"crcrlf", "a\r\r\n", {"a\r\n"}},
        {"empty", "", {}},
        {"empty lines", "\n\n", {"\n", "\n"}},
        {"nul stops the text", std::string("ab\0cd\nx\n", 8), {"ab", "x\n"}},
    };
    CTempDir dir;
    for (const auto& c : cases) {
        WriteFile(dir / "f", c.bytes);
        EXPECT_EQ(ReadAll(dir / "f"), c.lines) << c.name;
    }
}

TEST(LineReader, LongLinesAreReadIn259ByteChunks) {
    CTempDir dir;
    WriteFile(dir / "f", std::string(300, 'x') + "\n");
    auto lines = ReadAll(dir / "f");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], std::string(259, 'x'));
    EXPECT_EQ(lines[1], std::string(41, 'x') + "\n");

    // A CR LF pair split across the chunk boundary still becomes one LF.
    WriteFile(dir / "f", std::string(258, 'y') + "\r\nz");
    lines = ReadAll(dir / "f");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], std::string(258, 'y') + "\n");
    EXPECT_EQ(lines[1], "z");
}

TEST(LineReader, MissingFileAndFolderFail) {
    CTempDir dir;
    EXPECT_FALSE(CLineReader((dir / "missing").c_str()).IsOpen());
    // A folder opens on Linux but every read fails: the reader must report it, not loop.
    CLineReader folder(dir.path().c_str());
    if (folder.IsOpen()) {
        CString line;
        EXPECT_FALSE(folder.ReadLine(line));
        EXPECT_TRUE(folder.Failed());
    }
}

}  // namespace
