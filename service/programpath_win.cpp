#include "service/programpath.h"

QString ServiceProgramPath()
{
    // Found by the process launcher in the folder of the running program.
    return QStringLiteral("TovraVPNService.exe");
}
