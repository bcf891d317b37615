#pragma once

#include <QByteArray>
#include <QString>

// Replaces the file at path in one step with a new one holding bytes, readable and writable by the service's
// account only (Windows: by the rules of its folder). Whatever stood at path, a link among them, is replaced,
// never followed or written through.
bool ReplacePrivateFile(const QString &path, const QByteArray &bytes);
