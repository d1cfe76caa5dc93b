// The Qt order dialog in a real (offscreen) window: controls, focus and tab order, how it
// ends, message boxes, layout of every language, and repainting during the upload.

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <netinet/in.h>
#include <unistd.h>

#include <QApplication>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "app/OrderDialog.h"
#include "platform/ProfileFile.h"
#include "support/RawHttpServer.h"
#include "support/TempDir.h"

// Sanitizer builds: memory that fontconfig keeps until the process ends (only third-party
// libraries belong here; the same list as lsan-qt.supp).
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\nleak:libQt6Gui.so\nleak:libQt6Widgets.so\nleak:libQt6Core.so\n"
           "leak:libQt6DBus.so\nleak:libdbus-1.so\nleak:libxcb\nleak:libX11.so\nleak:libglib-2.0.so\n";
}

namespace {

// The offscreen platform cannot pass a fixed size on to a window manager, and says so.
void QuietHandler(QtMsgType type, const QMessageLogContext&, const QString& message) {
    if (message.contains(QStringLiteral("propagateSizeHints"))) return;
    if (type != QtDebugMsg) fprintf(stderr, "%s\n", qPrintable(message));
}

QApplication& App() {
    static int argc = 1;
    static char name[] = "dialog_tests";
    static char* argv[] = {name, nullptr};
    // Created once and never destroyed: Qt's own globals are gone by the time static
    // objects are destroyed at exit.
    static QApplication* const app = [] {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
        qInstallMessageHandler(QuietHandler);
        auto* created = new QApplication(argc, argv);
        QApplication::setQuitOnLastWindowClosed(false);
        return created;
    }();
    return *app;
}

struct SeenBox {
    QString title;
    QString text;
    QMessageBox::Icon icon;
    bool overDialog;  // shown while the dialog was on screen
};

// Closes every message box as it appears (OK), recording it.
class CBoxCloser {
public:
    explicit CBoxCloser(const QWidget* dialog) {
        m_timer.setInterval(10);
        QObject::connect(&m_timer, &QTimer::timeout, [this, dialog] {
            for (QWidget* w : QApplication::topLevelWidgets()) {
                auto* box = qobject_cast<QMessageBox*>(w);
                if (!box || !box->isVisible() || box->property("seen").toBool()) continue;
                box->setProperty("seen", true);
                boxes.push_back({box->windowTitle(), box->text(), box->icon(), dialog->isVisible()});
                box->button(QMessageBox::Ok)->click();
            }
        });
        m_timer.start();
    }
    std::vector<SeenBox> boxes;

private:
    QTimer m_timer;
};

// Runs `check` once the dialog is up, active, and no box covers it.
void WhenShown(COrderDialog& dialog, std::function<void()> check) {
    auto* timer = new QTimer(&dialog);
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, [timer, &dialog, check] {
        if (!dialog.isVisible() || QApplication::activeModalWidget() != &dialog || !dialog.isActiveWindow()) return;
        timer->stop();
        check();
    });
    timer->start();
}

// A port on 127.0.0.1 where nothing listens.
int ClosedPort() {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    socklen_t len = sizeof addr;
    ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    ::close(fd);
    return ntohs(addr.sin_port);
}

class OrderDialogTest : public ::testing::Test {
protected:
    CTempDir dir;
    CScopedEnv xdg{"XDG_CONFIG_HOME", (dir / "config").c_str()};
    CScopedEnv searchPath{"PATH", (dir / "bin").c_str()};
    std::string control = dir / "Export/order.ctl";
    std::vector<std::string> pictures;

    OrderDialogTest() {
        App();
        MakeDirs(dir / "Export");
        MakeDirs(dir / "Pictures");
        MakeDirs(dir / "bin");
        MakeDirs(dir / "host");
        MakeDirs(dir / "config/pictorvale");
        std::string lines;
        for (int i = 1; i <= 2; ++i) {
            std::string p = dir / ("Pictures/p" + std::to_string(i) + ".jpg");
            WriteFile(p, std::string(static_cast<size_t>(40000 * i), static_cast<char>('a' + i)));
            pictures.push_back(p);
            lines += p + "|" + std::to_string(i) + "|4.00x6.00|x|Picture " + std::to_string(i) + "\n";
        }
        WriteFile(control, lines);
        // xdg-open stand-in: the account page is never opened in a real browser.
        std::string opener = dir / "bin/xdg-open";
        WriteFile(opener, "#!/bin/sh\nprintf '%s' \"$1\" > \"" + dir / "opened" + "\"\n");
        ::chmod(opener.c_str(), 0755);
        Install("E");
        UseService("127.0.0.1:" + std::to_string(ClosedPort()));
    }

