#pragma once

#include <QByteArray>
#include <QString>

// A keyless, reversible disguise for log lines, the token file and ticket data; not a cipher.
QString ScrambleText(const QString &text);
// The scrambled text appended to out as Latin-1 bytes (plain ASCII), without an intermediate QString.
void AppendScrambled(QByteArray &out, const QString &text);
QString UnscrambleText(const QString &text);
