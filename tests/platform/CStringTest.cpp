#include <gtest/gtest.h>

#include "platform/CString.h"

namespace {

// Tokenize with "|": skip separators, take the longest run of others, "" at the end.
TEST(CStringTokenize, SkipsRunsOfSeparatorsAndEndsWithEmpty) {
    struct Case {
        const char* text;
        std::vector<std::string> values;
    } cases[] = {
        {"a|b|c", {"a", "b", "c"}},
        {"a||b", {"a", "b"}},
        {"|a|b", {"a", "b"}},
        {"||||", {}},
        {"", {}},
        {" a | b ", {" a ", " b "}},
        {"a|", {"a"}},
    };
    for (const auto& c : cases) {
        CString text(c.text);
        int pos = 0;
        std::vector<std::string> got;
        for (;;) {
            CString v = text.Tokenize("|", pos);
            if (v.IsEmpty()) break;
            got.push_back(v.str());
        }
        EXPECT_EQ(got, c.values) << c.text;
        EXPECT_EQ(pos, -1) << c.text;
        // Further calls stay at the end.
        EXPECT_TRUE(text.Tokenize("|", pos).IsEmpty());
    }
}

TEST(CString, FindAndSlices) {
    CString s("/tmp/Export/order.txt");
    EXPECT_EQ(s.ReverseFind('/'), 11);
    EXPECT_EQ(s.ReverseFind('#'), -1);
    EXPECT_EQ(s.Find('/'), 0);
    EXPECT_EQ(s.Find('/', 1), 4);
    EXPECT_EQ(s.Find("order"), 12);
    EXPECT_EQ(s.Find("order", 13), -1);
    EXPECT_EQ(s.Find("x", 100), -1);
    EXPECT_EQ(s.Left(11), "/tmp/Export");
    EXPECT_EQ(s.Left(-3), "");
    EXPECT_EQ(s.Left(500), s);
    EXPECT_EQ(s.Mid(12), "order.txt");
    EXPECT_EQ(s.Mid(12, 5), "order");
    EXPECT_EQ(s.Mid(100), "");
    EXPECT_EQ(s.Right(3), "txt");
}

TEST(CString, CaseFoldingTouchesAsciiOnly) {
    CString s("Ünïcode ABC xyz");
    CString upper = s;
    upper.MakeUpper();
    EXPECT_EQ(upper, "ÜNïCODE ABC XYZ");
    CString lower = s;
    lower.MakeLower();
    EXPECT_EQ(lower, "Ünïcode abc xyz");
    EXPECT_EQ(CompareNoCaseAscii("4.00X6.00", "4.00x6.00"), 0);
    EXPECT_NE(CompareNoCaseAscii("Ä", "ä"), 0);
    EXPECT_LT(CompareNoCaseAscii("a", "ab"), 0);
    EXPECT_GT(CompareNoCaseAscii("b", "A"), 0);
}

TEST(CString, RemoveDropsEveryOccurrence) {
    CString s("\"/tmp/My Order/o\".ctl\"");
    EXPECT_EQ(s.Remove('"'), 3);
    EXPECT_EQ(s, "/tmp/My Order/o.ctl");
}

}  // namespace
