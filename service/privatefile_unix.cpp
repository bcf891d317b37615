#include "service/privatefile.h"

#include <QFile>

#include <fcntl.h>
#include <unistd.h>

bool ReplacePrivateFile(const QString &path, const QByteArray &bytes)
{
    const QByteArray target = QFile::encodeName(path);
    const QByteArray fresh = target + ".new";
    ::unlink(fresh.constData());
    // Made with its final rights: no moment in which another user could open it.
    const int fd = ::open(fresh.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, S_IRUSR | S_IWUSR);
    if (fd < 0)
        return false;
    qint64 written = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + written, size_t(bytes.size() - written));
        if (n <= 0)
            break;
        written += n;
    }
    const bool ok = written == bytes.size() && ::fsync(fd) == 0;
    if (::close(fd) == 0 && ok && ::rename(fresh.constData(), target.constData()) == 0)
        return true;
    ::unlink(fresh.constData());
    return false;
}
