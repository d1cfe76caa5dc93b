#include "platform/InstanceLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <thread>

namespace {
constexpr auto kPollInterval = std::chrono::milliseconds(50);
}

CInstanceLock::~CInstanceLock() {
    Release();
    if (m_fd >= 0) ::close(m_fd);
}

CString CInstanceLock::DefaultPath() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && runtime[0] == '/') return CString(std::string(runtime) + "/Pictorvale_Export_Plugin_Mutex.lock");
    return CString("/tmp/Pictorvale_Export_Plugin_Mutex-" + std::to_string(::getuid()) + ".lock");
}

bool CInstanceLock::Open(const char* path) {
    if (m_fd >= 0) ::close(m_fd);
    // O_NOFOLLOW: in /tmp a planted link must not make us create or lock another file.
    m_fd = ::open(path, O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    return m_fd >= 0;
}

bool CInstanceLock::Acquire(std::chrono::milliseconds timeout) {
    if (m_fd < 0) return false;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (::flock(m_fd, LOCK_EX | LOCK_NB) == 0) {
            m_held = true;
            return true;
        }
        if (errno != EWOULDBLOCK && errno != EINTR) return false;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(kPollInterval);
    }
}

void CInstanceLock::Release() {
    if (m_held && m_fd >= 0) ::flock(m_fd, LOCK_UN);
    m_held = false;
}
