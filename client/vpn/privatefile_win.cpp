// winsock2.h must come before windows.h, which the Qt headers pull in.
#include <winsock2.h>

#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <sddl.h>

#include "vpn/privatefile.h"

#include <QDir>
#include <QFile>

#include <string>

bool PrivateFile::create(const QString &path, QFile *file)
{
    // Full control for the owner and the system account only, nothing inherited from the folder.
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(A;;FA;;;OW)(A;;FA;;;SY)", SDDL_REVISION_1,
                                                              &descriptor, nullptr))
        return false;
    SECURITY_ATTRIBUTES attributes = {sizeof(attributes), descriptor, FALSE};
    const std::wstring name = QDir::toNativeSeparators(path).toStdWString();
    HANDLE handle =
        CreateFileW(name.c_str(), GENERIC_WRITE, 0, &attributes, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    LocalFree(descriptor);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    const int fd = _open_osfhandle(intptr_t(handle), _O_WRONLY | _O_BINARY);
    if (fd < 0) {
        CloseHandle(handle);
        return false;
    }
    if (file->open(fd, QIODevice::WriteOnly | QIODevice::Text, QFileDevice::AutoCloseHandle))
        return true;
    _close(fd);
    return false;
}
