#include "order/PrintServiceDlg.h"

#include "host/Catalogue.h"
#include "host/HostFiles.h"
#include "host/MessageIds.h"
#include "platform/ErrorText.h"
#include "platform/Format.h"

CPrintServiceDlg::CPrintServiceDlg(IDialogWindow& window) : m_wnd(window) {}

const CString& CPrintServiceDlg::LoadMessage(std::uint16_t id) {
    LoadCatalogueString(m_strMessage, id, m_wLanguage);
    return m_strMessage;
}

int CPrintServiceDlg::AfxMessageBox(const CString& text, unsigned type) {
    return m_wnd.MessageBox(text, type);
}

bool CPrintServiceDlg::OnInitDialog(const CString& controlFile) {
    m_btnCancel.Attach(m_wnd, IDCANCEL);

    m_strControlFile = controlFile;
    m_strControlFile.Remove('"');
    GetControlDir();

    // The body file is formed from the path as a 260-byte buffer holds it. When the path
    // does not fit, no body file is named at all: a cut path could name a stranger's file.
    CString path = m_strControlFile;
    if (path.GetLength() < kPathBufferSize && MakeBodyFilePath(path, kPathBufferSize) == 0) m_strBodyFile = path;

    CString relaxIni;
    if (LocateRelaxIni(relaxIni, kPathBufferSize) != 0) {
        AfxMessageBox(LoadMessage(IDS_RELAX_INI_NOT_FOUND), MB_ICONERROR);
        m_wnd.EndDialog(-1);
    } else {
        m_wLanguage = LanguageFromLetter(ReadLanguageLetter(relaxIni));
    }

    CString settings;
    if (MakeSettingsFilePath(settings, kPathBufferSize) != 0) {
        AfxMessageBox(LoadMessage(IDS_CONTROL_FILE_NOT_FOUND), MB_ICONERROR);
        m_wnd.EndDialog(-1);
    } else {
        m_strSettingsFile = settings;
        LoadCustomerId(m_strSettingsFile);
    }

    try {
        ReadImageDir();
    } catch (const CErrorText& e) {
        AfxMessageBox(e.Text(), MB_ICONERROR);
        m_wnd.EndDialog(-1);
    }

    m_wnd.SetItemText(IDC_PROMPT, LoadMessage(IDS_EMAIL_PROMPT));
    m_wnd.SetItemText(IDC_PROGRESS_LABEL, LoadMessage(IDS_PROGRESS_LABEL));
    m_wnd.SetItemText(IDCANCEL, LoadMessage(IDS_CANCEL));
    m_wnd.SetItemText(IDC_HEADING, LoadMessage(IDS_HEADING));
    m_wnd.SetCaption(LoadMessage(IDS_CAPTION));

    m_wnd.SetItemText(IDC_EMAIL, m_strEmail);
    return true;
}
