#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "host/Catalogue.h"
#include "order/PrintServiceDlg.h"
#include "platform/ErrorText.h"
#include "support/RecordingWindow.h"
#include "support/TempDir.h"

namespace {

struct Parsed {
    int index;
    std::string file, format, reserved, name;
    int quantity;
    bool operator==(const Parsed&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Parsed& p) {
    return os << p.index << ":" << p.file << "|" << p.quantity << "|" << p.format << "|" << p.reserved
              << "|" << p.name;
}

class ControlFileTest : public ::testing::Test {
protected:
    CRecordingWindow window;
    CPrintServiceDlg dlg{window};
    CTempDir dir;

    void SetControlFile(const std::string& bytes) {
        dlg.m_strControlFile = (dir / "order.ctl").c_str();
        WriteFile(dir / "order.ctl", bytes);
    }

    // Runs one pass; returns the records, or the raised text in `error`.
    std::vector<Parsed> Pass(std::string* error = nullptr) {
        std::vector<Parsed> got;
        try {
            dlg.ReadControlFile([&](int index, const OrderRecord& r) {
                got.push_back({index, r.strTempFile.str(), r.strFormat.str(), r.strReserved.str(),
                               r.strImageName.str(), r.nQuantity});
            });
        } catch (const CErrorText& e) {
            if (error) *error = e.Text().str();
            else ADD_FAILURE() << "raised: " << e.Text().str();
        }
        return got;
    }
};

TEST_F(ControlFileTest, ParseRecordFindsFiveValues) {
    const Parsed beach{0, "/tmp/a.jpg", "4.00x6.00", "x", "Beach", 2};
    struct Case {
        const char* line;
        Parsed expected;
    } cases[] = {
        {"/tmp/a.jpg|2|4.00x6.00|x|Beach", beach},
        {"/tmp/a.jpg||2|4.00x6.00|x|Beach", beach},       // doubled separator
        {"|/tmp/a.jpg|2|4.00x6.00|x|Beach", beach},       // leading separator
        {"/tmp/a.jpg|2|4.00x6.00|x|Beach|more", beach},   // sixth value ignored
        {"/tmp/a.jpg| 3|4.00x6.00|x| Beach ", {0, "/tmp/a.jpg", "4.00x6.00", "x", " Beach ", 3}},
        {"/tmp/a.jpg|three|f|x|n", {0, "/tmp/a.jpg", "f", "x", "n", 0}},
        {"/tmp/a.jpg|2x|f|x|n", {0, "/tmp/a.jpg", "f", "x", "n", 2}},
        {"/tmp/a.jpg|-4|f|x|n", {0, "/tmp/a.jpg", "f", "x", "n", -4}},
        {"/tmp/a.jpg|\t+7|f|x|n", {0, "/tmp/a.jpg", "f", "x", "n", 7}},
        // Beyond 32 bits the quantity stops at the limit instead of overflowing.
        {"/tmp/a.jpg|99999999999999|f|x|n", {0, "/tmp/a.jpg", "f", "x", "n", INT32_MAX}},
        {"/tmp/a.jpg|-99999999999999|f|x|n", {0, "/tmp/a.jpg", "f", "x", "n", INT32_MIN}},
        {"/tmp/My Pictures/a b.jpg|1|10.00x15.00|r|Ä Name", {0, "/tmp/My Pictures/a b.jpg", "10.00x15.00", "r", "Ä Name", 1}},
    };
    for (const auto& c : cases) {
        OrderRecord r;
        EXPECT_EQ(dlg.ParseRecord(c.line, r), 0) << c.line;
        Parsed got{0, r.strTempFile.str(), r.strFormat.str(), r.strReserved.str(), r.strImageName.str(), r.nQuantity};
        EXPECT_EQ(got, c.expected) << c.line;
    }
    EXPECT_TRUE(window.boxes.empty());
}

TEST_F(ControlFileTest, ParseRecordReportsTheFirstMissingValue) {
    struct Case {
        const char* line;
        const char* box;
    } cases[] = {
        {"/tmp/a.jpg|2|4.00x6.00|x", "blank ImageName in controlfile"},
        {"/tmp/a.jpg|2|4.00x6.00|x|", "blank ImageName in controlfile"},
        {"/tmp/a.jpg|2|4.00x6.00", "A required control file variable is empty: 'Reserved'"},
        {"/tmp/a.jpg|2", "A required control file variable is empty: 'Format'"},
        {"/tmp/a.jpg", "A required control file variable is empty: 'Quantity'"},
        {"", "A required control file variable is empty: 'TempFile'"},
        {"|||||", "A required control file variable is empty: 'TempFile'"},
    };
    for (const auto& c : cases) {
        window.boxes.clear();
        OrderRecord r;
        EXPECT_EQ(dlg.ParseRecord(c.line, r), -1) << c.line;
        ASSERT_EQ(window.boxes.size(), 1u) << c.line;
        EXPECT_EQ(window.boxes[0].text, c.box) << c.line;
        EXPECT_EQ(window.boxes[0].type, MB_ICONERROR);
    }
}

TEST_F(ControlFileTest, ParseRecordSpeaksTheDialogLanguage) {
    dlg.m_wLanguage = LANG_GERMAN;
    OrderRecord r;
    EXPECT_EQ(dlg.ParseRecord("/tmp/a.jpg|2|f|x", r), -1);
    ASSERT_EQ(window.boxes.size(), 1u);
    EXPECT_EQ(window.boxes[0].text, "Leerer Eintrag 'ImageName' in Steuerdatei");
}

TEST_F(ControlFileTest, PassReadsEveryLineInOrder) {
    struct Case {
        const char* name;
        std::string bytes;
        size_t records;
    } cases[] = {
        {"lf", "/p/1.jpg|1|f|x|a\n/p/2.jpg|2|f|x|b\n/p/3.jpg|3|f|x|c\n", 3},
        {"no final lf", "/p/1.jpg|1|f|x|a\n/p/2.jpg|2|f|x|b\n/p/3.jpg|3|f|x|c", 3},
        {"crlf", "/p/1.jpg|1|f|x|a\r\n/p/2.jpg|2|f|x|b\r\n/p/3.jpg|3|f|x|c\r\n", 3},
        {"empty", "", 0},
    };
    for (const auto& c : cases) {
        SetControlFile(c.bytes);
        auto got = Pass();
        ASSERT_EQ(got.size(), c.records) << c.name;
        for (size_t i = 0; i < got.size(); ++i) {
            EXPECT_EQ(got[i].index, static_cast<int>(i + 1)) << c.name;
            EXPECT_EQ(got[i].file, "/p/" + std::to_string(i + 1) + ".jpg") << c.name;
            EXPECT_EQ(got[i].quantity, static_cast<int>(i + 1)) << c.name;
            EXPECT_EQ(got[i].name, std::string(1, static_cast<char>('a' + i))) << c.name;
        }
    }
    EXPECT_TRUE(window.boxes.empty());
}

TEST_F(ControlFileTest, EmptyLineStopsThePassWithTwoMessages) {
    for (const char* bytes : {"/p/1.jpg|1|f|x|a\n\n/p/2.jpg|1|f|x|b\n", "/p/1.jpg|1|f|x|a\n\n"}) {
        window.boxes.clear();
        SetControlFile(bytes);
        std::string error;
        auto got = Pass(&error);
        EXPECT_EQ(got.size(), 1u) << bytes;
        ASSERT_EQ(window.boxes.size(), 1u);
        EXPECT_EQ(window.boxes[0].text, "A required control file variable is empty: 'TempFile'");
        EXPECT_EQ(error, "Unable to parse controlfile record");
    }
}

TEST_F(ControlFileTest, LongLineIsReadAsTwoRecords) {
    std::string first = "/p/1.jpg|1|f|x|";
    first += std::string(259 - first.size(), 'n');
    std::string second = "/p/2.jpg|2|f|x|";
    second += std::string(41 - second.size(), 'm');
    SetControlFile(first + second + "\n");
    auto got = Pass();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].name.size(), 259 - 15);
    EXPECT_EQ(got[1].file, "/p/2.jpg");
    EXPECT_EQ(got[1].name, std::string(41 - 15, 'm'));
}

