#include "app/OrderDialog.h"

#include <QApplication>
#include <QBoxLayout>
#include <QCoreApplication>
#include <QCursor>
#include <QEvent>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>

#include <time.h>

#include <algorithm>
#include <exception>
#include <string>
#include <utility>

#include "app/AppIcon.h"
#include "app/MessageBox.h"
#include "app/Trace.h"

namespace {

// The template's width in dialog units (a horizontal dialog unit is a quarter of the
// font's average character width), and the least width in pixels whatever the font.
constexpr int kTemplateWidthDlu = 320;
constexpr int kTemplateMinWidthPx = 480;

QString FromUtf8(const CString& text) { return QString::fromUtf8(text.str()); }
CString ToUtf8(const QString& text) { return CString(text.toUtf8().toStdString()); }

// A static control is as high as the template made it; line breaks at the end of its
// text (the heading has two) would only add empty lines to a label that grows with its
// text, so they are not shown.
QString DisplayText(const CString& text) {
    QString shown = FromUtf8(text);
    while (shown.endsWith(QLatin1Char('\n')) || shown.endsWith(QLatin1Char('\r'))) shown.chop(1);
    return shown;
}

// The edit control counts in characters; the core counts UTF-8 bytes.
int CharIndexOfByte(const QString& text, int bytePos) {
    const QByteArray bytes = text.toUtf8();
    return static_cast<int>(QString::fromUtf8(bytes.left(bytePos)).size());
}

// Milliseconds of the coarse monotonic clock (a few ms resolution). The repaint gate asks
// for the time twice per block sent; this clock costs a fraction of the precise one.
long long CoarseMs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
    return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

bool IsUserInput(QEvent::Type type) {
    switch (type) {
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::ShortcutOverride:
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::Wheel:
        case QEvent::TouchBegin:
        case QEvent::TouchUpdate:
        case QEvent::TouchEnd:
            return true;
        default:
            return false;
    }
}

QLabel* MakeLabel(const char* objectName, QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setObjectName(QString::fromLatin1(objectName));
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return label;
}

}  // namespace

COrderDialog::COrderDialog(const CString& controlFile, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::CustomizeWindowHint),
      m_strControlFile(controlFile),
      m_order(*this) {
    setObjectName(QStringLiteral("orderDialog"));
    setWindowTitle(QStringLiteral("Pictorvale Print Service Interface"));
    setWindowIcon(ApplicationIcon());
    BuildControls();
}

COrderDialog::~COrderDialog() {
    qApp->removeEventFilter(this);
    while (m_waitCursorDepth > 0) SetWaitCursor(false);
}

void COrderDialog::BuildControls() {
    // Created in the template's order, which is also the tab order: OK, Cancel, edit.
    m_ok = new QPushButton(QStringLiteral("OK"), this);
    m_ok->setObjectName(QStringLiteral("ok"));
    m_ok->setDefault(true);
    m_cancel = new QPushButton(QStringLiteral("Cancel"), this);
    m_cancel->setObjectName(QStringLiteral("cancel"));
    m_heading = MakeLabel("heading", this);
    m_email = new QLineEdit(this);
    m_email->setObjectName(QStringLiteral("email"));
    m_email->setMaxLength(kEmailMaxChars);
    m_progress = new QProgressBar(this);
    m_progress->setObjectName(QStringLiteral("progress"));
    m_progress->setRange(0, 100);
    m_progress->setValue(0);
    m_progress->setTextVisible(false);
    m_status = MakeLabel("status", this);
    m_status->setVisible(false);  // the status line is written to but never shown
    m_prompt = MakeLabel("prompt", this);
    m_progressLabel = MakeLabel("progressLabel", this);

    setTabOrder(m_ok, m_cancel);
    setTabOrder(m_cancel, m_email);

    m_items = {
        {IDOK, m_ok},
        {IDCANCEL, m_cancel},
        {IDC_HEADING, m_heading},
        {IDC_EMAIL, m_email},
        {IDC_PROGRESS, m_progress},
        {IDC_STATUS, m_status},
        {IDC_PROMPT, m_prompt},
        {IDC_PROGRESS_LABEL, m_progressLabel},
    };
    // The template's texts, until initialisation sets the host's language.
    const std::pair<int, const char*> templateTexts[] = {
        {IDC_HEADING, "Submitting images to Glimmerprints.\n\n"},
        {IDC_STATUS, ""},
        {IDC_PROMPT, "Please enter your Email address to be used for your account with Glimmerprints:"},
        {IDC_PROGRESS_LABEL, "Upload progress:"},
    };
    for (const auto& [id, text] : templateTexts) {
        m_labelTexts[id] = text;
        static_cast<QLabel*>(m_items[id])->setText(DisplayText(text));
    }

    // Laid out top to bottom as the template places them, buttons at the bottom right.
    auto* layout = new QVBoxLayout(this);
    const int groupGap = fontMetrics().height() / 2;
    layout->addWidget(m_heading);
    layout->addSpacing(groupGap);
    layout->addWidget(m_prompt);
    layout->addWidget(m_email);
    layout->addSpacing(groupGap);
    layout->addWidget(m_progressLabel);
    layout->addWidget(m_progress);
    layout->addWidget(m_status);
    layout->addSpacing(groupGap);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_ok);
    buttons->addWidget(m_cancel);
    layout->addLayout(buttons);

    connect(m_ok, &QPushButton::clicked, this, [this] { OnOkClicked(); });
    connect(m_cancel, &QPushButton::clicked, this, [this] { reject(); });
}

