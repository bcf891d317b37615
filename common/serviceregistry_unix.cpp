#include "common/serviceregistry_unix.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace ServiceRegistry {

namespace {

bool writeFileAtomically(const QString &path, const QByteArray &content)
{
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return false;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup |
                        QFileDevice::ReadOther);
    file.write(content);
    return file.commit();
}

QString canonicalProgram(const QString &path)
{
    const QString canonical = QFileInfo(path).canonicalFilePath();
    return canonical.isEmpty() ? QDir::cleanPath(path) : canonical;
}

// Path of the program a process runs: /proc/PID/exe, or the first word of its command line when
// the link cannot be read (another user's process).
QString processProgram(qint64 pid)
{
    const QString proc = QStringLiteral("/proc/%1/").arg(pid);
    QString exe = QFile::symLinkTarget(proc + QStringLiteral("exe"));
    if (!exe.isEmpty()) {
        // The kernel marks a program file replaced since the start; the process still runs it.
        static const QString deleted = QStringLiteral(" (deleted)");
        if (exe.endsWith(deleted) && !QFileInfo::exists(exe))
            exe.chop(deleted.size());
        return exe;
    }
    QFile cmdline(proc + QStringLiteral("cmdline"));
    if (!cmdline.open(QIODevice::ReadOnly))
        return QString();
    const QByteArray first = cmdline.readAll().split('\0').value(0);
    return first.startsWith('/') ? canonicalProgram(QFile::decodeName(first)) : QString();
}

// One entry of a path; a group- or other-writable folder passes only as root's sticky folder, where nobody
// else can rename or remove root's entries, and only when stickyAllowed.
bool checkEntry(const QString &path, bool stickyAllowed, QString *error)
{
    struct stat info;
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0) {
        *error = QStringLiteral("%1 cannot be examined: %2").arg(path, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    if (info.st_uid != 0 && info.st_uid != ::geteuid()) {
        *error = QStringLiteral("%1 is owned by user %2, not by root").arg(path).arg(info.st_uid);
        return false;
    }
    // A link's own mode bits mean nothing; where it leads is checked on its own.
    if (S_ISLNK(info.st_mode))
        return true;
    const bool rootSticky = S_ISDIR(info.st_mode) && (info.st_mode & S_ISVTX) && info.st_uid == 0;
    if ((info.st_mode & (S_IWGRP | S_IWOTH)) && !(stickyAllowed && rootSticky)) {
        *error = QStringLiteral("%1 is writable by group or others").arg(path);
        return false;
    }
    return true;
}

// Every entry of an absolute path, from "/" down.
bool checkEntries(const QString &path, QString *error)
{
    const QStringList parts = path.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    if (!checkEntry(QStringLiteral("/"), parts.size() > 1, error))
        return false;
    QString current;
    for (int i = 0; i < parts.size(); ++i) {
        current += QLatin1Char('/') + parts.at(i);
        if (!checkEntry(current, i < parts.size() - 2, error))
            return false;
    }
    return true;
}

} // namespace

bool checkOwnership(const QString &path, QString *error)
{
    const QString clean = QDir::cleanPath(path);
    if (!QDir::isAbsolutePath(clean)) {
        *error = QStringLiteral("%1 is not an absolute path").arg(path);
        return false;
    }
    const QString canonical = QFileInfo(clean).canonicalFilePath();
    if (canonical.isEmpty()) {
        *error = QStringLiteral("%1 does not exist").arg(path);
        return false;
    }
    // The way the path names it, links included, and the place it leads to.
    return checkEntries(clean, error) && (canonical == clean || checkEntries(canonical, error));
}

bool checkRegistration(const QString &dir, const Registration &registration, QString *error)
{
    if (!checkOwnership(registrationFile(dir, registration.name), error) ||
        !checkOwnership(registration.program, error))
        return false;
    for (const QString &bind : registration.binds) {
        QString source;
        QString target;
        if (!parseBind(bind, &source, &target)) {
            *error = QStringLiteral("the bind %1 is not SOURCE:TARGET of absolute paths").arg(bind);
            return false;
        }
        if (!checkOwnership(source, error))
            return false;
    }
    return true;
}

