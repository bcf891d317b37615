#include "service/gatewaystate.h"
#include "service/programpath.h"

#include <QDir>
#include <QFileInfo>

QString ServiceProgramPath()
{
    // No launcher searches the program's own folder here: name the running program itself.
    return QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget();
}

QString DefaultStateDir()
{
    return QStringLiteral(TOVRA_SERVICE_REGISTRY_DIR);
}

bool PrepareStateDir(const QString &dir)
{
    // The file itself is made readable by its owner only.
    return QDir().mkpath(dir);
}
