// Removing the picture folders an order has emptied, after a completed upload.

#include "order/PrintServiceDlg.h"
#include "platform/FileSystem.h"
#include "platform/Format.h"

int CPrintServiceDlg::RemoveImageFolders(CString imageDir, CString controlDir) {
    CString work = imageDir.Left(kTextBufferSize - 1);
    CString lowerImage = work;
    lowerImage.MakeLower();
    CString lowerControl = controlDir;
    lowerControl.MakeLower();
    // Pictures inside the control file's folder are the host's business (a text test:
    // an empty control folder begins every path, and so stops here too).
    if (lowerImage.Find(lowerControl.str()) == 0) return 0;

    // Climb from the picture folder towards the root. Each folder goes only when it is
    // empty; it is removed by its path as written, since the file system is
    // case-sensitive. The control folder, "/" and texts of 3 characters or fewer stay.
    for (;;) {
        int slash = work.ReverseFind('/');
        if (slash < 0) break;
        work = work.Left(slash);
        if (work.CompareNoCase(controlDir.str()) == 0) break;
        if (work.GetLength() > 3) RemoveEmptyDirectory(work);
    }
    return 0;
}
