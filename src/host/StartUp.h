#pragma once
// Start-up: the host installation must be found, and only one instance works at a time.

#include <chrono>
#include <cstdint>

#include "platform/CString.h"

// What start-up needs from the application around it.
class IStartUpShell {
public:
    virtual ~IStartUpShell() = default;
    // A modal box before any dialog exists, captioned with the application's name.
    virtual void MessageBox(const CString& text, unsigned type) = 0;
    // Runs the order dialog modally; returns when it has ended.
    virtual void RunOrderDialog() = 0;
};

struct CStartUpOptions {
    CString lockPath;  // empty: CInstanceLock::DefaultPath()
    std::chrono::milliseconds lockWait{10000};
};

// Locates relax.ini (else the fixed English box, no lock taken), takes the language from
// it, waits for the single-instance lock (else message 132 in that language), runs the
// dialog and releases the lock. Always false: the process ends afterwards.
bool RunStartUp(IStartUpShell& shell, const CStartUpOptions& options = {});
