#include "common/servicecontroller.h"
#include "servicetestsupport.h"

#include <QFileInfo>
#include <QStandardPaths>

#include <csignal>

namespace {

// A field of /proc/PID/stat counted from the one after the command name (0: the state); empty when
// there is no such process.
QByteArray statField(qint64 pid, int index)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    const QByteArray text = stat.open(QIODevice::ReadOnly) ? stat.readAll() : QByteArray();
    return text.isEmpty() ? QByteArray() : text.mid(text.lastIndexOf(')') + 2).split(' ').value(index);
}

// The process has ended (gone, or a zombie nobody reaped yet).
bool processGone(qint64 pid)
{
    const QByteArray state = statField(pid, 0);
    return state.isEmpty() || state == "Z";
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString &path, const QByteArray &content)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

qint64 recordedPid(const TestServiceFolder &folder, const QString &name)
{
    return readFile(folder.registryDir() + QLatin1Char('/') + name + QStringLiteral(".pid")).split(' ')[0].toLongLong();
}

qint64 eventPid(const TestServiceFolder &folder, int index)
{
    return folder.eventLines().value(index).value(1).toLongLong();
}

} // namespace

class tst_ServiceController : public QObject
{
    Q_OBJECT

private slots:
    void lifecycleAcrossProcesses();
    void refusedRequests_data();
    void refusedRequests();
    void stalePidFile_data();
    void stalePidFile();
    void plainCommand();
    void openVpnRegistration_data();
    void openVpnRegistration();
};

void tst_ServiceController::lifecycleAcrossProcesses()
{
    TestServiceFolder folder;
    QVERIFY(folder.isValid());
    ServiceController controller = folder.controller();
    QVERIFY(!controller.isInstalled());

    QVERIFY(ServiceController::install(folder.program()));
    QVERIFY(controller.isInstalled());
    QCOMPARE(controller.serviceFilePath(), QFileInfo(folder.program()).canonicalFilePath());
    const QByteArray registration = readFile(folder.registryDir() + QStringLiteral("/TovraTestService.service"));
    QVERIFY(registration.contains("\nType=program\n"));
    QVERIFY(registration.contains("\nDescription=TOVRA test service\n"));
    QVERIFY(registration.contains("\nFlags=CanBeSuspended\n"));
    QVERIFY(!controller.isRunning());

    QVERIFY(controller.start());
    QVERIFY(controller.isRunning());
    QTRY_COMPARE(folder.events(), QStringList{"start"});
    const qint64 pid = eventPid(folder, 0);
    QCOMPARE(recordedPid(folder, QStringLiteral("TovraTestService")), pid);
    QVERIFY(pid != QCoreApplication::applicationPid());
    QVERIFY(!controller.start()); // already running

    QVERIFY(controller.pause());
    QCOMPARE(folder.events(), (QStringList{"start", "pause"}));
    QVERIFY(controller.isRunning()); // paused is not stopped
    QVERIFY(controller.pause());     // already paused: no second pause reaches the service
    QVERIFY(controller.resume());
    QCOMPARE(folder.events(), (QStringList{"start", "pause", "resume"}));

    QVERIFY(controller.stop());
    QVERIFY(processGone(pid));
    QVERIFY(!controller.isRunning());
    QCOMPARE(folder.events(), (QStringList{"start", "pause", "resume", "stop"}));
    for (int i = 1; i < 4; ++i)
        QCOMPARE(eventPid(folder, i), pid);
    QVERIFY(!QFile::exists(folder.registryDir() + QStringLiteral("/TovraTestService.pid")));

    // A killed service reads as stopped.
    QVERIFY(controller.start());
    QTRY_COMPARE(folder.events().size(), 5);
    const qint64 second = eventPid(folder, 4);
    QVERIFY(second != pid);
    QCOMPARE(::kill(pid_t(second), SIGKILL), 0);
    QTRY_VERIFY(processGone(second));
    QVERIFY(!controller.isRunning());
    QVERIFY(!controller.stop());

    QVERIFY(controller.uninstall());
    QVERIFY(!controller.isInstalled());
    QVERIFY(!QFile::exists(folder.registryDir() + QStringLiteral("/TovraTestService.service")));
}

