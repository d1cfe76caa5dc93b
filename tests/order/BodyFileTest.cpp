#include <fcntl.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "order/BodyFile.h"
#include "order/PrintServiceDlg.h"
#include "platform/ErrorText.h"
#include "support/RecordingWindow.h"
#include "support/TempDir.h"

namespace {

const std::string kDelim = "-----------------------------7d4128363704e6";

// Fails the n-th write (1-based) and every one after it, as a full disk does.
class CFailingOutFile : public COutFile {
public:
    explicit CFailingOutFile(int failAt) : m_failAt(failAt) {}
    std::size_t Write(const void* data, std::size_t size) override {
        if (++m_writes >= m_failAt) return size / 2;
        return COutFile::Write(data, size);
    }
    int writes() const { return m_writes; }

private:
    int m_failAt;
    int m_writes = 0;
};

std::string Bytes(size_t n, unsigned seed) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 131 + seed * 7 + (i >> 8)) & 0xff);
    return s;
}

class BodyFileTest : public ::testing::Test {
protected:
    CRecordingWindow window;
    CPrintServiceDlg dlg{window};
    CTempDir dir;

    BodyFileTest() {
        dlg.m_strControlFile = (dir / "order.ctl").c_str();
        dlg.m_strBodyFile = (dir / "order.txt").c_str();
    }

    std::string Picture(const std::string& name, const std::string& bytes) {
        WriteFile(dir / name, bytes);
        return dir / name;
    }

    // Writes the whole body as the workflow does; returns the raised text, if any.
    std::string WriteBody(COutFile& body, const std::string& email, int count) {
        try {
            if (dlg.WriteMimeHeader(body, email.c_str(), count) != 0) return "(header failed)";
            dlg.WriteOrderFields(body);
            dlg.WriteImageParts(body);
        } catch (const CErrorText& e) {
            return e.Text().str();
        }
        return "";
    }

    std::string WriteBodyFile(const std::string& email, int count) {
        COutFile body;
        EXPECT_TRUE(body.Open(dlg.m_strBodyFile));
        std::string error = WriteBody(body, email, count);
        EXPECT_TRUE(body.Close());
        return error;
    }
};

std::string Head(int count, const std::string& email) {
    return kDelim + "\r\n" + "Content-Disposition: form-data; name=\"images\"\r\n" + "\r\n" +
           std::to_string(count) + "\r\n" + kDelim + "\r\n" +
           "Content-Disposition: form-data; name=\"email\"\r\n" + "\r\n" + email;
}

std::string Fields(const std::string& nnn, const std::string& format, const std::string& qty) {
    return "\r\n" + kDelim + "\r\n" + "Content-Disposition: form-data; name=\"Format_" + nnn +
           "\"\r\n" + "\r\n" + format + "\r\n" + kDelim + "\r\n" +
           "Content-Disposition: form-data; name=\"Qty_" + nnn + "\"\r\n" + "\r\n" + qty;
}

std::string PictureHead(const std::string& filename) {
    return "\r\n" + kDelim + "\r\n" +
           "Content-Disposition: form-data; name=\"uploadImage[]\"; filename=\"" + filename + "\"\r\n" +
           "Content-Type: image/pjpeg\r\n\r\n";
}

const std::string kClose = "\r\n" + kDelim + "--\r\n";

TEST_F(BodyFileTest, TwoRecordOrderIsWrittenByteForByte) {
    std::string p1 = Bytes(2500, 1), p2 = Bytes(17, 2);
    std::string f1 = Picture("p1.jpg", p1), f2 = Picture("p2.jpg", p2);
    WriteFile(dlg.m_strControlFile.str(),
              f1 + "|2|4.00X6.00|x|Beach\n" + f2 + "|1|10.00x15.00|y|Hill\n");

    EXPECT_EQ(WriteBodyFile("Ann.Lee@Example.COM", 2), "");

    std::string expected = Head(2, "Ann.Lee@Example.COM") + Fields("001", "4x6", "2") +
                           Fields("002", "10.00x15.00", "1") + PictureHead(f1) + p1 +
                           PictureHead(f2) + p2 + kClose;
    EXPECT_EQ(ReadFile(dlg.m_strBodyFile.str()), expected);
    EXPECT_TRUE(window.boxes.empty());
    // The temporary pictures stay until the upload has completed.
    EXPECT_TRUE(Exists(f1));
    EXPECT_TRUE(Exists(f2));
}

