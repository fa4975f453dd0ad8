#include "engine/IoError.h"


namespace dxfkonv {

std::string ioErrorText(int code)
{
    std::string text;
    switch (code) {
    case kFileNotFound: text = "File not found"; break;
    case kInvalidFilename: text = "Invalid filename"; break;
    case kTooManyOpenFiles: text = "Too many open files"; break;
    case kFileAccessDenied: text = "File access denied"; break;
    case kDiskFull: text = "Disk full"; break;
    case kNotAsciiDxf: text = "Not an ASCII DXF file"; break;
    case kTextsInUtf8:
        text = "Texts in UTF-8 (AutoCAD 2007 or later) cannot be written in the DOS convention: "
               "save the drawing as DXF of AutoCAD 2004 or older, or convert without recoding texts";
        break;
    case kAlreadyConverted: text = "Already converted"; break;
    case kSharedBackupName: text = "Another drawing has the same backup name"; break;
    case kChangedMeanwhile:
        text = "Changed by another program while it was converted; nothing was replaced";
        break;
    default: text = std::string("I/O error ").append(std::to_string(code)); break;
    }
    // A message box sentence ends with a full stop unless it has one already.
    if (!text.empty() && static_cast<unsigned char>(text.back()) > '.')
        text += '.';
    return text;
}

std::string sharedBackupText(const std::string& backupName, const std::string& otherDrawing)
{
    return "The drawing has the same backup name " + backupName + " as " + otherDrawing
           + "; convert it without a backup, or rename one of them.";
}

namespace {

thread_local IoStep* innermost = nullptr;

}  // namespace

IoStep::IoStep(const char* step, const std::string& name) : step_(step), name_(name), outer_(innermost)
{
    innermost = this;
}

IoStep::~IoStep() { innermost = outer_; }

FailureDetail IoStep::current()
{
    if (!innermost)
        return {};
    return {innermost->step_, innermost->name_, {}};
}

IoError::IoError(int code) : IoError(code, ioErrorText(code), 0, {}) {}

IoError::IoError(int code, std::string reason)
    : IoError(code, ioErrorText(code), 0, [&] {
          FailureDetail detail = IoStep::current();
          detail.reason = std::move(reason);
          return detail;
      }())
{
}

IoError::IoError(int code, const std::string& text, int systemError, FailureDetail detail)
    : ConversionError(code, text, std::move(detail)), systemError_(systemError)
{
}

Refusal::Refusal(int code) : ConversionError(code, ioErrorText(code), {}) {}

namespace {

// "Already converted: the drawing declares ANSI_1250."
std::string declaredText(int code, const std::string& codePage)
{
    std::string text = ioErrorText(code);
    text.pop_back();
    return text.append(": the drawing declares ").append(codePage).append(".");
}

}  // namespace

Refusal::Refusal(int code, std::string codePage)
    : ConversionError(code, declaredText(code, codePage), {}), codePage_(std::move(codePage))
{
}

Refusal::Refusal(int code, std::string otherDrawing, std::string backupName)
    : ConversionError(code, sharedBackupText(backupName, otherDrawing), {}), otherDrawing_(std::move(otherDrawing)),
      backupName_(std::move(backupName))
{
}

}  // namespace dxfkonv
