#include "app/ownerfile.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

bool OwnerFile::openForWriting(const QString &path, QFile *file, QIODevice::OpenMode extraMode, QString *error)
{
    // Not truncated on open: whatever stands at the path is checked before anything of it is changed.
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC,
                          S_IRUSR | S_IWUSR);
    if (fd < 0) {
        *error = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    struct stat info
    {
    };
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != geteuid() || info.st_nlink != 1) {
        *error = QStringLiteral("not a plain file of this user");
    } else if (fchmod(fd, S_IRUSR | S_IWUSR) != 0 || ftruncate(fd, 0) != 0) {
        *error = QString::fromLocal8Bit(std::strerror(errno));
    } else if (file->open(fd, QIODevice::WriteOnly | extraMode, QFileDevice::AutoCloseHandle)) {
        return true;
    } else {
        *error = file->errorString();
    }
    ::close(fd);
    return false;
}
