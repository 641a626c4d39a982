#include "support/ForeignFolder.h"

#include <QDir>

#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

bool PlantForeignFolder(const QString& path) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(
            L"D:P(A;OICI;FA;;;WD)", SDDL_REVISION_1, &descriptor, nullptr))
        return false;
    BOOL present = FALSE, defaulted = FALSE;
    PACL acl = nullptr;
    GetSecurityDescriptorDacl(descriptor, &present, &acl, &defaulted);
    const QString native = QDir::toNativeSeparators(path);
    const DWORD result = SetNamedSecurityInfoW(
        const_cast<wchar_t*>(reinterpret_cast<const wchar_t*>(native.utf16())), SE_FILE_OBJECT,
        DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr, nullptr, acl,
        nullptr);
    LocalFree(descriptor);
    return result == ERROR_SUCCESS;
}
