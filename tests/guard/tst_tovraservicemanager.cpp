#include <QtTest>

#include "common/servicecontroller.h"
#include "guard/tovraservicemanager.h"
#include "logcapture.h"
#include "service/netnamespace.h"
#include "service/serviceprocess.h"

#include <QTcpServer>
#include <QTcpSocket>

#include <memory>

namespace {

// The operating system's service manager as a script: isRunning answers from a list, one per call.
class FakeController : public ServiceController
{
public:
    FakeController() : ServiceController(QStringLiteral("TovraVPNService")) {}

    bool installed = true;
    mutable QList<bool> running; // answers in turn; the last one repeats
    bool startAccepted = true;
    bool stopResult = true;
    mutable QStringList calls;

    bool isInstalled() const override { return installed; }
    bool isRunning() const override
    {
        calls << QStringLiteral("isRunning");
        return running.size() > 1 ? running.takeFirst() : running.value(0);
    }
    bool start(const QStringList &) override
    {
        calls << QStringLiteral("start");
        return startAccepted;
    }
    bool stop() override
    {
        calls << QStringLiteral("stop");
        return stopResult;
    }
};

// A service on port 56143 that reads the command and then does what it is told: "close" or "abort" the
// connection, stay "silent", or write a reply once the whole line has arrived.
class ScriptedService : public QTcpServer
{
public:
    QByteArray received;
    bool connectionEnded = false;

    explicit ScriptedService(const QByteArray &action)
    {
        connect(this, &QTcpServer::newConnection, this, [this, action] {
            QTcpSocket *peer = nextPendingConnection();
            connect(peer, &QTcpSocket::readyRead, this, [this, peer, action] {
                received += peer->readAll();
                if (action == "close")
                    peer->disconnectFromHost();
                else if (action == "abort")
                    peer->abort();
                else if (action != "silent" && received.endsWith('\n'))
                    peer->write(action);
            });
            connect(peer, &QTcpSocket::disconnected, this, [this, peer] {
                connectionEnded = true;
                peer->deleteLater();
            });
        });
    }
};

using Task = void (TovraServiceManager::*)();

} // namespace

Q_DECLARE_METATYPE(Task)

class tst_TovraServiceManager : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase() { m_ns.reset(); }
    void init() { m_capture = std::make_unique<LogCapture>(); }
    void cleanup() { m_capture.reset(); }
    void startService_data();
    void startService();
    void stopService();
    void tasks_data();
    void tasks();
    void connectionRefused();
    void realService();

private:
    // A manager whose answer signals are written to answers as "delete(true)" and the like.
    std::unique_ptr<TovraServiceManager> manager(QStringList *answers);

    std::unique_ptr<NetNamespace> m_ns;
    std::unique_ptr<LogCapture> m_capture; // installed after the test framework's own handler
    LogCapture &captured() { return *m_capture; }
};

void tst_TovraServiceManager::initTestCase()
{
    // As root every test talks on the loopback of a namespace of its own, so port 56143 is free.
    if (NetNamespace::skipReason().isEmpty()) {
        m_ns = std::make_unique<NetNamespace>();
        QVERIFY(m_ns->isValid());
        QVERIFY(m_ns->enter());
    }
}

std::unique_ptr<TovraServiceManager> tst_TovraServiceManager::manager(QStringList *answers)
{
    auto manager = std::make_unique<TovraServiceManager>(std::make_unique<FakeController>());
    auto add = [answers](const char *name) {
        return
            [answers, name](bool result) { *answers << QStringLiteral("%1(%2)").arg(name, result ? "true" : "false"); };
    };
    connect(manager.get(), &TovraServiceManager::srvTaskCheckFinished, this, add("check"));
    connect(manager.get(), &TovraServiceManager::srvTaskDeleteFinished, this, add("delete"));
    connect(manager.get(), &TovraServiceManager::srvTaskRestoreFinished, this, add("restore"));
    connect(manager.get(), &TovraServiceManager::srvTaskAddFiltersFinished, this, add("add"));
    connect(manager.get(), &TovraServiceManager::srvTaskRmvFiltersFinished, this, add("remove"));
    return manager;
}

