#include <QtTest>

#include "common/servicecontroller.h"
#include "guard/tovraservicemanager.h"
#include "service/netnamespace.h"
#include "service/serviceprocess.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <memory>

namespace {

QStringList *capturedLog = nullptr;

void CaptureMessage(QtMsgType, const QMessageLogContext &, const QString &message)
{
    if (capturedLog)
        capturedLog->append(message);
}

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
        if (running.isEmpty())
            return false;
        return running.size() > 1 ? running.takeFirst() : running.first();
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

using Task = void (TovraServiceManager::*)();

} // namespace

Q_DECLARE_METATYPE(Task)

class tst_TovraServiceManager : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase();
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
    void watch(TovraServiceManager &manager, QStringList *seen);

    std::unique_ptr<NetNamespace> m_ns;
    QStringList m_log;
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

void tst_TovraServiceManager::cleanupTestCase()
{
    m_ns.reset();
}

void tst_TovraServiceManager::init()
{
    m_log.clear();
    capturedLog = &m_log;
    qInstallMessageHandler(CaptureMessage);
}

void tst_TovraServiceManager::cleanup()
{
    qInstallMessageHandler(nullptr);
    capturedLog = nullptr;
}

void tst_TovraServiceManager::watch(TovraServiceManager &manager, QStringList *seen)
{
    auto add = [seen](const char *name) {
        return [seen, name](bool result) {
            seen->append(QStringLiteral("%1(%2)").arg(QLatin1String(name),
                                                      result ? QStringLiteral("true") : QStringLiteral("false")));
        };
    };
    connect(&manager, &TovraServiceManager::srvTaskCheckFinished, this, add("check"));
    connect(&manager, &TovraServiceManager::srvTaskDeleteFinished, this, add("delete"));
    connect(&manager, &TovraServiceManager::srvTaskRestoreFinished, this, add("restore"));
    connect(&manager, &TovraServiceManager::srvTaskAddFiltersFinished, this, add("add"));
    connect(&manager, &TovraServiceManager::srvTaskRmvFiltersFinished, this, add("remove"));
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
    QTest::newRow("not installed") << false << QList<bool>{} << true << false << QStringList()
                                   << "TovraVPNService error: service not installed." << 0;
    QTest::newRow("running on first check") << true << QList<bool>{false, true} << true << true
                                            << QStringList{"isRunning", "start", "isRunning"} << ok << 0;
    QTest::newRow("running on fifth check")
        << true << QList<bool>{false, false, false, false, false, true} << true << true
        << QStringList{"isRunning", "start", "isRunning", "isRunning", "isRunning", "isRunning", "isRunning"} << ok
        << 4;
    QTest::newRow("never running: five checks")
        << true << QList<bool>{false} << true << false
        << QStringList{"isRunning", "start", "isRunning", "isRunning", "isRunning", "isRunning", "isRunning"} << failed
        << 4;
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
    QCOMPARE(m_log.last(), lastLine);
    QCOMPARE(m_log.count(QStringLiteral("TovraVPNService still not running, next check in 1 sec.")), waits);
    QCOMPARE(finished.count(), calls.contains(QStringLiteral("start")) && startAccepted ? 1 : 0);
    QCOMPARE(m_log.contains(QStringLiteral("TovraVPNService is already running. Trying to stop it.")),
             calls.contains(QStringLiteral("stop")));
}

void tst_TovraServiceManager::stopService()
{
    auto controller = std::make_unique<FakeController>();
    FakeController *fake = controller.get();
    TovraServiceManager manager(std::move(controller));

    fake->running = {false};
    manager.StopService();
    QCOMPARE(m_log, QStringList{"TovraVPNService is not running. No need to stop it."});
    QCOMPARE(fake->calls, QStringList{"isRunning"});

    m_log.clear();
    fake->running = {true};
    fake->stopResult = false;
    manager.StopService();
    QCOMPARE(m_log, (QStringList{"TovraVPNService is running. Trying to stop it.",
                                 "Result of stopping TovraVPNService: false"}));
}

