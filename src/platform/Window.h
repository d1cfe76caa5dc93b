#pragma once
// The window interface: everything the core does to the dialog goes through it, so the
// core stays free of any GUI toolkit. The Qt dialog implements it; tests record it.

#include "platform/CString.h"

// Message box types and results (the values of the desktop platform).
inline constexpr unsigned MB_OK = 0x00000000u;
inline constexpr unsigned MB_ICONERROR = 0x00000010u;
inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;

class IDialogWindow {
public:
    virtual ~IDialogWindow() = default;

    // A modal box captioned with the application's name; returns when it is closed.
    virtual int MessageBox(const CString& text, unsigned type) = 0;
    // WM_SETTEXT / GetWindowText on the control `id`.
    virtual void SetItemText(int id, const CString& text) = 0;
    virtual CString GetItemText(int id) const = 0;
    // The dialog's caption (SetWindowText on the dialog itself).
    virtual void SetCaption(const CString& text) = 0;
    // PBM_SETPOS on the progress control `id`.
    virtual void SetProgressPos(int id, int position) = 0;
    virtual void EnableItem(int id, bool enable) = 0;
    // Focus, EM_SETSEL and EM_SCROLLCARET on the edit control `id`.
    virtual void SetItemFocus(int id) = 0;
    virtual void SelectText(int id, int start, int end) = 0;
    virtual void ScrollCaret(int id) = 0;
    // Asks the modal dialog to end; it closes once the running handler has returned.
    virtual void EndDialog(int result) = 0;
    virtual void SetWaitCursor(bool on) = 0;
};

// Shows the wait cursor for the lifetime of the object.
class CWaitCursor {
public:
    explicit CWaitCursor(IDialogWindow& window) : m_window(window) { m_window.SetWaitCursor(true); }
    ~CWaitCursor() { m_window.SetWaitCursor(false); }
    CWaitCursor(const CWaitCursor&) = delete;
    CWaitCursor& operator=(const CWaitCursor&) = delete;

private:
    IDialogWindow& m_window;
};