    void Install(const char* letter) {
        WriteFile(dir / "host/relax.ini", std::string("[PVGallery_#_Registration]\nLanguage=") + letter + "\n");
        WriteFile(dir / "config/pictorvale/registry.reg",
                  "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Tessaly\\Pictorvale Gallery\\1.0\\IniFilePath]\n@=\"" +
                      dir / "host/relax.ini" + "\"\n");
    }

    // The settings file is named after the running executable.
    std::string SettingsFile() const {
        return dir / ("config/pictorvale/" +
                      QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName().toStdString() + ".ini");
    }

    void UseService(const std::string& hostAndPort) {
        WritePrivateProfileString("Service", "Host", hostAndPort.c_str(), SettingsFile().c_str());
    }

    static QString Caption() { return QFileInfo(QCoreApplication::applicationFilePath()).fileName(); }
};

template <typename T>
T* Find(COrderDialog& dialog, const char* name) {
    T* widget = dialog.findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(widget, nullptr) << name;
    return widget;
}

TEST_F(OrderDialogTest, ShowsTheTemplatesControlsWithFocusOnOk) {
    WritePrivateProfileString("Dialog", "CustomerID", "ann@example.com", SettingsFile().c_str());
    COrderDialog dialog{CString(control)};
    bool checked = false;
    WhenShown(dialog, [&] {
        checked = true;
        auto* ok = Find<QPushButton>(dialog, "ok");
        auto* cancel = Find<QPushButton>(dialog, "cancel");
        auto* email = Find<QLineEdit>(dialog, "email");
        EXPECT_EQ(QApplication::focusWidget(), ok);
        EXPECT_TRUE(ok->isDefault());
        // Tab order: OK, Cancel, edit, and round again.
        for (QWidget* next : std::vector<QWidget*>{cancel, email, ok}) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            EXPECT_EQ(QApplication::focusWidget(), next) << next->objectName().toStdString();
        }
        EXPECT_EQ(email->text(), QStringLiteral("ann@example.com"));
        EXPECT_EQ(cancel->text(), QStringLiteral("Cancel"));
        EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Pictorvale Print Service Interface"));
        EXPECT_FALSE(dialog.windowFlags() & Qt::WindowCloseButtonHint);
        EXPECT_FALSE(dialog.windowFlags() & Qt::WindowSystemMenuHint);
        EXPECT_TRUE(dialog.windowFlags() & Qt::CustomizeWindowHint);
        EXPECT_FALSE(dialog.windowIcon().availableSizes().isEmpty());

        auto* progress = Find<QProgressBar>(dialog, "progress");
        EXPECT_EQ(progress->minimum(), 0);
        EXPECT_EQ(progress->maximum(), 100);
        // The status line takes texts but never shows.
        auto* status = Find<QLabel>(dialog, "status");
        dialog.SetItemText(IDC_STATUS, "Send Complete.");
        EXPECT_FALSE(status->isVisible());
        EXPECT_EQ(dialog.GetItemText(IDC_STATUS), "Send Complete.");
        // The heading keeps its text as set, line breaks included.
        EXPECT_EQ(dialog.GetItemText(IDC_HEADING), "Uploading images to Glimmerprints.\n\n");

        // The edit box takes 100 characters and refuses the 101st.
        email->clear();
        email->setFocus();
        QTest::keyClicks(email, QString(101, QLatin1Char('x')));
        EXPECT_EQ(email->text().size(), 100);
        EXPECT_EQ(dialog.GetItemText(IDC_EMAIL).GetLength(), 100);
        dialog.reject();
    });
    EXPECT_EQ(dialog.DoModal(), IDCANCEL);
    EXPECT_TRUE(checked);
}

TEST_F(OrderDialogTest, EndsWithTheIdOfTheWayItWasClosed) {
    struct Case {
        const char* name;
        std::function<void(COrderDialog&)> close;
        int result;
    };
    const std::vector<Case> cases = {
        {"Escape", [](COrderDialog& d) { QTest::keyClick(&d, Qt::Key_Escape); }, IDCANCEL},
        {"Cancel button", [](COrderDialog& d) { Find<QPushButton>(d, "cancel")->click(); }, IDCANCEL},
        {"window closed", [](COrderDialog& d) { d.close(); }, IDCANCEL},
        {"EndDialog(IDOK)", [](COrderDialog& d) { d.EndDialog(IDOK); }, IDOK},
    };
    for (const auto& c : cases) {
        COrderDialog dialog{CString(control)};
        WhenShown(dialog, [&] { c.close(dialog); });
        EXPECT_EQ(dialog.DoModal(), c.result) << c.name;
        EXPECT_TRUE(Exists(control)) << c.name;
    }
}

