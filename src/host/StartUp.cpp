#include "host/StartUp.h"

#include "host/Catalogue.h"
#include "host/HostFiles.h"
#include "host/MessageIds.h"
#include "platform/Format.h"
#include "platform/InstanceLock.h"
#include "platform/Window.h"

bool RunStartUp(IStartUpShell& shell, const CStartUpOptions& options) {
    CString relaxIni;
    if (LocateRelaxIni(relaxIni, kPathBufferSize) != 0) {
        shell.MessageBox("Unable to find relax.ini file.", MB_ICONERROR);
        return false;
    }
    const std::uint16_t language = LanguageFromLetter(ReadLanguageLetter(relaxIni));

    const CString lockPath = options.lockPath.IsEmpty() ? CInstanceLock::DefaultPath() : options.lockPath;
    CInstanceLock lock;
    if (!lock.Open(lockPath)) {
        shell.MessageBox(FormatText("Unable to create the lock file:\n\n'%s'", lockPath), MB_ICONERROR);
        return false;
    }
    if (!lock.Acquire(options.lockWait)) {
        CString text;
        LoadCatalogueString(text, IDS_ALREADY_RUNNING, language);
        shell.MessageBox(text, MB_ICONERROR);
        return false;
    }
    shell.RunOrderDialog();
    lock.Release();
    return false;
}
