#pragma once

#include <QString>

// A keyless, reversible disguise for log lines, the token file and ticket data; not a cipher.
QString ScrambleText(const QString &text);
QString UnscrambleText(const QString &text);
