#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "order/PrintServiceDlg.h"
#include "submit/TransferStatus.h"
#include "support/RecordingWindow.h"

namespace {

uintptr_t Context(RequestContext& ctx) { return reinterpret_cast<uintptr_t>(&ctx); }

TEST(TransferStatus, TextsByCode) {
    CRecordingWindow window;
    RequestContext ctx;
    ctx.hDlg = &window;
    struct Case {
        uint32_t code;
        const char* text;
    } cases[] = {
        {10, " RESOLVING_NAME"},     {11, " NAME_RESOLVED"},     {20, " CONNECTING_TO_SERVER"},
        {21, " CONNECTED_TO_SERVER"}, {30, " SENDING_REQUEST"},  {31, " REQUEST_SENT"},
        {40, " RECEIVING_RESPONSE"}, {41, " RESPONSE_RECEIVED"}, {50, " CLOSING_CONNECTION"},
        {51, " CONNECTION_CLOSED"},  {60, " HANDLE_CREATED"},    {70, " HANDLE_CLOSING"},
        {100, " REQUEST_COMPLETE"},  {110, " REDIRECT"},         {120, " INTERMEDIATE_RESPONSE"},
        {200, " STATE_CHANGE"},      {320, " Unknown Status 320 Given"},
        {0, " Unknown Status 0 Given"}, {4294967295u, " Unknown Status -1 Given"},
    };
    for (const auto& c : cases) {
        TransferStatusCallback(nullptr, Context(ctx), c.code, nullptr, 0);
        EXPECT_EQ(window.texts[IDC_STATUS], c.text) << c.code;
    }
    EXPECT_TRUE(window.progress.empty());

    // The prefix stands before the name; the text is cut at 79 characters.
    std::memset(ctx.szPrefix, 'p', 100);
    TransferStatusCallback(nullptr, Context(ctx), 30, nullptr, 0);
    EXPECT_EQ(window.texts[IDC_STATUS], std::string(79, 'p'));
    std::memcpy(ctx.szPrefix, "Upload", 7);
    TransferStatusCallback(nullptr, Context(ctx), 31, nullptr, 0);
    EXPECT_EQ(window.texts[IDC_STATUS], "Upload REQUEST_SENT");
    TransferStatusCallback(nullptr, Context(ctx), 7, nullptr, 0);
    EXPECT_EQ(window.texts[IDC_STATUS], "Upload Unknown Status 7 Given");

    // Back to the empty prefix: every report has the text of its own code again.
    ctx.szPrefix[0] = '\0';
    for (const auto& c : cases) {
        TransferStatusCallback(nullptr, Context(ctx), c.code, nullptr, 0);
        EXPECT_EQ(window.texts[IDC_STATUS], c.text) << c.code;
    }
}

// One report per call: two calls with the same code are two texts sent to the label.
TEST(TransferStatus, EveryCallSendsItsText) {
    CRecordingWindow window;
    RequestContext ctx;
    ctx.hDlg = &window;
    for (uint32_t code : {30u, 31u, 30u, 31u, 30u}) TransferStatusCallback(nullptr, Context(ctx), code, nullptr, 0);
    std::vector<std::string> texts;
    for (const auto& e : window.events)
        if (e.rfind("text 1002 ", 0) == 0) texts.push_back(e.substr(10));
    EXPECT_EQ(texts, (std::vector<std::string>{" SENDING_REQUEST", " REQUEST_SENT", " SENDING_REQUEST",
                                               " REQUEST_SENT", " SENDING_REQUEST"}));
}

TEST(TransferStatus, ProgressIsTheTruncatedShare) {
    struct Case {
        uint64_t sent, total;
        int position;  // -1: the bar is left alone
    } cases[] = {
        {0, 2920, -1}, {1460, 0, -1}, {1460, 2920, 50}, {2920, 2920, 100},
        {29, 100, 28},  // 29 / 100 * 100 is just below 29 in double precision
        {1, 3, 33},     {5'000'000'000ull, 10'000'000'000ull, 50},
    };
    for (const auto& c : cases) {
        CRecordingWindow window;
        RequestContext ctx;
        ctx.hDlg = &window;
        ctx.dwBytesSent = c.sent;
        ctx.dwBytesTotal = c.total;
        TransferStatusCallback(nullptr, Context(ctx), 31, nullptr, 0);
        if (c.position < 0) {
            EXPECT_TRUE(window.progress.empty()) << c.sent << "/" << c.total;
        } else {
            ASSERT_EQ(window.progress.size(), 1u);
            EXPECT_EQ(window.progress[0], c.position) << c.sent << "/" << c.total;
        }
    }
}

}  // namespace
