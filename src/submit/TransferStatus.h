#pragma once

#include <cstdint>

#include "platform/Internet.h"

// Turns each step the HTTP layer reports into the status line (control 1002) and moves the
// progress bar (control 1001) to the share of the body sent. `context` is the address of
// the dialog's RequestContext.
void TransferStatusCallback(HINTERNET hInternet, uintptr_t context, uint32_t status, void* info,
                            uint32_t infoLength);
