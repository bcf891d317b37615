#include <QtTest>

#include "common/servicehost.h"
#include "logcapture.h"
#include "servicefolder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QStandardPaths>

// ServiceController and ServiceHost on Linux, with copies of a test service program (testservicehost)
// that log their events beside them.
class tst_ServiceControl : public QObject
{
    Q_OBJECT

private slots:
    void lifecycleAcrossProcesses();
    void requests_data();
    void requests();
    void unsafeRegistration_data();
    void unsafeRegistration();
    void stalePidFile_data();
    void stalePidFile();
    void plainCommand();
    void boundCommand_data();
    void boundCommand();
    void openVpnRegistration();
    void foregroundRun_data();
    void foregroundRun();
};

// setup: "" (nothing), "installed", "running" or "paused".
static bool prepare(const ServiceFolder &folder, const QString &setup)
{
    if (!folder.isValid() || (!setup.isEmpty() && !ServiceController::install(folder.program())))
        return false;
    if (setup != QLatin1String("running") && setup != QLatin1String("paused"))
        return true;
    ServiceController controller = folder.controller();
    return controller.start() && QTest::qWaitFor([&] { return folder.events() == QStringList{"start"}; }, 30000) &&
           (setup != QLatin1String("paused") || controller.pause());
}

void tst_ServiceControl::lifecycleAcrossProcesses()
{
    ServiceFolder folder;
    QVERIFY(prepare(folder, QString()));
    ServiceController controller = folder.controller();
    QVERIFY(!controller.isInstalled());
    QVERIFY(ServiceController::install(folder.program()));
    QCOMPARE(controller.serviceFilePath(), QFileInfo(folder.program()).canonicalFilePath());
    const QByteArray registration = readFile(folder.registryDir() + QStringLiteral("/TovraTestService.service"));
    QVERIFY(registration.contains("\nType=program\nProgram=") &&
            registration.contains("\nDescription=TOVRA test service\nFlags=CanBeSuspended\n"));
    QVERIFY(!controller.isRunning());

    QVERIFY(controller.start() && controller.isRunning());
    QTRY_COMPARE_WITH_TIMEOUT(folder.events(), QStringList{"start"}, 30000);
    const qint64 pid = folder.eventPids().value(0);
    QVERIFY(folder.recordedPid() == pid && pid != QCoreApplication::applicationPid());
    QVERIFY(controller.pause());
    QVERIFY(controller.isRunning()); // paused is not stopped
    QVERIFY(controller.pause());     // already paused: no second pause reaches the service
    QVERIFY(controller.resume());
    QVERIFY(controller.stop() && processGone(pid) && !controller.isRunning());
    QCOMPARE(folder.events(), (QStringList{"start", "pause", "resume", "stop"}));
    QCOMPARE(folder.eventPids(), (QList<qint64>{pid, pid, pid, pid}));
    QVERIFY(!QFile::exists(folder.registryDir() + QStringLiteral("/TovraTestService.pid")));
    QVERIFY(controller.uninstall() && !controller.isInstalled());
    QVERIFY(!QFile::exists(folder.registryDir() + QStringLiteral("/TovraTestService.service")));
}

