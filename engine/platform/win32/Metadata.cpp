// Owners, permissions and attributes on Windows: a work file takes the
// drawing's security descriptor (owner, group, access control list, and
// whether that list inherits), its attributes and its creation time, as a
// save by a Windows program keeps them.
#include <windows.h>
#include <aclapi.h>

#include <memory>

#include "engine/IoError.h"
#include "engine/platform/win32/FileObjects.h"
#include "engine/platform/win32/Win32Errors.h"

namespace dxfkonv::win32 {

namespace {

// Whether an error giving a file its owner, group or permissions says only
// that they cannot be given here: not by this caller, or not on this file
// system.
bool cannotKeep(DWORD error)
{
    return error == ERROR_ACCESS_DENIED || error == ERROR_INVALID_OWNER || error == ERROR_INVALID_PRIMARY_GROUP
           || error == ERROR_PRIVILEGE_NOT_HELD || error == ERROR_NOT_SUPPORTED || error == ERROR_INVALID_FUNCTION
           || error == ERROR_INVALID_PARAMETER;
}

struct LocalFreer {
    void operator()(void* memory) const { ::LocalFree(memory); }
};

// Whether the owner (or group) of `file` is `sid` already.
bool hasSid(HANDLE file, SECURITY_INFORMATION which, PSID sid)
{
    PSID now = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const DWORD error = ::GetSecurityInfo(file, SE_FILE_OBJECT, which, which == OWNER_SECURITY_INFORMATION ? &now : nullptr,
                                          which == GROUP_SECURITY_INFORMATION ? &now : nullptr, nullptr, nullptr,
                                          &descriptor);
    const std::unique_ptr<void, LocalFreer> free(descriptor);
    return error == ERROR_SUCCESS && now && sid && ::EqualSid(now, sid);
}

// Sets one part of the security of `to`; false where it cannot be set here.
bool setSecurity(HANDLE to, SECURITY_INFORMATION which, PSID owner, PSID group, PACL dacl)
{
    const DWORD error = ::SetSecurityInfo(to, SE_FILE_OBJECT, which, owner, group, dacl, nullptr);
    if (error != ERROR_SUCCESS && !cannotKeep(error))
        FailWith(error);
    return error == ERROR_SUCCESS;
}

}  // namespace

// Gives `to` the owner, group and access control list of `from` as far as
// the caller may, then its attributes and creation time.
MetadataKept CopyMetadata(HANDLE from, HANDLE to)
{
    const IoStep step("giving the work file the drawing's owner and permissions");
    MetadataKept kept;
    PSID owner = nullptr;
    PSID group = nullptr;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const DWORD error = ::GetSecurityInfo(from, SE_FILE_OBJECT,
                                          OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION
                                              | DACL_SECURITY_INFORMATION,
                                          &owner, &group, &dacl, nullptr, &descriptor);
    const std::unique_ptr<void, LocalFreer> free(descriptor);
    if (error != ERROR_SUCCESS) {
        if (!cannotKeep(error))
            FailWith(error);
        kept = {false, false, false};
    } else {
        SECURITY_DESCRIPTOR_CONTROL control = 0;
        DWORD revision = 0;
        ::GetSecurityDescriptorControl(descriptor, &control, &revision);
        // What it inherits it inherits from the same directory.
        const SECURITY_INFORMATION inherit = (control & SE_DACL_PROTECTED) ? PROTECTED_DACL_SECURITY_INFORMATION
                                                                            : UNPROTECTED_DACL_SECURITY_INFORMATION;
        kept.mode = setSecurity(to, DACL_SECURITY_INFORMATION | inherit, nullptr, nullptr, dacl);
        kept.owner = setSecurity(to, OWNER_SECURITY_INFORMATION, owner, nullptr, nullptr)
                     || hasSid(to, OWNER_SECURITY_INFORMATION, owner);
        kept.group = setSecurity(to, GROUP_SECURITY_INFORMATION, nullptr, group, nullptr)
                     || hasSid(to, GROUP_SECURITY_INFORMATION, group);
    }
    FILE_BASIC_INFO basic{};
    if (!::GetFileInformationByHandleEx(from, FileBasicInfo, &basic, sizeof basic))
        failWin32();
    // Times of 0 and attributes of 0 are left as they are.
    FILE_BASIC_INFO given{};
    given.CreationTime = basic.CreationTime;
    given.FileAttributes = basic.FileAttributes
                           & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE
                              | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED);
    if (!::SetFileInformationByHandle(to, FileBasicInfo, &given, sizeof given)) {
        if (!cannotKeep(::GetLastError()))
            failWin32();
        kept.mode = false;
    }
    return kept;
}

}  // namespace dxfkonv::win32
