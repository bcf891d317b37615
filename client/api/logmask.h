#pragma once

#include <QByteArray>
#include <QString>

// Secrets in log lines are shown as one "*" per character; the rest of the line stays.
namespace LogMask {

// The text of the same length made of stars.
QString stars(const QString &secret);
// The text (a URL, a query or a request) with the value of every query parameter named key replaced by stars.
QString queryParameter(const QString &text, const QString &key);
// The JSON text with the string value of every member named key replaced by stars.
QString jsonBody(const QByteArray &body, const QString &key);

} // namespace LogMask
