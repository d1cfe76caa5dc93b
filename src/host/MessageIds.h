#pragma once
// Ids of the message catalogue (res/messages.def).

#include <cstdint>

enum MessageId : std::uint16_t {
    IDS_LOCAL_FILE_OPEN_FAILED = 130,   // "\nFailed to open local file %s."
    IDS_READFILE_FAILED = 131,          // "\nReadFile failed on buffer %lu."
    IDS_ALREADY_RUNNING = 132,          // "A previous ... task is still running"
    IDS_CONTROL_VALUE_EMPTY = 133,      // "A required control file variable is empty: '%s'"
    IDS_IMAGE_NAME_BLANK = 134,         // "blank ImageName in controlfile"
    IDS_IMAGE_COPY_FAILED = 135,        // "Error copying image file: ... to transfer file: ..."
    IDS_END_REQUEST_FAILED = 136,       // "Error on HttpEndRequest %lu \n"
    IDS_SEND_REQUEST_FAILED = 137,      // "Error on HttpSendRequestEx %lu\n"
    IDS_CONTROL_FILE_READ_ERROR = 138,  // "Error reading control file:\n\n'%s'"
    IDS_IMAGE_READ_ERROR = 139,         // "Error reading image file:\n\n'%s'"
    IDS_ERROR_LAST_ERROR = 140,         // "Error: %s\n\n LastError: %lu "
    IDS_OPEN_REQUEST_FAILED = 141,      // "Failed to open request handle: %lu\n"
    IDS_INTERNET_WRITE_FAILED = 142,    // "InternetWriteFile failed %lu"
    IDS_EMAIL_PROMPT = 143,             // label 1003
    IDS_SEND_COMPLETE = 144,            // "Send Complete."
    IDS_CAPTION = 145,                  // dialog caption
    IDS_BODY_FILE_CREATE_FAILED = 146,  // "Unable to create mime file:\n\n'%s'"
    IDS_NO_ACTIVE_DATA_PATH = 147,
    IDS_NO_PNI_SETTINGS = 148,
    IDS_CONTROL_FILE_NOT_FOUND = 149,  // "Unable to find control file:\n\n'%s'"
    IDS_RELAX_INI_NOT_FOUND = 150,     // "Unable to find relax.ini file."
    IDS_NO_DATABASE = 151,
    IDS_IMAGE_OPEN_FAILED = 152,           // "Unable to open image file:\n\n'%s'"
    IDS_CONTROL_RECORD_UNPARSED = 153,     // "Unable to parse controlfile record"
    IDS_IMAGE_HEADER_WRITE_FAILED = 154,   // body file, picture name, temporary file
    IDS_SEPARATOR_WRITE_FAILED = 155,      // body file, picture name, temporary file
    IDS_QUANTITY_HEADER_WRITE_FAILED = 156,  // body file, picture name, temporary file
    IDS_BODY_FILE_WRITE_FAILED = 157,
    IDS_PROGRESS_LABEL = 158,  // label 1005
    IDS_HEADING = 159,         // label 1004
    IDS_USE_HTTP_SEND_REQ_EX_FAILED = 160,  // "UseHttpSendReqEx failed %lu"
    IDS_MIME_FILE_WRITE_ERROR = 161,        // "WriteMimeHeader error writing mime file"
    IDS_UPLOAD_FILE_WRITE_ERROR = 162,      // "WriteMimeHeader error writing upload file"
    IDS_CANCEL = 163,
    IDS_OK = 164,
    IDS_BROWSER_OPEN_FAILED = 165,  // English only
};

inline constexpr std::uint16_t kFirstMessageId = 130;
inline constexpr std::uint16_t kLastMessageId = 165;
