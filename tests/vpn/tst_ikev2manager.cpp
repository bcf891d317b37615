#include <QSignalSpy>
#include <QtTest>
#include <functional>
#include <thread>
#include <tuple>

#include "app/apptypes.h"
#include "tovraconstants.h"
#include "vpn/ikev2manager.h"
#include "vpn/rasapi.h"
#include "vpntesthelpers.h"

namespace {

// The entry fields a protocol switch must leave as they were.
auto untouchedFields(const RasEntry &e)
{
    return std::make_tuple(e.options, e.netProtocols, e.framingProtocol, e.deviceType, e.deviceName, e.dialMode, e.type,
                           e.encryptionType, e.redialCount, e.redialPause, e.native);
}

constexpr RasHandle kDialHandle = 0x5150;

// RAS at the seam: records what it is given, answers from a script, notifies from a thread of its own
// (joined before the test goes on).
class FakeRas : public RasApi
{
public:
    QStringList waitCalls; // "dispatch" and "status", in order
    QVector<RasEntry> entryWrites;
    QVector<QPair<RasCredentials, bool>> credentialWrites; // (credentials, clear)
    QVector<RasDialParams> dials;
    QVector<RasHandle> hangUps;
    bool staleHandleDialled = false;
    bool entryExists = false;
    QString failStep; // create, read, write or dial: that call fails with failCode
    quint32 failCode = 0;
    QList<QPair<quint32, quint32>> statusScript; // (result, state), consumed before the live answer
    int closeAfterQueries = 0;                   // queries answered "connected" after a hang-up; -1: never closes
    std::function<void()> onDispatch;
    RasEntry stored;
    RasNotifier notifier = nullptr;
    bool open = false;

    quint32 validateEntryName(const QString &) override { return entryExists ? Ras::ErrorAlreadyExists : 623; }
    quint32 setEntryProperties(const QString &name, const RasEntry &entry) override
    {
        entryWrites << entry;
        const quint32 result = fails(entryExists ? "write" : "create");
        if (result == 0 && name == QLatin1String(TovraConstants::ProductToken)) {
            stored = entry;
            if (!entryExists) // what RAS adds of its own
                stored.native = QByteArrayLiteral("fields owned by RAS");
            entryExists = true;
        }
        return result;
    }
    quint32 getEntryProperties(const QString &, RasEntry *entry) override
    {
        *entry = fails("read") ? RasEntry() : stored;
        return fails("read");
    }
    quint32 setCredentials(const QString &, const RasCredentials &credentials, bool clear) override
    {
        credentialWrites << qMakePair(credentials, clear);
        return 0;
    }
    quint32 dial(const RasDialParams &params, RasNotifier dialNotifier, RasHandle *handle) override
    {
        staleHandleDialled |= *handle != 0;
        dials << params;
        notifier = dialNotifier;
        *handle = fails("dial") ? 0 : kDialHandle;
        open = !fails("dial");
        return fails("dial");
    }
    quint32 getConnectStatus(RasHandle handle, RasConnStatus *status) override
    {
        waitCalls << QStringLiteral("status");
        if (!statusScript.isEmpty()) {
            const auto answer = statusScript.takeFirst();
            status->state = answer.second;
            return answer.first;
        }
        if (handle != kDialHandle || !open || (!hangUps.isEmpty() && closeAfterQueries-- == 0))
            return open = false, Ras::ErrorInvalidHandle;
        status->state = Ras::StateConnected;
        return 0;
    }
    quint32 hangUp(RasHandle handle) override
    {
        hangUps << handle;
        return 0;
    }
    quint32 getErrorString(quint32 error, int, QString *text) override
    {
        *text = error == 691 ? QStringLiteral("Access was denied.") : QString();
        return error == 691 ? 0 : Ras::ErrorInvalidParameter;
    }
    quint32 deleteEntry(const QString &) override { return Ras::ErrorCannotFindPhonebookEntry; }
    void dispatchMessages() override
    {
        waitCalls << QStringLiteral("dispatch");
        if (onDispatch)
            onDispatch();
    }
    quint32 fails(const char *step) const { return failStep == QLatin1String(step) ? failCode : 0; }
    void notify(quint32 state, quint32 error = 0, quint32 extendedError = 0)
    {
        QVERIFY(notifier);
        std::thread([=] { notifier(kDialHandle, 0xCCCD, state, error, extendedError); }).join();
    }
};

struct Fixture
{
    FakeRas *ras = new FakeRas;
    IKEv2Manager manager{std::unique_ptr<RasApi>(ras)};
    QSignalSpy connected{&manager, &IKEv2Manager::Connected};
    QSignalSpy disconnected{&manager, &IKEv2Manager::Disconnected};
    QSignalSpy canCancel{&manager, &IKEv2Manager::CanCancelConnecting};