void tst_ServiceController::refusedRequests_data()
{
    QTest::addColumn<QString>("setup"); // "", "installed" or "running"
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("request");

    const QString name = QLatin1String(TestServiceFolder::serviceName);
    QTest::newRow("start when not installed") << "" << name << "start";
    QTest::newRow("start when running") << "running" << name << "start";
    QTest::newRow("start a service program with arguments") << "installed" << name << "start -e foreground";
    QTest::newRow("stop when not running") << "installed" << name << "stop";
    QTest::newRow("pause when not running") << "installed" << name << "pause";
    QTest::newRow("resume when not running") << "installed" << name << "resume";
    QTest::newRow("uninstall when not installed") << "" << name << "uninstall";
    QTest::newRow("uninstall while running") << "running" << name << "uninstall";
    QTest::newRow("name leading out of the registry") << "installed"
                                                      << "../outside"
                                                      << "start";
    QTest::newRow("empty name") << "installed"
                                << ""
                                << "start";
}

void tst_ServiceController::refusedRequests()
{
    QFETCH(QString, setup);
    QFETCH(QString, name);
    QFETCH(QString, request);

    TestServiceFolder folder;
    QVERIFY(folder.isValid());
    if (!setup.isEmpty())
        QVERIFY(ServiceController::install(folder.program()));
    if (setup == QLatin1String("running")) {
        QVERIFY(folder.controller().start());
        QTRY_COMPARE(folder.events(), QStringList{"start"});
    }
    // A registration one folder up, where "../outside" would lead.
    QVERIFY(writeFile(folder.path() + QStringLiteral("/outside.service"), "Program=/bin/sleep\nArgument=60\n"));

    ServiceController controller = folder.controller(name);
    const bool wasRunning = controller.isRunning();
    const QStringList words = request.split(QLatin1Char(' '));
    const QString &verb = words.first();
    QVERIFY(!(verb == "start"    ? controller.start(words.mid(1))
              : verb == "stop"   ? controller.stop()
              : verb == "pause"  ? controller.pause()
              : verb == "resume" ? controller.resume()
                                 : controller.uninstall()));
    // Nothing was started, stopped or removed.
    QCOMPARE(controller.isRunning(), wasRunning);
    QCOMPARE(folder.controller().isInstalled(), !setup.isEmpty());
    QCOMPARE(folder.events(), setup == QLatin1String("running") ? QStringList{"start"} : QStringList());
}

void tst_ServiceController::stalePidFile_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("running");

    QTest::newRow("pid of an ended process") << "ended" << false;
    QTest::newRow("live pid of another program") << "other program" << false;
    QTest::newRow("live pid of the same program started later") << "wrong start time" << false;
    QTest::newRow("no start time") << "pid only" << false;
    QTest::newRow("garbage") << "garbage" << false;
    QTest::newRow("live service process with its start time") << "service" << true;
}

void tst_ServiceController::stalePidFile()
{
    QFETCH(QString, kind);
    QFETCH(bool, running);

    TestServiceFolder folder;
    QVERIFY(folder.isValid());
    QVERIFY(ServiceController::install(folder.program()));

    QProcess process;
    QByteArray content = "not a pid\n";
    if (kind == QLatin1String("ended")) {
        // The shell prints its own pid and ends.
        process.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), QStringLiteral("echo $$")});
        QVERIFY(process.waitForFinished());
        content = process.readAllStandardOutput().trimmed() + " 12345\n";
    } else if (kind != QLatin1String("garbage")) {
        if (kind == QLatin1String("other program"))
            process.start(QStringLiteral("/bin/sleep"), {QStringLiteral("30")});
        else
            process.start(folder.program(), {QStringLiteral("-e"), QStringLiteral("foreground")});
        QVERIFY(process.waitForStarted());
        if (kind != QLatin1String("other program"))
            QTRY_COMPARE(folder.events(), QStringList{"start"});
        const qint64 pid = process.processId();
        const quint64 startTime = statField(pid, 19).toULongLong();
        QVERIFY(startTime != 0);
        content = QByteArray::number(pid);
        if (kind != QLatin1String("pid only"))
            content += ' ' + QByteArray::number(kind == QLatin1String("wrong start time") ? startTime - 1 : startTime);
        content += '\n';
    }
    QVERIFY(writeFile(folder.registryDir() + QStringLiteral("/TovraTestService.pid"), content));

    ServiceController controller = folder.controller();
    QCOMPARE(controller.isRunning(), running);
    // A stop acts only on the service's own process: the other process lives on.
    QCOMPARE(controller.stop(), running);
    if (process.state() == QProcess::Running) {
        QCOMPARE(process.waitForFinished(500), running);
        process.kill();
        process.waitForFinished();
    }
    if (!running) {
        // A stale file does not keep the service from starting.
        QVERIFY(controller.start());
        QVERIFY(controller.isRunning());
        QTRY_VERIFY(folder.events().contains("start"));
        QVERIFY(controller.stop());
    }
}

