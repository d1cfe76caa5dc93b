#pragma once
// A buffered binary output file ("wb"). Write is virtual so tests can make any single
// write fail, the way a full disk or a broken device would.

#include <cstddef>
#include <memory>

class COutFile {
public:
    COutFile() = default;
    virtual ~COutFile();
    COutFile(const COutFile&) = delete;
    COutFile& operator=(const COutFile&) = delete;

    // Creates the file or empties an existing one.
    bool Open(const char* path);
    bool IsOpen() const { return m_fd >= 0; }
    // Writes at the end of the file; returns how many bytes were taken (all, or fewer on
    // failure). Once a write to the disk has failed, nothing more is taken.
    virtual std::size_t Write(const void* data, std::size_t size);
    // Flushes and closes; false when buffered bytes could not be written.
    bool Close();

private:
    bool Flush();
    bool WriteThrough(const char* data, std::size_t size);

    int m_fd = -1;
    bool m_failed = false;
    std::unique_ptr<char[]> m_buffer;
    std::size_t m_used = 0;
};