// A request to the controller (start, stop, pause, uninstall) or to the service program's command line, and
// what it left: its result (host: exit code; controller: 0 done, 1 refused), events, installed, running.
void tst_ServiceControl::requests_data()
{
    QTest::addColumn<QString>("setup");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QStringList>("request");
    QTest::addColumn<int>("result");
    QTest::addColumn<QStringList>("newEvents");
    QTest::addColumn<bool>("installedAfter");
    QTest::addColumn<bool>("runningAfter");

    const auto row = [](const char *title, const char *setup, const QStringList &request, int result,
                        const QStringList &events, bool installed, bool running,
                        const char *name = ServiceFolder::serviceName) {
        QTest::newRow(title) << QString::fromLatin1(setup) << QString::fromLatin1(name) << request << result << events
                             << installed << running;
    };
    row("start when not installed", "", {"start"}, 1, {}, false, false);
    row("start when running", "running", {"start"}, 1, {}, true, true);
    row("start a service program with arguments", "installed", {"start", "-e", "foreground"}, 1, {}, true, false);
    row("stop when not running", "installed", {"stop"}, 1, {}, true, false);
    row("pause when not running", "installed", {"pause"}, 1, {}, true, false);
    row("uninstall when not installed", "", {"uninstall"}, 1, {}, false, false);
    row("uninstall while running", "running", {"uninstall"}, 1, {}, true, true);
    row("name leading out of the registry", "installed", {"start"}, 1, {}, true, false, "../outside");
    row("program that cannot be run", "installed", {"start"}, 1, {}, true, false, "Broken");
    row("empty name", "installed", {"start"}, 1, {}, true, false, "");
    row("-i installs", "", {"-i", "", ""}, 0, {}, true, false);
    row("-i when installed fails", "installed", {"-i", "", ""}, 1, {}, true, false);
    row("-i with a named account fails", "", {"-i", "someone", "secret"}, 1, {}, false, false);
    row("-t now stops", "running", {"-t", "now"}, 0, {"stop"}, true, false);
    row("-p now pauses", "running", {"-p", "now"}, 0, {"pause"}, true, true);
    row("-r now resumes", "paused", {"-r", "now"}, 0, {"resume"}, true, true);
    row("-u now uninstalls", "installed", {"-u", "now"}, 0, {}, false, false);
    row("an option without its word fails", "running", {"-t"}, 1, {}, true, true);
    row("an unknown option fails", "running", {"-x", "now"}, 1, {}, true, true);
    row("no argument when not installed fails", "", {}, 1, {}, false, false);
    row("no argument while the service runs fails", "running", {}, 1, {}, true, true);
    // The test host quits with code 3 from start() when its word is "quit".
    row("start() may end a foreground run", "", {"-e", "quit"}, 3, {"start", "stop"}, false, false);
}

void tst_ServiceControl::requests()
{
    QFETCH(QString, setup);
    QFETCH(QString, name);
    QFETCH(QStringList, request);
    QFETCH(int, result);
    QFETCH(QStringList, newEvents);
    QFETCH(bool, installedAfter);
    QFETCH(bool, runningAfter);
    ServiceFolder folder;
    QVERIFY(prepare(folder, setup));
    // A registration one folder up, where "../outside" would lead.
    QVERIFY(writeFile(folder.path(QStringLiteral("outside.service")), "Program=/bin/sleep\nArgument=60\n"));
    QVERIFY(writeFile(folder.registryDir() + QStringLiteral("/Broken.service"), "Program=/nonexistent/program\n"));
    const QStringList before = folder.events();

    ServiceController named = folder.controller(name);
    const bool namedRunning = named.isRunning();
    const QString verb = request.value(0);
    const int outcome = verb == "start"       ? !named.start(request.mid(1))
                        : verb == "stop"      ? !named.stop()
                        : verb == "pause"     ? !named.pause()
                        : verb == "uninstall" ? !named.uninstall()
                                              : folder.run(request);
    QCOMPARE(outcome, result);
    QCOMPARE(named.isRunning(), namedRunning && runningAfter);
    ServiceController controller = folder.controller();
    QCOMPARE(folder.events(), before + newEvents);
    QCOMPARE(controller.isInstalled(), installedAfter);
    QCOMPARE(controller.isRunning(), runningAfter);
    if (installedAfter)
        QCOMPARE(controller.serviceFilePath(), QFileInfo(folder.program()).canonicalFilePath());
}

// What others than root could change is neither started nor registered.
void tst_ServiceControl::unsafeRegistration_data()
{
    QTest::addColumn<QString>("target"); // below the test's folder
    QTest::addColumn<int>("mode");       // 0: given to user 65534 instead
    QTest::addColumn<bool>("reinstalls");

    QTest::newRow("group-writable program") << "testservicehost" << 0775 << false;
    QTest::newRow("registration in a user-owned folder") << "services" << 0 << false;
    QTest::newRow("registration file writable by others") << "services/TovraTestService.service" << 0646 << true;
}

