#pragma once

#include "platform/CString.h"

// The browser's executable from the registered http open command: an empty `holder` is
// filled from the registry first, then cut to the program's path. Returns the holder.
CString GetDefaultBrowserPath(CString& holder);
