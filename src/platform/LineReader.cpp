#include "platform/LineReader.h"

CLineReader::CLineReader(const char* path) : m_file(std::fopen(path, "r")) {}

bool CLineReader::AtEnd() const { return !m_file || std::feof(m_file.get()) != 0; }

bool CLineReader::Failed() const { return !m_file || std::ferror(m_file.get()) != 0; }

int CLineReader::GetChar() {
    int c = std::getc(m_file.get());
    if (c != '\r') return c;
    int next = std::getc(m_file.get());
    if (next == '\n') return '\n';
    if (next != EOF) std::ungetc(next, m_file.get());
    return '\r';
}

bool CLineReader::ReadLine(CString& line) {
    if (!m_file) return false;
    char buffer[kLineBufferSize];
    int count = 0;
    while (count < kLineBufferSize - 1) {
        int c = GetChar();
        if (c == EOF) break;
        buffer[count++] = static_cast<char>(c);
        if (c == '\n') break;
    }
    if (count == 0 || std::ferror(m_file.get())) return false;
    buffer[count] = '\0';
    line = CString(buffer);
    return true;
}