void tst_ServiceControl::unsafeRegistration()
{
    QFETCH(QString, target);
    QFETCH(int, mode);
    QFETCH(bool, reinstalls);
    if (::geteuid() != 0)
        QSKIP("giving a file to another user needs root");
    ServiceFolder folder;
    // The install makes the registry folder 0755.
    const QByteArray registry = QFile::encodeName(folder.registryDir());
    QVERIFY(folder.isValid() && QDir().mkpath(folder.registryDir()) && ::chmod(registry.constData(), 0777) == 0);
    QVERIFY(ServiceController::install(folder.program()));
    QCOMPARE(QFileInfo(folder.registryDir()).permissions() & 0x7077, QFileDevice::Permissions(0x7055));
    const QByteArray path = QFile::encodeName(folder.path(target));
    QCOMPARE(mode ? ::chmod(path.constData(), mode_t(mode)) : ::chown(path.constData(), 65534, 65534), 0);

    LogCapture log;
    QVERIFY(!folder.controller().start());
    const QString fault = mode ? "is writable by group or others" : "is owned by user 65534, not by root";
    QVERIFY2(log.contains("Service TovraTestService is not started: " + folder.path(target) + " " + fault),
             qPrintable(log.dump()));
    QCOMPARE(folder.events(), QStringList());
    // Registering again writes a sound file, but not for a program or into a folder that others control.
    const QString registration = folder.registryDir() + QStringLiteral("/TovraTestService.service");
    QVERIFY(QFile::remove(registration));
    QCOMPARE(ServiceController::install(folder.program()), reinstalls);
    QCOMPARE(QFile::exists(registration), reinstalls);
}

void tst_ServiceControl::stalePidFile_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("running");

    QTest::newRow("pid of an ended process") << "ended" << false;
    QTest::newRow("live pid of another program") << "other program" << false;
    QTest::newRow("live pid of the same program started later") << "wrong start time" << false;
    QTest::newRow("no start time") << "pid only" << false;
    QTest::newRow("live service process with its start time") << "service" << true;
}

void tst_ServiceControl::stalePidFile()
{
    QFETCH(QString, kind);
    QFETCH(bool, running);
    ServiceFolder folder;
    QVERIFY(prepare(folder, QStringLiteral("installed")));
    ChildProcess process;
    const QStringList foreground{folder.program(), QStringLiteral("-e"), QStringLiteral("foreground")};
    if (kind == QLatin1String("ended"))
        QVERIFY(process.start({QStringLiteral("/bin/true")}) && process.process().waitForFinished());
    else
        QVERIFY(process.start(kind == QLatin1String("other program") ? QStringList{"/bin/sleep", "30"} : foreground));
    if (kind != QLatin1String("other program") && kind != QLatin1String("ended"))
        QTRY_COMPARE_WITH_TIMEOUT(folder.events(), QStringList{"start"}, 30000);
    const quint64 startTime = processStatField(process.pid(), 19).toULongLong();
    QByteArray content = QByteArray::number(process.pid());
    if (kind != QLatin1String("pid only"))
        content += ' ' + QByteArray::number(kind == QLatin1String("wrong start time") ? startTime - 1 : startTime);
    QVERIFY(writeFile(folder.registryDir() + QStringLiteral("/TovraTestService.pid"), content + '\n'));

    ServiceController controller = folder.controller();
    QCOMPARE(controller.isRunning(), running);
    // A stop acts only on the service's own process: another process lives on.
    QCOMPARE(controller.stop(), running);
    if (kind != QLatin1String("ended"))
        QCOMPARE(process.process().waitForFinished(running ? 20000 : 500), running);
    // A stale file does not keep the service from starting.
    QVERIFY(running || (controller.start() && controller.isRunning() && controller.stop()));
}

