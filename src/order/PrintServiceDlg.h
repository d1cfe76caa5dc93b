#pragma once
// CPrintServiceDlg: the state of one order and the operations on it. It holds no window
// of its own; everything shown goes through the IDialogWindow it is given, so the whole
// order logic runs the same under the Qt dialog and in tests.

#include <cstdint>
#include <functional>
#include <memory>

#include "order/OrderRecord.h"
#include "platform/CString.h"
#include "platform/OutFile.h"
#include "platform/Window.h"

struct InternetHandle;

// Control ids of dialog template 102.
inline constexpr int IDC_EMAIL = 1000;
inline constexpr int IDC_PROGRESS = 1001;
inline constexpr int IDC_STATUS = 1002;
inline constexpr int IDC_PROMPT = 1003;
inline constexpr int IDC_HEADING = 1004;
inline constexpr int IDC_PROGRESS_LABEL = 1005;
inline constexpr int IDR_MAINFRAME = 128;  // icon 128

// The record handed to the HTTP layer as the context of the connection and the request;
// the status callback reads it. Byte counts are 64-bit so bodies of any size count right.
struct RequestContext {
    IDialogWindow* hDlg = nullptr;
    char szPrefix[512] = {};
    std::uint64_t dwBytesSent = 0;
    std::uint64_t dwBytesTotal = 0;
};

// A push button of the dialog, addressed by its control id once attached.
class CButton {
public:
    void Attach(IDialogWindow& window, int id) { m_window = &window; m_id = id; }
    bool IsAttached() const { return m_window != nullptr; }
    void EnableWindow(bool enable) {
        if (m_window) m_window->EnableItem(m_id, enable);
    }

private:
    IDialogWindow* m_window = nullptr;
    int m_id = 0;
};

// Bounds of the upload's waits, in milliseconds.
struct CUploadTimeouts {
    std::uint32_t connectMs = 30000;
    std::uint32_t sendMs = 30000;
    std::uint32_t receiveMs = 60000;
};

class CPrintServiceDlg {
public:
    explicit CPrintServiceDlg(IDialogWindow& window);
    CPrintServiceDlg(const CPrintServiceDlg&) = delete;
    CPrintServiceDlg& operator=(const CPrintServiceDlg&) = delete;

    // Initialises the state from the control-file path (double quotes are removed): the
    // derived paths, the host's language, the saved address, the picture folder, and the
    // texts of the dialog. A failure shows its box and ends the dialog with -1; the later
    // steps still run. Returns true: the focus stays on the first tab stop, OK.
    bool OnInitDialog(const CString& controlFile);

    // --- Control file (one pass = open, read line by line, parse, hand on, close) ---

    // Parses one line (line feeds already removed). 0 when all five values were found;
    // -1 after its own error box (133 naming the missing value, or 134).
    int ParseRecord(const CString& line, OrderRecord& record);
    // Reads the whole control file, numbering records from 1, and hands each to
    // `process`. Raises CErrorText when the file cannot be opened or read, or a line
    // does not parse (153, after ParseRecord's own box).
    void ReadControlFile(const std::function<void(int index, const OrderRecord&)>& process);
    // m_strControlDir = the control file's folder, without its trailing '/'.
    int GetControlDir();
    // m_strImageDir = folder of the first record's picture, with its trailing '/'.
    // Raises CErrorText on failure.
    void ReadImageDir();

    // --- Upload body file (multipart/form-data, written at the stream's end) ---

    // The images and email parts. 0, or -1 after its own error box (162).
    int WriteMimeHeader(COutFile& body, const CString& email, int count);
    // Format_NNN and Qty_NNN of every record (its own pass). Raises CErrorText.
    void WriteOrderFields(COutFile& body);
    // The uploadImage[] part of every record and the close delimiter (its own pass). The
    // temporary pictures stay: they go only after a completed upload. Raises CErrorText.
    void WriteImageParts(COutFile& body);

    // --- E-mail address ---

    // Checks the text of the address box. 0 when accepted; -1 after telling the customer
    // and selecting the text in the box.
    int CheckEmailAddress();

    // --- Upload ---

    // Posts the body file to the print service and sets m_strAccountUrl from the answer.
    // Raises CErrorText on failure; the body file stays as it is.
    void PostBodyFile();
    // The request on `connect`: head, body in 1460-byte blocks, answer. False after its own
    // error box (it also asks the dialog to end).
    bool UseHttpSendReqEx(InternetHandle* connect, const CString& bodyFile);

    // --- The OK button ---

    // Checks the address, writes the body file, uploads it and, once the order is placed,
    // deletes the order's files, opens the account page, saves the address and ends the
    // dialog with IDOK. A failure shows its box and ends the dialog with IDCANCEL, keeping
    // every file so the same order can be sent again.
    void OnBnClickedOk();

    // --- After a completed upload ---

    // Deletes the temporary pictures named in the control file, the body file and the
    // control file. Files that cannot be deleted are named in one error box.
    void DeleteOrderFiles();

    // Removes the emptied folders from the picture folder upwards, unless the pictures lie
    // in the control file's folder. Always 0.
    int RemoveImageFolders(CString imageDir, CString controlDir);
    // Opens `url` in the registered browser or with xdg-open; failing both, shows it in
    // an English box.
    void OpenUrlInBrowser(const CString& url);

    // --- Settings ---
    void LoadCustomerId(const char* settingsFile);
    // Stores m_strEmail; false when the settings file could not be written.
    bool SaveCustomerId(const char* settingsFile);

    // --- Messages ---
    // Loads catalogue text `id` in m_wLanguage into m_strMessage (kept when missing).
    const CString& LoadMessage(std::uint16_t id);
    // AfxMessageBox through the window.
    int AfxMessageBox(const CString& text, unsigned type);

    IDialogWindow& m_wnd;

    int m_hIcon = IDR_MAINFRAME;
    CString m_strEmail;
    CString m_strAccountUrl;
    CString m_strControlFile;
    CString m_strSettingsFile;
    CString m_strImageDir;
    CString m_strBodyFile;
    CString m_strControlDir;
    CString m_strMessage;
    std::uint16_t m_wLanguage = 1033;
    CString m_strObjectName;
    RequestContext m_context;
    CButton m_btnCancel;
    CUploadTimeouts m_timeouts;
    // Makes the writer of the body file for OnBnClickedOk; empty: a plain COutFile. Tests
    // hand in one whose writes fail, or that changes the order's files at a chosen write.
    std::function<std::unique_ptr<COutFile>()> m_newBodyFile;
};