TEST_F(ControlFileTest, UnreadableControlFileRaisesWithItsPath) {
    dlg.m_strControlFile = (dir / "gone.ctl").c_str();
    std::string error;
    Pass(&error);
    EXPECT_EQ(error, "Unable to find control file:\n\n'" + dir / "gone.ctl" + "'");

    // A folder opens on Linux but cannot be read: the pass ends with an error, no loop.
    dlg.m_strControlFile = dir.path().c_str();
    error.clear();
    Pass(&error);
    EXPECT_EQ(error, "Error reading control file:\n\n'" + dir.path() + "'");
}

TEST_F(ControlFileTest, GetControlDirCutsAtTheLastSlash) {
    struct Case {
        std::string controlFile, dir;
        int result;
    } cases[] = {
        {"/tmp/Export/order.txt", "/tmp/Export", 0},
        {"/tmp/My Order/o.ctl", "/tmp/My Order", 0},
        {"/order.txt", "", -1},
        {"order.txt", "", -1},
        // Only the first 259 characters of the path are looked at.
        {"/a/" + std::string(300, 'b') + "/c.ctl", "/a", 0},
    };
    for (const auto& c : cases) {
        dlg.m_strControlFile = c.controlFile.c_str();
        EXPECT_EQ(dlg.GetControlDir(), c.result) << c.controlFile;
        EXPECT_EQ(dlg.m_strControlDir, c.dir.c_str()) << c.controlFile;
    }
}

