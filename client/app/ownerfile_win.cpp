#include "app/ownerfile.h"

#include <QFile>

bool OwnerFile::openForWriting(const QString &path, QFile *file, QIODevice::OpenMode extraMode, QString *error)
{
    // The data folder's access rules are the installer's.
    file->setFileName(path);
    if (file->open(QIODevice::WriteOnly | QIODevice::Truncate | extraMode))
        return true;
    *error = file->errorString();
    return false;
}
