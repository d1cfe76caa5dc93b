#pragma once
// A window that records what the core does to it, in order, for the tests.

#include <map>
#include <string>
#include <vector>

#include "platform/Window.h"

struct RecordedBox {
    std::string text;
    unsigned type = 0;
};

class CRecordingWindow : public IDialogWindow {
public:
    int MessageBox(const CString& text, unsigned type) override;
    void SetItemText(int id, const CString& text) override;
    CString GetItemText(int id) const override;
    void SetCaption(const CString& text) override;
    void SetProgressPos(int id, int position) override;
    void EnableItem(int id, bool enable) override;
    void SetItemFocus(int id) override;
    void SelectText(int id, int start, int end) override;
    void ScrollCaret(int id) override;
    void EndDialog(int result) override;
    void SetWaitCursor(bool on) override;

    // Every call in order, one line each ("box 16 text", "text 1002 ...", "end 2", ...).
    std::vector<std::string> events;
    std::vector<RecordedBox> boxes;
    std::map<int, std::string> texts;
    std::map<int, bool> enabled;         // only controls that were enabled or disabled
    std::vector<int> progress;           // every position set on the progress control
    std::string caption;
    int focus = 0;
    int endResult = 0;
    bool ended = false;
    int waitCursorDepth = 0;
};
