#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "PvhostTestSupport.h"
#include "order/PrintServiceDlg.h"
#include "pvhost/Export.h"
#include "support/RecordingWindow.h"
#include "support/TempDir.h"

namespace {

using pvhost::ExportedOrder;
using pvhost::ExportOrder;
using pvhost::ExportRequest;

struct ReadRecord {
    int index;
    OrderRecord record;
};

// The control file as the tool's own reader sees it.
std::vector<ReadRecord> ReadWithTheTool(const std::string& controlFile, CRecordingWindow& window) {
    CPrintServiceDlg dlg(window);
    dlg.m_strControlFile = controlFile.c_str();
    std::vector<ReadRecord> records;
    dlg.ReadControlFile([&records](int index, const OrderRecord& r) { records.push_back({index, r}); });
    return records;
}

TEST(PvhostNames, ImageNameAndExtension) {
    struct Case {
        const char* picture;
        const char* name;
        const char* extension;
    } cases[] = {
        {"/photos/Beach.jpg", "Beach", ".jpg"},
        {"a.b.png", "a.b", ".png"},
        {"noext", "noext", ""},
        {".hidden", ".hidden", ""},
        {"/x.y/photo", "photo", ""},  // a dot in a folder name does not count
        {"Strand S\xC3\xBC" "d.JPEG", "Strand S\xC3\xBC" "d", ".JPEG"},
        {" spaced .jpg", " spaced ", ".jpg"},
        {"trailing.", "trailing", "."},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(pvhost::ImageNameOf(c.picture), c.name) << c.picture;
        EXPECT_EQ(pvhost::ExtensionOf(c.picture), c.extension) << c.picture;
    }
    EXPECT_EQ(pvhost::TempFileName(1, ".jpg"), "img0001.jpg");
    EXPECT_EQ(pvhost::TempFileName(42, ""), "img0042");
    EXPECT_EQ(pvhost::TempFileName(12345, ".png"), "img12345.png");
}

TEST(PvhostControlLine, ValuesThatCannotBeWrittenAreRefused) {
    // The tempfile value fills the line up to `total` bytes.
    auto record = [](std::string format, std::string name, size_t total = 0) {
        pvhost::ControlRecord r;
        r.tempFile = "/t/img0001.jpg";
        r.quantity = 12;
        r.format = std::move(format);
        r.imageName = std::move(name);
        size_t rest = std::string("|12|").size() + r.format.size() + 3 + r.imageName.size();
        if (total > 0) r.tempFile = "/" + std::string(total - rest - 1, 't');
        return r;
    };
    struct Case {
        pvhost::ControlRecord record;
        const char* error;  // nullptr: written
    } cases[] = {
        {record("4.00x6.00", "Beach"), nullptr},
        {record("4.00x6.00", "x", 258), nullptr},
        {record("4.00x6.00", "x", 259), "would have 259 bytes"},
        {record("4|6", "Beach"), "holds '|'"},
        {record("", "Beach"), "is empty"},
        {record("4.00x6.00", "a|b"), "holds '|'"},
        {record("4.00x6.00", "a\nb"), "line break"},
        {record("4.00x6.00", "a\rb"), "line break"},
        {record("4.00x6.00", ""), "is empty"},
    };
    for (const auto& c : cases) {
        std::string line;
        std::string error;
        bool ok = pvhost::FormatControlLine(c.record, line, error);
        if (!c.error) {
            EXPECT_TRUE(ok) << error;
            EXPECT_EQ(line, c.record.tempFile + "|12|4.00x6.00|0|" + c.record.imageName);
        } else {
            EXPECT_FALSE(ok) << c.record.imageName;
            EXPECT_NE(error.find(c.error), std::string::npos) << error;
        }
    }
    pvhost::ControlRecord pathWithBar = record("4.00x6.00", "Beach");
    pathWithBar.tempFile = "/tmp/a|b/img0001.jpg";
    std::string line, error;
    EXPECT_FALSE(pvhost::FormatControlLine(pathWithBar, line, error));
}

class PvhostExport : public ::testing::Test {
protected:
    CTempDir pictures;
    CTempDir tmp;
    CScopedEnv tmpdir{"TMPDIR", tmp.path().c_str()};
};

TEST_F(PvhostExport, CopiesAndControlFileReadByTheTool) {
    const std::vector<std::pair<std::string, std::string>> files = {
        {"Beach.jpg", std::string("\xFF\xD8\xFF\xE0\0\r\n\x1A jpeg", 13)},
        {"Strand S\xC3\xBC" "d 2.png", "\x89PNG\r\n\x1A\n"},
        {"a.b.c.jpeg", std::string(200000, 'p')},
        {"Beach.jpg", "second picture of the same name"},  // in another folder
    };
    ExportRequest request;
    request.format = "5.00x7.00";
    request.quantity = 3;
    for (size_t i = 0; i < files.size(); ++i) {
        std::string folder = pictures / ("f" + std::to_string(i));
        MakeDirs(folder);
        WriteFile(folder + "/" + files[i].first, files[i].second);
        request.pictures.push_back(folder + "/" + files[i].first);
    }

    ExportedOrder order;
    std::string error;
    ASSERT_TRUE(ExportOrder(request, order, error)) << error;
    EXPECT_TRUE(order.createdFolder);
    EXPECT_EQ(order.folder.rfind(tmp / "pvexport-", 0), 0u) << order.folder;
    EXPECT_EQ(order.controlFile, order.folder + "/order.ctl");
    EXPECT_EQ(order.imagesFolder, order.folder + "/images");
    EXPECT_EQ(ListFolder(order.folder), (std::vector<std::string>{"images", "order.ctl"}));
    EXPECT_EQ(ListFolder(order.imagesFolder),
              (std::vector<std::string>{"img0001.jpg", "img0002.png", "img0003.jpeg", "img0004.jpg"}));

    CRecordingWindow window;
    std::vector<ReadRecord> records = ReadWithTheTool(order.controlFile, window);
    EXPECT_TRUE(window.boxes.empty());
    const char* names[] = {"Beach", "Strand S\xC3\xBC" "d 2", "a.b.c", "Beach"};
    ASSERT_EQ(records.size(), files.size());
    ASSERT_EQ(order.tempFiles.size(), files.size());
    for (size_t i = 0; i < records.size(); ++i) {
        const OrderRecord& r = records[i].record;
        EXPECT_EQ(records[i].index, static_cast<int>(i) + 1);
        EXPECT_EQ(r.strTempFile, order.tempFiles[i].c_str());
        EXPECT_EQ(ReadFile(order.tempFiles[i]), files[i].second) << i;
        EXPECT_EQ(r.nQuantity, 3);
        EXPECT_EQ(r.strFormat, "5.00x7.00");
        EXPECT_EQ(r.strReserved, "0");
        EXPECT_EQ(r.strImageName, names[i]);
    }
    // The originals stay where they are.
    for (const std::string& picture : request.pictures) EXPECT_TRUE(Exists(picture));

    // The tool takes its picture folder from the first line.
    CPrintServiceDlg dlg(window);
    dlg.m_strControlFile = order.controlFile.c_str();
    dlg.ReadImageDir();
    EXPECT_EQ(dlg.m_strImageDir, (order.imagesFolder + "/").c_str());
    EXPECT_EQ(dlg.GetControlDir(), 0);
    EXPECT_EQ(dlg.m_strControlDir, order.folder.c_str());

    pvhost::RemoveExport(order);
    EXPECT_TRUE(ListFolder(tmp.path()).empty());
}

TEST_F(PvhostExport, PictureProblemsLeaveNothingBehind) {
    WriteFile(pictures / "good.jpg", "ok");
    WriteFile(pictures / "a|b.jpg", "bar");
    WriteFile(pictures / "line\nbreak.jpg", "lf");
    MakeDirs(pictures / "folder.jpg");
    std::string longName = std::string(240, 'n') + ".jpg";
    WriteFile(pictures / longName, "long");
    struct Case {
        std::string picture;
        std::string error;
    } cases[] = {
        {pictures / "missing.jpg", "cannot read picture"},
        {pictures / "folder.jpg", "not a picture file"},
        {pictures / "a|b.jpg", "holds '|'"},
        {pictures / "line\nbreak.jpg", "line break"},
        {pictures / longName, "the tool reads at most 258"},
        {pictures.path() + "/", "not a picture file"},
        // A regular file whose read fails (offset 0 of a process's memory is unmapped),
        // which root cannot be kept from either.
        {"/proc/self/mem", "cannot read picture /proc/self/mem"},
    };
    for (const auto& c : cases) {
        ExportRequest request;
        request.format = "4.00x6.00";
        request.pictures = {pictures / "good.jpg", c.picture, pictures / "good.jpg"};
        ExportedOrder order;
        std::string error;
        EXPECT_FALSE(ExportOrder(request, order, error)) << c.picture;
        EXPECT_NE(error.find(c.error), std::string::npos) << error;
        EXPECT_TRUE(ListFolder(tmp.path()).empty()) << c.picture;
    }
}

TEST_F(PvhostExport, UnreadablePictureLeavesNothingBehind) {
    if (::geteuid() == 0) GTEST_SKIP() << "root reads every file";
    WriteFile(pictures / "secret.jpg", "x");
    ASSERT_EQ(::chmod((pictures / "secret.jpg").c_str(), 0), 0);
    ExportRequest request;
    request.format = "4.00x6.00";
    request.pictures = {pictures / "secret.jpg"};
    ExportedOrder order;
    std::string error;
    EXPECT_FALSE(ExportOrder(request, order, error));
    EXPECT_NE(error.find("cannot read picture"), std::string::npos) << error;
    EXPECT_TRUE(ListFolder(tmp.path()).empty());
}

TEST_F(PvhostExport, GivenExportFolder) {
    WriteFile(pictures / "p.jpg", "p");
    ExportRequest request;
    request.format = "4.00x6.00";
    request.pictures = {pictures / "p.jpg"};
    std::string error;

    // A new folder (parents included) is made, and removed again with the export.
    request.exportDir = tmp / "new/export/";
    ExportedOrder created;
    ASSERT_TRUE(ExportOrder(request, created, error)) << error;
    EXPECT_TRUE(created.createdFolder);
    EXPECT_EQ(created.folder, tmp / "new/export");
    EXPECT_TRUE(Exists(tmp / "new/export/images/img0001.jpg"));
    pvhost::RemoveExport(created);
    EXPECT_FALSE(Exists(tmp / "new/export"));

    // An existing empty folder is used and stays.
    MakeDirs(tmp / "empty");
    request.exportDir = tmp / "empty";
    ExportedOrder existing;
    ASSERT_TRUE(ExportOrder(request, existing, error)) << error;
    EXPECT_FALSE(existing.createdFolder);
    EXPECT_EQ(ListFolder(tmp / "empty"), (std::vector<std::string>{"images", "order.ctl"}));
    pvhost::RemoveExport(existing);
    EXPECT_TRUE(Exists(tmp / "empty"));
    EXPECT_TRUE(ListFolder(tmp / "empty").empty());

    // A folder that holds something, or a file, is refused and left alone.
    MakeDirs(tmp / "full");
    WriteFile(tmp / "full/keep.txt", "");
    request.exportDir = tmp / "full";
    ExportedOrder refused;
    EXPECT_FALSE(ExportOrder(request, refused, error));
    EXPECT_NE(error.find("not empty"), std::string::npos) << error;
    EXPECT_EQ(ListFolder(tmp / "full"), (std::vector<std::string>{"keep.txt"}));
    request.exportDir = tmp / "full/keep.txt";
    EXPECT_FALSE(ExportOrder(request, refused, error));
    EXPECT_NE(error.find("is a file"), std::string::npos) << error;

    // The tool strips double quotes from its command line, so such a folder cannot work.
    request.exportDir = tmp / "say \"cheese\"";
    EXPECT_FALSE(ExportOrder(request, refused, error));
    EXPECT_NE(error.find("double quote"), std::string::npos) << error;
    EXPECT_FALSE(Exists(tmp / "say \"cheese\""));
}

TEST_F(PvhostExport, StateAfterTheToolRan) {
    WriteFile(pictures / "p.jpg", "p");
    WriteFile(pictures / "q.jpg", "q");
    ExportRequest request;
    request.format = "4.00x6.00";
    request.pictures = {pictures / "p.jpg", pictures / "q.jpg"};
    ExportedOrder order;
    std::string error;
    ASSERT_TRUE(ExportOrder(request, order, error)) << error;

    auto describe = [&order]() { return pvhost::DescribeState(order, pvhost::InspectExport(order)); };
    EXPECT_EQ(describe(), "order kept: control file and 2 pictures still in " + order.folder);
    ::unlink(order.tempFiles[0].c_str());
    EXPECT_EQ(describe(), "order kept: control file and 1 picture still in " + order.folder);
    ::unlink(order.controlFile.c_str());
    EXPECT_EQ(describe(), "order incomplete: control file removed, 1 picture still in " + order.folder);
    EXPECT_FALSE(pvhost::RemoveEmptyExport(order));  // a picture is still there
    EXPECT_TRUE(Exists(order.folder));
    ::unlink(order.tempFiles[1].c_str());
    EXPECT_EQ(describe(), "order sent: files removed");
    EXPECT_TRUE(pvhost::RemoveEmptyExport(order));
    EXPECT_FALSE(Exists(order.folder));
}

}  // namespace
