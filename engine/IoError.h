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
    kDiskFull = 101,
    kFileNotOpen = 103,
    // Drawings the pass will not convert, numbered apart from the
    // system's error numbers: a binary DXF file, and (with texts to
    // recode) a drawing whose texts are written in UTF-8.
    kNotAsciiDxf = 1001,
    kTextsInUtf8 = 1002,
    // A drawing another program changed while the pass read it: nothing
    // was replaced.
    kChangedMeanwhile = 1004,
};

// The text shown for an I/O error number: "File access denied.",
// "I/O error 32." and so on (the final "." included). The table also holds
// the texts users know for 100 and 106, though no pass raises them.
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

    // The number of the message table, as the user reads it.
    int code() const noexcept { return code_; }
    // The system's error number behind it (0 when the pass itself raised
    // it): code() 5 may be "permission denied" or, from EIO, an I/O error.
    int systemError() const noexcept { return systemError_; }

private:
    IoError(int code, const std::string& text, int systemError);

    int code_;
    int systemError_ = 0;
};

}  // namespace dxfkonv
