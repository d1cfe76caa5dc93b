#pragma once
// Exporting an order the way the host product does: a new export folder, a temporary copy
// of every picture in its images/ folder, and the control file order.ctl with one line
// per picture, "tempfile|quantity|format|reserved|ImageName".

#include <string>
#include <string_view>
#include <vector>

namespace pvhost {

inline constexpr const char* kControlFileName = "order.ctl";
inline constexpr const char* kImagesFolderName = "images";
inline constexpr const char* kReservedValue = "0";
// The tool reads a line in pieces of 259 bytes, its line feed included; a longer line
// would become two records.
inline constexpr size_t kMaxControlLine = 258;

// The picture's name for the control file: its file name without the extension.
std::string ImageNameOf(const std::string& picture);
// The extension of the picture's file name with its dot ("" when there is none). A
// leading dot does not start an extension.
std::string ExtensionOf(const std::string& picture);
// The temporary file name of picture `index` (from 1): img0001.jpg, ...
std::string TempFileName(int index, const std::string& extension);

struct ControlRecord {
    std::string tempFile;
    int quantity = 1;
    std::string format;
    std::string imageName;
};

// Why `value` cannot stand in a control-file line ('|' separates values and an empty
// value would shift the others; a line break ends the record); empty when it can.
std::string CheckControlValue(std::string_view what, std::string_view value);

// The record's line without its line feed, or false with `error` set when a value cannot
// be written or the line would be longer than the tool reads.
bool FormatControlLine(const ControlRecord& record, std::string& line, std::string& error);

struct ExportRequest {
    std::vector<std::string> pictures;
    std::string format;
    int quantity = 1;
    std::string exportDir;  // empty: a new folder pvexport-XXXXXX under $TMPDIR or /tmp
};

struct ExportedOrder {
    std::string folder;       // the export folder
    std::string imagesFolder;
    std::string controlFile;
    std::vector<std::string> tempFiles;  // in the order of the control file's lines
    bool createdFolder = false;          // the export folder was made by the export
};

// Makes the export. On failure nothing of it is left (a folder it created is removed
// again) and `error` says why.
bool ExportOrder(const ExportRequest& request, ExportedOrder& order, std::string& error);

// Removes what the export made.
void RemoveExport(const ExportedOrder& order);

struct ExportState {
    bool controlFile = false;  // the control file is still there
    int pictures = 0;          // temporary pictures still there
};

ExportState InspectExport(const ExportedOrder& order);

// "order sent: files removed", or what is still there.
std::string DescribeState(const ExportedOrder& order, const ExportState& state);

// Removes the emptied images/ folder and the export folder, if the export created it and
// nothing else is left in it. True when the export folder is gone.
bool RemoveEmptyExport(const ExportedOrder& order);

}  // namespace pvhost
