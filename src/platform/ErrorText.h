#pragma once
// The one kind of raised failure: it carries the text that the nearest handler shows
// in an error box, and nothing else.

#include <exception>

#include "platform/CString.h"

class CErrorText : public std::exception {
public:
    explicit CErrorText(CString text) : m_text(std::move(text)) {}
    const CString& Text() const noexcept { return m_text; }
    const char* what() const noexcept override { return m_text.GetString(); }

private:
    CString m_text;
};
