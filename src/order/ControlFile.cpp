// Reading the control file: one line per picture, "file|quantity|format|reserved|name".

#include <climits>
#include <cstdint>

#include "host/MessageIds.h"
#include "order/PrintServiceDlg.h"
#include "platform/ErrorText.h"
#include "platform/Format.h"
#include "platform/LineReader.h"

namespace {

constexpr const char* kSeparator = "|";
constexpr const char* kControlFileNotFound = "Unable to find control file:\n\n'%s'";

// The rule of atoi: leading white space, an optional sign, then decimal digits up to the
// first other byte; no digits give 0. Values beyond 32 bits stop at the limit instead of
// overflowing.
std::int32_t ToInteger(const CString& text) {
    const char* p = text.GetString();
    while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\v' || *p == '\f' || *p == '\r') ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = (*p++ == '-');
    std::int64_t value = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        value = value * 10 + (*p - '0');
        if (value > static_cast<std::int64_t>(INT32_MAX) + 1) break;
    }
    if (negative) value = -value;
    if (value > INT32_MAX) return INT32_MAX;
    if (value < INT32_MIN) return INT32_MIN;
    return static_cast<std::int32_t>(value);
}

CString ControlFileNotFound(const CString& path) { return FormatText(kControlFileNotFound, path); }

}  // namespace

int CPrintServiceDlg::ParseRecord(const CString& line, OrderRecord& record) {
    // Message 133 names the missing value; the fifth one has a message of its own.
    const char* missing = nullptr;
    int pos = 0;
    record.strTempFile = line.Tokenize(kSeparator, pos);
    if (record.strTempFile.IsEmpty()) {
        missing = "TempFile";
    } else {
        CString quantity = line.Tokenize(kSeparator, pos);
        if (quantity.IsEmpty()) {
            missing = "Quantity";
        } else {
            record.nQuantity = ToInteger(quantity);
            record.strFormat = line.Tokenize(kSeparator, pos);
            if (record.strFormat.IsEmpty()) {
                missing = "Format";
            } else {
                record.strReserved = line.Tokenize(kSeparator, pos);
                if (record.strReserved.IsEmpty()) missing = "Reserved";
            }
        }
    }
    if (missing) {
        LoadMessage(IDS_CONTROL_VALUE_EMPTY);
        AfxMessageBox(FormatText(m_strMessage, missing), MB_ICONERROR);
        return -1;
    }
    record.strImageName = line.Tokenize(kSeparator, pos);
    if (record.strImageName.IsEmpty()) {
        AfxMessageBox(LoadMessage(IDS_IMAGE_NAME_BLANK), MB_ICONERROR);
        return -1;
    }
    return 0;
}

void CPrintServiceDlg::ReadControlFile(
    const std::function<void(int index, const OrderRecord&)>& process) {
    CLineReader reader(m_strControlFile);
    if (!reader.IsOpen()) throw CErrorText(ControlFileNotFound(m_strControlFile));
    int index = 0;
    CString line;
    while (!reader.AtEnd()) {
        if (!reader.ReadLine(line)) {
            // A read error (not the end) would otherwise be retried for ever.
            if (reader.Failed()) {
                LoadMessage(IDS_CONTROL_FILE_READ_ERROR);
                throw CErrorText(FormatText(m_strMessage, m_strControlFile));
            }
            continue;
        }
        ++index;
        int end = line.GetLength();
        while (end > 0 && line.GetAt(end - 1) == '\n') --end;
        int start = 0;
        while (start < end && line.GetAt(start) == '\n') ++start;
        line = line.Mid(start, end - start);

        OrderRecord record;
        if (ParseRecord(line, record) == -1) throw CErrorText(LoadMessage(IDS_CONTROL_RECORD_UNPARSED));
        process(index, record);
    }
}

int CPrintServiceDlg::GetControlDir() {
    CString path = m_strControlFile.Left(kTextBufferSize - 1);
    int slash = path.ReverseFind('/');
    m_strControlDir = slash < 0 ? CString() : path.Left(slash);
    return m_strControlDir.IsEmpty() ? -1 : 0;
}

void CPrintServiceDlg::ReadImageDir() {
    CLineReader reader(m_strControlFile);
    if (!reader.IsOpen()) throw CErrorText(ControlFileNotFound(m_strControlFile));
    CString line;
    if (!reader.ReadLine(line)) {
        LoadMessage(IDS_CONTROL_FILE_READ_ERROR);
        throw CErrorText(FormatText(m_strMessage, m_strControlFile));
    }
    // Line feeds are not removed here: an empty first line gives its line feed as value.
    int pos = 0;
    CString file = line.Tokenize(kSeparator, pos);
    if (file.IsEmpty()) {
        LoadMessage(IDS_CONTROL_VALUE_EMPTY);
        throw CErrorText(FormatText(m_strMessage, "TempFile"));
    }
    int slash = file.ReverseFind('/');
    m_strImageDir = slash < 0 ? CString() : file.Left(slash + 1);
}