QWidget* COrderDialog::Item(int id) const {
    auto it = m_items.find(id);
    return it == m_items.end() ? nullptr : it->second;
}

int COrderDialog::DoModal() {
    m_phase = Phase::Initialising;
    m_order.OnInitDialog(m_strControlFile);
    if (m_endRequested) {
        // Ended during initialisation: closed before the customer could enter anything.
        m_phase = Phase::Constructed;
        TraceEvent("result", std::to_string(m_endResult));
        return m_endResult;
    }
    m_phase = Phase::Waiting;
    FitToTexts();
    m_ok->setFocus(Qt::OtherFocusReason);  // the first tab stop, not the edit box
    TraceEvent("shown", "");
    const int result = exec();
    m_phase = Phase::Constructed;
    // Any other way of hiding the dialog counts as cancelled.
    const int mapped = (result == IDOK || result == IDCANCEL || result == -1) ? result : IDCANCEL;
    TraceEvent("result", std::to_string(mapped));
    return mapped;
}

void COrderDialog::FitToTexts() {
    const QFontMetrics metrics(font());
    const QString alphabet = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    const double averageChar = metrics.horizontalAdvance(alphabet) / 52.0;
    const int templateWidth = static_cast<int>(averageChar * kTemplateWidthDlu / 4.0 + 0.5);
    layout()->activate();
    const int width = std::max({kTemplateMinWidthPx, templateWidth, layout()->minimumSize().width()});
    const int height = layout()->hasHeightForWidth() ? layout()->totalHeightForWidth(width)
                                                     : layout()->totalSizeHint().height();
    // A modal frame: the size follows the texts, the customer does not resize it.
    setFixedSize(width, height);
}

void COrderDialog::OnOkClicked() {
    if (m_phase != Phase::Waiting) return;
    m_phase = Phase::Submitting;
    qApp->installEventFilter(this);
    try {
        m_order.OnBnClickedOk();
    } catch (const std::exception& e) {
        // A failure the workflow does not handle itself: shown, the dialog stays open.
        MessageBox(CString(e.what()), MB_ICONERROR);
    }
    qApp->removeEventFilter(this);
    ApplyLabelTexts();
    m_phase = Phase::Waiting;
    if (m_endRequested) {
        m_endRequested = false;
        done(m_endResult);
    }
}

void COrderDialog::reject() {
    if (m_phase != Phase::Waiting || !m_cancel->isEnabled()) return;
    done(IDCANCEL);
}

bool COrderDialog::eventFilter(QObject* watched, QEvent* event) {
    // While the order is sent, input aimed at the dialog is dropped; message boxes,
    // which are windows of their own, still get theirs.
    if (m_phase == Phase::Submitting && IsUserInput(event->type()) && watched->isWidgetType() &&
        static_cast<QWidget*>(watched)->window() == this)
        return true;
    return QDialog::eventFilter(watched, event);
}

