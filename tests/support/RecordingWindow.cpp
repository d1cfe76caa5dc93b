#include "support/RecordingWindow.h"

int CRecordingWindow::MessageBox(const CString& text, unsigned type) {
    boxes.push_back({text.str(), type});
    events.push_back("box " + std::to_string(type) + " " + text.str());
    return IDOK;
}

void CRecordingWindow::SetItemText(int id, const CString& text) {
    texts[id] = text.str();
    events.push_back("text " + std::to_string(id) + " " + text.str());
}

CString CRecordingWindow::GetItemText(int id) const {
    auto it = texts.find(id);
    return it == texts.end() ? CString() : CString(it->second);
}

void CRecordingWindow::SetCaption(const CString& text) {
    caption = text.str();
    events.push_back("caption " + text.str());
}

void CRecordingWindow::SetProgressPos(int id, int position) {
    progress.push_back(position);
    events.push_back("progress " + std::to_string(id) + " " + std::to_string(position));
}

void CRecordingWindow::EnableItem(int id, bool enable) {
    enabled[id] = enable;
    events.push_back(std::string(enable ? "enable " : "disable ") + std::to_string(id));
}

void CRecordingWindow::SetItemFocus(int id) {
    focus = id;
    events.push_back("focus " + std::to_string(id));
}

void CRecordingWindow::SelectText(int id, int start, int end) {
    events.push_back("select " + std::to_string(id) + " " + std::to_string(start) + " " +
                     std::to_string(end));
}

void CRecordingWindow::ScrollCaret(int id) { events.push_back("scrollcaret " + std::to_string(id)); }

void CRecordingWindow::EndDialog(int result) {
    ended = true;
    endResult = result;
    events.push_back("end " + std::to_string(result));
}

void CRecordingWindow::SetWaitCursor(bool on) {
    waitCursorDepth += on ? 1 : -1;
    events.push_back(on ? "wait on" : "wait off");
}
