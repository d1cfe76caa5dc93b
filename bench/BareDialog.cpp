// The start-up anchor: a bare Qt dialog with the same kinds of controls as the order
// dialog (three labels, an edit box, a progress bar, two buttons) and nothing behind it.
//   bench_bare_dialog        (its window is titled "Bare dialog")

#include <QApplication>
#include <QBoxLayout>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QDialog dialog(nullptr, Qt::Dialog | Qt::WindowTitleHint | Qt::CustomizeWindowHint);
    dialog.setWindowTitle(QStringLiteral("Bare dialog"));
    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(new QLabel(QStringLiteral("Submitting images."), &dialog));
    layout->addWidget(new QLabel(QStringLiteral("Please enter your Email address:"), &dialog));
    layout->addWidget(new QLineEdit(QStringLiteral("someone@example.com"), &dialog));
    layout->addWidget(new QLabel(QStringLiteral("Upload progress:"), &dialog));
    auto* progress = new QProgressBar(&dialog);
    progress->setTextVisible(false);
    layout->addWidget(progress);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    auto* ok = new QPushButton(QStringLiteral("OK"), &dialog);
    ok->setDefault(true);
    buttons->addWidget(ok);
    buttons->addWidget(new QPushButton(QStringLiteral("Cancel"), &dialog));
    layout->addLayout(buttons);
    QObject::connect(ok, &QPushButton::clicked, &dialog, &QDialog::accept);
    return dialog.exec() == QDialog::Accepted ? 0 : 1;
}