    explicit Fixture(IKEv2Manager::Timings timings = {10, 10, 10, kWait, 1})
    {
        manager.setTimings(timings);
        manager.SetCredentials(QStringLiteral("user@example.test"), QStringLiteral("api-token"));
    }
    void connect(int protocol = IKEv2) { manager.Connect(QStringLiteral("nl1.vpn.tovra.test"), protocol); }
};

} // namespace

using StatusScript = QList<QPair<quint32, quint32>>;
Q_DECLARE_METATYPE(StatusScript)

class tst_IKEv2Manager : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { m_log = std::make_unique<LogCapture>(); } // after QtTest's own handler
    void init() { LogCapture::clear(); }
    void connectSequence_data();
    void connectSequence();
    void notifierError();
    void afterConnect_data();
    void afterConnect();
    void connectFailures_data();
    void connectFailures();
    void platformBackendReportsConnectionProblem();

private:
    std::unique_ptr<LogCapture> m_log;
};

void tst_IKEv2Manager::connectSequence_data()
{
    QTest::addColumn<QList<int>>("protocols");
    QTest::addColumn<QList<quint32>>("strategies");
    QTest::addColumn<QList<quint32>>("options2");
    QTest::newRow("IKEv2 to L2TP and back, the whole options word replaced")
        << QList<int>{IKEv2, L2TP, IKEv2} << QList<quint32>{7, 3, 7} << QList<quint32>{0x4, 0x14, 0x4};
    QTest::newRow("L2TP first still creates the IKEv2 entry; to PPTP")
        << QList<int>{L2TP, PPTP} << QList<quint32>{3, 1} << QList<quint32>{0x14, 0x4};
    QTest::newRow("other protocol keeps both words")
        << QList<int>{L2TP, OpenVPN} << QList<quint32>{3, 3} << QList<quint32>{0x14, 0x115};
}

// The entry and key are stored once; each connect rewrites strategy, options word and address only.
void tst_IKEv2Manager::connectSequence()
{
    QFETCH(QList<int>, protocols);
    QFETCH(QList<quint32>, strategies);
    QFETCH(QList<quint32>, options2);
    Fixture f;
    f.connect(protocols.at(0));
    RasEntry created = f.ras->entryWrites.at(0);
    created.native = "fields owned by RAS";
    f.ras->stored.options2 |= 0x101;
    for (int i = 1; i < protocols.size(); ++i)
        f.manager.Connect(QStringLiteral("s%1.vpn.tovra.test").arg(i), protocols.at(i));
    for (int i = 0; i < protocols.size(); ++i) {
        const RasEntry written = f.ras->entryWrites.at(i + 1);
        QCOMPARE(written.vpnStrategy, strategies.at(i));
        QCOMPARE(written.options2, options2.at(i));
        QCOMPARE(written.localPhoneNumber, i ? QStringLiteral("s%1.vpn.tovra.test").arg(i) : "nl1.vpn.tovra.test");
        QVERIFY(untouchedFields(written) == untouchedFields(created));
    }
    QCOMPARE(f.ras->credentialWrites.size(), 1);
    QCOMPARE(f.ras->credentialWrites.at(0).first.mask, 0x10u);
    QCOMPARE(f.ras->credentialWrites.at(0).second, false);
    const RasDialParams dial = f.ras->dials.at(0);
    QCOMPARE(QStringList({dial.entryName, dial.userName, dial.password, dial.phoneNumber}),
             QStringList({"TOVRAVPN", "user@example.test", "api-token", ""}));
    QVERIFY(!f.ras->staleHandleDialled);
    QCOMPARE(f.canCancel.count(), protocols.size());
    QCOMPARE(f.disconnected.count(), 0);
}

