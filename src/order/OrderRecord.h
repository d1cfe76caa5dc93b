#pragma once
// One parsed control-file line: file|quantity|format|reserved|ImageName.

#include <cstdint>

#include "platform/CString.h"

struct OrderRecord {
    CString strTempFile;      // value 1: the temporary picture file, as written
    std::int32_t nQuantity = 0;  // value 2 by the rule of atoi
    CString strFormat;        // value 3: the print format, as written
    CString strReserved;      // value 4: must be present, not used
    CString strImageName;     // value 5: the picture's name, for messages
};
