#include "engine/platform/posix/Errno.h"

#include <cerrno>
#include <cstring>
#include <string>
#include <utility>

namespace dxfkonv {

IoError IoErrorFromErrno(int err)
{
    FailureDetail detail = IoStep::current();
    detail.reason = std::strerror(err);
    int code = err;
    switch (err) {
    case ENOENT: code = kFileNotFound; break;
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP:
    case EISDIR: code = kInvalidFilename; break;
    case EMFILE:
    case ENFILE: code = kTooManyOpenFiles; break;
    case EACCES:
    case EPERM:
    case EROFS:
    case ETXTBSY: code = kFileAccessDenied; break;
    case ENOSPC:
    case EDQUOT:
    case EFBIG: code = kDiskFull; break;
    default:
        // Numbers of their own (EIO is 5 on Linux, for example) must not
        // borrow another number's text.
        return IoError(err, std::string("I/O error ").append(std::to_string(err)).append("."), err,
                       std::move(detail));
    }
    return IoError(code, ioErrorText(code), err, std::move(detail));
}

}  // namespace dxfkonv
