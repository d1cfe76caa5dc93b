// pvprint: the Pictorvale print-order tool. The host starts it with the path of a control
// file as its whole command line.

#include <QApplication>

#include "app/AppIcon.h"
#include "app/PrintServiceApp.h"
#include "platform/CommandLine.h"

int main(int argc, char** argv) {
    theApp.m_strCmdLine = ControlFileFromArguments(argc, argv);

    // Qt is shown the program name only: a control-file path must never be taken for one
    // of Qt's own options (-display, -style, ...).
    char fallbackName[] = "pvprint";
    char* qtArgv[] = {argc > 0 && argv[0] ? argv[0] : fallbackName, nullptr};
    int qtArgc = 1;
    QApplication application(qtArgc, qtArgv);
    // The program ends when InitInstance returns, not when a window closes.
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::setWindowIcon(ApplicationIcon());  // message boxes before the dialog too

    theApp.InitInstance();
    return 0;
}
