#include "common/servicehost.h"
#include "servicetestsupport.h"

#include <QFileInfo>

#include <csignal>

class tst_ServiceHost : public QObject
{
    Q_OBJECT

private slots:
    void foregroundRun_data();
    void foregroundRun();
    void commandLine_data();
    void commandLine();
};

void tst_ServiceHost::foregroundRun_data()
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

void tst_ServiceHost::foregroundRun()
{
    QFETCH(QList<int>, signalsSent);
    QFETCH(QList<int>, eventsAfter);
    QFETCH(QStringList, events);

    TestServiceFolder folder;
    QVERIFY(folder.isValid());
    QProcess host;
    host.start(folder.program(), {QStringLiteral("-e"), QStringLiteral("foreground")});
    QVERIFY(host.waitForStarted());
    QTRY_COMPARE(folder.events(), QStringList{"start"});
    for (int i = 0; i < signalsSent.size(); ++i) {
        QCOMPARE(::kill(pid_t(host.processId()), signalsSent.at(i)), 0);
        if (i < eventsAfter.size())
            QTRY_COMPARE(folder.events(), events.mid(0, eventsAfter.at(i)));
    }
    QVERIFY(host.waitForFinished(10000));
    QCOMPARE(host.exitStatus(), QProcess::NormalExit);
    QCOMPARE(host.exitCode(), 0);
    QCOMPARE(folder.events(), events);
    // The service log goes to syslog and, in the foreground, to the error output as well.
    QVERIFY(host.readAllStandardError().contains("Test service started"));
    // A foreground run is not the installed service and leaves nothing in the registry.
    QVERIFY(!folder.controller().isRunning());
    QVERIFY(!QFile::exists(folder.registryDir() + QStringLiteral("/TovraTestService.pid")));
}

void tst_ServiceHost::commandLine_data()
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
    QTest::newRow("-t now when stopped fails") << "installed" << QStringList{"-t", "now"} << 1 << none << true << false;
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

void tst_ServiceHost::commandLine()
{
    QFETCH(QString, setup);
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QStringList, newEvents);
    QFETCH(bool, installedAfter);
    QFETCH(bool, runningAfter);

    TestServiceFolder folder;
    QVERIFY(folder.isValid());
    ServiceController controller = folder.controller();
    if (!setup.isEmpty())
        QVERIFY(ServiceController::install(folder.program()));
    if (setup == QLatin1String("running") || setup == QLatin1String("paused")) {
        QVERIFY(controller.start());
        QTRY_COMPARE(folder.events(), QStringList{"start"});
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

QTEST_GUILESS_MAIN(tst_ServiceHost)
#include "tst_servicehost.moc"
