#pragma once
// Reads a text file line by line the way a text-mode stream and fgets on a 260-byte
// buffer do: every CR LF pair becomes one LF (a lone CR stays), and a read takes at most
// 259 bytes, up to and including the first LF.

#include <cstdio>
#include <memory>

#include "platform/CString.h"

class CLineReader {
public:
    static constexpr int kLineBufferSize = 260;

    // Opens `path` for reading; IsOpen() tells whether that worked.
    explicit CLineReader(const char* path);

    bool IsOpen() const { return m_file != nullptr; }
    // End of file reached by an earlier read (feof).
    bool AtEnd() const;
    // A read failed for another reason than the end of the file (ferror).
    bool Failed() const;
    // One fgets-style read. False when it yielded nothing (end of file or an error).
    // The text stops at the first NUL byte, as a C string read from the buffer does.
    bool ReadLine(CString& line);

private:
    int GetChar();

    struct Closer {
        void operator()(std::FILE* f) const { std::fclose(f); }
    };
    std::unique_ptr<std::FILE, Closer> m_file;
};