TEST_F(BodyFileTest, AStandardMultipartParserFindsEveryFieldAndPicture) {
    std::string p1 = Bytes(3000, 3), p2 = std::string("--") + kDelim + "\r\nnot a delimiter";
    std::string f1 = Picture("one.jpg", p1), f2 = Picture("two \"q\".jpg", p2);
    WriteFile(dlg.m_strControlFile.str(), f1 + "|3|5.00x7.00|x|One\r\n" + f2 + "|4|8.00x10.00|x|Two\r\n");
    ASSERT_EQ(WriteBodyFile("a@b.de", 2), "");

    // cpp-httplib's server parses the body as it would any browser's upload.
    std::vector<httplib::MultipartFormData> parts;
    std::map<std::string, std::string> fields;
    httplib::Server server;
    server.Post("/pvp.php", [&](const httplib::Request& req, httplib::Response& res) {
        for (const auto& [name, part] : req.files) parts.push_back(part);
        res.set_content("ok", "text/plain");
    });
    int port = server.bind_to_any_port("127.0.0.1");
    ASSERT_GT(port, 0);
    std::thread thread([&] { server.listen_after_bind(); });
    struct Stop {
        httplib::Server& s;
        std::thread& t;
        ~Stop() { s.stop(); t.join(); }
    } stop{server, thread};  // the socket is bound: connecting works before accept runs

    httplib::Client client("127.0.0.1", port);
    auto res = client.Post("/pvp.php", ReadFile(dlg.m_strBodyFile.str()),
                           "multipart/form-data; boundary=" + kDelim.substr(2));
    ASSERT_TRUE(res) << httplib::to_string(res.error());
    ASSERT_EQ(res->status, 200);
    ASSERT_EQ(parts.size(), 8u);
    std::vector<httplib::MultipartFormData> pictures;
    for (const auto& p : parts) {
        if (p.filename.empty())
            fields[p.name] = p.content;
        else
            pictures.push_back(p);
    }
    EXPECT_EQ(fields["images"], "2");
    EXPECT_EQ(fields["email"], "a@b.de");
    EXPECT_EQ(fields["Format_001"], "5x7");
    EXPECT_EQ(fields["Qty_001"], "3");
    EXPECT_EQ(fields["Format_002"], "8x10");
    EXPECT_EQ(fields["Qty_002"], "4");
    ASSERT_EQ(pictures.size(), 2u);
    // The map orders the two pictures by file name.
    if (pictures[0].filename != f1) std::swap(pictures[0], pictures[1]);
    EXPECT_EQ(pictures[0].name, "uploadImage[]");
    EXPECT_EQ(pictures[0].filename, f1);
    EXPECT_EQ(pictures[0].content_type, "image/pjpeg");
    EXPECT_EQ(pictures[0].content, p1);
    EXPECT_EQ(pictures[1].filename, dir / "two %22q%22.jpg");
    EXPECT_EQ(pictures[1].content, p2);
}

TEST_F(BodyFileTest, EmptyControlFileGivesHeadAndCloseDelimiter) {
    WriteFile(dlg.m_strControlFile.str(), "");
    ASSERT_EQ(WriteBodyFile("x@y.zz", 0), "");
    EXPECT_EQ(ReadFile(dlg.m_strBodyFile.str()), Head(0, "x@y.zz") + kClose);
}

TEST_F(BodyFileTest, PictureSizesAreCopiedExactly) {
    // The last two take more than one read of the picture file (1 MiB each).
    for (size_t size : {0u, 1u, 999u, 1000u, 1001u, 2000u, 2500u, 1000000u, 1048576u, 3145735u}) {
        std::string bytes = Bytes(size, static_cast<unsigned>(size));
        std::string f = Picture("p.jpg", bytes);
        WriteFile(dlg.m_strControlFile.str(), f + "|1|f|x|n\n");
        ASSERT_EQ(WriteBodyFile("a@b.cd", 1), "") << size;
        EXPECT_EQ(ReadFile(dlg.m_strBodyFile.str()),
                  Head(1, "a@b.cd") + Fields("001", "f", "1") + PictureHead(f) + bytes + kClose)
            << size;
    }
}

