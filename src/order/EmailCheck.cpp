#include "order/EmailCheck.h"

#include "order/PrintServiceDlg.h"

bool IsProperEmailAddress(const CString& text) {
    const int length = text.GetLength();
    if (length < 5) return false;                        // at least five bytes
    const int lastAt = text.ReverseFind('@');
    const int lastDot = text.ReverseFind('.');
    if (lastAt < 0 || lastDot < 0) return false;         // an "@" and a "."
    if (length - lastDot > 4) return false;              // at most three after the last "."
    const int lastUnderscore = text.ReverseFind('_');
    if (lastUnderscore >= 0 && lastUnderscore > lastAt) return false;  // no "_" in the domain
    if (text.Find('@', text.Find('@') + 1) >= 0) return false;        // one "@" only
    CString upper = text;
    upper.MakeUpper();
    for (char c : upper.str()) {
        bool allowed = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || c == '_' || c == '.' ||
                       c == '@' || c == '-';
        if (!allowed) return false;
    }
    // An address ending in "." passes the rules above but can never be delivered.
    if (lastDot == length - 1) return false;
    return true;
}

int CPrintServiceDlg::CheckEmailAddress() {
    if (IsProperEmailAddress(m_wnd.GetItemText(IDC_EMAIL))) return 0;
    AfxMessageBox("Please enter a proper email address.", MB_OK);
    m_wnd.SetItemFocus(IDC_EMAIL);
    m_wnd.SelectText(IDC_EMAIL, 0, -1);
    m_wnd.ScrollCaret(IDC_EMAIL);
    return -1;
}