bool parseBind(const QString &bind, QString *source, QString *target)
{
    const QStringList parts = bind.split(QLatin1Char(':'));
    if (parts.size() != 2 || !QDir::isAbsolutePath(parts.at(0)) || !QDir::isAbsolutePath(parts.at(1)))
        return false;
    *source = QDir::cleanPath(parts.at(0));
    *target = QDir::cleanPath(parts.at(1));
    return true;
}

QString registrationFile(const QString &dir, const QString &name)
{
    return dir + QLatin1Char('/') + name + QLatin1String(".service");
}

QString statusFile(const QString &dir, const QString &name)
{
    return dir + QLatin1Char('/') + name + QLatin1String(".pid");
}

QString stateFile(const QString &dir, const QString &name)
{
    return dir + QLatin1Char('/') + name + QLatin1String(".state");
}

bool readRegistration(const QString &dir, const QString &name, Registration *registration)
{
    QFile file(registrationFile(dir, name));
    if (!file.open(QIODevice::ReadOnly))
        return false;
    Registration result;
    result.name = name;
    const QList<QByteArray> lines = file.readAll().split('\n');
    for (const QByteArray &line : lines) {
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        const int eq = line.indexOf('=');
        if (eq <= 0)
            continue;
        const QByteArray key = line.left(eq).trimmed();
        const QString value = QString::fromUtf8(line.mid(eq + 1));
        if (key == "Type")
            result.isProgram = value.trimmed() != QLatin1String("command");
        else if (key == "Program")
            result.program = value;
        else if (key == "Argument")
            result.arguments << value;
        else if (key == "Description")
            result.description = value;
        else if (key == "Flags")
            result.canBeSuspended = value.split(QLatin1Char(',')).contains(QLatin1String("CanBeSuspended"));
        else if (key == "Bind")
            result.binds << value;
    }
    if (!QDir::isAbsolutePath(result.program))
        return false;
    *registration = result;
    return true;
}

bool writeRegistration(const QString &dir, const Registration &registration, QString *error)
{
    QStringList values = registration.arguments + registration.binds;
    values << registration.program << registration.description;
    for (const QString &value : qAsConst(values)) {
        if (value.contains(QLatin1Char('\n')) || value.contains(QChar(0))) {
            *error = QStringLiteral("a value holds a line break");
            return false;
        }
    }
    if (!QDir::isAbsolutePath(registration.program)) {
        *error = QStringLiteral("the program path is not absolute");
        return false;
    }
    for (const QString &bind : registration.binds) {
        QString source;
        QString target;
        if (!parseBind(bind, &source, &target)) {
            *error = QStringLiteral("the bind %1 is not SOURCE:TARGET of absolute paths").arg(bind);
            return false;
        }
    }
    QByteArray text = "# Service registration: key=value a line, one Argument line per word.\n";
    text += "Name=" + registration.name.toUtf8() + '\n';
    text += QByteArray("Type=") + (registration.isProgram ? "program" : "command") + '\n';
    text += "Program=" + registration.program.toUtf8() + '\n';
    for (const QString &argument : registration.arguments)
        text += "Argument=" + argument.toUtf8() + '\n';
    text += "Description=" + registration.description.toUtf8() + '\n';
    text += QByteArray("Flags=") + (registration.canBeSuspended ? "CanBeSuspended" : "") + '\n';
    for (const QString &bind : registration.binds)
        text += "Bind=" + bind.toUtf8() + '\n';
    const QFile::Permissions folderMode = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup |
                                          QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther;
    if (!QDir().mkpath(dir) || !QFile::setPermissions(dir, folderMode)) {
        *error = QStringLiteral("cannot make the folder %1").arg(dir);
        return false;
    }
    if (!checkOwnership(dir, error) || !checkOwnership(registration.program, error))
        return false;
    if (!writeFileAtomically(registrationFile(dir, registration.name), text)) {
        *error = QStringLiteral("cannot write %1").arg(registrationFile(dir, registration.name));
        return false;
    }
    return true;
}

bool readStatus(const QString &dir, const QString &name, Status *status)
{
    QFile file(statusFile(dir, name));
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QList<QByteArray> words = file.read(256).simplified().split(' ');
    bool pidOk = false;
    bool timeOk = false;
    Status result;
    result.pid = words.value(0).toLongLong(&pidOk);
    result.startTime = words.value(1).toULongLong(&timeOk);
    if (!pidOk || !timeOk || result.pid <= 0)
        return false;
    *status = result;
    return true;
}

