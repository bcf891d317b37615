#include <QtTest>

#include "common/socketowner.h"
#include "fakeservicecontroller.h"
#include "guard/tovraservicemanager.h"
#include "logcapture.h"
#include "netns.h"
#include "openvpnfixture.h"

#include <QTcpServer>
#include <QTcpSocket>

namespace {

// A service on port 56143 that reads the command and then does what it is told: "close" or "abort" the
// connection, stay "silent", or write a reply once the whole line has arrived ("end:" and a reply: and then
// end its sending half, as the helper does).
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
                else if (action == "answer" && received.endsWith('\n'))
                    peer->write(received.endsWith("DELETE\n") ? "SRV SUCCESS DELETE: x" : "SRV ERROR DNS REMOVE: y");
                else if (action.startsWith("end:") && received.endsWith('\n'))
                    peer->write(action.mid(4)) && peer->flush() && SocketOwner::shutdownSending(*peer);
                else if (action != "silent" && action != "answer" && received.endsWith('\n'))
                    peer->write(action);
            });
            connect(peer, &QTcpSocket::disconnected, this, [this, peer] {
                connectionEnded = true;
                peer->deleteLater();
            });
        });
    }
};

using Task = std::function<void(TovraServiceManager *)>;

// The helper's process is this one, where the scripted service listens.
class HelperController : public FakeServiceController
{
public:
    HelperController() : FakeServiceController(QStringLiteral("TovraVPNService")) {}
    qint64 processId() const override { return pid; }
    qint64 pid = QCoreApplication::applicationPid();
};

} // namespace

Q_DECLARE_METATYPE(Task)

// The tasks talk on the loopback of a network namespace of their own, so port 56143 is free.
class tst_TovraServiceManager : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void startService_data();
    void startService();
    void tasks_data();
    void tasks();
    void tasksQueued();
    void squatterNotTrusted();

private:
    // A manager whose answer signals are written to m_answers as "delete(true)" and the like.
    std::unique_ptr<TovraServiceManager> manager(std::unique_ptr<FakeServiceController> controller = nullptr);

    std::unique_ptr<NetNamespace> m_ns;
    std::unique_ptr<LogCapture> m_log; // installed after the test framework's own handler
    QStringList m_answers;
};

void tst_TovraServiceManager::init()
{
    if (QTest::currentTestFunction() != QLatin1String("startService")) {
        QString reason;
        m_ns = NetNamespace::entered(&reason);
        if (!m_ns)
            QSKIP(qPrintable(reason));
    }
    m_log = std::make_unique<LogCapture>();
    m_answers.clear();
}

void tst_TovraServiceManager::cleanup()
{
    m_log.reset();
    m_ns.reset();
}

std::unique_ptr<TovraServiceManager> tst_TovraServiceManager::manager(std::unique_ptr<FakeServiceController> controller)
{
    if (!controller)
        controller = std::make_unique<HelperController>();
    auto manager = std::make_unique<TovraServiceManager>(std::move(controller));
    TovraServiceManager::Timings timings;
    timings.pollIntervalMs = 10;
    timings.taskTimeoutMs = 500;
    manager->setTimings(timings);
    const auto add = [this](const char *name) {
        return
            [this, name](bool result) { m_answers << QStringLiteral("%1(%2)").arg(name, result ? "true" : "false"); };
    };
    connect(manager.get(), &TovraServiceManager::srvTaskCheckFinished, this, add("check"));
    connect(manager.get(), &TovraServiceManager::srvTaskDeleteFinished, this, add("delete"));
    connect(manager.get(), &TovraServiceManager::srvTaskRestoreFinished, this, add("restore"));
    connect(manager.get(), &TovraServiceManager::srvTaskAddFiltersFinished, this, add("add"));
    connect(manager.get(), &TovraServiceManager::srvTaskRmvFiltersFinished, this, add("remove"));
    connect(manager.get(), &TovraServiceManager::srvTaskGuardServerFinished, this, add("guard"));
    connect(manager.get(), &TovraServiceManager::srvTaskVpnDnsFinished, this, add("dns"));
    TovraServiceManager *m = manager.get();
    connect(m, &TovraServiceManager::srvTaskGuardStatusFinished, this, [this, m](bool result) {
        m_answers << QStringLiteral("status(%1,%2)").arg(result ? "true" : "false", m->guardBlocking() ? "on" : "off");
    });
    return manager;
}