void COrderDialog::ApplyLabelTexts() {
    if (!m_labelTextsPending) return;
    m_labelTextsPending = false;
    for (const auto& [id, text] : m_labelTexts)
        if (auto* label = qobject_cast<QLabel*>(Item(id))) label->setText(DisplayText(text));
}

void COrderDialog::RepaintNow() {
    if (!isVisible()) return;
    if (m_lastRepaintMs >= 0 && CoarseMs() - m_lastRepaintMs < kRepaintIntervalMs) return;
    ApplyLabelTexts();
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    m_lastRepaintMs = CoarseMs();
}

void COrderDialog::DropPendingInput() {
    if (m_phase != Phase::Submitting || !isVisible()) return;
    ApplyLabelTexts();
    QCoreApplication::processEvents();  // the filter takes the dialog's input
    m_lastRepaintMs = CoarseMs();
}

int COrderDialog::MessageBox(const CString& text, unsigned type) {
    DropPendingInput();
    return ShowMessageBox(isVisible() ? this : nullptr, text, type);
}

void COrderDialog::SetItemText(int id, const CString& text) {
    if (TraceEnabled()) TraceEvent("text", std::to_string(id) + " " + text.str());
    QWidget* item = Item(id);
    if (item == m_email) {
        m_email->setText(FromUtf8(text));
    } else if (auto* button = qobject_cast<QPushButton*>(item)) {
        button->setText(FromUtf8(text));
    } else if (auto* label = qobject_cast<QLabel*>(item)) {
        m_labelTexts[id] = text;
        // While the order is sent the status line gets a text for every step of the
        // transfer, thousands a second; the label takes the latest one when Qt paints.
        if (m_phase == Phase::Submitting)
            m_labelTextsPending = true;
        else
            label->setText(DisplayText(text));
    }
    RepaintNow();
}

CString COrderDialog::GetItemText(int id) const {
    QWidget* item = Item(id);
    if (item == m_email) return ToUtf8(m_email->text());
    if (auto* button = qobject_cast<QPushButton*>(item)) return ToUtf8(button->text());
    auto it = m_labelTexts.find(id);
    return it == m_labelTexts.end() ? CString() : it->second;
}

void COrderDialog::SetCaption(const CString& text) {
    TraceEvent("caption", text.str());
    setWindowTitle(FromUtf8(text));
}

void COrderDialog::SetProgressPos(int id, int position) {
    if (Item(id) == m_progress) {
        // A position outside the range shows as its nearest end, as the bar control does.
        const int clamped = std::clamp(position, m_progress->minimum(), m_progress->maximum());
        if (clamped != m_progress->value()) {
            m_progress->setValue(clamped);
            TraceEvent("progress", std::to_string(clamped));
        }
    }
    RepaintNow();
}

void COrderDialog::EnableItem(int id, bool enable) {
    TraceEvent("enable", std::to_string(id) + (enable ? " 1" : " 0"));
    if (QWidget* item = Item(id)) item->setEnabled(enable);
}

void COrderDialog::SetItemFocus(int id) {
    if (QWidget* item = Item(id)) item->setFocus(Qt::OtherFocusReason);
}

void COrderDialog::SelectText(int id, int start, int end) {
    if (Item(id) != m_email) return;
    const QString text = m_email->text();
    if (start < 0) {
        m_email->deselect();
        return;
    }
    const int first = CharIndexOfByte(text, start);
    const int last = end < 0 ? static_cast<int>(text.size()) : CharIndexOfByte(text, end);
    m_email->setSelection(std::min(first, last), std::abs(last - first));
}

void COrderDialog::ScrollCaret(int) {
    // Nothing to do: a QLineEdit scrolls its cursor into view whenever it moves, and
    // SelectText has already moved it.
}

void COrderDialog::EndDialog(int result) {
    TraceEvent("end", std::to_string(result));
    if (m_phase == Phase::Initialising || m_phase == Phase::Submitting) {
        // Takes effect once initialisation or the OK handler has returned.
        m_endRequested = true;
        m_endResult = result;
        return;
    }
    done(result);
}

void COrderDialog::SetWaitCursor(bool on) {
    if (on) {
        QApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
        ++m_waitCursorDepth;
    } else if (m_waitCursorDepth > 0) {
        QApplication::restoreOverrideCursor();
        --m_waitCursorDepth;
    }
}
