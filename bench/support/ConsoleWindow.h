#pragma once
// A window for benchmark runs: nobody is there to click, so boxes go to stderr.

#include <cstdio>

#include "platform/Window.h"

class CConsoleWindow : public IDialogWindow {
public:
    int MessageBox(const CString& text, unsigned) override {
        std::fprintf(stderr, "box: %s\n", text.GetString());
        return IDOK;
    }
    void SetItemText(int, const CString&) override {}
    CString GetItemText(int) const override { return CString(); }
    void SetCaption(const CString&) override {}
    void SetProgressPos(int, int) override {}
    void EnableItem(int, bool) override {}
    void SetItemFocus(int) override {}
    void SelectText(int, int, int) override {}
    void ScrollCaret(int) override {}
    void EndDialog(int) override {}
    void SetWaitCursor(bool) override {}
};
