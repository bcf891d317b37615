#include "common/servicehost.h"
#include "servicetestsupport.h"

#include <QProcess>
#include <QTest>

#include <csignal>

class tst_ServiceHost : public QObject
{
    Q_OBJECT

private slots:
    void foregroundEndsOnSignal_data();
    void foregroundEndsOnSignal();
    void foregroundPauseAndResume_data();
    void foregroundPauseAndResume();
    void startMayEndTheRun();
    void commandLine_data();
    void commandLine();
};

void tst_ServiceHost::foregroundEndsOnSignal_data()
{
    QTest::addColumn<int>("signal");
    QTest::newRow("SIGTERM") << SIGTERM;
    QTest::newRow("SIGINT") << SIGINT;
}

void tst_ServiceHost::foregroundEndsOnSignal()
{
    QFETCH(int, signal);
    TestServiceFolder folder;
    QVERIFY(folder.isValid());
    QProcess host;
    host.start(folder.program(), {QStringLiteral("-e"), QStringLiteral("foreground")});
    QVERIFY(host.waitForStarted());
    QTRY_COMPARE(folder.events(), QStringList{"start"});

    QCOMPARE(::kill(pid_t(host.processId()), signal), 0);
    QVERIFY(host.waitForFinished(10000));
    QCOMPARE(host.exitStatus(), QProcess::NormalExit);
    QCOMPARE(host.exitCode(), 0);
    QCOMPARE(folder.events(), (QStringList{"start", "stop"}));
    // The service log goes to syslog and, in the foreground, to the error output as well.
    QVERIFY(host.readAllStandardError().contains("Test service started"));
    // A foreground run is not the installed service and leaves nothing in the registry.
    QVERIFY(!folder.controller().isRunning());
    QVERIFY(!QFile::exists(folder.registryDir() + QStringLiteral("/TovraTestService.pid")));
}

void tst_ServiceHost::foregroundPauseAndResume_data()
{
    // Each signal but the last is followed by a wait until that many events are logged; the run ends
    // with SIGTERM. Two signals in flight at once may arrive in either order, so a signal that must be
    // ignored is only sent right before SIGTERM.
    QTest::addColumn<QList<int>>("signalsSent");
    QTest::addColumn<QList<int>>("eventsAfter");
    QTest::addColumn<QStringList>("events");

    QTest::newRow("pause, then resume") << QList<int>{SIGUSR1, SIGUSR2} << QList<int>{2, 3}
                                        << QStringList{"start", "pause", "resume", "stop"};
    QTest::newRow("a second pause is ignored")
        << QList<int>{SIGUSR1, SIGUSR1} << QList<int>{2, 2} << QStringList{"start", "pause", "stop"};
    QTest::newRow("resume without pause is ignored")
        << QList<int>{SIGUSR2} << QList<int>{1} << QStringList{"start", "stop"};
}

void tst_ServiceHost::foregroundPauseAndResume()
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
    const pid_t pid = pid_t(host.processId());

    for (int i = 0; i < signalsSent.size(); ++i) {
        QCOMPARE(::kill(pid, signalsSent.at(i)), 0);
        if (i + 1 < signalsSent.size())
            QTRY_COMPARE(folder.events(), events.mid(0, eventsAfter.at(i)));
    }
    QCOMPARE(::kill(pid, SIGTERM), 0);
    QVERIFY(host.waitForFinished(10000));
    QCOMPARE(host.exitStatus(), QProcess::NormalExit);
    QCOMPARE(host.exitCode(), 0);
    QCOMPARE(folder.events(), events);
}

void tst_ServiceHost::startMayEndTheRun()
{
    // The test host quits with code 3 from start() when its word is "quit".
    TestServiceFolder folder;
    QVERIFY(folder.isValid());
    QCOMPARE(folder.run({QStringLiteral("-e"), QStringLiteral("quit")}), 3);
    QCOMPARE(folder.events(), (QStringList{"start", "stop"}));
}

enum Setup { NotInstalled, Installed, Running, Paused };

void tst_ServiceHost::commandLine_data()
{
    QTest::addColumn<int>("setup");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QStringList>("newEvents");
    QTest::addColumn<bool>("installedAfter");
    QTest::addColumn<bool>("runningAfter");

    const QStringList none;
    QTest::newRow("-i installs") << int(NotInstalled) << QStringList{"-i", "", ""} << 0 << none << true << false;
    QTest::newRow("-i when installed fails")
        << int(Installed) << QStringList{"-i", "", ""} << 1 << none << true << false;
    QTest::newRow("-i with a named account fails")
        << int(NotInstalled) << QStringList{"-i", "someone", "secret"} << 1 << none << false << false;
    QTest::newRow("-t now stops") << int(Running) << QStringList{"-t", "now"} << 0 << QStringList{"stop"} << true
                                  << false;
    QTest::newRow("-t now when stopped fails")
        << int(Installed) << QStringList{"-t", "now"} << 1 << none << true << false;
    QTest::newRow("-p now pauses") << int(Running) << QStringList{"-p", "now"} << 0 << QStringList{"pause"} << true
                                   << true;
    QTest::newRow("-r now resumes") << int(Paused) << QStringList{"-r", "now"} << 0 << QStringList{"resume"} << true
                                    << true;
    QTest::newRow("-u now uninstalls") << int(Installed) << QStringList{"-u", "now"} << 0 << none << false << false;
    QTest::newRow("-u now while running fails")
        << int(Running) << QStringList{"-u", "now"} << 1 << none << true << true;
    QTest::newRow("an option without its word fails") << int(Running) << QStringList{"-t"} << 1 << none << true << true;
    QTest::newRow("an unknown option fails") << int(Running) << QStringList{"-x", "now"} << 1 << none << true << true;
    QTest::newRow("no argument when not installed fails")
        << int(NotInstalled) << QStringList() << 1 << none << false << false;
    QTest::newRow("no argument while the service runs fails")
        << int(Running) << QStringList() << 1 << none << true << true;
}

void tst_ServiceHost::commandLine()
{
    QFETCH(int, setup);
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QStringList, newEvents);
    QFETCH(bool, installedAfter);
    QFETCH(bool, runningAfter);

    TestServiceFolder folder;
    QVERIFY(folder.isValid());
    ServiceController controller = folder.controller();
    if (setup != NotInstalled)
        QVERIFY(ServiceController::install(folder.program()));
    if (setup == Running || setup == Paused) {
        QVERIFY(controller.start());
        QTRY_COMPARE(folder.events(), QStringList{"start"});
    }
    if (setup == Paused)
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
