#include "app/MessageBox.h"

#include <QApplication>
#include <QCoreApplication>
#include <QFileInfo>
#include <QMessageBox>

#include "app/Trace.h"
#include "platform/Window.h"

QString ApplicationName() {
    return QFileInfo(QCoreApplication::applicationFilePath()).fileName();
}

int ShowMessageBox(QWidget* parent, const CString& text, unsigned type) {
    TraceEvent("box", std::to_string(type) + " " + text.str());

    QMessageBox box(parent);
    box.setWindowTitle(ApplicationName());
    // Texts hold paths and addresses: never let Qt read them as markup.
    box.setTextFormat(Qt::PlainText);
    box.setText(QString::fromUtf8(text.str()));
    box.setIcon((type & MB_ICONERROR) ? QMessageBox::Critical : QMessageBox::NoIcon);
    box.setStandardButtons(QMessageBox::Ok);
    box.setDefaultButton(QMessageBox::Ok);

    // A box shown while the wait cursor is on still gets the ordinary pointer.
    const bool waiting = QApplication::overrideCursor() != nullptr;
    if (waiting) QApplication::setOverrideCursor(Qt::ArrowCursor);
    box.exec();
    if (waiting) QApplication::restoreOverrideCursor();

    TraceEvent("box-closed", std::to_string(type));
    return IDOK;
}
