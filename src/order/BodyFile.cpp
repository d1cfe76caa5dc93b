// Writing the upload body file: the head (images, email), the order fields of every
// record, then every picture, then the close delimiter.

#include "order/BodyFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string_view>

#include "host/MessageIds.h"
#include "order/PrintServiceDlg.h"
#include "platform/ErrorText.h"
#include "platform/Format.h"

namespace {

constexpr std::size_t kCopyBufferSize = 1000;
// The picture files are read from the disk in large pieces; the copy itself still goes
// through the 1000-byte block.
constexpr std::size_t kPictureReadSize = 1024 * 1024;

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

// A picture file opened for reading in binary mode, read like a buffered stream: Read
// fills the block whole unless the file ends or a read fails first. One reader, and so
// one read buffer, serves every picture of an order.
class CPictureReader {
public:
    CPictureReader() : m_buffer(std::make_unique<char[]>(kPictureReadSize)) {}
    ~CPictureReader() { Close(); }
    CPictureReader(const CPictureReader&) = delete;
    CPictureReader& operator=(const CPictureReader&) = delete;

    bool Open(const char* path) {
        Close();
        m_fd = ::open(path, O_RDONLY | O_CLOEXEC);
        if (m_fd < 0) return false;
        if (::fstat(m_fd, &m_opened) != 0) {
            Close();
            return false;
        }
        ::posix_fadvise(m_fd, 0, 0, POSIX_FADV_SEQUENTIAL);
        m_begin = m_end = 0;
        m_read = 0;
        m_atEnd = m_failed = false;
        return true;
    }
    void Close() {
        if (m_fd >= 0) ::close(m_fd);
        m_fd = -1;
    }
    // Up to `size` bytes; fewer only at the end of the file or after a failed read.
    std::size_t Read(char* out, std::size_t size) {
        std::size_t got = 0;
        while (got < size) {
            if (m_begin == m_end && !Fill()) break;
            const std::size_t n = std::min(size - got, m_end - m_begin);
            std::memcpy(out + got, m_buffer.get() + m_begin, n);
            m_begin += n;
            got += n;
        }
        return got;
    }
    bool AtEnd() const { return m_atEnd; }
    // After the end was reached: true when what was read is the file as it was opened,
    // exactly as many bytes as it had then and its size and modification time unchanged
    // since. A picture the host cuts, extends or rewrites while it is copied fails this.
    // Only a regular file has a size to hold it to.
    bool ReadAsOpened() const {
        if (!S_ISREG(m_opened.st_mode)) return true;
        struct stat now {};
        if (::fstat(m_fd, &now) != 0) return false;
        return m_read == static_cast<std::uint64_t>(m_opened.st_size) &&
               now.st_size == m_opened.st_size && now.st_mtim.tv_sec == m_opened.st_mtim.tv_sec &&
               now.st_mtim.tv_nsec == m_opened.st_mtim.tv_nsec;
    }

private:
    bool Fill() {
        if (m_atEnd || m_failed) return false;
        ssize_t n;
        do {
            n = ::read(m_fd, m_buffer.get(), kPictureReadSize);
        } while (n < 0 && errno == EINTR);
        if (n < 0) m_failed = true;
        if (n == 0) m_atEnd = true;
        if (n <= 0) return false;
        m_begin = 0;
        m_end = static_cast<std::size_t>(n);
        m_read += m_end;
        return true;
    }

    std::unique_ptr<char[]> m_buffer;
    int m_fd = -1;
    std::size_t m_begin = 0;
    std::size_t m_end = 0;
    std::uint64_t m_read = 0;  // bytes read from the file so far
    struct stat m_opened {};   // the file as it was when opened
    bool m_atEnd = false;
    bool m_failed = false;
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

    CPictureReader picture;
    ReadControlFile([&](int, const OrderRecord& record) {
        lastName = record.strImageName;
        lastTempFile = record.strTempFile;
        if (!WritePiece(body, LeadingDelimiterLine()))
            raise(IDS_SEPARATOR_WRITE_FAILED, record.strImageName, record.strTempFile);
        const std::string header = "Content-Disposition: form-data; name=\"uploadImage[]\"; filename=\"" +
                                   EncodeFormFileName(record.strTempFile) + "\"\r\n";
        if (!WritePiece(body, header) || !WritePiece(body, "Content-Type: image/pjpeg\r\n\r\n"))
            raise(IDS_IMAGE_HEADER_WRITE_FAILED, record.strImageName, record.strTempFile);

        if (!picture.Open(record.strTempFile)) {
            LoadMessage(IDS_IMAGE_OPEN_FAILED);
            throw CErrorText(FormatText(m_strMessage, record.strTempFile));
        }
        char block[kCopyBufferSize];
        for (;;) {
            std::size_t got = picture.Read(block, sizeof block);
            if (got > 0) {
                if (body.Write(block, got) != got) {
                    LoadMessage(IDS_IMAGE_COPY_FAILED);
                    throw CErrorText(FormatText(m_strMessage, record.strTempFile, m_strBodyFile));
                }
                continue;
            }
            if (picture.AtEnd()) break;
            throw CErrorText(FormatText("Read error on image file:\n\n'%s'", record.strTempFile));
        }
        // A picture changed during the copy would go out cut, extended or mixed: never send it.
        if (!picture.ReadAsOpened()) {
            throw CErrorText(FormatText("Image file changed while it was being read:\n\n'%s'",
                                        record.strTempFile));
        }
        picture.Close();
    });

    if (!WritePiece(body, "\r\n" + Delimiter() + "--\r\n"))
        raise(IDS_SEPARATOR_WRITE_FAILED, lastName, lastTempFile);
}
