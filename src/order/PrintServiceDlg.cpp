#include "order/PrintServiceDlg.h"

#include "host/Catalogue.h"

CPrintServiceDlg::CPrintServiceDlg(IDialogWindow& window) : m_wnd(window) {}

const CString& CPrintServiceDlg::LoadMessage(std::uint16_t id) {
    LoadCatalogueString(m_strMessage, id, m_wLanguage);
    return m_strMessage;
}

int CPrintServiceDlg::AfxMessageBox(const CString& text, unsigned type) {
    return m_wnd.MessageBox(text, type);
}
