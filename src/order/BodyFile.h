#pragma once
// The fixed pieces of the upload body (multipart/form-data) and its print-format names.

#include <string>

#include "platform/CString.h"

// Declared in the request's Content-Type (27 hyphens) ...
inline constexpr const char* kMimeBoundary = "---------------------------7d4128363704e6";
// ... and written in the body as "--" and the boundary (29 hyphens).
inline constexpr const char* kMimeDelimiter = "-----------------------------7d4128363704e6";

// The short name the service expects for the host's four standard print formats (letter
// case ignored); any other text is passed on unchanged.
CString ShortPrintFormat(const CString& format);

// A file name as it may stand inside filename="...": '"', CR and LF are percent-encoded,
// as browsers do, so a name can neither end the header line nor add one.
std::string EncodeFormFileName(const CString& name);