TEST_F(OrderDialogTest, EscapeDoesNothingWhileCancelIsDisabled) {
    COrderDialog dialog{CString(control)};
    bool stayedOpen = false;
    WhenShown(dialog, [&] {
        dialog.EnableItem(IDCANCEL, false);
        QTest::keyClick(&dialog, Qt::Key_Escape);
        dialog.close();
        stayedOpen = dialog.isVisible();
        dialog.EnableItem(IDCANCEL, true);
        QTest::keyClick(&dialog, Qt::Key_Escape);
    });
    EXPECT_EQ(dialog.DoModal(), IDCANCEL);
    EXPECT_TRUE(stayedOpen);
}

TEST_F(OrderDialogTest, FailedInitialisationClosesWithMinusOneWithoutShowing) {
    // No relax.ini and no control file: both boxes, each in English, then -1.
    std::remove((dir / "host/relax.ini").c_str());
    std::remove(control.c_str());
    COrderDialog dialog{CString(control)};
    CBoxCloser closer(&dialog);
    bool everShown = false;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (!dialog.isVisible()) return;
        everShown = true;
        dialog.done(99);  // so that a dialog shown by mistake does not wait for input
    });
    watch.start(1);
    EXPECT_EQ(dialog.DoModal(), -1);
    EXPECT_FALSE(everShown);
    ASSERT_EQ(closer.boxes.size(), 2u);
    EXPECT_EQ(closer.boxes[0].text, QStringLiteral("Unable to find relax.ini file."));
    EXPECT_EQ(closer.boxes[1].text, QString::fromStdString("Unable to find control file:\n\n'" + control + "'"));
    for (const auto& box : closer.boxes) {
        EXPECT_EQ(box.title, Caption());
        EXPECT_EQ(box.icon, QMessageBox::Critical);
    }
}

TEST_F(OrderDialogTest, RefusedAddressKeepsTheDialogOpenWithTheTextSelected) {
    COrderDialog dialog{CString(control)};
    CBoxCloser closer(&dialog);
    bool checked = false;
    WhenShown(dialog, [&] {
        auto* email = Find<QLineEdit>(dialog, "email");
        email->setText(QStringLiteral("not an address"));
        QTest::keyClick(&dialog, Qt::Key_Return);  // Enter presses OK
        ASSERT_EQ(closer.boxes.size(), 1u);
        EXPECT_EQ(closer.boxes[0].text, QStringLiteral("Please enter a proper email address."));
        EXPECT_EQ(closer.boxes[0].icon, QMessageBox::NoIcon);
        EXPECT_EQ(closer.boxes[0].title, Caption());
        EXPECT_TRUE(dialog.isVisible());
        EXPECT_EQ(dialog.focusWidget(), email);
        EXPECT_EQ(email->selectedText(), QStringLiteral("not an address"));
        EXPECT_EQ(QApplication::overrideCursor(), nullptr);  // the wait cursor is gone again
        checked = true;
        dialog.EnableItem(IDCANCEL, true);
        dialog.reject();
    });
    dialog.DoModal();
    EXPECT_TRUE(checked);
    EXPECT_FALSE(Exists(dir / "Export/order.txt"));
}

