#pragma once

#include <QString>

class QFile;

namespace PrivateFile {

// Creates path, which must not exist, readable and writable by its owner only (Windows: and by the system
// account, which runs the services), and opens file on it for writing in text mode.
bool create(const QString &path, QFile *file);

} // namespace PrivateFile
