#pragma once

#include <QString>
#include <QStringList>

// The Linux service registry: one registration file per service ("NAME.service", key=value lines)
// and, per started service, a status file ("NAME.pid": pid and process start time, written by whoever
// starts it) and a state file ("NAME.state": pid and running or paused, written by a service program once
// it takes control requests).
namespace ServiceRegistry {

struct Registration
{
    QString name;
    bool isProgram = true; // a ServiceHost program; false for a plain command
    QString program;       // absolute path
    QStringList arguments;
    QString description;
    bool canBeSuspended = false;
    // "SOURCE:TARGET" pairs of absolute paths: the service runs in a mount namespace of its own, with each
    // SOURCE bound over its TARGET (a runtime folder or a configuration file of its own).
    QStringList binds;
};

struct Status
{
    qint64 pid = 0;
    quint64 startTime = 0; // clock ticks after boot, from /proc/PID/stat
};

struct State
{
    qint64 pid = 0;
    bool paused = false;
};

QString registrationFile(const QString &dir, const QString &name);
QString statusFile(const QString &dir, const QString &name);
QString stateFile(const QString &dir, const QString &name);

bool readRegistration(const QString &dir, const QString &name, Registration *registration);
// Makes dir (mode 0755) and writes the registration; refused when dir or the program fail checkOwnership.
bool writeRegistration(const QString &dir, const Registration &registration, QString *error);

// Programs registered here run with the rights of whoever starts them, root among them. A path passes when it,
// every folder above it and where its symbolic links lead are owned by root (or by the user checking) and not
// writable by group or others; above the folder that holds it, a root-owned sticky folder such as /tmp passes
// too. Otherwise false, with the path at fault in error.
bool checkOwnership(const QString &path, QString *error);
// The registration file, its program and the sources of its binds pass checkOwnership.
bool checkRegistration(const QString &dir, const Registration &registration, QString *error);

bool readStatus(const QString &dir, const QString &name, Status *status);
bool writeStatus(const QString &dir, const QString &name, const Status &status);
bool readState(const QString &dir, const QString &name, State *state);
bool writeState(const QString &dir, const QString &name, const State &state);
// Removes the status and state files when they still name pid.
void removeStatus(const QString &dir, const QString &name, qint64 pid);

// Start time of a live process; 0 when there is none or it is a zombie.
quint64 processStartTime(qint64 pid);
// The process is alive, started at status.startTime and runs the registered program.
bool isServiceProcess(const Status &status, const Registration &registration);

// Splits a bind into its two absolute paths; false for anything else.
bool parseBind(const QString &bind, QString *source, QString *target);

// Starts program detached from the caller (own session, stdio on /dev/null, no inherited descriptors), with
// the binds (see Registration) made in a mount namespace of its own first.
bool spawnDetached(const QString &program, const QStringList &arguments, qint64 *pid, QString *error,
                   const QStringList &binds = QStringList());

} // namespace ServiceRegistry