// Two error reports of one dial: their text logged, one hang-up, one Disconnected().
void tst_IKEv2Manager::notifierError()
{
    Fixture f;
    QSignalSpy errorSpy(&f.manager, &IKEv2Manager::IKEv2ErrorOccurred);
    f.connect();
    for (quint32 error : {691u, 809u}) {
        LogCapture::clear();
        f.ras->notify(Ras::StateDisconnected, error, 650);
        QCOMPARE(m_log->lines(), QStringList({error == 691 ? "Error occured. Code 691: Access was denied."
                                                           : "Error occured. Code : 809",
                                              "Server Not Responding", "Disconnected"}));
        QVERIFY(f.manager.serverAvailable); // the error reaches the manager queued, on this thread
    }
    QCOMPARE(errorSpy.count(), 2);
    QTRY_COMPARE_WITH_TIMEOUT(f.disconnected.count(), 1, kWait);
    QVERIFY(!f.manager.serverAvailable && f.manager.connectionAvailable);
    settle(100); // nothing more is due
    QCOMPARE(f.ras->hangUps, QVector<RasHandle>{kDialHandle});
    QCOMPARE(f.disconnected.count(), 1);
    QCOMPARE(f.connected.count(), 0);
}

void tst_IKEv2Manager::afterConnect_data()
{
    QTest::addColumn<bool>("connected"); // an L2TP dial reported connected first
    QTest::addColumn<int>("closeAfter"); // status queries after the hang-up that still find the connection
    QTest::addColumn<bool>("nested");    // a second Disconnect() arrives while the first one waits
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<StatusScript>("checks"); // the regular check finds the connection gone: no hang-up

    const QString l2tp = QStringLiteral("Disconnecting from L2TP server.");
    QTest::newRow("exit without a connection")
        << false << 0 << false << QStringList{"Disconnecting from Auto on exit...", "Auto disconnected."}
        << StatusScript();
    QTest::newRow("connection never closes: the wait gives up")
        << true << -1 << false
        << QStringList{l2tp, "L2TP connection still open 0.3 s after hang-up, not waiting longer.",
                       "L2TP disconnected."}
        << StatusScript();
    QTest::newRow("second disconnect during the wait, closes later")
        << true << 2 << true << QStringList{l2tp, l2tp, "Disconnect already in progress.", "L2TP disconnected."}
        << StatusScript();
    QTest::newRow("regular check: invalid handle after transient errors")
        << true << 0 << false << QStringList{"Regular check result: invalid handle. L2TP connection is broken"}
        << StatusScript{{87, 0}, {0, Ras::StateConnected}, {668, 0}, {6, 0}};
    QTest::newRow("regular check: disconnected state")
        << true << 0 << false << QStringList{"Regular check result: L2TP disconnected"}
        << StatusScript{{0, Ras::StateConnected}, {0, Ras::StateDisconnected}};
}

void tst_IKEv2Manager::afterConnect()
{
    QFETCH(bool, connected);
    QFETCH(int, closeAfter);
    QFETCH(bool, nested);
    QFETCH(QStringList, lines);
    QFETCH(StatusScript, checks);
    Fixture f({10, 10, 10, 300, 100});
    if (connected) {
        f.connect(L2TP);
        f.ras->statusScript = checks;
        f.ras->notify(Ras::StateConnected);
        QCOMPARE(f.connected.count(), 0); // queued to this thread, not yet delivered
        QTRY_COMPARE_WITH_TIMEOUT(f.connected.count(), 1, kWait);
    }
    if (!checks.isEmpty()) {
        QTRY_COMPARE_WITH_TIMEOUT(f.disconnected.count(), 1, kWait);
        settle(100); // the checks have stopped
        QCOMPARE(f.ras->waitCalls.count("status"), checks.size());
        QCOMPARE(m_log->count(lines.at(0)), 1);
        QVERIFY(f.ras->hangUps.isEmpty());
        return;
    }
    f.ras->closeAfterQueries = closeAfter;
    f.ras->waitCalls.clear();
    f.ras->onDispatch = [&] {
        if (nested && f.ras->waitCalls.count(QStringLiteral("dispatch")) == 1)
            f.manager.Disconnect();
    };
    LogCapture::clear();
    if (connected)
        f.manager.Disconnect();
    else
        f.manager.DisconnectOnExit();

    QCOMPARE(f.disconnected.count(), 1);
    QCOMPARE(f.ras->hangUps, QVector<RasHandle>{connected ? kDialHandle : 0});
    QCOMPARE(m_log->lines(), lines);
    // Every query follows a dispatch of the pending messages.
    const QStringList calls = f.ras->waitCalls;
    for (int i = 0; i < calls.size(); ++i)
        QCOMPARE(calls.at(i), QString::fromLatin1(i % 2 ? "status" : "dispatch"));
    const int queries = calls.count(QStringLiteral("status"));
    if (closeAfter >= 0)
        QCOMPARE(queries, closeAfter + 1);
    else // paused between queries: at most one query per pause within the limit
        QVERIFY2(queries >= 1 && queries <= 300 / 100 + 1, qPrintable(QString::number(queries)));
    if (!connected)
        return;
    // Late reports of the hung-up dial are dropped, and the regular check has stopped.
    f.ras->waitCalls.clear();
    f.ras->notify(Ras::StateConnected);
    f.ras->notify(Ras::StateDisconnected, 691);
    settle(100);
    QCOMPARE(f.connected.count(), 1);
    QCOMPARE(f.disconnected.count(), 1);
    QVERIFY(f.manager.serverAvailable);
    QCOMPARE(f.ras->hangUps.size(), 1);
    QVERIFY(f.ras->waitCalls.isEmpty());
}

