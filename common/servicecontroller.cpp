#include "common/servicecontroller.h"

#include <QDebug>
#include <QProcess>
#include <QRegularExpression>

ServiceController::ServiceController(const QString &name) : m_name(name), m_registryDir(defaultRegistryDir()) {}

ServiceController::~ServiceController() = default;

bool ServiceController::install(const QString &programPath, const QString &account, const QString &password)
{
    // The program registers itself, so the registration names the path it really runs from.
    const int code = QProcess::execute(programPath, {QStringLiteral("-i"), account, password});
    if (code != 0)
        qDebug().noquote() << "Service install failed:" << programPath << "exit code" << code;
    return code == 0;
}

bool ServiceController::isValidServiceName(const QString &name)
{
    static const QRegularExpression pattern(QStringLiteral("^[A-Za-z0-9_-][A-Za-z0-9._-]{0,127}$"));
    return pattern.match(name).hasMatch();
}