TEST_F(ControlFileTest, ReadImageDirTakesTheFirstPicturesFolder) {
    struct Case {
        const char* bytes;
        const char* imageDir;
    } cases[] = {
        {"/tmp/Order/p1.jpg|1|f|x|a\n/other/p2.jpg|1|f|x|b\n", "/tmp/Order/"},
        {"p1.jpg|1|f|x|a\n", ""},
        {"\n", ""},        // an empty first line yields its line feed: no folder, no error
        {"|||\n", ""},
        {"/tmp/Order/p1.jpg", "/tmp/Order/"},
    };
    for (const auto& c : cases) {
        SetControlFile(c.bytes);
        dlg.m_strImageDir = "unchanged";
        EXPECT_NO_THROW(dlg.ReadImageDir()) << c.bytes;
        EXPECT_EQ(dlg.m_strImageDir, c.imageDir) << c.bytes;
    }
    EXPECT_TRUE(window.boxes.empty());
}

TEST_F(ControlFileTest, ReadImageDirFailures) {
    std::string path = dir / "order.ctl";
    struct Case {
        const char* bytes;  // nullptr: no file
        std::string error;
    } cases[] = {
        {nullptr, "Unable to find control file:\n\n'" + path + "'"},
        {"", "Error reading control file:\n\n'" + path + "'"},
        {"||||", "A required control file variable is empty: 'TempFile'"},
    };
    for (const auto& c : cases) {
        std::remove(path.c_str());
        if (c.bytes) WriteFile(path, c.bytes);
        dlg.m_strControlFile = path.c_str();
        try {
            dlg.ReadImageDir();
            ADD_FAILURE() << "no error for " << (c.bytes ? c.bytes : "no file");
        } catch (const CErrorText& e) {
            EXPECT_EQ(e.Text(), c.error.c_str());
        }
    }
    EXPECT_TRUE(window.boxes.empty());
}

}  // namespace
