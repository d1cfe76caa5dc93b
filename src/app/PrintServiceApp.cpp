#include "app/PrintServiceApp.h"

#include "app/MessageBox.h"
#include "app/OrderDialog.h"

CPrintServiceApp theApp;

bool CPrintServiceApp::InitInstance() {
    return RunStartUp(*this);
}

void CPrintServiceApp::MessageBox(const CString& text, unsigned type) {
    ShowMessageBox(nullptr, text, type);
}

void CPrintServiceApp::RunOrderDialog() {
    COrderDialog dialog(m_strCmdLine);
    dialog.DoModal();  // the result is not used: the process ends either way
}
