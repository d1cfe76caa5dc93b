#include <gtest/gtest.h>

#include <string>

#include "platform/Format.h"

namespace {

TEST(Format, FillsValues) {
    EXPECT_EQ(FormatText("Format_%03d", 7), "Format_007");
    EXPECT_EQ(FormatText("Format_%03d", 1000), "Format_1000");
    EXPECT_EQ(FormatText("%s and %s", CString("a"), "b"), "a and b");
    EXPECT_EQ(FormatText("LastError: %lu ", 2147954407UL), "LastError: 2147954407 ");
    EXPECT_EQ(FormatText("%d", -5), "-5");
}

TEST(Format, CutsAfter259Bytes) {
    std::string longText(400, 'x');
    CString out = FormatText("<%s>", CString(longText));
    EXPECT_EQ(out.GetLength(), 259);
    EXPECT_EQ(out.Left(2), "<x");
    EXPECT_EQ(FormatBounded(80, "%s", CString(longText)).GetLength(), 79);
}

TEST(Format, ValuesAreNeverFormats) {
    // A value that looks like a format is copied, not interpreted.
    EXPECT_EQ(FormatText("[%s]", CString("%s%n%d")), "[%s%n%d]");
}

}  // namespace
