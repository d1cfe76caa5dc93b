// The control-file passes and ParseRecord on arbitrary bytes. A record that parses has all
// five values, none empty and none holding the separator; one that does not parse has shown
// exactly one box. Every failure of a pass is a CErrorText, never anything else.

#include <cstddef>
#include <cstdint>
#include <string>

#include "FuzzSupport.h"
#include "order/OrderRecord.h"
#include "order/PrintServiceDlg.h"
#include "platform/ErrorText.h"
#include "support/RecordingWindow.h"

namespace {

void CheckRecord(const OrderRecord& record) {
    const CString* values[] = {&record.strTempFile, &record.strFormat, &record.strReserved,
                               &record.strImageName};
    for (const CString* value : values) {
        if (value->IsEmpty()) fuzz::Fail("a parsed record has an empty value");
        if (value->Find('|') >= 0) fuzz::Fail("a parsed value holds the separator");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string path = fuzz::ScratchDir() + "/order.ctl";
    fuzz::WriteInput(path, data, size);

    {
        // The whole input as one line.
        CRecordingWindow window;
        CPrintServiceDlg dlg(window);
        OrderRecord record;
        const CString line(reinterpret_cast<const char*>(data), static_cast<int>(size));
        const int result = dlg.ParseRecord(line, record);
        if (result == 0) {
            CheckRecord(record);
            if (!window.boxes.empty()) fuzz::Fail("a parsed line showed a box");
        } else if (result != -1 || window.boxes.size() != 1) {
            fuzz::Fail("a line that does not parse must give -1 and one box");
        }
    }
    {
        CRecordingWindow window;
        CPrintServiceDlg dlg(window);
        dlg.m_strControlFile = path.c_str();
        int last = 0;
        try {
            dlg.ReadControlFile([&](int index, const OrderRecord& record) {
                if (index != last + 1) fuzz::Fail("records are not numbered 1, 2, 3, ...");
                last = index;
                CheckRecord(record);
            });
            if (!window.boxes.empty()) fuzz::Fail("a pass without failure showed a box");
        } catch (const CErrorText& error) {
            if (error.Text().IsEmpty()) fuzz::Fail("a failure without text");
        }
        try {
            dlg.ReadImageDir();
            const CString& dir = dlg.m_strImageDir;
            if (!dir.IsEmpty() && dir.GetAt(dir.GetLength() - 1) != '/')
                fuzz::Fail("the picture folder does not end in '/'");
        } catch (const CErrorText& error) {
            if (error.Text().IsEmpty()) fuzz::Fail("a failure without text");
        }
        dlg.GetControlDir();
    }
    return 0;
}