void tst_TovraServiceManager::replies_data()
{
    QTest::addColumn<Task>("task");
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QString>("answer");

    QTest::newRow("INFO success") << &TovraServiceManager::CheckGateway << QByteArray("INFO\n")
                                  << QByteArray("SRV SUCCESS INFO: Default gateway exists - 1.2.3.4") << "check(true)";
    QTest::newRow("INFO error") << &TovraServiceManager::CheckGateway << QByteArray("INFO\n")
                                << QByteArray("SRV ERROR INFO: Default gateway () not found") << "check(false)";
    QTest::newRow("DELETE success") << &TovraServiceManager::DeleteGateway << QByteArray("DELETE\n")
                                    << QByteArray("SRV SUCCESS DELETE: Default gateway removed - 1.2.3.4")
                                    << "delete(true)";
    QTest::newRow("DELETE error") << &TovraServiceManager::DeleteGateway << QByteArray("DELETE\n")
                                  << QByteArray("SRV ERROR DELETE: Default gateway not found") << "delete(false)";
    QTest::newRow("RESTORE success") << &TovraServiceManager::RestoreGateway << QByteArray("RESTORE\n")
                                     << QByteArray("SRV SUCCESS RESTORE: Default gateway restored - 1.2.3.4 (x)")
                                     << "restore(true)";
    QTest::newRow("RESTORE error") << &TovraServiceManager::RestoreGateway << QByteArray("RESTORE\n")
                                   << QByteArray("SRV ERROR RESTORE: Default gateway not found after restoring")
                                   << "restore(false)";
    QTest::newRow("ADD success") << &TovraServiceManager::AddDnsFilters << QByteArray("ADD_DNS_FILTERS\n")
                                 << QByteArray("SRV SUCCESS DNS ADD: Wfp filters added") << "add(true)";
    QTest::newRow("ADD error, any detail") << &TovraServiceManager::AddDnsFilters << QByteArray("ADD_DNS_FILTERS\n")
                                           << QByteArray("SRV ERROR DNS ADD: SRV SUCCESS whatever\n") << "add(false)";
    QTest::newRow("REMOVE success") << &TovraServiceManager::RemoveDnsFilters << QByteArray("REMOVE_DNS_FILTERS\n")
                                    << QByteArray("SRV SUCCESS DNS REMOVE: Wfp filters removed") << "remove(true)";
    QTest::newRow("REMOVE error") << &TovraServiceManager::RemoveDnsFilters << QByteArray("REMOVE_DNS_FILTERS\n")
                                  << QByteArray("SRV ERROR DNS REMOVE: EngineClosed with result: 6") << "remove(false)";
    QTest::newRow("reply decides, not the command") << &TovraServiceManager::CheckGateway << QByteArray("INFO\n")
                                                    << QByteArray("SRV SUCCESS DELETE: x") << "delete(true)";
    QTest::newRow("unknown reply: no answer")
        << &TovraServiceManager::CheckGateway << QByteArray("INFO\n") << QByteArray("OK") << QString();
    QTest::newRow("text after NUL ignored") << &TovraServiceManager::CheckGateway << QByteArray("INFO\n")
                                            << QByteArray("OK\0SRV SUCCESS INFO", 19) << QString();
}

void tst_TovraServiceManager::replies()
{
    QFETCH(Task, task);
    QFETCH(QByteArray, command);
    QFETCH(QByteArray, reply);
    QFETCH(QString, answer);

    // A scripted service: answers once the whole command has arrived, then waits for the client to close.
    QTcpServer server;
    QVERIFY2(server.listen(QHostAddress::LocalHost, 56143), qPrintable(server.errorString()));
    QByteArray received;
    bool closedByClient = false;
    connect(&server, &QTcpServer::newConnection, this, [&] {
        QTcpSocket *peer = server.nextPendingConnection();
        connect(peer, &QTcpSocket::readyRead, peer, [&, peer] {
            received += peer->readAll();
            if (received.endsWith('\n'))
                peer->write(reply);
        });
        connect(peer, &QTcpSocket::disconnected, peer, [&, peer] {
            closedByClient = true;
            peer->deleteLater();
        });
    });

    TovraServiceManager manager(std::make_unique<FakeController>());
    QStringList answers;
    watch(manager, &answers);
    QSignalSpy finished(&manager, &TovraServiceManager::srvTaskFinished);

    (manager.*task)();
    // The answer is there when the call returns.
    QCOMPARE(answers, answer.isEmpty() ? QStringList() : QStringList{answer});
    QCOMPARE(finished.count(), 1);
    QCOMPARE(received, command);
    QVERIFY(m_log.contains(QStringLiteral("Sending command: \"%1\\n\"").arg(QString::fromLatin1(command.trimmed()))));
    QVERIFY(m_log.contains(answer.isEmpty() ? QStringLiteral("Unknown TovraVPNService response received")
                                            : QString::fromLatin1(reply.left(reply.indexOf(':'))) +
                                                  QStringLiteral(" response received")));
    QTRY_VERIFY_WITH_TIMEOUT(closedByClient, 10000);
}

