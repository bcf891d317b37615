#include "api/logmask.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace LogMask {

QString stars(const QString &secret)
{
    return QString(secret.size(), QLatin1Char('*'));
}

QString queryParameter(const QString &text, const QString &key)
{
    QString masked = text;
    const QString name = key + QLatin1Char('=');
    for (int at = masked.indexOf(name); at >= 0; at = masked.indexOf(name, at + 1)) {
        // Only a parameter of that name: "error_code=" is not "code=".
        if (at > 0 && masked.at(at - 1) != QLatin1Char('?') && masked.at(at - 1) != QLatin1Char('&'))
            continue;
        const int begin = at + name.size();
        int end = begin;
        while (end < masked.size() && !QStringLiteral("& \r\n#").contains(masked.at(end)))
            ++end;
        masked.replace(begin, end - begin, QString(end - begin, QLatin1Char('*')));
    }
    return masked;
}

namespace {

// The end (one past the closing quote) of the string literal starting at begin, or -1.
int stringEnd(const QString &text, int begin)
{
    for (int i = begin + 1; i < text.size(); ++i) {
        if (text.at(i) == QLatin1Char('\\'))
            ++i;
        else if (text.at(i) == QLatin1Char('"'))
            return i + 1;
    }
    return -1;
}

int skipBlanks(const QString &text, int i)
{
    while (i < text.size() && text.at(i).isSpace())
        ++i;
    return i;
}

} // namespace

QString jsonBody(const QByteArray &body, const QString &key)
{
    QString text = QString::fromUtf8(body);
    int i = 0;
    while (i < text.size()) {
        if (text.at(i) != QLatin1Char('"')) {
            ++i;
            continue;
        }
        const int nameEnd = stringEnd(text, i);
        if (nameEnd < 0)
            break;
        const int colon = skipBlanks(text, nameEnd);
        const bool isKey =
            text.midRef(i + 1, nameEnd - i - 2) == key && colon < text.size() && text.at(colon) == QLatin1Char(':');
        i = nameEnd;
        if (!isKey)
            continue;
        const int valueBegin = skipBlanks(text, colon + 1);
        if (valueBegin >= text.size() || text.at(valueBegin) != QLatin1Char('"'))
            continue;
        const int valueEnd = stringEnd(text, valueBegin);
        if (valueEnd < 0) {
            // An unterminated value: everything after its quote is hidden.
            text.replace(valueBegin + 1, text.size() - valueBegin - 1, stars(text.mid(valueBegin + 1)));
            break;
        }
        // One star per character of the value as it decodes, escapes counted once.
        const QString literal = text.mid(valueBegin, valueEnd - valueBegin);
        const QJsonArray decoded =
            QJsonDocument::fromJson(QByteArray("[") + literal.toUtf8() + QByteArray("]")).array();
        const QString value = decoded.isEmpty() ? literal.mid(1, literal.size() - 2) : decoded.first().toString();
        const QString masked = QLatin1Char('"') + stars(value) + QLatin1Char('"');
        text.replace(valueBegin, literal.size(), masked);
        i = valueBegin + masked.size();
    }
    return text;
}

} // namespace LogMask