bool writeStatus(const QString &dir, const QString &name, const Status &status)
{
    const QByteArray text = QByteArray::number(status.pid) + ' ' + QByteArray::number(status.startTime) + '\n';
    return writeFileAtomically(statusFile(dir, name), text);
}

bool readState(const QString &dir, const QString &name, State *state)
{
    QFile file(stateFile(dir, name));
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QList<QByteArray> words = file.read(256).simplified().split(' ');
    bool pidOk = false;
    State result;
    result.pid = words.value(0).toLongLong(&pidOk);
    const QByteArray word = words.value(1);
    if (!pidOk || result.pid <= 0 || (word != "running" && word != "paused"))
        return false;
    result.paused = word == "paused";
    *state = result;
    return true;
}

bool writeState(const QString &dir, const QString &name, const State &state)
{
    const QByteArray text = QByteArray::number(state.pid) + ' ' + (state.paused ? "paused" : "running") + '\n';
    return writeFileAtomically(stateFile(dir, name), text);
}

void removeStatus(const QString &dir, const QString &name, qint64 pid)
{
    State state;
    if (readState(dir, name, &state) && state.pid == pid)
        QFile::remove(stateFile(dir, name));
    Status status;
    if (readStatus(dir, name, &status) && status.pid == pid)
        QFile::remove(statusFile(dir, name));
}

