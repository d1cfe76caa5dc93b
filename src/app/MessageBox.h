#pragma once
// The program's message boxes (AfxMessageBox): modal, captioned with the application's
// name, one OK button; MB_ICONERROR gives the critical icon, MB_OK none.

#include <QString>

#include "platform/CString.h"

class QWidget;

// The application's name: the file name of the running executable ("pvprint").
QString ApplicationName();

// Shows `text` in a modal box over `parent` (none: centred on the screen) and returns
// IDOK once the box is closed.
int ShowMessageBox(QWidget* parent, const CString& text, unsigned type);
