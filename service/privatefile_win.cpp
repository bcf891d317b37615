#include "service/privatefile.h"

#include "common/windowssystem_win.h"

#include <QDir>
#include <QFile>

bool ReplacePrivateFile(const QString &path, const QByteArray &bytes)
{
    const QString fresh = path + QStringLiteral(".new");
    QFile::remove(fresh);
    // A new file takes the access rules of the state folder: the system account and administrators only.
    QFile file(fresh);
    const bool ok =
        file.open(QIODevice::WriteOnly | QIODevice::NewOnly) && file.write(bytes) == bytes.size() && file.flush();
    file.close();
    const std::wstring from = QDir::toNativeSeparators(fresh).toStdWString();
    const std::wstring to = QDir::toNativeSeparators(path).toStdWString();
    if (ok && MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    QFile::remove(fresh);
    return false;
}
