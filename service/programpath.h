#pragma once

#include <QString>

// The program that the service manager registers for "-install".
QString ServiceProgramPath();