quint64 processStartTime(qint64 pid)
{
    if (pid <= 0)
        return 0;
    QFile file(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray stat = file.readAll();
    // The command name in parentheses may hold spaces; the fields after it are plain.
    const int close = stat.lastIndexOf(')');
    if (close < 0)
        return 0;
    const QList<QByteArray> fields = stat.mid(close + 2).split(' ');
    // fields[0] is the state (field 3), fields[19] the start time (field 22).
    const QByteArray state = fields.value(0);
    if (state == "Z" || state == "X" || state == "x")
        return 0;
    return fields.value(19).toULongLong();
}

bool isServiceProcess(const Status &status, const Registration &registration)
{
    const quint64 startTime = processStartTime(status.pid);
    if (startTime == 0 || startTime != status.startTime)
        return false;
    return processProgram(status.pid) == canonicalProgram(registration.program);
}

namespace {

// The program and its arguments as execv takes them; argv points into words.
struct ExecArguments
{
    ExecArguments(const QString &program, const QStringList &arguments)
    {
        words.push_back(QFile::encodeName(program));
        for (const QString &argument : arguments)
            words.push_back(argument.toLocal8Bit());
        for (QByteArray &word : words)
            argv.push_back(word.data());
        argv.push_back(nullptr);
    }
    ExecArguments(const ExecArguments &) = delete;
    ExecArguments &operator=(const ExecArguments &) = delete;

    std::vector<QByteArray> words;
    std::vector<char *> argv;
};

// Sources and targets of the binds as mount takes them; the pointers point into words.
struct BindPaths
{
    explicit BindPaths(const QStringList &binds)
    {
        for (const QString &bind : binds) {
            QString source;
            QString target;
            if (parseBind(bind, &source, &target))
                words.push_back({QFile::encodeName(source), QFile::encodeName(target)});
        }
        for (const auto &pair : words)
            paths.push_back({pair.first.constData(), pair.second.constData()});
    }
    BindPaths(const BindPaths &) = delete;
    BindPaths &operator=(const BindPaths &) = delete;

    std::vector<std::pair<QByteArray, QByteArray>> words;
    std::vector<std::pair<const char *, const char *>> paths;
};

// Highest descriptor number a child closes before it runs the program.
long descriptorLimit()
{
    const long limit = sysconf(_SC_OPEN_MAX);
    return limit < 0 || limit > 65536 ? 65536 : limit;
}

// After fork only async-signal-safe calls are made: these helpers run in the children.
[[noreturn]] void reportErrnoAndExit(int errorFd, int exitCode)
{
    const int code = errno;
    (void)!write(errorFd, &code, sizeof code);
    _exit(exitCode);
}

// The service process: its binds in a mount namespace of its own (none are seen outside it), default signal
// handling, stdio on /dev/null, folder "/", no inherited descriptor but the error pipe (closed by the exec
// itself), then the program. Does not return.
[[noreturn]] void execService(char *const argv[], const BindPaths &binds, long maxFd, int errorFd)
{
    if (!binds.paths.empty()) {
        if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
            reportErrnoAndExit(errorFd, 126);
        for (const auto &bind : binds.paths) {
            if (mount(bind.first, bind.second, nullptr, MS_BIND, nullptr) != 0)
                reportErrnoAndExit(errorFd, 126);
        }
    }
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = SIG_DFL;
    for (int signal : {SIGPIPE, SIGTERM, SIGINT, SIGHUP, SIGUSR1, SIGUSR2, SIGCHLD})
        sigaction(signal, &action, nullptr);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    const int null = open("/dev/null", O_RDWR);
    if (null >= 0) {
        dup2(null, STDIN_FILENO);
        dup2(null, STDOUT_FILENO);
        dup2(null, STDERR_FILENO);
    }
    if (chdir("/") != 0) {
        // Keep the inherited folder.
    }
    for (int fd = 3; fd < maxFd; ++fd) {
        if (fd != errorFd)
            ::close(fd);
    }
    execv(argv[0], argv);
    reportErrnoAndExit(errorFd, 127);
}

// The first child: leaves the caller's session, forks the service process, sends its pid and ends, so the
// service is nobody's child but init's.
[[noreturn]] void runStarter(char *const argv[], const BindPaths &binds, long maxFd, int errorFd, int pidFd)
{
    setsid();
    const pid_t service = fork();
    if (service < 0)
        reportErrnoAndExit(errorFd, 1);
    if (service == 0)
        execService(argv, binds, maxFd, errorFd);
    (void)!write(pidFd, &service, sizeof service);
    _exit(0);
}

// Reads size bytes unless the writers close the pipe first; true when all of them came.
bool readWhole(int fd, void *buffer, size_t size)
{
    size_t done = 0;
    while (done < size) {
        const ssize_t got = read(fd, static_cast<char *>(buffer) + done, size - done);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        done += size_t(got);
    }
    return true;
}

void closePipe(int fds[2])
{
    ::close(fds[0]);
    ::close(fds[1]);
}

} // namespace

bool spawnDetached(const QString &program, const QStringList &arguments, qint64 *pid, QString *error,
                   const QStringList &binds)
{
    // Prepared before fork: the children may not allocate.
    const ExecArguments exec(program, arguments);
    const BindPaths bindPaths(binds);
    if (bindPaths.paths.size() != size_t(binds.size())) {
        *error = QStringLiteral("a bind is not SOURCE:TARGET of absolute paths");
        return false;
    }
    const long maxFd = descriptorLimit();
    int errorPipe[2];
    int pidPipe[2];
    if (pipe2(errorPipe, O_CLOEXEC) != 0) {
        *error = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    if (pipe2(pidPipe, O_CLOEXEC) != 0) {
        *error = QString::fromLocal8Bit(std::strerror(errno));
        closePipe(errorPipe);
        return false;
    }

    const pid_t starter = fork();
    if (starter == 0) {
        ::close(errorPipe[0]);
        ::close(pidPipe[0]);
        runStarter(exec.argv.data(), bindPaths, maxFd, errorPipe[1], pidPipe[1]);
    }
    if (starter < 0) {
        *error = QString::fromLocal8Bit(std::strerror(errno));
        closePipe(errorPipe);
        closePipe(pidPipe);
        return false;
    }
    ::close(errorPipe[1]);
    ::close(pidPipe[1]);
    while (waitpid(starter, nullptr, 0) < 0 && errno == EINTR) {
    }

    // The pid comes when the starter forked; an errno comes when a fork or the exec failed, and the pipe
    // closes without one when the exec succeeded.
    pid_t service = 0;
    const bool havePid = readWhole(pidPipe[0], &service, sizeof service);
    int code = 0;
    const bool failed = readWhole(errorPipe[0], &code, sizeof code);
    ::close(errorPipe[0]);
    ::close(pidPipe[0]);
    if (failed) {
        *error = QString::fromLocal8Bit(std::strerror(code));
        return false;
    }
    if (!havePid) {
        *error = QStringLiteral("the starter process ended without a process id");
        return false;
    }
    *pid = service;
    return true;
}

} // namespace ServiceRegistry