TEST_F(OrderDialogTest, FailedUploadShowsItsBoxesOverTheDialogThenEndsWithCancel) {
    COrderDialog dialog{CString(control)};
    dialog.Order().m_timeouts = {3000, 3000, 3000};
    CBoxCloser closer(&dialog);
    WhenShown(dialog, [&] {
        Find<QLineEdit>(dialog, "email")->setText(QStringLiteral("ann@example.com"));
        Find<QPushButton>(dialog, "ok")->click();
    });
    EXPECT_EQ(dialog.DoModal(), IDCANCEL);
    ASSERT_FALSE(closer.boxes.empty());
    for (const auto& box : closer.boxes) {
        EXPECT_EQ(box.icon, QMessageBox::Critical) << box.text.toStdString();
        EXPECT_TRUE(box.overDialog) << box.text.toStdString();
    }
    EXPECT_TRUE(Exists(control));
    EXPECT_TRUE(Exists(dir / "Export/order.txt"));
    EXPECT_FALSE(Exists(dir / "opened"));
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(OrderDialogTest, CompletedOrderEndsWithOkAndAFullBar) {
    CRawHttpServer service([](CRawHttpServer::CConnection& c) {
        if (!c.ReadRequest()) return;
        c.Send("HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 6\r\n\r\npw-123");
        c.Close();
    });
    UseService(service.HostAndPort());
    COrderDialog dialog{CString(control)};
    CBoxCloser closer(&dialog);
    std::vector<int> shownValues;
    auto* progress = Find<QProgressBar>(dialog, "progress");
    QObject::connect(progress, &QProgressBar::valueChanged, [&](int v) { shownValues.push_back(v); });
    WhenShown(dialog, [&] {
        Find<QLineEdit>(dialog, "email")->setText(QStringLiteral("ann@example.com"));
        QTest::keyClick(&dialog, Qt::Key_Return);
    });
    EXPECT_EQ(dialog.DoModal(), IDOK);
    EXPECT_TRUE(closer.boxes.empty()) << closer.boxes[0].text.toStdString();
    ASSERT_FALSE(shownValues.empty());
    EXPECT_EQ(shownValues.back(), 100);
    EXPECT_EQ(dialog.GetItemText(IDC_STATUS), "Send Complete.");
    // Texts set while sending reach the label too, the last one included.
    EXPECT_EQ(Find<QLabel>(dialog, "status")->text(), QStringLiteral("Send Complete."));
    EXPECT_FALSE(Exists(control));
    EXPECT_EQ(GetPrivateProfileString("Dialog", "CustomerID", "", 101, SettingsFile().c_str()).str(),
              "ann@example.com");
    for (int i = 0; i < 300 && !Exists(dir / "opened"); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(ReadFile(dir / "opened").rfind("http://" + service.HostAndPort() + "/glimmerprints.php?", 0), 0u);
}

TEST_F(OrderDialogTest, EveryLanguageShowsEveryTextWhole) {
    for (const char* letter : {"E", "G", "F", "I", "S"}) {
        Install(letter);
        COrderDialog dialog{CString(control)};
        bool checked = false;
        WhenShown(dialog, [&] {
            checked = true;
            for (const char* name : {"heading", "prompt", "progressLabel"}) {
                auto* label = Find<QLabel>(dialog, name);
                EXPECT_FALSE(label->text().isEmpty()) << letter << " " << name;
                EXPECT_GE(label->height(), label->heightForWidth(label->width())) << letter << " " << name;
                EXPECT_GE(label->width(), 100) << letter << " " << name;
                EXPECT_LE(label->geometry().right(), dialog.width()) << letter << " " << name;
            }
            for (const char* name : {"ok", "cancel"}) {
                auto* button = Find<QPushButton>(dialog, name);
                EXPECT_GE(button->width(), button->sizeHint().width()) << letter << " " << name;
                EXPECT_LE(button->geometry().right(), dialog.width()) << letter << " " << name;
            }
            dialog.reject();
        });
        dialog.DoModal();
        EXPECT_TRUE(checked) << letter;
    }
}

TEST_F(OrderDialogTest, RepaintsDuringTheUploadAtMostEveryThirtyMilliseconds) {
    COrderDialog dialog{CString(control)};
    // Counts how often queued events get delivered while the core keeps calling in.
    struct Counter : QObject {
        int deliveries = 0;
        bool pending = false;
        bool event(QEvent* e) override {
            if (e->type() != QEvent::User) return QObject::event(e);
            ++deliveries;
            pending = false;
            return true;
        }
    } counter;
    long long elapsedMs = 0;
    WhenShown(dialog, [&] {
        const auto start = std::chrono::steady_clock::now();
        int calls = 0;
        while (std::chrono::steady_clock::now() - start < std::chrono::milliseconds(200) || calls < 2000) {
            if (!counter.pending) {
                counter.pending = true;
                QCoreApplication::postEvent(&counter, new QEvent(QEvent::User));
            }
            dialog.SetProgressPos(IDC_PROGRESS, calls % 101);
            dialog.SetItemText(IDC_STATUS, "Status 30");
            ++calls;
        }
        elapsedMs = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
        dialog.reject();
    });
    dialog.DoModal();
    EXPECT_GE(counter.deliveries, 2);
    EXPECT_LE(counter.deliveries, elapsedMs / COrderDialog::kRepaintIntervalMs + 2);
}

TEST_F(OrderDialogTest, SelectionPositionsCountUtf8Bytes) {
    COrderDialog dialog{CString(control)};
    auto* email = Find<QLineEdit>(dialog, "email");
    dialog.SetItemText(IDC_EMAIL, "äb@c.de");  // "ä" is two bytes
    dialog.SelectText(IDC_EMAIL, 2, 3);
    EXPECT_EQ(email->selectedText(), QStringLiteral("b"));
    dialog.SelectText(IDC_EMAIL, 0, -1);
    EXPECT_EQ(email->selectedText(), QString::fromUtf8("äb@c.de"));
    dialog.SelectText(IDC_EMAIL, -1, 0);
    EXPECT_FALSE(email->hasSelectedText());
    dialog.SetProgressPos(IDC_PROGRESS, 150);
    EXPECT_EQ(Find<QProgressBar>(dialog, "progress")->value(), 100);
    dialog.SetProgressPos(IDC_PROGRESS, -5);
    EXPECT_EQ(Find<QProgressBar>(dialog, "progress")->value(), 0);
}

}  // namespace
