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
    void refusedRequests_data();
    void refusedRequests();
    void unsafeRegistration_data();
    void unsafeRegistration();
    void stalePidFile_data();
    void stalePidFile();
    void plainCommand();
    void openVpnRegistration_data();
    void openVpnRegistration();
    void foregroundRun_data();
    void foregroundRun();
    void hostCommandLine_data();
    void hostCommandLine();
};

void tst_ServiceControl::lifecycleAcrossProcesses()
{
    ServiceFolder folder;
    QVERIFY(folder.isValid());
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

    // A killed service reads as stopped.
    QVERIFY(controller.start());
    QTRY_COMPARE_WITH_TIMEOUT(folder.events().size(), 5, 30000);
    const qint64 second = folder.eventPids().value(4);
    QCOMPARE(::kill(pid_t(second), SIGKILL), 0);
    QTRY_VERIFY_WITH_TIMEOUT(processGone(second), 30000);
    QVERIFY(!controller.isRunning() && !controller.stop());
    QVERIFY(controller.uninstall() && !controller.isInstalled());
    QVERIFY(!QFile::exists(folder.registryDir() + QStringLiteral("/TovraTestService.service")));
}

void tst_ServiceControl::refusedRequests_data()
{
    QTest::addColumn<QString>("setup"); // "", "installed" or "running"
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("request");

    const auto row = [](const char *title, const char *setup, const char *request,
                        const char *name = ServiceFolder::serviceName) {
        QTest::newRow(title) << QString::fromLatin1(setup) << QString::fromLatin1(name) << QString::fromLatin1(request);
    };
    row("start when not installed", "", "start");
    row("start when running", "running", "start");
    row("start a service program with arguments", "installed", "start -e foreground");
    row("stop when not running", "installed", "stop");
    row("pause when not running", "installed", "pause");
    row("uninstall when not installed", "", "uninstall");
    row("uninstall while running", "running", "uninstall");
    row("name leading out of the registry", "installed", "start", "../outside");
    row("program that cannot be run", "installed", "start", "Broken");
    row("empty name", "installed", "start", "");
}

void tst_ServiceControl::refusedRequests()
{
    QFETCH(QString, setup);
    QFETCH(QString, name);
    QFETCH(QString, request);

    ServiceFolder folder;
    QVERIFY(folder.isValid());
    if (!setup.isEmpty())
        QVERIFY(ServiceController::install(folder.program()));
    if (setup == QLatin1String("running")) {
        QVERIFY(folder.controller().start());
        QTRY_COMPARE_WITH_TIMEOUT(folder.events(), QStringList{"start"}, 30000);
    }
    // A registration one folder up, where "../outside" would lead.
    QVERIFY(writeFile(folder.path(QStringLiteral("outside.service")), "Program=/bin/sleep\nArgument=60\n"));
    QVERIFY(writeFile(folder.registryDir() + QStringLiteral("/Broken.service"), "Program=/nonexistent/program\n"));

    ServiceController controller = folder.controller(name);
    const bool wasRunning = controller.isRunning();
    const QStringList words = request.split(QLatin1Char(' '));
    const QString &verb = words.first();
    QVERIFY(!(verb == "start"   ? controller.start(words.mid(1))
              : verb == "stop"  ? controller.stop()
              : verb == "pause" ? controller.pause()
                                : controller.uninstall()));
    // Nothing was started, stopped or removed.
    QCOMPARE(controller.isRunning(), wasRunning);
    QCOMPARE(folder.controller().isInstalled(), !setup.isEmpty());
    QCOMPARE(folder.events(), setup == QLatin1String("running") ? QStringList{"start"} : QStringList());
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
    QVERIFY(folder.isValid());
    QVERIFY(ServiceController::install(folder.program()));
    ChildProcess process;
    if (kind == QLatin1String("other program"))
        QVERIFY(process.start({QStringLiteral("/bin/sleep"), QStringLiteral("30")}));
    else if (kind != QLatin1String("ended"))
        QVERIFY(process.start({folder.program(), QStringLiteral("-e"), QStringLiteral("foreground")}));
    else
        QVERIFY(process.start({QStringLiteral("/bin/true")}) && process.process().waitForFinished());
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
    if (!running) {
        // A stale file does not keep the service from starting.
        QVERIFY(controller.start() && controller.isRunning() && controller.stop());
    }
}

