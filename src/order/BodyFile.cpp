// Writing the upload body file: the head (images, email), the order fields of every
// record, then every picture, then the close delimiter.

#include "order/BodyFile.h"

#include <cstdio>
#include <memory>
#include <string_view>

#include "host/MessageIds.h"
#include "order/PrintServiceDlg.h"
#include "platform/ErrorText.h"
#include "platform/Format.h"

namespace {

constexpr std::size_t kCopyBufferSize = 1000;
// The picture files are read through a larger stdio buffer; the copy itself still goes
// through the 1000-byte block.
constexpr std::size_t kPictureStreamBuffer = 256 * 1024;

// One piece of text written whole, or not at all.
bool WritePiece(COutFile& body, std::string_view text) {
    return body.Write(text.data(), text.size()) == text.size();
}

std::string Delimiter() { return kMimeDelimiter; }
std::string DelimiterLine() { return Delimiter() + "\r\n"; }
std::string LeadingDelimiterLine() { return "\r\n" + Delimiter() + "\r\n"; }

std::string Disposition(std::string_view name) {
    return "Content-Disposition: form-data; name=\"" + std::string(name) + "\"\r\n";
}

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

}  // namespace

CString ShortPrintFormat(const CString& format) {
    static const struct {
        const char* format;
        const char* shortName;
    } kFormats[] = {
        {"4.00x6.00", "4x6"},
        {"5.00x7.00", "5x7"},
        {"8.00x10.00", "8x10"},
        {"2.00x3.00", "2x3"},
    };
    for (const auto& row : kFormats) {
        if (CompareNoCaseAscii(format.str(), row.format) == 0) return CString(row.shortName);
    }
    return format;
}

std::string EncodeFormFileName(const CString& name) {
    std::string out;
    out.reserve(static_cast<std::size_t>(name.GetLength()));
    for (char c : name.str()) {
        switch (c) {
            case '"': out += "%22"; break;
            case '\r': out += "%0D"; break;
            case '\n': out += "%0A"; break;
            default: out += c;
        }
    }
    return out;
}

int CPrintServiceDlg::WriteMimeHeader(COutFile& body, const CString& email, int count) {
    const std::string pieces[] = {
        DelimiterLine(),
        Disposition("images"),
        "\r\n" + std::to_string(count) + "\r\n",
        DelimiterLine(),
        Disposition("email"),
        "\r\n" + email.str(),
    };
    for (const auto& piece : pieces) {
        if (!WritePiece(body, piece)) {
            AfxMessageBox(LoadMessage(IDS_UPLOAD_FILE_WRITE_ERROR), MB_ICONERROR);
            return -1;
        }
    }
    return 0;
}

void CPrintServiceDlg::WriteOrderFields(COutFile& body) {
    ReadControlFile([&](int index, const OrderRecord& record) {
        auto fail = [&](std::uint16_t id) {
            LoadMessage(id);
            if (id == IDS_MIME_FILE_WRITE_ERROR) throw CErrorText(m_strMessage);
            throw CErrorText(FormatText(m_strMessage, m_strBodyFile, record.strImageName,
                                        record.strTempFile));
        };
        const CString number = FormatText("%03d", index);
        if (!WritePiece(body, LeadingDelimiterLine())) fail(IDS_SEPARATOR_WRITE_FAILED);
        if (!WritePiece(body, Disposition("Format_" + number.str()))) fail(IDS_IMAGE_HEADER_WRITE_FAILED);
        if (!WritePiece(body, "\r\n" + ShortPrintFormat(record.strFormat).str() + "\r\n"))
            fail(IDS_MIME_FILE_WRITE_ERROR);
        if (!WritePiece(body, DelimiterLine())) fail(IDS_MIME_FILE_WRITE_ERROR);
        if (!WritePiece(body, Disposition("Qty_" + number.str()))) fail(IDS_QUANTITY_HEADER_WRITE_FAILED);
        if (!WritePiece(body, "\r\n" + std::to_string(record.nQuantity))) fail(IDS_MIME_FILE_WRITE_ERROR);
    });
}

void CPrintServiceDlg::WriteImageParts(COutFile& body) {
    CString lastName;
    CString lastTempFile;
    auto raise = [&](std::uint16_t id, const CString& name, const CString& tempFile) {
        LoadMessage(id);
        throw CErrorText(FormatText(m_strMessage, m_strBodyFile, name, tempFile));
    };

    ReadControlFile([&](int, const OrderRecord& record) {
        lastName = record.strImageName;
        lastTempFile = record.strTempFile;
        if (!WritePiece(body, LeadingDelimiterLine()))
            raise(IDS_SEPARATOR_WRITE_FAILED, record.strImageName, record.strTempFile);
        const std::string header = "Content-Disposition: form-data; name=\"uploadImage[]\"; filename=\"" +
                                   EncodeFormFileName(record.strTempFile) + "\"\r\n";
        if (!WritePiece(body, header) || !WritePiece(body, "Content-Type: image/pjpeg\r\n\r\n"))
            raise(IDS_IMAGE_HEADER_WRITE_FAILED, record.strImageName, record.strTempFile);

        std::unique_ptr<std::FILE, FileCloser> picture(std::fopen(record.strTempFile, "rb"));
        if (!picture) {
            LoadMessage(IDS_IMAGE_OPEN_FAILED);
            throw CErrorText(FormatText(m_strMessage, record.strTempFile));
        }
        std::setvbuf(picture.get(), nullptr, _IOFBF, kPictureStreamBuffer);
        char block[kCopyBufferSize];
        for (;;) {
            std::size_t got = std::fread(block, 1, sizeof block, picture.get());
            if (got > 0) {
                if (body.Write(block, got) != got) {
                    LoadMessage(IDS_IMAGE_COPY_FAILED);
                    throw CErrorText(FormatText(m_strMessage, record.strTempFile, m_strBodyFile));
                }
                continue;
            }
            if (std::feof(picture.get())) break;
            throw CErrorText(FormatText("Read error on image file:\n\n'%s'", record.strTempFile));
        }
    });

    if (!WritePiece(body, "\r\n" + Delimiter() + "--\r\n"))
        raise(IDS_SEPARATOR_WRITE_FAILED, lastName, lastTempFile);
}
