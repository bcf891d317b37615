#include "app/scramble.h"

#include <QByteArray>
#include <algorithm>
#include <cstdlib>

namespace {

QString randomLetters()
{
    QString group;
    for (int i = 0; i < 4; ++i)
        group.append(QLatin1Char(char('A' + std::rand() % 25)));
    return group;
}

} // namespace

QString ScrambleText(const QString &text)
{
    QString body = QString::fromLatin1(text.toUtf8().toBase64());
    std::reverse(body.begin(), body.end());
    const QString suffix = randomLetters();
    const QString prefix = randomLetters();
    return prefix + body + suffix;
}

QString UnscrambleText(const QString &text)
{
    QString body = text.mid(4);
    body.chop(4);
    std::reverse(body.begin(), body.end());
    QByteArray bytes = QByteArray::fromBase64(body.toLatin1());
    const int nul = bytes.indexOf('\0');
    if (nul >= 0)
        bytes.truncate(nul);
    QString result;
    const QString decoded = QString::fromUtf8(bytes);
    result.reserve(decoded.size());
    for (const QChar c : decoded) {
        if (c == QLatin1Char('\n'))
            result.append(QLatin1String("\r\n"));
        else
            result.append(c);
    }
    return result;
}