TEST_F(BodyFileTest, PrintFormatTable) {
    struct Case {
        const char* format;
        const char* written;
    } cases[] = {
        {"4.00x6.00", "4x6"}, {"4.00X6.00", "4x6"},   {"5.00x7.00", "5x7"},
        {"8.00x10.00", "8x10"}, {"8.00X10.00", "8x10"}, {"2.00x3.00", "2x3"},
        {"4x6", "4x6"},       {"10.00x15.00", "10.00x15.00"}, {" 4.00x6.00", " 4.00x6.00"},
        {"4.00x6.000", "4.00x6.000"}, {"Ä4.00x6.00", "Ä4.00x6.00"},
    };
    for (const auto& c : cases) EXPECT_EQ(ShortPrintFormat(c.format), c.written) << c.format;
}

TEST_F(BodyFileTest, RecordNumbersHaveAtLeastThreeDigits) {
    std::string f = Picture("p.jpg", "x");
    std::string control;
    for (int i = 0; i < 1001; ++i) control += f + "|" + std::to_string(i) + "|f|x|n\n";
    WriteFile(dlg.m_strControlFile.str(), control);
    ASSERT_EQ(WriteBodyFile("a@b.cd", 1001), "");
    std::string body = ReadFile(dlg.m_strBodyFile.str());
    for (const char* name : {"Format_001", "Format_007", "Qty_099", "Format_999", "Format_1000",
                             "Qty_1000", "Format_1001"}) {
        EXPECT_NE(body.find(std::string("name=\"") + name + "\"\r\n"), std::string::npos) << name;
    }
    EXPECT_NE(body.find("name=\"Qty_007\"\r\n\r\n6\r\n"), std::string::npos);
    EXPECT_EQ(body.find("Format_0001"), std::string::npos);
}

TEST_F(BodyFileTest, FileNamesCannotBreakThePartHeader) {
    struct Case {
        std::string name, written;
    } cases[] = {
        {"plain.jpg", "plain.jpg"},
        {"a\"b.jpg", "a%22b.jpg"},
        {"a\rb.jpg", "a%0Db.jpg"},
        {"x\"\r\nContent-Type: text/html\r\n\r\n.jpg", "x%22%0D%0AContent-Type: text/html%0D%0A%0D%0A.jpg"},
        {"100%.jpg", "100%.jpg"},
        {"Ünïcode; name=x.jpg", "Ünïcode; name=x.jpg"},
    };
    for (const auto& c : cases) EXPECT_EQ(EncodeFormFileName(c.name.c_str()), c.written);
}

TEST_F(BodyFileTest, MissingThirdPictureStopsAfterItsContentType) {
    std::string f1 = Picture("1.jpg", "one"), f2 = Picture("2.jpg", "two");
    std::string f3 = dir / "3.jpg";
    WriteFile(dlg.m_strControlFile.str(),
              f1 + "|1|f|x|a\n" + f2 + "|1|f|x|b\n" + f3 + "|1|f|x|c\n");
    EXPECT_EQ(WriteBodyFile("a@b.cd", 3), "Unable to open image file:\n\n'" + f3 + "'");
    EXPECT_EQ(ReadFile(dlg.m_strBodyFile.str()),
              Head(3, "a@b.cd") + Fields("001", "f", "1") + Fields("002", "f", "1") +
                  Fields("003", "f", "1") + PictureHead(f1) + "one" + PictureHead(f2) + "two" +
                  PictureHead(f3));
    EXPECT_TRUE(Exists(f1));
    EXPECT_TRUE(Exists(f2));
}

TEST_F(BodyFileTest, UnreadablePictureIsAReadError) {
    // A folder opens for reading on Linux, but reading it fails.
    MakeDirs(dir / "folder.jpg");
    WriteFile(dlg.m_strControlFile.str(), dir / "folder.jpg" + "|1|f|x|a\n");
    EXPECT_EQ(WriteBodyFile("a@b.cd", 1), "Read error on image file:\n\n'" + dir / "folder.jpg" + "'");
}