void tst_ServiceControl::plainCommand()
{
    ServiceFolder folder;
    QVERIFY(prepare(folder, QString()));
    const ProcessResult registered = runProcess(
        {TOVRA_SOURCE_DIR "/scripts/register-service", "--registry", folder.registryDir(), "Sleeper", "sleep", "60"});
    QVERIFY2(registered.ok(), qPrintable(registered.error));
    ServiceController controller = folder.controller(QStringLiteral("Sleeper"));
    QCOMPARE(controller.serviceFilePath(), QFileInfo(QStringLiteral("/bin/sleep")).canonicalFilePath());
    QVERIFY(controller.start() && controller.isRunning());
    const qint64 pid = folder.recordedPid(QStringLiteral("Sleeper"));
    QCOMPARE(readFile(QStringLiteral("/proc/%1/cmdline").arg(pid)).split('\0').value(1), QByteArray("60"));
    QVERIFY(!controller.pause() && !processGone(pid)); // a plain command takes no pause requests
    QVERIFY(controller.stop() && processGone(pid) && controller.uninstall());
}

void tst_ServiceControl::boundCommand_data()
{
    QTest::addColumn<int>("sourceMode");
    QTest::addColumn<bool>("starts");
    QTest::newRow("root-only source bound in the service's own mount namespace") << 0700 << true;
    QTest::newRow("group-writable source refused") << 0770 << false;
}

// A bind is seen by the service alone, and only from a source nobody else can change.
void tst_ServiceControl::boundCommand()
{
    QFETCH(int, sourceMode);
    QFETCH(bool, starts);
    if (geteuid() != 0)
        QSKIP("binds need root");
    ServiceFolder folder;
    QVERIFY(prepare(folder, QString()));
    const QString source = folder.path(QStringLiteral("run"));
    QVERIFY(QDir().mkpath(source));
    const ProcessResult registered =
        runProcess({TOVRA_SOURCE_DIR "/scripts/register-service", "--registry", folder.registryDir(), "--bind",
                    source + ":/mnt", "Sleeper", "sleep", "60"});
    QVERIFY2(registered.ok(), qPrintable(registered.error));
    QVERIFY(chmod(QFile::encodeName(source).constData(), mode_t(sourceMode)) == 0);
    LogCapture log;
    ServiceController controller = folder.controller(QStringLiteral("Sleeper"));
    QCOMPARE(controller.start(), starts);
    if (!starts) {
        QVERIFY(LogCapture::anyContains(source + QStringLiteral(" is writable by group or others")));
        return;
    }
    const qint64 pid = folder.recordedPid(QStringLiteral("Sleeper"));
    const auto mountedOnMnt = [](const QByteArray &mountinfo) { return mountinfo.contains(" /mnt "); };
    QVERIFY(mountedOnMnt(readFile(QStringLiteral("/proc/%1/mountinfo").arg(pid))));
    QVERIFY(!mountedOnMnt(readFile(QStringLiteral("/proc/self/mountinfo"))));
    QVERIFY(controller.stop() && processGone(pid) && controller.uninstall());
}

