#pragma once
// A window for headless runs of the whole order: it keeps only the address box's text (the
// OK workflow reads it back), counts message boxes and remembers how the dialog ended.
// Every other call does nothing, so the figures show the order logic alone.

#include <cstdio>

#include "order/PrintServiceDlg.h"
#include "platform/Window.h"

class CHeadlessWindow : public IDialogWindow {
public:
    int MessageBox(const CString& text, unsigned) override {
        std::fprintf(stderr, "box: %s\n", text.GetString());
        ++m_nBoxes;
        return IDOK;
    }
    void SetItemText(int id, const CString& text) override {
        if (id == IDC_EMAIL) m_strEmail = text;
    }
    CString GetItemText(int id) const override { return id == IDC_EMAIL ? m_strEmail : CString(); }
    void SetCaption(const CString&) override {}
    void SetProgressPos(int, int position) override { m_nLastProgress = position; }
    void EnableItem(int, bool) override {}
    void SetItemFocus(int) override {}
    void SelectText(int, int, int) override {}
    void ScrollCaret(int) override {}
    void EndDialog(int result) override {
        m_bEnded = true;
        m_nEndResult = result;
    }
    void SetWaitCursor(bool) override {}

    CString m_strEmail;
    int m_nBoxes = 0;
    int m_nLastProgress = 0;
    bool m_bEnded = false;
    int m_nEndResult = 0;
};
