// I/O failures of a conversion pass, numbered as the user knows them.
#pragma once

#include <stdexcept>
#include <string>

namespace dxfkonv {

// Numbers with a text of their own.
enum IoErrorCode : int {
    kFileNotFound = 2,
    kInvalidFilename = 3,
    kTooManyOpenFiles = 4,
    kFileAccessDenied = 5,
    kReadBeyondEof = 100,
    kDiskFull = 101,
    kFileNotOpen = 103,
    kInvalidNumericInput = 106,
    // Drawings the pass will not convert, numbered apart from the
    // system's error numbers: a binary DXF file, and (with texts to
    // recode) a drawing whose texts are written in UTF-8.
    kNotAsciiDxf = 1001,
    kTextsInUtf8 = 1002,
};

// The text shown for an I/O error number: "File access denied.",
// "I/O error 32." and so on (the final "." included).
std::string ioErrorText(int code);

class IoError : public std::runtime_error {
public:
    explicit IoError(int code);
    IoError(int code, const std::string& text);

    // Maps an errno value to the number and text of the same meaning:
    // ENOENT 2, a bad name 3, too many open files 4, permission denied or a
    // read-only file system 5, no space, quota or file-size limit 101.
    // Any other errno keeps its own number with the text "I/O error N.".
    static IoError fromErrno(int err);

    int code() const noexcept { return code_; }

private:
    int code_;
};

}  // namespace dxfkonv
