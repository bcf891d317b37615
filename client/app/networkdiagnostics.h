#pragma once

#include <QByteArray>
#include <QString>

class QProcess;

// The network diagnostics sent with a support ticket: three steps, each writing a small script file and running it,
// the tools' output collected in one output file. Windows: a batch file run by cmd.exe; elsewhere a shell script run
// by /bin/sh.
namespace NetworkDiagnostics {

// The program that runs the script: cmd.exe of the system folder, or /bin/sh; empty when it cannot be found.
QString defaultShell();
// The script of step 1 to 3: a name lookup of host (which creates the output file), four pings of it, and the
// interface, route and resolver configuration (both appending).
QByteArray scriptText(int step, const QString &host, const QString &outputPath);
// Sets the program and the arguments that run scriptPath with shell.
void prepareProcess(QProcess &process, const QString &shell, const QString &scriptPath);

// The host part of the API address when it is a plain host name or address (not starting with "-"), else empty: it
// goes into a command line.
QString hostOf(const QString &apiBaseUrl);
// Copies the tool output into the support data file, per line its number from 0, ": " and the scrambled line; then
// deletes the output. A missing output gives an empty support data file. False when the support data file cannot
// be written: an older support data file is then removed where possible and the output kept.
bool writeSupportData(const QString &outputPath, const QString &supportPath);
// The "?goto=" query that opens a ticket's page in the portal.
QString ticketGotoQuery(const QString &ticketUrl);

} // namespace NetworkDiagnostics
