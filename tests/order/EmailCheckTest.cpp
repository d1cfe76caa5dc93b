#include <gtest/gtest.h>

#include <string>

#include "order/EmailCheck.h"
#include "order/PrintServiceDlg.h"
#include "support/RecordingWindow.h"

namespace {

TEST(EmailCheck, Rules) {
    struct Case {
        const char* text;
        bool accepted;
    } cases[] = {
        {"a@b.c", true},             // five characters
        {"a@b.", false},             // four: rule 1 (and it ends with a dot)
        {"ab@cd.efg", true},
        {"ab@cd.efgh", false},       // four after the last dot
        {"@ab.cd", true},            // nothing required before the "@"
        {"ab.c@d", true},            // the only dot before the "@", within the last four
        {"ab.cde@fg", false},        // six characters after the last dot
        {"ab@c..d", true},           // two dots in a row
        {"a_b@cd.ef", true},
        {"ab@c_d.ef", false},        // "_" after the last "@"
        {"ab@cd.e_f", false},
        {"ab@cd@ef.gh", false},      // second "@"
        {"ab@cd.efg@", false},       // second "@" as the last character
        {"AZ09-az@x-Y.Z0", true},
        {"a b@cd.ef", false},        // blank
        {"a+b@cd.ef", false},
        {"a'b@cd.ef", false},
        {"äb@cd.ef", false},         // a byte outside ASCII
        {"abcdef", false},           // no "@", no dot
        {"abc@def", false},          // no dot
        {"abc.def", false},          // no "@"
        {"", false},
        {"ab@c.", false},            // passes the seven rules, but ends with a dot
        {"Ann.Lee@Example.COM", true},
    };
    for (const auto& c : cases) EXPECT_EQ(IsProperEmailAddress(c.text), c.accepted) << c.text;
}

TEST(EmailCheck, RefusalTellsAndSelectsInOrder) {
    for (const char* text : {"", "no address"}) {
        CRecordingWindow window;
        window.texts[IDC_EMAIL] = text;
        CPrintServiceDlg dlg(window);
        window.events.clear();
        EXPECT_EQ(dlg.CheckEmailAddress(), -1);
        std::vector<std::string> expected = {"box 0 Please enter a proper email address.", "focus 1000",
                                             "select 1000 0 -1", "scrollcaret 1000"};
        EXPECT_EQ(window.events, expected) << text;
        EXPECT_EQ(window.texts[IDC_EMAIL], text);  // the text itself is never changed
    }
}

TEST(EmailCheck, AcceptedAddressTouchesNothing) {
    CRecordingWindow window;
    window.texts[IDC_EMAIL] = "Ann@Example.com";
    CPrintServiceDlg dlg(window);
    window.events.clear();
    dlg.m_wLanguage = 1031;
    EXPECT_EQ(dlg.CheckEmailAddress(), 0);
    EXPECT_TRUE(window.events.empty());
}

}  // namespace
