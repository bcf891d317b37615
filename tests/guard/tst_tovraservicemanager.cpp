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
    bool closedByClient = false;

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
                closedByClient = true;
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
    void replies_data();
    void replies();
    void connectionRefused();
    void noReply_data();
    void noReply();
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

void tst_TovraServiceManager::replies_data()
{
    QTest::addColumn<Task>("task");
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QString>("answer"); // empty: none

    const auto row = [](const char *name, Task task, const char *command, const QByteArray &reply, const char *answer) {
        QTest::newRow(name) << task << QByteArray(command) << reply << QString::fromLatin1(answer);
    };
    using M = TovraServiceManager;
    row("INFO success", &M::CheckGateway, "INFO\n", "SRV SUCCESS INFO: Default gateway exists - 1.2.3.4",
        "check(true)");
    row("INFO error", &M::CheckGateway, "INFO\n", "SRV ERROR INFO: Default gateway () not found", "check(false)");
    row("DELETE success", &M::DeleteGateway, "DELETE\n", "SRV SUCCESS DELETE: Default gateway removed - 1.2.3.4",
        "delete(true)");
    row("DELETE error", &M::DeleteGateway, "DELETE\n", "SRV ERROR DELETE: Default gateway not found", "delete(false)");
    row("RESTORE success", &M::RestoreGateway, "RESTORE\n",
        "SRV SUCCESS RESTORE: Default gateway restored - 1.2.3.4 (x)", "restore(true)");
    row("RESTORE error", &M::RestoreGateway, "RESTORE\n",
        "SRV ERROR RESTORE: Default gateway not found after restoring", "restore(false)");
    row("ADD success", &M::AddDnsFilters, "ADD_DNS_FILTERS\n", "SRV SUCCESS DNS ADD: Wfp filters added", "add(true)");
    row("ADD error, any detail", &M::AddDnsFilters, "ADD_DNS_FILTERS\n", "SRV ERROR DNS ADD: SRV SUCCESS whatever\n",
        "add(false)");
    row("REMOVE success", &M::RemoveDnsFilters, "REMOVE_DNS_FILTERS\n", "SRV SUCCESS DNS REMOVE: Wfp filters removed",
        "remove(true)");
    row("REMOVE error", &M::RemoveDnsFilters, "REMOVE_DNS_FILTERS\n",
        "SRV ERROR DNS REMOVE: EngineClosed with result: 6", "remove(false)");
    row("reply decides, not the command", &M::CheckGateway, "INFO\n", "SRV SUCCESS DELETE: x", "delete(true)");
    row("unknown reply: no answer", &M::CheckGateway, "INFO\n", "OK", "");
    row("text after NUL ignored", &M::CheckGateway, "INFO\n", QByteArray("OK\0SRV SUCCESS INFO", 19), "");
}

void tst_TovraServiceManager::replies()
{
    QFETCH(Task, task);
    QFETCH(QByteArray, command);
    QFETCH(QByteArray, reply);
    QFETCH(QString, answer);

    ScriptedService service(reply);
    QVERIFY2(service.listen(QHostAddress::LocalHost, 56143), qPrintable(service.errorString()));
    QStringList answers;
    const auto manager = this->manager(&answers);
    QSignalSpy finished(manager.get(), &TovraServiceManager::srvTaskFinished);

    (manager.get()->*task)();
    // The answer is there when the call returns.
    QCOMPARE(answers, answer.isEmpty() ? QStringList() : QStringList{answer});
    QCOMPARE(finished.count(), 1);
    QCOMPARE(service.received, command);
    QVERIFY(
        captured().contains(QStringLiteral("Sending command: \"%1\\n\"").arg(QString::fromLatin1(command.trimmed()))));
    QVERIFY(captured().contains(answer.isEmpty() ? QStringLiteral("Unknown TovraVPNService response received")
                                                 : QString::fromLatin1(reply.left(reply.indexOf(':'))) +
                                                       QStringLiteral(" response received")));
    QTRY_VERIFY_WITH_TIMEOUT(service.closedByClient, 10000);
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

void tst_TovraServiceManager::noReply_data()
{
    QTest::addColumn<QByteArray>("action");
    QTest::addColumn<QString>("reason");
    QTest::newRow("service closes without reply") << QByteArray("close") << "connection closed";
    QTest::newRow("connection reset") << QByteArray("abort") << "connection closed";
    QTest::newRow("reply never comes") << QByteArray("silent") << "timed out";
}

void tst_TovraServiceManager::noReply()
{
    QFETCH(QByteArray, action);
    QFETCH(QString, reason);

    ScriptedService service(action);
    QVERIFY2(service.listen(QHostAddress::LocalHost, 56143), qPrintable(service.errorString()));
    QStringList answers;
    const auto manager = this->manager(&answers);
    manager->taskTimeoutMs = 200;
    manager->DeleteGateway();
    QCOMPARE(answers, QStringList{"delete(false)"});
    QVERIFY2(captured().contains(QStringLiteral("No reply from TovraVPNService: ") + reason),
             qPrintable(captured().lines().join('\n')));

    // The socket is usable for the next task.
    manager->RestoreGateway();
    QCOMPARE(answers, (QStringList{"delete(false)", "restore(false)"}));
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
    QVERIFY(captured().contains(QStringLiteral("TovraVPNService message received:  SRV SUCCESS INFO: Default gateway "
                                               "exists - 192.168.98.1")));
    QVERIFY(service.stop());
}

QTEST_GUILESS_MAIN(tst_TovraServiceManager)
#include "tst_tovraservicemanager.moc"
