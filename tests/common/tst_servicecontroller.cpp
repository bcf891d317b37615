#include "common/servicecontroller.h"
#include "servicetestsupport.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>

#include <csignal>

namespace {

// The process has ended (gone, or a zombie nobody reaped yet).
bool processGone(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return true;
    const QByteArray text = stat.readAll();
    return text.mid(text.lastIndexOf(')') + 2, 1) == "Z";
}

quint64 startTimeOf(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray text = stat.readAll();
    return text.mid(text.lastIndexOf(')') + 2).split(' ').value(19).toULongLong();
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
    return readFile(folder.registryDir() + QLatin1Char('/') + name + QStringLiteral(".pid"))
        .split(' ')
        .value(0)
        .toLongLong();
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
    void killedServiceReadsStopped();
    void plainCommand();
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
    const qint64 pid = folder.eventPids().value(0);
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
    QCOMPARE(folder.eventPids(), (QList<qint64>{pid, pid, pid, pid}));
    QVERIFY(!QFile::exists(folder.registryDir() + QStringLiteral("/TovraTestService.pid")));

    QVERIFY(controller.uninstall());
    QVERIFY(!controller.isInstalled());
    QVERIFY(!QFile::exists(folder.registryDir() + QStringLiteral("/TovraTestService.service")));
}

enum Setup { NotInstalled, Installed, Running };
enum Request { Start, StartWithArguments, Stop, Pause, Resume, Uninstall };

void tst_ServiceController::refusedRequests_data()
{
    QTest::addColumn<int>("setup");
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("request");

    const QString name = QLatin1String(TestServiceFolder::serviceName);
    QTest::newRow("start when not installed") << int(NotInstalled) << name << int(Start);
    QTest::newRow("start when running") << int(Running) << name << int(Start);
    QTest::newRow("start a service program with arguments") << int(Installed) << name << int(StartWithArguments);
    QTest::newRow("stop when not running") << int(Installed) << name << int(Stop);
    QTest::newRow("pause when not running") << int(Installed) << name << int(Pause);
    QTest::newRow("resume when not running") << int(Installed) << name << int(Resume);
    QTest::newRow("uninstall when not installed") << int(NotInstalled) << name << int(Uninstall);
    QTest::newRow("uninstall while running") << int(Running) << name << int(Uninstall);
    QTest::newRow("name leading out of the registry") << int(Installed) << QStringLiteral("../outside") << int(Start);
    QTest::newRow("empty name") << int(Installed) << QString() << int(Start);
}

void tst_ServiceController::refusedRequests()
{
    QFETCH(int, setup);
    QFETCH(QString, name);
    QFETCH(int, request);

    TestServiceFolder folder;
    QVERIFY(folder.isValid());
    if (setup != NotInstalled)
        QVERIFY(ServiceController::install(folder.program()));
    if (setup == Running) {
        QVERIFY(folder.controller().start());
        QTRY_COMPARE(folder.events(), QStringList{"start"});
    }
    // A registration one folder up, where "../outside" would lead.
    QVERIFY(writeFile(folder.path() + QStringLiteral("/outside.service"), "Program=/bin/sleep\nArgument=60\n"));

    ServiceController controller = folder.controller(name);
    const bool wasRunning = controller.isRunning();
    bool result = true;
    switch (Request(request)) {
    case Start:
        result = controller.start();
        break;
    case StartWithArguments:
        result = controller.start({QStringLiteral("-e"), QStringLiteral("foreground")});
        break;
    case Stop:
        result = controller.stop();
        break;
    case Pause:
        result = controller.pause();
        break;
    case Resume:
        result = controller.resume();
        break;
    case Uninstall:
        result = controller.uninstall();
        break;
    }
    QVERIFY(!result);
    // Nothing was started, stopped or removed.
    QCOMPARE(controller.isRunning(), wasRunning);
    QCOMPARE(folder.controller().isInstalled(), setup != NotInstalled);
    QCOMPARE(folder.events(), setup == Running ? QStringList{"start"} : QStringList());
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
    QByteArray content;
    if (kind == QLatin1String("ended")) {
        // The shell prints its own pid and ends.
        process.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), QStringLiteral("echo $$")});
        QVERIFY(process.waitForFinished());
        content = process.readAllStandardOutput().trimmed() + " 12345\n";
    } else if (kind == QLatin1String("garbage")) {
        content = "not a pid\n";
    } else {
        const bool same = kind != QLatin1String("other program");
        if (same)
            process.start(folder.program(), {QStringLiteral("-e"), QStringLiteral("foreground")});
        else
            process.start(QStringLiteral("/bin/sleep"), {QStringLiteral("30")});
        QVERIFY(process.waitForStarted());
        if (same)
            QTRY_COMPARE(folder.events(), QStringList{"start"});
        const qint64 pid = process.processId();
        const quint64 startTime = startTimeOf(pid);
        QVERIFY(startTime != 0);
        if (kind == QLatin1String("pid only"))
            content = QByteArray::number(pid) + "\n";
        else
            content = QByteArray::number(pid) + ' ' +
                      QByteArray::number(kind == QLatin1String("wrong start time") ? startTime - 1 : startTime) + '\n';
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

void tst_ServiceController::killedServiceReadsStopped()
{
    TestServiceFolder folder;
    QVERIFY(folder.isValid());
    QVERIFY(ServiceController::install(folder.program()));
    ServiceController controller = folder.controller();
    QVERIFY(controller.start());
    QTRY_COMPARE(folder.events(), QStringList{"start"});
    const qint64 pid = folder.eventPids().value(0);

    QCOMPARE(::kill(pid_t(pid), SIGKILL), 0);
    QTRY_VERIFY(processGone(pid));
    QVERIFY(!controller.isRunning());
    QVERIFY(!controller.stop());

    QVERIFY(controller.start());
    QTRY_COMPARE(folder.events(), (QStringList{"start", "start"}));
    QVERIFY(folder.eventPids().value(1) != pid);
    QVERIFY(controller.stop());
    QCOMPARE(folder.events(), (QStringList{"start", "start", "stop"}));
}

void tst_ServiceController::plainCommand()
{
    TestServiceFolder folder;
    QVERIFY(folder.isValid());
    QCOMPARE(QProcess::execute(QStringLiteral(TOVRA_SOURCE_DIR "/scripts/register-service"),
                               {QStringLiteral("--registry"), folder.registryDir(), QStringLiteral("Sleeper"),
                                QStringLiteral("sleep"), QStringLiteral("60")}),
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

void tst_ServiceController::openVpnRegistration()
{
    const QString openvpn = QStandardPaths::findExecutable(QStringLiteral("openvpn"),
                                                           {"/usr/sbin", "/sbin", "/usr/local/sbin", "/usr/bin"});
    if (openvpn.isEmpty())
        QSKIP("openvpn is not installed (Debian package openvpn)");
    TestServiceFolder folder;
    QVERIFY(folder.isValid());
    const QString dataDir = folder.path() + QStringLiteral("/client");
    QCOMPARE(QProcess::execute(QStringLiteral(TOVRA_SOURCE_DIR "/scripts/register-openvpn-service"),
                               {QStringLiteral("--registry"), folder.registryDir(), dataDir}),
             0);
    ServiceController controller = folder.controller(QStringLiteral("OpenVPNService"));
    QVERIFY(controller.isInstalled());
    QCOMPARE(controller.serviceFilePath(), QFileInfo(openvpn).canonicalFilePath());
    const QByteArray registration = readFile(folder.registryDir() + QStringLiteral("/OpenVPNService.service"));
    QVERIFY(registration.contains("\nType=command\n"));
    QVERIFY(registration.contains("\nArgument=--config\nArgument=" + dataDir.toUtf8() + "/Data/conn.ovpn\n"));

    // Without a configuration file openvpn ends at once, and the service reads as stopped.
    QVERIFY(controller.start());
    QTRY_VERIFY(!controller.isRunning());
    QVERIFY(controller.uninstall());
}

QTEST_GUILESS_MAIN(tst_ServiceController)
#include "tst_servicecontroller.moc"