void tst_IKEv2Manager::connectFailures_data()
{
    QTest::addColumn<QString>("step"); // the RAS call that fails
    QTest::addColumn<quint32>("error");
    QTest::addColumn<QString>("line");
    QTest::newRow("entry cannot be created")
        << "create" << 5u << QStringLiteral("IKEv2 connection result: error - access denied.");
    QTest::newRow("entry cannot be read")
        << "read" << 623u << QStringLiteral("Error occurred while reading current settings: 623");
    QTest::newRow("entry cannot be written")
        << "write" << 87u << QStringLiteral("Error occurred while setting selected server: 87");
    QTest::newRow("dial does not start") << "dial" << 691u
                                         << QStringLiteral("Connection failed with error 691: Access was denied.");
}

void tst_IKEv2Manager::connectFailures()
{
    QFETCH(QString, step);
    QFETCH(quint32, error);
    QFETCH(QString, line);
    Fixture f;
    f.ras->entryExists = step != QLatin1String("create");
    f.ras->failStep = step;
    f.ras->failCode = error;
    f.connect();

    QVERIFY2(m_log->contains(line), qPrintable(m_log->dump()));
    QCOMPARE(f.ras->dials.size(), step == QLatin1String("dial") ? 1 : 0);
    QCOMPARE(f.ras->credentialWrites.size(), f.ras->entryExists ? 0 : 1);
    QVERIFY(!f.manager.connectionAvailable && f.manager.serverAvailable);
    QCOMPARE(f.canCancel.count(), 0);
    QCOMPARE(f.disconnected.count(), 0); // reported later, not at once
    QTRY_COMPARE_WITH_TIMEOUT(f.disconnected.count(), 1, kWait);

    // A new connect made while the report is still due takes its place.
    f.manager.setTimings({10, 10, 200, kWait, 1});
    f.connect();
    f.ras->failStep.clear();
    f.connect();
    settle(300);
    QVERIFY(f.manager.connectionAvailable);
    QCOMPARE(f.disconnected.count(), 1);
    QCOMPARE(f.canCancel.count(), 1);
}

void tst_IKEv2Manager::platformBackendReportsConnectionProblem()
{
#ifdef Q_OS_WIN
    QSKIP("The Windows backend dials for real; this checks the Linux one's missing protocols.");
#endif
    IKEv2Manager manager;
    QSignalSpy disconnected(&manager, &IKEv2Manager::Disconnected);
    manager.setTimings({10, 10, 10, kWait, 1});
    manager.Connect(QStringLiteral("nl1.vpn.tovra.test"), L2TP);
    QTRY_COMPARE_WITH_TIMEOUT(disconnected.count(), 1, kWait);
    QVERIFY(!manager.connectionAvailable);
    QVERIFY2(m_log->contains("Connection failed with error 621: The system could not open the phone book file."),
             qPrintable(m_log->dump()));
    QVERIFY(m_log->contains("L2TP/IPSec and PPTP tunnels are not available on Linux."));
}

QTEST_GUILESS_MAIN(tst_IKEv2Manager)
#include "tst_ikev2manager.moc"