// The registration script's service runs the real openvpn in the helper's state folder.
void tst_ServiceControl::openVpnRegistration()
{
    const QString openvpn =
        QStandardPaths::findExecutable(QStringLiteral("openvpn"), {"/usr/sbin", "/sbin", "/usr/bin"});
    if (openvpn.isEmpty())
        QSKIP("openvpn is not installed (Debian package openvpn)");
    ServiceFolder folder;
    QVERIFY(prepare(folder, QString()));
    const QString data = folder.path(QStringLiteral("state"));
    // A tunnel on the null device bound to loopback: openvpn runs, waits for a peer and sends nothing.
    QVERIFY(writeFile(data + "/conn.ovpn", "dev null\nlocal 127.0.0.1\nlport 0\nproto udp\n"));
    const ProcessResult registered =
        runProcess({TOVRA_SOURCE_DIR "/scripts/register-openvpn-service", "--registry", folder.registryDir(), data});
    QVERIFY2(registered.ok(), qPrintable(registered.error));
    ServiceController controller = folder.controller(QStringLiteral("OpenVPNService"));
    QCOMPARE(controller.serviceFilePath(), QFileInfo(openvpn).canonicalFilePath());
    const QByteArray registration = readFile(folder.registryDir() + QStringLiteral("/OpenVPNService.service"));
    QVERIFY(registration.contains("\nType=command\n") &&
            registration.contains("\nArgument=--cd\nArgument=" + data.toUtf8() +
                                  "\nArgument=--config\nArgument=" + data.toUtf8() + "/conn.ovpn\n"));
    QVERIFY(controller.start());
    const qint64 pid = folder.recordedPid(QStringLiteral("OpenVPNService"));
    QTRY_COMPARE_WITH_TIMEOUT(QFile::symLinkTarget(QStringLiteral("/proc/%1/cwd").arg(pid)), data, 30000);
    // Stopped once it is up (its UDP socket open): a signal in its first moments can go unheard.
    const auto hasSocket = [pid] {
        const QFileInfoList fds = QDir(QStringLiteral("/proc/%1/fd").arg(pid)).entryInfoList(QDir::System);
        return std::any_of(fds.begin(), fds.end(),
                           [](const QFileInfo &fd) { return fd.symLinkTarget().contains(QLatin1String("socket:")); });
    };
    QTRY_VERIFY_WITH_TIMEOUT(hasSocket(), 20000);
    QVERIFY(controller.stop() && processGone(pid) && controller.uninstall());
}

void tst_ServiceControl::foregroundRun_data()
{
    // The last signal ends the run. After each one before it the test waits until that many events are
    // logged: two signals in flight at once may arrive in either order.
    QTest::addColumn<QList<int>>("signalsSent");
    QTest::addColumn<QList<int>>("eventsAfter");
    QTest::addColumn<QStringList>("events");

    QTest::newRow("SIGINT ends it") << QList<int>{SIGINT} << QList<int>() << QStringList{"start", "stop"};
    QTest::newRow("pause, then resume") << QList<int>{SIGUSR1, SIGUSR2, SIGTERM} << QList<int>{2, 3}
                                        << QStringList{"start", "pause", "resume", "stop"};
    QTest::newRow("a second pause is ignored")
        << QList<int>{SIGUSR1, SIGUSR1, SIGTERM} << QList<int>{2, 2} << QStringList{"start", "pause", "stop"};
    QTest::newRow("resume without pause is ignored")
        << QList<int>{SIGUSR2, SIGTERM} << QList<int>{1} << QStringList{"start", "stop"};
}

void tst_ServiceControl::foregroundRun()
{
    QFETCH(QList<int>, signalsSent);
    QFETCH(QList<int>, eventsAfter);
    QFETCH(QStringList, events);
    ServiceFolder folder;
    QVERIFY(prepare(folder, QString()));
    ChildProcess host;
    QVERIFY(host.start({folder.program(), QStringLiteral("-e"), QStringLiteral("foreground")}));
    QTRY_COMPARE_WITH_TIMEOUT(folder.events(), QStringList{"start"}, 30000);
    for (int i = 0; i < signalsSent.size(); ++i) {
        QVERIFY(host.signal(signalsSent.at(i)));
        if (i < eventsAfter.size())
            QTRY_COMPARE_WITH_TIMEOUT(folder.events(), events.mid(0, eventsAfter.at(i)), 30000);
    }
    QVERIFY(host.process().waitForFinished(20000) && host.process().exitStatus() == QProcess::NormalExit);
    QCOMPARE(host.process().exitCode(), 0);
    QCOMPARE(folder.events(), events);
    // The service log goes to syslog and, in the foreground, to the error output as well.
    QVERIFY(host.output().contains("Test service started"));
    // A foreground run is not the installed service and leaves nothing in the registry.
    QVERIFY(!QFile::exists(folder.registryDir() + QStringLiteral("/TovraTestService.pid")));
}

QTEST_GUILESS_MAIN(tst_ServiceControl)
#include "tst_servicecontrol.moc"
