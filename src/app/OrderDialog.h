#pragma once
// COrderDialog: the order dialog (template 102) as a Qt dialog. It owns the order state
// (CPrintServiceDlg) and is the window through which that state shows itself: control
// texts, the progress bar, message boxes, the wait cursor and the end of the dialog.

#include <QDialog>

#include <map>

#include "order/PrintServiceDlg.h"
#include "platform/Window.h"

class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;

class COrderDialog : public QDialog, public IDialogWindow {
public:
    // Limit of the e-mail edit box, in characters.
    static constexpr int kEmailMaxChars = 100;
    // Shortest pause between two repaints during the blocking upload.
    static constexpr int kRepaintIntervalMs = 30;

    explicit COrderDialog(const CString& controlFile, QWidget* parent = nullptr);
    ~COrderDialog() override;
    COrderDialog(const COrderDialog&) = delete;
    COrderDialog& operator=(const COrderDialog&) = delete;

    // Initialises the order from the control file and, unless the initialisation ended
    // the dialog, shows it modally. Returns IDOK, IDCANCEL, or -1 when the initialisation
    // ended it (the dialog is then never shown).
    int DoModal();

    CPrintServiceDlg& Order() { return m_order; }

    // IDialogWindow
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

    // Escape and the window manager's close: end with IDCANCEL, as the Cancel button
    // does; nothing while the Cancel button is disabled or the order is being sent.
    void reject() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    enum class Phase { Constructed, Initialising, Waiting, Submitting };

    void BuildControls();
    void OnOkClicked();
    // Fixes the dialog's size so that every text shows whole at the template's width.
    void FitToTexts();
    // Lets Qt paint (no user input) when the last repaint is kRepaintIntervalMs old.
    void RepaintNow();
    // Delivers queued events so input made during the upload is dropped, not taken by
    // the next message box.
    void DropPendingInput();
    QWidget* Item(int id) const;
    // Hands the static controls' texts kept in m_labelTexts to their labels.
    void ApplyLabelTexts();

    CString m_strControlFile;
    CPrintServiceDlg m_order;

    QLabel* m_heading = nullptr;
    QLabel* m_prompt = nullptr;
    QLineEdit* m_email = nullptr;
    QLabel* m_progressLabel = nullptr;
    QProgressBar* m_progress = nullptr;
    QLabel* m_status = nullptr;
    QPushButton* m_ok = nullptr;
    QPushButton* m_cancel = nullptr;

    std::map<int, QWidget*> m_items;
    std::map<int, CString> m_labelTexts;  // texts of static controls as they were set

    Phase m_phase = Phase::Constructed;
    bool m_labelTextsPending = false;  // a label text was set while the order was sent
    bool m_endRequested = false;
    int m_endResult = 0;
    int m_waitCursorDepth = 0;
    long long m_lastRepaintMs = -1;  // coarse monotonic time of the last repaint, -1: none yet
};