// The host changes the picture after its first block went into the body (its first MiB has
// been read by then): a cut, extended or rewritten picture is refused, never sent.
TEST_F(BodyFileTest, PictureChangedWhileCopiedIsRefused) {
    class CChangingOutFile : public COutFile {
    public:
        explicit CChangingOutFile(std::function<void()> change) : m_change(std::move(change)) {}
        std::size_t Write(const void* data, std::size_t size) override {
            if (m_armed && m_change) std::exchange(m_change, nullptr)();
            const std::string_view piece(static_cast<const char*>(data), size);
            m_armed = piece == "Content-Type: image/pjpeg\r\n\r\n";
            return COutFile::Write(data, size);
        }

    private:
        std::function<void()> m_change;
        bool m_armed = false;
    };
    const std::string f = dir / "big.jpg";
    const struct {
        const char* name;
        std::function<void()> change;
    } cases[] = {
        {"cut after the first read", [&] { ASSERT_EQ(::truncate(f.c_str(), 2 << 20), 0); }},
        {"cut within the first read", [&] { ASSERT_EQ(::truncate(f.c_str(), 100), 0); }},
        {"extended", [&] { std::ofstream(f, std::ios::binary | std::ios::app) << "more"; }},
        {"rewritten, same size",
         [&] {
             struct stat st{};
             ASSERT_EQ(::stat(f.c_str(), &st), 0);
             WriteFile(f, Bytes(3 << 20, 9));
             timespec times[2] = {st.st_atim, st.st_mtim};
             times[1].tv_sec += 2;  // later than the coarse file clock might say
             ASSERT_EQ(::utimensat(AT_FDCWD, f.c_str(), times, 0), 0);
         }},
    };
    for (const auto& c : cases) {
        WriteFile(f, Bytes(3 << 20, 8));
        WriteFile(dlg.m_strControlFile.str(), f + "|1|f|x|n\n");
        CChangingOutFile out(c.change);
        ASSERT_TRUE(out.Open(dlg.m_strBodyFile));
        EXPECT_EQ(WriteBody(out, "a@b.cd", 1),
                  "Image file changed while it was being read:\n\n'" + f + "'")
            << c.name;
    }
    // Unlinked while open: the open file still reads whole, so it goes as it was.
    const std::string bytes = Bytes(3 << 20, 8);
    WriteFile(f, bytes);
    CChangingOutFile out([&] { ::unlink(f.c_str()); });
    ASSERT_TRUE(out.Open(dlg.m_strBodyFile));
    EXPECT_EQ(WriteBody(out, "a@b.cd", 1), "");
    ASSERT_TRUE(out.Close());
    EXPECT_EQ(ReadFile(dlg.m_strBodyFile.str()),
              Head(1, "a@b.cd") + Fields("001", "f", "1") + PictureHead(f) + bytes + kClose);
}

TEST_F(BodyFileTest, ControlFileFailuresRaiseTheirTexts) {
    // Gone between the counting pass and the writing.
    EXPECT_EQ(WriteBodyFile("a@b.cd", 1), "Unable to find control file:\n\n'" + dir / "order.ctl" + "'");
    WriteFile(dlg.m_strControlFile.str(), "/x.jpg|1|f|x\n");
    window.boxes.clear();
    EXPECT_EQ(WriteBodyFile("a@b.cd", 1), "Unable to parse controlfile record");
    ASSERT_EQ(window.boxes.size(), 1u);
    EXPECT_EQ(window.boxes[0].text, "blank ImageName in controlfile");
}

