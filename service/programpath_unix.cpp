#include "service/programpath.h"

#include <QFileInfo>

QString ServiceProgramPath()
{
    // No launcher searches the program's own folder here: name the running program itself.
    return QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget();
}
