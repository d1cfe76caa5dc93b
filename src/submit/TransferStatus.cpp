#include "submit/TransferStatus.h"

#include <array>
#include <cstddef>

#include "order/PrintServiceDlg.h"
#include "platform/Format.h"

namespace {

constexpr int kStatusTextSize = 80;

const char* StatusFormat(uint32_t status) {
    switch (status) {
        case 10: return "%s RESOLVING_NAME";
        case 11: return "%s NAME_RESOLVED";
        case 20: return "%s CONNECTING_TO_SERVER";
        case 21: return "%s CONNECTED_TO_SERVER";
        case 30: return "%s SENDING_REQUEST";
        case 31: return "%s REQUEST_SENT";
        case 40: return "%s RECEIVING_RESPONSE";
        case 41: return "%s RESPONSE_RECEIVED";
        case 50: return "%s CLOSING_CONNECTION";
        case 51: return "%s CONNECTION_CLOSED";
        case 60: return "%s HANDLE_CREATED";
        case 70: return "%s HANDLE_CLOSING";
        case 100: return "%s REQUEST_COMPLETE";
        case 110: return "%s REDIRECT";
        case 120: return "%s INTERMEDIATE_RESPONSE";
        case 200: return "%s STATE_CHANGE";
        default: return "%s Unknown Status %d Given";
    }
}

constexpr std::array<uint32_t, 16> kNamedStatuses = {10, 11, 20, 21, 30,  31,  40,  41,
                                                     50, 51, 60, 70, 100, 110, 120, 200};

CString StatusText(const CString& prefix, uint32_t status) {
    return FormatBounded(kStatusTextSize, StatusFormat(status), prefix, static_cast<int>(status));
}

// The text of a named status after the empty prefix, the one every transfer has. The
// layer reports twice per block written, so these texts are formatted once, not per report.
const CString* EmptyPrefixText(uint32_t status) {
    static const auto kTexts = [] {
        std::array<CString, kNamedStatuses.size()> texts;
        for (std::size_t i = 0; i < texts.size(); ++i)
            texts[i] = StatusText(CString(), kNamedStatuses[i]);
        return texts;
    }();
    for (std::size_t i = 0; i < kNamedStatuses.size(); ++i)
        if (kNamedStatuses[i] == status) return &kTexts[i];
    return nullptr;
}

}  // namespace

void TransferStatusCallback(HINTERNET, uintptr_t context, uint32_t status, void*, uint32_t) {
    auto* ctx = reinterpret_cast<RequestContext*>(context);
    if (!ctx || !ctx->hDlg) return;
    const CString* fixed = ctx->szPrefix[0] == '\0' ? EmptyPrefixText(status) : nullptr;
    if (fixed) {
        ctx->hDlg->SetItemText(IDC_STATUS, *fixed);
    } else {
        // The prefix is the record's NUL-terminated text; the bound keeps a corrupt one in range.
        const CString prefix(ctx->szPrefix, static_cast<int>(sizeof ctx->szPrefix - 1));
        ctx->hDlg->SetItemText(IDC_STATUS, StatusText(prefix, status));
    }
    if (ctx->dwBytesSent > 0 && ctx->dwBytesTotal > 0) {
        double share = static_cast<double>(ctx->dwBytesSent) / static_cast<double>(ctx->dwBytesTotal);
        ctx->hDlg->SetProgressPos(IDC_PROGRESS, static_cast<int>(share * 100.0));
    }
}
