#include "vpn/privatefile.h"

#include <QFile>

#include <fcntl.h>
#include <unistd.h>

bool PrivateFile::create(const QString &path, QFile *file)
{
    // Created with its final rights: no moment in which another user could open it.
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                          S_IRUSR | S_IWUSR);
    if (fd < 0)
        return false;
    if (file->open(fd, QIODevice::WriteOnly | QIODevice::Text, QFileDevice::AutoCloseHandle))
        return true;
    ::close(fd);
    return false;
}
