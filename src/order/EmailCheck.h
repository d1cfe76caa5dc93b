#pragma once

#include "platform/CString.h"

// The syntax rules an e-mail address must meet before an order is written or sent.
bool IsProperEmailAddress(const CString& text);
