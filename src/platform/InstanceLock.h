#pragma once
// The single-instance lock shared by every run of the tool of the same user: an flock on
// $XDG_RUNTIME_DIR/Pictorvale_Export_Plugin_Mutex.lock (without XDG_RUNTIME_DIR:
// /tmp/Pictorvale_Export_Plugin_Mutex-<uid>.lock). The kernel drops it when its holder
// dies, so an abandoned lock is simply obtained.

#include <chrono>

#include "platform/CString.h"

class CInstanceLock {
public:
    CInstanceLock() = default;
    ~CInstanceLock();
    CInstanceLock(const CInstanceLock&) = delete;
    CInstanceLock& operator=(const CInstanceLock&) = delete;

    static CString DefaultPath();

    // Opens (creates) the lock file; false when that is impossible.
    bool Open(const char* path);
    // Tries to take the lock until `timeout` has passed.
    bool Acquire(std::chrono::milliseconds timeout);
    void Release();

private:
    int m_fd = -1;
    bool m_held = false;
};
