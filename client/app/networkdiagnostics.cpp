#include "app/networkdiagnostics.h"

#include <QDebug>
#include <QFile>
#include <QRegularExpression>
#include <QTextStream>
#include <QUrl>

#include "app/scramble.h"

namespace NetworkDiagnostics {

QString hostOf(const QString &apiBaseUrl)
{
    const QString host = QUrl(apiBaseUrl).host();
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9:][A-Za-z0-9.:-]*$"));
    if (plain.match(host).hasMatch())
        return host;
    qDebug().noquote() << "No usable API host for the network diagnostics:" << apiBaseUrl;
    return QString();
}

bool writeSupportData(const QString &outputPath, const QString &supportPath)
{
    QFile support(supportPath);
    if (!support.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        qDebug().noquote() << "Can't write support data file:" << support.errorString();
        // An older file must not go out as this ticket's data.
        QFile::remove(supportPath);
        return false;
    }
    QFile output(outputPath);
    if (output.exists() && output.open(QIODevice::ReadOnly | QIODevice::Text)) {
        QTextStream in(&output);
        QTextStream out(&support);
        for (int number = 0; !in.atEnd(); ++number)
            out << number << ": " << ScrambleText(in.readLine()) << '\n';
        out.flush();
        output.close();
        output.remove();
    }
    return true;
}

QString ticketGotoQuery(const QString &ticketUrl)
{
    const int at = ticketUrl.indexOf(QLatin1String("viewticket"));
    QString page = at >= 0 ? ticketUrl.mid(at) : ticketUrl;
    page.replace(QLatin1Char('?'), QLatin1String("%3F"));
    page.replace(QLatin1Char('&'), QLatin1String("%26"));
    return QStringLiteral("?goto=") + page;
}

} // namespace NetworkDiagnostics
