#pragma once
// CPrintServiceApp: the application object. Its one instance, theApp, exists for the
// whole process; InitInstance runs start-up (relax.ini, language, single-instance lock)
// and the order dialog, and the process ends when it returns.

#include "host/StartUp.h"
#include "platform/CString.h"

class CPrintServiceApp : public IStartUpShell {
public:
    // The control-file path as the program was started with it (all arguments joined).
    CString m_strCmdLine;

    // Always false: there is nothing to run after the dialog.
    bool InitInstance();

    // IStartUpShell
    void MessageBox(const CString& text, unsigned type) override;
    void RunOrderDialog() override;
};

extern CPrintServiceApp theApp;
