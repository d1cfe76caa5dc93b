// The OK button: the whole road of one order, from the address check to the account page.

#include <memory>
#include <string>

#include "host/MessageIds.h"
#include "order/PrintServiceDlg.h"
#include "platform/ErrorText.h"
#include "platform/FileSystem.h"
#include "platform/Format.h"

namespace {

constexpr const char* kDeleteFailed = "Unable to delete file:\n\n'%s'\n\n%s";
constexpr const char* kSaveFailed = "Unable to save your email address in the settings file:\n\n'%s'";

// Deletes `path`; a file that is already gone counts as deleted. Failures are collected.
void Delete(const CString& path, std::string& failures) {
    CString reason;
    if (RemoveFile(path, reason) || !FileExists(path)) return;
    if (!failures.empty()) failures += "\n\n";
    // Each entry is cut like every text with values; the box shows them all.
    failures += FormatText(kDeleteFailed, path, reason).str();
}

}  // namespace

void CPrintServiceDlg::OnBnClickedOk() {
    CWaitCursor wait(m_wnd);
    m_strEmail = m_wnd.GetItemText(IDC_EMAIL);
    // A refused address leaves the dialog as it was, Cancel included, for a correction.
    if (CheckEmailAddress() == -1) return;
    m_btnCancel.EnableWindow(false);

    try {
        int count = 0;
        ReadControlFile([&count](int, const OrderRecord&) { ++count; });

        const std::unique_ptr<COutFile> bodyFile =
            m_newBodyFile ? m_newBodyFile() : std::make_unique<COutFile>();
        COutFile& body = *bodyFile;
        if (!body.Open(m_strBodyFile)) {
            LoadMessage(IDS_BODY_FILE_CREATE_FAILED);
            throw CErrorText(FormatText(m_strMessage, m_strBodyFile));
        }
        if (WriteMimeHeader(body, m_strEmail, count) == -1) {
            LoadMessage(IDS_IMAGE_HEADER_WRITE_FAILED);
            throw CErrorText(FormatText(m_strMessage, m_strBodyFile, "", ""));
        }
        WriteOrderFields(body);
        WriteImageParts(body);
        // Buffered bytes the disk did not take would make a cut body: never send one.
        if (!body.Close()) {
            LoadMessage(IDS_BODY_FILE_WRITE_FAILED);
            throw CErrorText(FormatText(m_strMessage, m_strBodyFile));
        }

        PostBodyFile();
    } catch (const CErrorText& e) {
        AfxMessageBox(e.Text(), MB_ICONERROR);
        m_wnd.EndDialog(IDCANCEL);
        return;
    }

    // The order is placed. Every step from here runs, whatever fails on the way, so the
    // customer gets the account page and the order is never sent twice.
    DeleteOrderFiles();
    RemoveImageFolders(m_strImageDir, m_strControlDir);
    m_wnd.SetItemText(IDC_STATUS, LoadMessage(IDS_SEND_COMPLETE));
    OpenUrlInBrowser(m_strAccountUrl);
    if (!SaveCustomerId(m_strSettingsFile))
        AfxMessageBox(FormatText(kSaveFailed, m_strSettingsFile), MB_ICONERROR);
    m_strEmail = m_wnd.GetItemText(IDC_EMAIL);
    m_wnd.EndDialog(IDOK);
}

void CPrintServiceDlg::DeleteOrderFiles() {
    std::string failures;
    try {
        ReadControlFile([&failures](int, const OrderRecord& record) { Delete(record.strTempFile, failures); });
    } catch (const CErrorText& e) {
        if (!failures.empty()) failures += "\n\n";
        failures += e.Text().str();
    }
    Delete(m_strBodyFile, failures);
    Delete(m_strControlFile, failures);
    if (!failures.empty()) AfxMessageBox(CString(failures), MB_ICONERROR);
}
