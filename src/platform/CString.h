#pragma once
// CString: narrow (UTF-8) text with the few operations the order logic needs.
// Positions and lengths count bytes; a missing position is -1.

#include <compare>
#include <string>
#include <string_view>

class CString {
public:
    CString() = default;
    CString(const char* text) : m_text(text ? text : "") {}  // NOLINT: implicit like the original
    // At most `length` bytes of `text`, up to its first NUL.
    CString(const char* text, int length);
    CString(std::string text) : m_text(std::move(text)) {}  // NOLINT
    CString(std::string_view text) : m_text(text) {}       // NOLINT

    int GetLength() const { return static_cast<int>(m_text.size()); }
    bool IsEmpty() const { return m_text.empty(); }
    void Empty() { m_text.clear(); }
    const char* GetString() const { return m_text.c_str(); }
    operator const char*() const { return m_text.c_str(); }  // NOLINT: used as LPCSTR
    const std::string& str() const { return m_text; }
    char GetAt(int index) const { return m_text[static_cast<size_t>(index)]; }

    // Next value after `pos`: skips every separator from `pos`, then takes the longest
    // run of other bytes. At the end of the text it returns "" and sets `pos` to -1.
    CString Tokenize(std::string_view separators, int& pos) const;

    int Find(char ch, int start = 0) const;
    int Find(std::string_view sub, int start = 0) const;
    int ReverseFind(char ch) const;

    CString Left(int count) const;
    CString Mid(int first) const;
    CString Mid(int first, int count) const;
    CString Right(int count) const;

    // ASCII case folding; other bytes (UTF-8 sequences) stay as they are.
    CString& MakeLower();
    CString& MakeUpper();
    int CompareNoCase(std::string_view other) const;

    int Remove(char ch);  // removes every `ch`, returns how many went
    void Truncate(int length);

    CString& operator+=(const CString& other) { m_text += other.m_text; return *this; }
    CString& operator+=(const char* other) { m_text += other; return *this; }
    CString& operator+=(char ch) { m_text += ch; return *this; }
    friend CString operator+(CString a, const CString& b) { return a += b; }
    friend CString operator+(CString a, const char* b) { return a += b; }

    friend bool operator==(const CString& a, const CString& b) { return a.m_text == b.m_text; }
    friend bool operator==(const CString& a, const char* b) { return a.m_text == (b ? b : ""); }
    friend auto operator<=>(const CString& a, const CString& b) { return a.m_text <=> b.m_text; }

private:
    std::string m_text;
};

// Case-insensitive comparison of ASCII letters (lstrcmpiA, CompareStringA with
// NORM_IGNORECASE): < 0, 0 or > 0.
int CompareNoCaseAscii(std::string_view a, std::string_view b);

// `text` without the blanks and tabs at its start and end.
std::string_view TrimBlanks(std::string_view text);