// The fake service: installed, left running, accepts the start, running from which check (0: never).
void tst_TovraServiceManager::startService_data()
{
    QTest::addColumn<QList<int>>("service");
    QTest::addColumn<bool>("result");
    QTest::addColumn<int>("waits"); // "still not running" lines
    QTest::newRow("not installed") << QList<int>{0, 0, 1, 1} << false << 0;
    QTest::newRow("running on first check") << QList<int>{1, 0, 1, 1} << true << 0;
    QTest::newRow("running on fifth check") << QList<int>{1, 0, 1, 5} << true << 4;
    QTest::newRow("never running: five checks") << QList<int>{1, 0, 1, 0} << false << 4;
    QTest::newRow("start refused") << QList<int>{1, 0, 0, 1} << false << 0;
    QTest::newRow("left running: stopped first") << QList<int>{1, 1, 1, 1} << true << 0;
}

void tst_TovraServiceManager::startService()
{
    QFETCH(QList<int>, service);
    QFETCH(bool, result);
    auto controller = std::make_unique<FakeServiceController>(QStringLiteral("TovraVPNService"));
    FakeServiceController &fake = *controller;
    fake.installed = service[0];
    fake.running = service[1];
    fake.acceptStart = service[2];
    fake.runningFromCheck = service[3];
    const auto manager = this->manager(std::move(controller));
    QSignalSpy finished(manager.get(), &TovraServiceManager::srvStatusTimerFinished);

    QCOMPARE(manager->StartService(), result);
    QCOMPARE(LogCapture::lines().last(), !fake.installed ? "TovraVPNService error: service not installed."
                                         : result        ? "TovraVPNService started successfully."
                                                         : "TovraVPNService error: service can't be started.");
    QTEST(LogCapture::count(QStringLiteral("TovraVPNService still not running, next check in 1 sec.")), "waits");
    QCOMPARE(finished.count(), fake.installed && fake.acceptStart ? 1 : 0);
    QCOMPARE(fake.count(QStringLiteral("start")), fake.installed ? 1 : 0);
    QCOMPARE(fake.count(QStringLiteral("stop")), service[1]);
    // StopService stops only a running service.
    manager->StopService();
    QCOMPARE(fake.count(QStringLiteral("stop")), service[1] + (result ? 1 : 0));
}

void tst_TovraServiceManager::tasks_data()
{
    QTest::addColumn<Task>("task");
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<QByteArray>("service"); // the reply, or what the service does instead; empty: none listens
    QTest::addColumn<QString>("answer");     // empty: none
    QTest::addColumn<QString>("logLine");
    QTest::addColumn<int>("end"); // TaskEnd: 0 replied, 1 no reply, 2 not sent

    const auto row = [](const char *name, Task task, const char *command, const QByteArray &service, const char *answer,
                        const char *logLine) {
        const int end = QByteArray(logLine).startsWith("No reply") ? 1 : command[0] ? 0 : 2;
        QTest::newRow(name) << task << QByteArray(command) << service << QString::fromLatin1(answer)
                            << QString::fromLatin1(logLine) << end;
    };
    using M = TovraServiceManager;
    const auto guard = [](const char *address, const char *device) {
        return [=](M *m) { m->GuardServer(address, "tcp", 443, device); };
    };
    const auto status = [](M *m) { m->GuardStatus(); };
    row("GUARD_SERVER", guard("198.51.100.20", "tun0"), "GUARD_SERVER 198.51.100.20 tcp 443 tun0\n",
        "SRV SUCCESS GUARD SERVER: admitted", "guard(true)", "SRV SUCCESS GUARD SERVER response received");
    row("GUARD_SERVER IPv6, no device", guard("2001:db8::1", ""), "GUARD_SERVER 2001:db8::1 tcp 443\n",
        "SRV ERROR GUARD SERVER: no block", "guard(false)", "SRV ERROR GUARD SERVER response received");
    row("GUARD_SERVER name not sent", guard("vpn.example 1 RESTORE", ""), "", "unused", "guard(false)",
        "VPN server not admitted, unusable address or device: vpn.example 1 RESTORE ");
    row("GUARD_SERVER device with blank not sent", guard("10.0.0.1", "tun0 x"), "", "unused", "guard(false)",
        "VPN server not admitted, unusable address or device: 10.0.0.1 tun0 x");
    row("GUARD_STATUS blocking", status, "GUARD_STATUS\n", "SRV SUCCESS GUARD STATUS: blocking", "status(true,on)",
        "SRV SUCCESS GUARD STATUS response received");
    row("GUARD_STATUS open", status, "GUARD_STATUS\n", "SRV SUCCESS GUARD STATUS: open", "status(true,off)",
        "SRV SUCCESS GUARD STATUS response received");
    row("GUARD_STATUS other word unknown", status, "GUARD_STATUS\n", "SRV SUCCESS GUARD STATUS: maybe blocking",
        "status(false,off)", "SRV SUCCESS GUARD STATUS response received");
    row(
        "VPN_DNS literals only",
        [](M *m) {
            m->VpnDns({"10.8.0.1", "x\nRESTORE", "fd00::53", "10.8.0.1"});
        },
        "VPN_DNS 10.8.0.1 fd00::53\n", "SRV ERROR VPN DNS: SRV SUCCESS DNS ADD", "dns(false)",
        "SRV ERROR VPN DNS response received");
    row("INFO success", &M::CheckGateway, "INFO\n", "SRV SUCCESS INFO: Default gateway exists - 1.2.3.4", "check(true)",
        "SRV SUCCESS INFO response received");
    row("DELETE error", &M::DeleteGateway, "DELETE\n", "SRV ERROR DELETE: Default gateway not found", "delete(false)",
        "SRV ERROR DELETE response received");
    row("ADD error, any detail", &M::AddDnsFilters, "ADD_DNS_FILTERS\n", "SRV ERROR DNS ADD: SRV SUCCESS whatever\n",
        "add(false)", "SRV ERROR DNS ADD response received");
    row("reply decides, not the command", &M::CheckGateway, "INFO\n", "SRV SUCCESS DELETE: x", "delete(true)",
        "SRV SUCCESS DELETE response received");
    row("text after NUL ignored", &M::CheckGateway, "INFO\n", QByteArray("OK\0SRV SUCCESS INFO", 19), "",
        "Unknown TovraVPNService response received");
    row("service ends the connection after its reply", &M::RestoreGateway, "RESTORE\n",
        "end:SRV SUCCESS RESTORE: Default gateway restored - 1.2.3.4", "restore(true)",
        "SRV SUCCESS RESTORE response received");
    row("service closes without reply", &M::DeleteGateway, "DELETE\n", "close", "delete(false)",
        "No reply from TovraVPNService: connection closed");
    row("connection reset", &M::DeleteGateway, "DELETE\n", "abort", "delete(false)",
        "No reply from TovraVPNService: connection closed");
    row("reply never comes", &M::DeleteGateway, "DELETE\n", "silent", "delete(false)",
        "No reply from TovraVPNService: timed out");
    row("no service listening", &M::AddDnsFilters, "", "", "add(false)", "Connection to TovraVPNService failed.");
}

