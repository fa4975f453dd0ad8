// I/O failures of a conversion pass, numbered as the user knows them.
#pragma once

#include <stdexcept>
#include <string>
#include <utility>

namespace dxfkonv {

// The message table's numbers the conversion raises by name; each has a
// text of its own unless said otherwise.
enum IoErrorCode : int {
    kFileNotFound = 2,
    kInvalidFilename = 3,
    kTooManyOpenFiles = 4,
    kFileAccessDenied = 5,
    // A file another program holds, or a name that leads to another file
    // by now than the one the pass worked on; shown as "I/O error 32.".
    kFileInUse = 32,
    kDiskFull = 101,
    kFileNotOpen = 103,
    // Drawings the pass will not convert, numbered apart from the
    // system's error numbers: a binary DXF file, and (with texts to
    // recode) a drawing whose texts are written in UTF-8.
    kNotAsciiDxf = 1001,
    kTextsInUtf8 = 1002,
    // A drawing that declares the code page the conversion writes: it was
    // converted before, and converting it again would damage it.
    kAlreadyConverted = 1003,
    // A drawing another program changed while the pass read it: nothing
    // was replaced.
    kChangedMeanwhile = 1004,
    // A drawing whose backup name another drawing of its directory also
    // has: one backup would replace the other's.
    kSharedBackupName = 1005,
};

// The text shown for an I/O error number: "File access denied.",
// "I/O error 32." and so on (the final "." included).
std::string ioErrorText(int code);

// The text for kSharedBackupName, the names written as given (the command
// line passes them quoted): "The drawing has the same backup name PLAN.old
// as PLAN.DXF; convert it without a backup, or rename one of them."
std::string sharedBackupText(const std::string& backupName, const std::string& otherDrawing);

// Why a conversion failed, in more words than the message table's: the
// step under way ("writing the work file"), the name it worked on, and
// what the system said ("No space left on device") or what the pass found
// ("the name leads to another file than the one read"). Each part may be
// empty.
struct FailureDetail {
    std::string step;
    std::string name;
    std::string reason;

    bool empty() const { return step.empty() && reason.empty(); }
};

// A failure of a conversion: the number of the message table and its text
// (what the window shows), and the detail behind them.
class ConversionError : public std::runtime_error {
public:
    ConversionError(int code, const std::string& text, FailureDetail detail)
        : std::runtime_error(text), code_(code), detail_(std::move(detail))
    {
    }

    // The number of the message table, as the user reads it.
    int code() const noexcept { return code_; }
    const FailureDetail& detail() const noexcept { return detail_; }

private:
    int code_;
    FailureDetail detail_;
};

// A file the pass could not read, write or replace.
class IoError : public ConversionError {
public:
    explicit IoError(int code);
    // `reason`: what the pass found wrong, in words, at the step under way.
    IoError(int code, std::string reason);

    // A failure the system reported with its own error number
    // `systemError`, read as the message table's `code` and `text`.
    IoError(int code, const std::string& text, int systemError, FailureDetail detail);

    // The system's error number behind it (0 when the pass itself raised
    // it): code() 5 may be "permission denied" or, from EIO, an I/O error.
    int systemError() const noexcept { return systemError_; }

private:
    int systemError_ = 0;
};

// A drawing the pass will not convert as it is (a binary DXF file, no DXF
// at all, texts in UTF-8 to be recoded): nothing is wrong with the file
// system, and nothing was touched.
class Refusal : public ConversionError {
public:
    explicit Refusal(int code);
    // kAlreadyConverted: the drawing declares `codePage`.
    Refusal(int code, std::string codePage);
    // kSharedBackupName: `otherDrawing`, in the same directory, has the
    // backup name `backupName` too.
    Refusal(int code, std::string otherDrawing, std::string backupName);

    // The code page a drawing converted before declares.
    const std::string& codePage() const noexcept { return codePage_; }
    // The other drawing with the same backup name, and that name.
    const std::string& otherDrawing() const noexcept { return otherDrawing_; }
    const std::string& backupName() const noexcept { return backupName_; }

private:
    std::string codePage_;
    std::string otherDrawing_;
    std::string backupName_;
};

// The step a conversion is at on this thread, and the name it works on,
// for the errors raised while it lasts; steps nest, the innermost counts.
class IoStep {
public:
    IoStep(const char* step, const std::string& name = {});
    IoStep(const IoStep&) = delete;
    IoStep& operator=(const IoStep&) = delete;
    ~IoStep();

    // The innermost step under way, or an empty detail.
    static FailureDetail current();

private:
    const char* step_;
    std::string name_;
    IoStep* outer_;
};

}  // namespace dxfkonv
