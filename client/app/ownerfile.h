#pragma once

#include <QIODevice>
#include <QString>

class QFile;

// Files that hold secrets (the token, the log): written by their owner only.
namespace OwnerFile {

// Opens file on path for writing from its start, emptied. On Linux the file is made or kept readable and
// writable by its owner only, and a symbolic link, another user's file, a file with a second name or anything
// but a plain file at path is not written. False, with *error set, when it cannot be opened so.
bool openForWriting(const QString &path, QFile *file, QIODevice::OpenMode extraMode, QString *error);

} // namespace OwnerFile