void tst_TovraServiceManager::connectionRefused()
{
    TovraServiceManager manager(std::make_unique<FakeController>());
    QStringList answers;
    watch(manager, &answers);
    QSignalSpy finished(&manager, &TovraServiceManager::srvTaskFinished);
    manager.AddDnsFilters();
    QCOMPARE(answers, QStringList{"add(false)"});
    QCOMPARE(finished.count(), 0);
    QVERIFY(m_log.contains(QStringLiteral("Connection to TovraVPNService failed.")));
    QVERIFY(m_log.contains(QStringLiteral("The connection was refused by the peer. Make sure the TovraVPNService is "
                                          "running, and check that the host name and port settings are correct.")));
    QVERIFY(!m_log.join('\n').contains(QStringLiteral("Sending command")));
}

void tst_TovraServiceManager::noReply_data()
{
    QTest::addColumn<QString>("peer");
    QTest::addColumn<QString>("reason");
    QTest::newRow("service closes without reply") << "close"
                                                  << "connection closed";
    QTest::newRow("connection reset") << "abort"
                                      << "connection closed";
    QTest::newRow("reply never comes") << "silent"
                                       << "timed out";
}

void tst_TovraServiceManager::noReply()
{
    QFETCH(QString, peer);
    QFETCH(QString, reason);

    QTcpServer server;
    QVERIFY2(server.listen(QHostAddress::LocalHost, 56143), qPrintable(server.errorString()));
    connect(&server, &QTcpServer::newConnection, this, [&] {
        QTcpSocket *socket = server.nextPendingConnection();
        connect(socket, &QTcpSocket::readyRead, socket, [socket, peer] {
            socket->readAll();
            if (peer == QLatin1String("close"))
                socket->disconnectFromHost();
            else if (peer == QLatin1String("abort"))
                socket->abort();
        });
    });

    TovraServiceManager manager(std::make_unique<FakeController>());
    manager.taskTimeoutMs = 200;
    QStringList answers;
    watch(manager, &answers);
    manager.DeleteGateway();
    QCOMPARE(answers, QStringList{"delete(false)"});
    QVERIFY2(m_log.contains(QStringLiteral("No reply from TovraVPNService: ") + reason), qPrintable(m_log.join('\n')));

    // The socket is usable for the next task.
    answers.clear();
    manager.RestoreGateway();
    QCOMPARE(answers, QStringList{"restore(false)"});
}

void tst_TovraServiceManager::realService()
{
    if (!m_ns)
        QSKIP("the real service changes routes and filters only inside a network namespace, which needs root");
    const QString reason = NetNamespace::skipReason(true);
    if (!reason.isEmpty())
        QSKIP(qPrintable(reason));

    QVERIFY(m_ns->ipAll({
        {"link", "add", "veth0", "type", "veth", "peer", "name", "veth1"},
        {"link", "add", "TOVRAVPN", "type", "veth", "peer", "name", "vpnpeer"},
        {"addr", "add", "192.168.97.2/24", "dev", "veth0"},
        {"addr", "add", "10.97.0.2/24", "dev", "TOVRAVPN"},
        {"link", "set", "veth0", "up"},
        {"link", "set", "TOVRAVPN", "up"},
        {"route", "add", "default", "via", "192.168.97.1", "dev", "veth0"},
    }));
    // Stand-in for the resolver tool this machine may lack, in resolvectl's format.
    QTemporaryDir bin;
    QFile tool(bin.filePath(QStringLiteral("resolvectl")));
    QVERIFY(tool.open(QIODevice::WriteOnly));
    tool.write("#!/bin/sh\necho 'Link 4 (TOVRAVPN): 10.97.0.53'\n");
    tool.close();
    tool.setPermissions(QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("PATH"),
                       bin.path() + QLatin1Char(':') + environment.value(QStringLiteral("PATH")));

    ServiceProcess service;
    QVERIFY2(service.start(m_ns->prefix(), environment), qPrintable(service.log()));

    TovraServiceManager manager(std::make_unique<FakeController>());
    QStringList answers;
    watch(manager, &answers);
    manager.CheckGateway();
    manager.DeleteGateway();
    manager.CheckGateway();
    manager.DeleteGateway();
    manager.RestoreGateway();
    manager.CheckGateway();
    manager.RestoreGateway();
    manager.AddDnsFilters();
    manager.RemoveDnsFilters();
    QCOMPARE(answers, (QStringList{"check(false)", "delete(true)", "check(false)", "delete(false)", "restore(true)",
                                   "check(true)", "restore(false)", "add(true)", "remove(true)"}));
    QVERIFY(m_log.contains(QStringLiteral("TovraVPNService message received:  SRV SUCCESS INFO: Default gateway "
                                          "exists - 192.168.97.1")));
    QVERIFY(service.stop());
}

QTEST_GUILESS_MAIN(tst_TovraServiceManager)
#include "tst_tovraservicemanager.moc"