void tst_TovraServiceManager::startService_data()
{
    QTest::addColumn<bool>("installed");
    QTest::addColumn<QList<bool>>("running");
    QTest::addColumn<bool>("startAccepted");
    QTest::addColumn<bool>("result");
    QTest::addColumn<QStringList>("calls");
    QTest::addColumn<QString>("lastLine");
    QTest::addColumn<int>("waits");

    const QString ok = QStringLiteral("TovraVPNService started successfully.");
    const QString failed = QStringLiteral("TovraVPNService error: service can't be started.");
    const QStringList fiveChecks{"isRunning", "start", "isRunning", "isRunning", "isRunning", "isRunning", "isRunning"};
    QTest::newRow("not installed") << false << QList<bool>{} << true << false << QStringList()
                                   << "TovraVPNService error: service not installed." << 0;
    QTest::newRow("running on first check") << true << QList<bool>{false, true} << true << true
                                            << QStringList{"isRunning", "start", "isRunning"} << ok << 0;
    QTest::newRow("running on fifth check")
        << true << QList<bool>{false, false, false, false, false, true} << true << true << fiveChecks << ok << 4;
    QTest::newRow("never running: five checks")
        << true << QList<bool>{false} << true << false << fiveChecks << failed << 4;
    QTest::newRow("start refused") << true << QList<bool>{false} << false << false << QStringList{"isRunning", "start"}
                                   << failed << 0;
    QTest::newRow("left running: stopped first")
        << true << QList<bool>{true, true, true} << true << true
        << QStringList{"isRunning", "isRunning", "stop", "start", "isRunning"} << ok << 0;
}

void tst_TovraServiceManager::startService()
{
    QFETCH(bool, installed);
    QFETCH(QList<bool>, running);
    QFETCH(bool, startAccepted);
    QFETCH(bool, result);
    QFETCH(QStringList, calls);
    QFETCH(QString, lastLine);
    QFETCH(int, waits);

    auto controller = std::make_unique<FakeController>();
    FakeController *fake = controller.get();
    fake->installed = installed;
    fake->running = running;
    fake->startAccepted = startAccepted;
    TovraServiceManager manager(std::move(controller));
    manager.pollIntervalMs = 10;
    QSignalSpy finished(&manager, &TovraServiceManager::srvStatusTimerFinished);

    QCOMPARE(manager.StartService(), result);
    QCOMPARE(fake->calls, calls);
    QCOMPARE(captured().lines().last(), lastLine);
    QCOMPARE(captured().lines().count(QStringLiteral("TovraVPNService still not running, next check in 1 sec.")),
             waits);
    QCOMPARE(finished.count(), calls.contains(QStringLiteral("start")) && startAccepted ? 1 : 0);
    QCOMPARE(captured().contains(QStringLiteral("TovraVPNService is already running. Trying to stop it.")),
             calls.contains(QStringLiteral("stop")));
}

void tst_TovraServiceManager::stopService()
{
    auto controller = std::make_unique<FakeController>();
    FakeController *fake = controller.get();
    TovraServiceManager manager(std::move(controller));

    fake->running = {false};
    manager.StopService();
    QCOMPARE(captured().lines(), QStringList{"TovraVPNService is not running. No need to stop it."});
    QCOMPARE(fake->calls, QStringList{"isRunning"});

    captured().clear();
    fake->running = {true};
    fake->stopResult = false;
    manager.StopService();
    QCOMPARE(captured().lines(), (QStringList{"TovraVPNService is running. Trying to stop it.",
                                              "Result of stopping TovraVPNService: false"}));
}

void tst_TovraServiceManager::tasks_data()
{
    QTest::addColumn<Task>("task");
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<QByteArray>("service"); // the reply, or what the service does instead
    QTest::addColumn<QString>("answer");     // empty: none
    QTest::addColumn<QString>("logLine");

    const auto row = [](const char *name, Task task, const char *command, const QByteArray &service, const char *answer,
                        const char *logLine) {
        QTest::newRow(name) << task << QByteArray(command) << service << QString::fromLatin1(answer)
                            << QString::fromLatin1(logLine);
    };
    using M = TovraServiceManager;
    row("INFO success", &M::CheckGateway, "INFO\n", "SRV SUCCESS INFO: Default gateway exists - 1.2.3.4", "check(true)",
        "SRV SUCCESS INFO response received");
    row("DELETE error", &M::DeleteGateway, "DELETE\n", "SRV ERROR DELETE: Default gateway not found", "delete(false)",
        "SRV ERROR DELETE response received");
    row("RESTORE success", &M::RestoreGateway, "RESTORE\n",
        "SRV SUCCESS RESTORE: Default gateway restored - 1.2.3.4 (x)", "restore(true)",
        "SRV SUCCESS RESTORE response received");
    row("ADD error, any detail", &M::AddDnsFilters, "ADD_DNS_FILTERS\n", "SRV ERROR DNS ADD: SRV SUCCESS whatever\n",
        "add(false)", "SRV ERROR DNS ADD response received");
    row("REMOVE error", &M::RemoveDnsFilters, "REMOVE_DNS_FILTERS\n",
        "SRV ERROR DNS REMOVE: EngineClosed with result: 6", "remove(false)", "SRV ERROR DNS REMOVE response received");
    row("reply decides, not the command", &M::CheckGateway, "INFO\n", "SRV SUCCESS DELETE: x", "delete(true)",
        "SRV SUCCESS DELETE response received");
    row("unknown reply: no answer", &M::CheckGateway, "INFO\n", "OK", "", "Unknown TovraVPNService response received");
    row("text after NUL ignored", &M::CheckGateway, "INFO\n", QByteArray("OK\0SRV SUCCESS INFO", 19), "",
        "Unknown TovraVPNService response received");
    row("service closes without reply", &M::DeleteGateway, "DELETE\n", "close", "delete(false)",
        "No reply from TovraVPNService: connection closed");
    row("connection reset", &M::DeleteGateway, "DELETE\n", "abort", "delete(false)",
        "No reply from TovraVPNService: connection closed");
    row("reply never comes", &M::DeleteGateway, "DELETE\n", "silent", "delete(false)",
        "No reply from TovraVPNService: timed out");
}