void tst_ServiceController::plainCommand()
{
    TestServiceFolder folder;
    QVERIFY(folder.isValid());
    QCOMPARE(QProcess::execute(QStringLiteral(TOVRA_SOURCE_DIR "/scripts/register-service"),
                               {"--registry", folder.registryDir(), "Sleeper", "sleep", "60"}),
             0);
    ServiceController controller = folder.controller(QStringLiteral("Sleeper"));
    QVERIFY(controller.isInstalled());
    QCOMPARE(controller.serviceFilePath(), QFileInfo(QStringLiteral("/bin/sleep")).canonicalFilePath());

    QVERIFY(controller.start());
    QVERIFY(controller.isRunning());
    const qint64 pid = recordedPid(folder, QStringLiteral("Sleeper"));
    QCOMPARE(readFile(QStringLiteral("/proc/%1/cmdline").arg(pid)).split('\0').value(1), QByteArray("60"));
    QVERIFY(!controller.pause()); // a plain command takes no pause requests
    QVERIFY(!processGone(pid));

    QVERIFY(controller.stop());
    QVERIFY(processGone(pid));
    QVERIFY(!controller.isRunning());
    QVERIFY(controller.uninstall());
}

void tst_ServiceController::openVpnRegistration_data()
{
    QTest::addColumn<QByteArray>("configuration");
    // A tunnel on the null device bound to loopback: openvpn runs, waits for a peer and sends nothing.
    QTest::newRow("configuration present") << QByteArray("dev null\nlocal 127.0.0.1\nlport 0\nproto udp\n");
    QTest::newRow("no configuration") << QByteArray();
}

void tst_ServiceController::openVpnRegistration()
{
    QFETCH(QByteArray, configuration);
    const QString openvpn = QStandardPaths::findExecutable(QStringLiteral("openvpn"),
                                                           {"/usr/sbin", "/sbin", "/usr/local/sbin", "/usr/bin"});
    if (openvpn.isEmpty())
        QSKIP("openvpn is not installed (Debian package openvpn)");
    TestServiceFolder folder;
    QVERIFY(folder.isValid());
    const QString dataDir = folder.path() + QStringLiteral("/client");
    const QByteArray data = dataDir.toUtf8() + "/Data";
    if (!configuration.isEmpty())
        QVERIFY(writeFile(data + "/conn.ovpn", configuration));
    QCOMPARE(QProcess::execute(QStringLiteral(TOVRA_SOURCE_DIR "/scripts/register-openvpn-service"),
                               {"--registry", folder.registryDir(), dataDir}),
             0);
    ServiceController controller = folder.controller(QStringLiteral("OpenVPNService"));
    QVERIFY(controller.isInstalled());
    QCOMPARE(controller.serviceFilePath(), QFileInfo(openvpn).canonicalFilePath());
    const QByteArray registration = readFile(folder.registryDir() + QStringLiteral("/OpenVPNService.service"));
    QVERIFY(registration.contains("\nType=command\n"));
    QVERIFY(registration.contains("\nArgument=--cd\nArgument=" + data + "\nArgument=--config\nArgument=" + data +
                                  "/conn.ovpn\n"));

    QVERIFY(controller.start());
    if (configuration.isEmpty()) {
        // openvpn ends at once, and the service reads as stopped.
        QTRY_VERIFY(!controller.isRunning());
        QVERIFY(!controller.stop());
    } else {
        const qint64 pid = recordedPid(folder, QStringLiteral("OpenVPNService"));
        QTRY_COMPARE(QFile::symLinkTarget(QStringLiteral("/proc/%1/cwd").arg(pid)), QString::fromUtf8(data));
        QVERIFY(controller.isRunning());
        QVERIFY(controller.stop());
        QVERIFY(processGone(pid));
    }
    QVERIFY(controller.uninstall());
}

QTEST_GUILESS_MAIN(tst_ServiceController)
#include "tst_servicecontroller.moc"