void tst_TovraServiceManager::tasks()
{
    QFETCH(Task, task);
    QFETCH(QByteArray, command);
    QFETCH(QByteArray, service);
    QFETCH(QString, answer);
    QFETCH(QString, logLine);

    ScriptedService scripted(service);
    if (!service.isEmpty() && service != "unused")
        QVERIFY2(scripted.listen(QHostAddress::LocalHost, 56143), qPrintable(scripted.errorString()));
    const auto manager = this->manager();
    QSignalSpy finished(manager.get(), &TovraServiceManager::srvTaskFinished);

    // Twice: each task on a connection of its own, whatever became of the one before. The answer is there
    // when the call returns.
    task(manager.get());
    task(manager.get());
    QTEST(int(manager->lastTaskEnd()), "end");
    QCOMPARE(m_answers, answer.isEmpty() ? QStringList() : (QStringList{answer, answer}));
    QCOMPARE(finished.count(),
             logLine.startsWith(QLatin1String("SRV")) || logLine.startsWith(QLatin1String("Unknown")) ? 2 : 0);
    QCOMPARE(scripted.received, command + command);
    QCOMPARE(LogCapture::count(logLine), 2);
    if (!service.isEmpty() && service != "unused")
        QTRY_VERIFY_WITH_TIMEOUT(scripted.connectionEnded, 10000);
}

void tst_TovraServiceManager::tasksQueued()
{
    ScriptedService scripted("answer");
    QVERIFY2(scripted.listen(QHostAddress::LocalHost, 56143), qPrintable(scripted.errorString()));
    const auto manager = this->manager();
    // The second task is asked for while the first one waits for its reply: it returns at once, unanswered.
    QStringList answersWhenQueued{"none"};
    connect(&scripted, &QTcpServer::newConnection, this, [&] {
        if (answersWhenQueued == QStringList{"none"}) {
            manager->RemoveDnsFilters();
            answersWhenQueued = m_answers;
        }
    });

    manager->DeleteGateway();

    QCOMPARE(answersWhenQueued, QStringList());
    QCOMPARE(m_answers, (QStringList{"delete(true)", "remove(false)"}));
    QCOMPARE(scripted.received, QByteArray("DELETE\nREMOVE_DNS_FILTERS\n"));
}

void tst_TovraServiceManager::squatterNotTrusted()
{
    PortSquatter squatter;
    QVERIFY(squatter.listen(56143, "SRV SUCCESS DELETE: Default gateway deleted"));
    const auto manager = this->manager();

    manager->DeleteGateway();

    QCOMPARE(m_answers, QStringList{"delete(false)"});
    QVERIFY2(
        LogCapture::contains(QStringLiteral("Reply not from TovraVPNService ignored: another process holds the port.")),
        qPrintable(LogCapture::dump()));
}

QTEST_GUILESS_MAIN(tst_TovraServiceManager)
#include "tst_tovraservicemanager.moc"