// Every write of a two-record order fails once, in turn; each gives the text of its row.
TEST_F(BodyFileTest, EveryFailedWriteGivesItsMessage) {
    std::string f1 = Picture("1.jpg", "one"), f2 = Picture("2.jpg", "two");
    WriteFile(dlg.m_strControlFile.str(), f1 + "|1|f|x|Alpha\n" + f2 + "|2|g|x|Beta\n");
    const std::string body = dlg.m_strBodyFile.str();
    auto withValues = [&](const std::string& start, const std::string& name, const std::string& file) {
        return start + "mime file:\n\n'" + body + "' while processing image:\n\n'" + name +
               "'\n\nfrom temporary file:\n\n'" + file + "'";
    };
    const std::string sep1 = withValues("Unable to write mime separator to ", "Alpha", f1);
    const std::string sep2 = withValues("Unable to write mime separator to ", "Beta", f2);
    const std::string img1 = withValues("Unable to write image header to ", "Alpha", f1);
    const std::string img2 = withValues("Unable to write image header to ", "Beta", f2);
    const std::string qty1 = withValues("Unable to write Quantity header to ", "Alpha", f1);
    const std::string qty2 = withValues("Unable to write Quantity header to ", "Beta", f2);
    const std::string mime = "WriteMimeHeader error writing mime file";
    const std::string copy1 = "Error copying image file:\n\n'" + f1 + "'\n\n to transfer file: \n\n'" + body + "'";
    const std::string copy2 = "Error copying image file:\n\n'" + f2 + "'\n\n to transfer file: \n\n'" + body + "'";
    const std::string header = "(header failed)";
    const std::vector<std::string> expected = {
        header, header, header, header, header, header,  // images and email
        sep1, img1, mime, mime, qty1, mime,              // fields of record 1
        sep2, img2, mime, mime, qty2, mime,              // fields of record 2
        sep1, img1, img1, copy1,                         // picture 1
        sep2, img2, img2, copy2,                         // picture 2
        sep2,                                            // close delimiter
    };
    for (size_t n = 1; n <= expected.size(); ++n) {
        window.boxes.clear();
        CFailingOutFile out(static_cast<int>(n));
        ASSERT_TRUE(out.Open(body.c_str()));
        EXPECT_EQ(WriteBody(out, "a@b.cd", 2), expected[n - 1]) << "write " << n;
        EXPECT_EQ(out.writes(), static_cast<int>(n)) << "nothing is written after a failure";
        if (n <= 6) {
            ASSERT_EQ(window.boxes.size(), 1u);
            EXPECT_EQ(window.boxes[0].text, "WriteMimeHeader error writing upload file");
            EXPECT_EQ(window.boxes[0].type, MB_ICONERROR);
        } else {
            EXPECT_TRUE(window.boxes.empty()) << "write " << n;
        }
    }
    // One more write than the order has: nothing fails.
    CFailingOutFile out(static_cast<int>(expected.size() + 1));
    ASSERT_TRUE(out.Open(body.c_str()));
    EXPECT_EQ(WriteBody(out, "a@b.cd", 2), "");
}

TEST_F(BodyFileTest, CloseDelimiterFailureWithoutRecordsHasEmptyValues) {
    WriteFile(dlg.m_strControlFile.str(), "");
    CFailingOutFile out(7);
    ASSERT_TRUE(out.Open(dlg.m_strBodyFile));
    EXPECT_EQ(WriteBody(out, "a@b.cd", 0),
              "Unable to write mime separator to mime file:\n\n'" + dlg.m_strBodyFile.str() +
                  "' while processing image:\n\n''\n\nfrom temporary file:\n\n''");
}

TEST_F(BodyFileTest, MessagesFollowTheDialogLanguage) {
    dlg.m_wLanguage = 1036;
    WriteFile(dlg.m_strControlFile.str(), dir / "none.jpg" + "|1|f|x|a\n");
    EXPECT_EQ(WriteBodyFile("a@b.cd", 1), "Impossible d'ouvrir le fichier image :\n\n'" + dir / "none.jpg" + "'");
}

TEST(OutFile, AFullDiskIsReportedAtTheLatestOnClose) {
    COutFile out;
    ASSERT_TRUE(out.Open("/dev/full"));
    std::string block(1000, 'x');
    bool allTaken = true;
    for (int i = 0; i < 10; ++i) allTaken = out.Write(block.data(), block.size()) == block.size() && allTaken;
    // Buffered bytes may be taken; the failure must show at the latest when closing.
    EXPECT_FALSE(allTaken && out.Close());
}

}  // namespace