void tst_TovraServiceManager::tasks()
{
    QFETCH(Task, task);
    QFETCH(QByteArray, command);
    QFETCH(QByteArray, service);
    QFETCH(QString, answer);
    QFETCH(QString, logLine);

    ScriptedService scripted(service);
    QVERIFY2(scripted.listen(QHostAddress::LocalHost, 56143), qPrintable(scripted.errorString()));
    QStringList answers;
    const auto manager = this->manager(&answers);
    if (service == "silent")
        manager->taskTimeoutMs = 200;
    QSignalSpy finished(manager.get(), &TovraServiceManager::srvTaskFinished);

    // Twice: each task on a connection of its own, whatever became of the one before. The answer is there
    // when the call returns.
    (manager.get()->*task)();
    (manager.get()->*task)();
    QCOMPARE(answers, answer.isEmpty() ? QStringList() : (QStringList{answer, answer}));
    QCOMPARE(finished.count(), logLine.startsWith(QLatin1String("No reply")) ? 0 : 2);
    QCOMPARE(scripted.received, command + command);
    QCOMPARE(captured().lines().count(
                 QStringLiteral("Sending command: \"%1\\n\"").arg(QString::fromLatin1(command.trimmed()))),
             2);
    QCOMPARE(captured().lines().count(logLine), 2);
    QTRY_VERIFY_WITH_TIMEOUT(scripted.connectionEnded, 10000);
}

void tst_TovraServiceManager::connectionRefused()
{
    QStringList answers;
    const auto manager = this->manager(&answers);
    QSignalSpy finished(manager.get(), &TovraServiceManager::srvTaskFinished);
    manager->AddDnsFilters();
    QCOMPARE(answers, QStringList{"add(false)"});
    QCOMPARE(finished.count(), 0);
    QVERIFY(captured().contains(QStringLiteral("Connection to TovraVPNService failed.")));
    QVERIFY(
        captured().contains(QStringLiteral("The connection was refused by the peer. Make sure the TovraVPNService is "
                                           "running, and check that the host name and port settings are correct.")));
    QVERIFY(!captured().anyContains(QStringLiteral("Sending command")));
}

void tst_TovraServiceManager::realService()
{
    if (!m_ns)
        QSKIP("the real service changes routes and filters only inside a network namespace, which needs root");
    const QString reason = NetNamespace::skipReason({QStringLiteral("nft")});
    if (!reason.isEmpty())
        QSKIP(qPrintable(reason));
    QVERIFY(m_ns->makeGuardNetwork());
    ServiceProcess service;
    QVERIFY2(service.start(m_ns->prefix(), "Link 4 (TOVRAVPN): 10.99.0.53\n"), qPrintable(service.log()));

    QStringList answers;
    const auto manager = this->manager(&answers);
    for (Task task :
         {&TovraServiceManager::CheckGateway, &TovraServiceManager::DeleteGateway, &TovraServiceManager::CheckGateway,
          &TovraServiceManager::DeleteGateway, &TovraServiceManager::RestoreGateway, &TovraServiceManager::CheckGateway,
          &TovraServiceManager::RestoreGateway, &TovraServiceManager::AddDnsFilters,
          &TovraServiceManager::RemoveDnsFilters})
        (manager.get()->*task)();
    QCOMPARE(answers, (QStringList{"check(false)", "delete(true)", "check(false)", "delete(false)", "restore(true)",
                                   "check(true)", "restore(false)", "add(true)", "remove(true)"}));
    QCOMPARE(captured().lines().filter(" response received"),
             (QStringList{"SRV ERROR INFO response received", "SRV SUCCESS DELETE response received",
                          "SRV ERROR INFO response received", "SRV ERROR DELETE response received",
                          "SRV SUCCESS RESTORE response received", "SRV SUCCESS INFO response received",
                          "SRV ERROR RESTORE response received", "SRV SUCCESS DNS ADD response received",
                          "SRV SUCCESS DNS REMOVE response received"}));
    QVERIFY(captured().contains(QStringLiteral("TovraVPNService message received:  SRV SUCCESS INFO: Default gateway "
                                               "exists - 192.168.98.1")));
    QVERIFY(service.stop());
}

QTEST_GUILESS_MAIN(tst_TovraServiceManager)
#include "tst_tovraservicemanager.moc"
