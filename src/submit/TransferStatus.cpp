#include "submit/TransferStatus.h"

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

}  // namespace

void TransferStatusCallback(HINTERNET, uintptr_t context, uint32_t status, void*, uint32_t) {
    auto* ctx = reinterpret_cast<RequestContext*>(context);
    if (!ctx || !ctx->hDlg) return;
    // The prefix is the record's NUL-terminated text; the bound keeps a corrupt one in range.
    const CString prefix(ctx->szPrefix, static_cast<int>(sizeof ctx->szPrefix - 1));
    ctx->hDlg->SetItemText(IDC_STATUS, FormatBounded(kStatusTextSize, StatusFormat(status), prefix,
                                                     static_cast<int>(status)));
    if (ctx->dwBytesSent > 0 && ctx->dwBytesTotal > 0) {
        double share = static_cast<double>(ctx->dwBytesSent) / static_cast<double>(ctx->dwBytesTotal);
        ctx->hDlg->SetProgressPos(IDC_PROGRESS, static_cast<int>(share * 100.0));
    }
}
