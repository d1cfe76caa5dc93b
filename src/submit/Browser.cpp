// Opening the customer's account page: the registered browser, else xdg-open, else the
// address in a box so the customer can open it by hand.

#include "submit/Browser.h"

#include "host/Catalogue.h"
#include "host/MessageIds.h"
#include "order/PrintServiceDlg.h"
#include "platform/FileSystem.h"
#include "platform/Format.h"
#include "platform/Registry.h"
#include "platform/Shell.h"

namespace {
constexpr const char* kBrowserCommandKey = "http\\shell\\open\\command";
}

CString GetDefaultBrowserPath(CString& holder) {
    if (holder.IsEmpty()) {
        CString command;
        if (RegQueryDefaultValue(HKey::ClassesRoot, kBrowserCommandKey, command)) holder = command;
    }
    if (holder.IsEmpty()) return holder;

    if (holder.GetAt(0) == '"') {
        // Quoted: the text between the first two quotes.
        if (holder.GetLength() == 1) return holder;
        int close = holder.Find('"', 1);
        if (close >= 0) holder = holder.Mid(1, close - 1);
        return holder;
    }
    // Unquoted: up to the first blank after the last '/', so blanks in folder names count
    // as part of the path.
    int slash = holder.ReverseFind('/');
    if (slash < 0) return holder;
    int blank = holder.Find(' ', slash + 1);
    if (blank >= 0) holder = holder.Left(blank);
    return holder;
}

void CPrintServiceDlg::OpenUrlInBrowser(const CString& url) {
    CString holder;
    CString browser = GetDefaultBrowserPath(holder);
    int result;
    if (!FileExists(browser)) {
        result = ShellExecuteA(url, nullptr);
    } else {
        result = ShellExecuteA(browser, url);
        if (result <= 32) result = ShellExecuteA(url, nullptr);
    }
    if (result <= 32) {
        CString text;
        LoadCatalogueString(text, IDS_BROWSER_OPEN_FAILED, LANG_ENGLISH);
        AfxMessageBox(FormatText(text, url), MB_ICONERROR);
    }
}
