#include "platform/CString.h"

#include <algorithm>
#include <cstring>

namespace {

char ToLowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
char ToUpperAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

size_t Clamp(int value, size_t limit) {
    if (value < 0) return 0;
    return std::min(static_cast<size_t>(value), limit);
}

}  // namespace

CString::CString(const char* text, int length)
    : m_text(text && length > 0 ? std::string(text, ::strnlen(text, static_cast<size_t>(length)))
                                : std::string()) {}

CString CString::Tokenize(std::string_view separators, int& pos) const {
    if (pos < 0) return CString();
    size_t start = m_text.find_first_not_of(separators, static_cast<size_t>(pos));
    if (start == std::string::npos) {
        pos = -1;
        return CString();
    }
    size_t end = m_text.find_first_of(separators, start);
    if (end == std::string::npos) end = m_text.size();
    // The position moves just past the byte that ended the run.
    pos = static_cast<int>(std::min(end + 1, m_text.size() + 1));
    return CString(m_text.substr(start, end - start));
}

int CString::Find(char ch, int start) const {
    if (start < 0) start = 0;
    size_t at = m_text.find(ch, static_cast<size_t>(start));
    return at == std::string::npos ? -1 : static_cast<int>(at);
}

int CString::Find(std::string_view sub, int start) const {
    if (start < 0) start = 0;
    if (static_cast<size_t>(start) > m_text.size()) return -1;
    size_t at = m_text.find(sub, static_cast<size_t>(start));
    return at == std::string::npos ? -1 : static_cast<int>(at);
}

int CString::ReverseFind(char ch) const {
    size_t at = m_text.rfind(ch);
    return at == std::string::npos ? -1 : static_cast<int>(at);
}

CString CString::Left(int count) const { return CString(m_text.substr(0, Clamp(count, m_text.size()))); }

CString CString::Mid(int first) const {
    size_t from = Clamp(first, m_text.size());
    return CString(m_text.substr(from));
}

CString CString::Mid(int first, int count) const {
    size_t from = Clamp(first, m_text.size());
    return CString(m_text.substr(from, Clamp(count, m_text.size() - from)));
}

CString CString::Right(int count) const {
    size_t n = Clamp(count, m_text.size());
    return CString(m_text.substr(m_text.size() - n));
}

CString& CString::MakeLower() {
    std::transform(m_text.begin(), m_text.end(), m_text.begin(), ToLowerAscii);
    return *this;
}

CString& CString::MakeUpper() {
    std::transform(m_text.begin(), m_text.end(), m_text.begin(), ToUpperAscii);
    return *this;
}

int CString::CompareNoCase(std::string_view other) const { return CompareNoCaseAscii(m_text, other); }

int CString::Remove(char ch) {
    size_t before = m_text.size();
    std::erase(m_text, ch);
    return static_cast<int>(before - m_text.size());
}

void CString::Truncate(int length) { m_text.resize(Clamp(length, m_text.size())); }

int CompareNoCaseAscii(std::string_view a, std::string_view b) {
    size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        auto ca = static_cast<unsigned char>(ToLowerAscii(a[i]));
        auto cb = static_cast<unsigned char>(ToLowerAscii(b[i]));
        if (ca != cb) return ca < cb ? -1 : 1;
    }
    if (a.size() == b.size()) return 0;
    return a.size() < b.size() ? -1 : 1;
}

std::string_view TrimBlanks(std::string_view text) {
    constexpr std::string_view kBlanks = " \t";
    size_t first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) return {};
    size_t last = text.find_last_not_of(kBlanks);
    return text.substr(first, last - first + 1);
}
