#include "platform/OutFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {
// The body is written in pieces of at most 1000 bytes; they are gathered here so that the
// disk sees writes of 1 MiB, and the cost of a piece is one copy, not a system call.
constexpr std::size_t kBufferSize = 1024 * 1024;
}  // namespace

COutFile::~COutFile() { Close(); }

bool COutFile::Open(const char* path) {
    Close();
    m_fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (m_fd < 0) return false;
    if (!m_buffer) m_buffer = std::make_unique<char[]>(kBufferSize);
    m_used = 0;
    m_failed = false;
    return true;
}

bool COutFile::WriteThrough(const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(m_fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            m_failed = true;
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool COutFile::Flush() {
    const std::size_t used = m_used;
    m_used = 0;
    return WriteThrough(m_buffer.get(), used);
}

std::size_t COutFile::Write(const void* data, std::size_t size) {
    if (m_fd < 0 || m_failed || size == 0) return 0;
    const char* bytes = static_cast<const char*>(data);
    if (size <= kBufferSize - m_used) {
        std::memcpy(m_buffer.get() + m_used, bytes, size);
        m_used += size;
        return size;
    }
    if (!Flush()) return 0;
    if (size >= kBufferSize) return WriteThrough(bytes, size) ? size : 0;
    std::memcpy(m_buffer.get(), bytes, size);
    m_used = size;
    return size;
}

bool COutFile::Close() {
    if (m_fd < 0) return true;
    bool ok = !m_failed && Flush();
    ok = (::close(m_fd) == 0) && ok;
    m_fd = -1;
    m_used = 0;
    return ok;
}