void tst_ServiceControl::plainCommand()
{
    ServiceFolder folder;
    QVERIFY(folder.isValid());
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

void tst_ServiceControl::openVpnRegistration_data()
{
    QTest::addColumn<QByteArray>("configuration");
    // A tunnel on the null device bound to loopback: openvpn runs, waits for a peer and sends nothing.
    QTest::newRow("configuration present") << QByteArray("dev null\nlocal 127.0.0.1\nlport 0\nproto udp\n");
    QTest::newRow("no configuration") << QByteArray();
}

void tst_ServiceControl::openVpnRegistration()
{
    QFETCH(QByteArray, configuration);
    const QString openvpn =
        QStandardPaths::findExecutable(QStringLiteral("openvpn"), {"/usr/sbin", "/sbin", "/usr/bin"});
    if (openvpn.isEmpty())
        QSKIP("openvpn is not installed (Debian package openvpn)");
    ServiceFolder folder;
    QVERIFY(folder.isValid());
    const QString data = folder.path(QStringLiteral("client/Data"));
    if (!configuration.isEmpty())
        QVERIFY(writeFile(data + "/conn.ovpn", configuration));
    const ProcessResult registered = runProcess({TOVRA_SOURCE_DIR "/scripts/register-openvpn-service", "--registry",
                                                 folder.registryDir(), folder.path("client")});
    QVERIFY2(registered.ok(), qPrintable(registered.error));
    ServiceController controller = folder.controller(QStringLiteral("OpenVPNService"));
    QCOMPARE(controller.serviceFilePath(), QFileInfo(openvpn).canonicalFilePath());
    const QByteArray registration = readFile(folder.registryDir() + QStringLiteral("/OpenVPNService.service"));
    QVERIFY(registration.contains("\nType=command\n") &&
            registration.contains("\nArgument=--cd\nArgument=" + data.toUtf8() +
                                  "\nArgument=--config\nArgument=" + data.toUtf8() + "/conn.ovpn\n"));

    QVERIFY(controller.start());
    if (configuration.isEmpty()) {
        // openvpn ends at once, and the service reads as stopped.
        QTRY_VERIFY_WITH_TIMEOUT(!controller.isRunning(), 30000);
        QVERIFY(!controller.stop());
    } else {
        const qint64 pid = folder.recordedPid(QStringLiteral("OpenVPNService"));
        QTRY_COMPARE_WITH_TIMEOUT(QFile::symLinkTarget(QStringLiteral("/proc/%1/cwd").arg(pid)), data, 30000);
        // Stopped once it is up (its UDP socket open): a signal in its first moments can go unheard.
        const auto hasSocket = [pid] {
            const QFileInfoList fds = QDir(QStringLiteral("/proc/%1/fd").arg(pid)).entryInfoList(QDir::System);
            return std::any_of(fds.begin(), fds.end(), [](const QFileInfo &fd) {
                return fd.symLinkTarget().contains(QLatin1String("socket:"));
            });
        };
        QTRY_VERIFY_WITH_TIMEOUT(hasSocket(), 20000);
        QVERIFY(controller.stop() && processGone(pid));
    }
    QVERIFY(controller.uninstall());
}

void tst_ServiceControl::foregroundRun_data()
{
    // The last signal ends the run. After each one before it the test waits until that many events are
    // logged: two signals in flight at once may arrive in either order.
    QTest::addColumn<QList<int>>("signalsSent");
    QTest::addColumn<QList<int>>("eventsAfter");
    QTest::addColumn<QStringList>("events");

    QTest::newRow("SIGTERM ends it") << QList<int>{SIGTERM} << QList<int>() << QStringList{"start", "stop"};
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
    QVERIFY(folder.isValid());
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

void tst_ServiceControl::hostCommandLine_data()
{
    QTest::addColumn<QString>("setup"); // "", "installed", "running" or "paused"
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QStringList>("newEvents");
    QTest::addColumn<bool>("installedAfter");
    QTest::addColumn<bool>("runningAfter");

    const QStringList none;
    QTest::newRow("-i installs") << "" << QStringList{"-i", "", ""} << 0 << none << true << false;
    QTest::newRow("-i when installed fails") << "installed" << QStringList{"-i", "", ""} << 1 << none << true << false;
    QTest::newRow("-i with a named account fails")
        << "" << QStringList{"-i", "someone", "secret"} << 1 << none << false << false;
    QTest::newRow("-t now stops") << "running" << QStringList{"-t", "now"} << 0 << QStringList{"stop"} << true << false;
    QTest::newRow("-p now pauses") << "running" << QStringList{"-p", "now"} << 0 << QStringList{"pause"} << true
                                   << true;
    QTest::newRow("-r now resumes") << "paused" << QStringList{"-r", "now"} << 0 << QStringList{"resume"} << true
                                    << true;
    QTest::newRow("-u now uninstalls") << "installed" << QStringList{"-u", "now"} << 0 << none << false << false;
    QTest::newRow("-u now while running fails") << "running" << QStringList{"-u", "now"} << 1 << none << true << true;
    QTest::newRow("an option without its word fails") << "running" << QStringList{"-t"} << 1 << none << true << true;
    QTest::newRow("an unknown option fails") << "running" << QStringList{"-x", "now"} << 1 << none << true << true;
    QTest::newRow("no argument when not installed fails") << "" << QStringList() << 1 << none << false << false;
    QTest::newRow("no argument while the service runs fails")
        << "running" << QStringList() << 1 << none << true << true;
    // The test host quits with code 3 from start() when its word is "quit".
    QTest::newRow("start() may end a foreground run")
        << "" << QStringList{"-e", "quit"} << 3 << QStringList{"start", "stop"} << false << false;
}

void tst_ServiceControl::hostCommandLine()
{
    QFETCH(QString, setup);
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QStringList, newEvents);
    QFETCH(bool, installedAfter);
    QFETCH(bool, runningAfter);

    ServiceFolder folder;
    QVERIFY(folder.isValid());
    ServiceController controller = folder.controller();
    if (!setup.isEmpty())
        QVERIFY(ServiceController::install(folder.program()));
    if (setup == QLatin1String("running") || setup == QLatin1String("paused")) {
        QVERIFY(controller.start());
        QTRY_COMPARE_WITH_TIMEOUT(folder.events(), QStringList{"start"}, 30000);
    }
    if (setup == QLatin1String("paused"))
        QVERIFY(controller.pause());
    const QStringList before = folder.events();

    QCOMPARE(folder.run(arguments), exitCode);
    QCOMPARE(folder.events(), before + newEvents);
    QCOMPARE(controller.isInstalled(), installedAfter);
    QCOMPARE(controller.isRunning(), runningAfter);
    if (installedAfter)
        QCOMPARE(controller.serviceFilePath(), QFileInfo(folder.program()).canonicalFilePath());
}

QTEST_GUILESS_MAIN(tst_ServiceControl)
#include "tst_servicecontrol.moc"
