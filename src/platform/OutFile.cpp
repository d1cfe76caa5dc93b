#include "platform/OutFile.h"

namespace {
// Large enough that the 1000-byte pieces of a picture cost a copy, not a system call.
constexpr std::size_t kStreamBufferSize = 256 * 1024;
}  // namespace

COutFile::~COutFile() { Close(); }

bool COutFile::Open(const char* path) {
    Close();
    m_file = std::fopen(path, "wb");
    if (m_file) std::setvbuf(m_file, nullptr, _IOFBF, kStreamBufferSize);
    return m_file != nullptr;
}

std::size_t COutFile::Write(const void* data, std::size_t size) {
    if (!m_file) return 0;
    if (size == 0) return 0;
    return std::fwrite(data, 1, size, m_file);
}

bool COutFile::Close() {
    if (!m_file) return true;
    bool ok = std::fflush(m_file) == 0 && std::ferror(m_file) == 0;
    ok = (std::fclose(m_file) == 0) && ok;
    m_file = nullptr;
    return ok;
}
