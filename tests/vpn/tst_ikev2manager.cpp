#include <QSignalSpy>
#include <QThread>
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

// True when `expected` appears in `lines` in this order, other lines in between.
bool InOrder(const QStringList &lines, const QStringList &expected)
{
    int next = 0;
    for (const QString &line : lines) {
        if (next < expected.size() && line == expected.at(next))
            ++next;
    }
    return next == expected.size();
}

// The entry fields a protocol switch must leave as they were.
auto UntouchedFields(const RasEntry &e)
{
    return std::make_tuple(e.options, e.netProtocols, e.framingProtocol, e.deviceType, e.deviceName, e.dialMode, e.type,
                           e.encryptionType, e.redialCount, e.redialPause, e.native);
}

constexpr RasHandle DialHandle = 0x5150;

// RAS at the seam: records every call and record, answers from a script, notifies from a thread of its own.
// The notifying thread is joined before the test goes on, so nothing here runs concurrently.
class FakeRas : public RasApi
{
public:
    QStringList calls;
    QVector<RasEntry> entryWrites;
    QVector<QPair<RasCredentials, bool>> credentialWrites; // (credentials, clear)
    QVector<RasDialParams> dials;
    QVector<RasHandle> hangUps;
    QVector<int> errorStringBuffers;

    // Script.
    bool entryExists = false;
    QList<quint32> setEntryResults; // consumed in order, then 0
    quint32 getEntryResult = 0;
    quint32 dialResult = 0;
    QMap<quint32, QString> errorTexts;
    QList<QPair<quint32, quint32>> statusScript; // (result, state), consumed before the live answer
    int hangUpCloseAfterQueries = 0;             // queries answered "connected" after a hang-up; -1: never closes
    std::function<void()> onDispatch;

    // Phone book and connection.
    RasEntry stored;
    RasNotifier notifier = nullptr;
    bool open = false;
    int queriesSinceHangUp = 0;

    quint32 validateEntryName(const QString &) override
    {
        calls << QStringLiteral("validateEntryName");
        return entryExists ? Ras::ErrorAlreadyExists : Ras::ErrorCannotFindPhonebookEntry;
    }
    quint32 setEntryProperties(const QString &name, const RasEntry &entry) override
    {
        calls << QStringLiteral("setEntryProperties");
        entryWrites << entry;
        const quint32 result = setEntryResults.isEmpty() ? 0 : setEntryResults.takeFirst();
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
        calls << QStringLiteral("getEntryProperties");
        if (getEntryResult == 0)
            *entry = stored;
        return getEntryResult;
    }
    quint32 setCredentials(const QString &, const RasCredentials &credentials, bool clear) override
    {
        calls << QStringLiteral("setCredentials");
        credentialWrites << qMakePair(credentials, clear);
        return 0;
    }
    quint32 dial(const RasDialParams &params, RasNotifier dialNotifier, RasHandle *handle) override
    {
        calls << (*handle ? QStringLiteral("dial with a stale handle") : QStringLiteral("dial"));
        dials << params;
        notifier = dialNotifier;
        if (dialResult != 0)
            return dialResult;
        *handle = DialHandle;
        open = true;
        return 0;
    }
    quint32 getConnectStatus(RasHandle handle, RasConnStatus *status) override
    {
        calls << QStringLiteral("getConnectStatus");
        if (!statusScript.isEmpty()) {
            const auto answer = statusScript.takeFirst();
            status->state = answer.second;
            return answer.first;
        }
        if (handle != DialHandle || !open)
            return Ras::ErrorInvalidHandle;
        if (!hangUps.isEmpty() && hangUpCloseAfterQueries >= 0 && ++queriesSinceHangUp > hangUpCloseAfterQueries) {
            open = false;
            return Ras::ErrorInvalidHandle;
        }
        status->state = Ras::StateConnected;
        return 0;
    }
    quint32 hangUp(RasHandle handle) override
    {
        calls << QStringLiteral("hangUp");
        hangUps << handle;
        queriesSinceHangUp = 0;
        open = open && hangUpCloseAfterQueries != 0;
        return 0;
    }
    quint32 getErrorString(quint32 error, int bufferChars, QString *text) override
    {
        errorStringBuffers << bufferChars;
        if (!errorTexts.contains(error))
            return Ras::ErrorInvalidParameter;
        *text = errorTexts.value(error);
        return 0;
    }
    quint32 deleteEntry(const QString &) override { return Ras::ErrorCannotFindPhonebookEntry; }
    void dispatchMessages() override
    {
        calls << QStringLiteral("dispatchMessages");
        if (onDispatch)
            onDispatch();
    }

    // Runs the dial's notifier on a thread of its own, as RAS does.
    void notify(quint32 state, quint32 error = 0, quint32 extendedError = 0)
    {
        QVERIFY(notifier);
        std::thread([=] { notifier(DialHandle, 0xCCCD, state, error, extendedError); }).join();
    }
};

struct Fixture
{
    FakeRas *ras = new FakeRas;
    IKEv2Manager manager{std::unique_ptr<RasApi>(ras)};

    explicit Fixture(bool shortDelays = true)
    {
        if (shortDelays) {
            manager.statusCheckInterval = 10;
            manager.errorHangUpDelay = 10;
            manager.failureReportDelay = 10;
            manager.hangUpPollPause = 1;
        }
        manager.SetCredentials(QStringLiteral("user@example.test"), QStringLiteral("api-token"));
    }

    void connect(int protocol = IKEv2) { manager.Connect(QStringLiteral("nl1.vpn.tovra.test"), protocol); }
    QTimer *timer(const char *name) { return manager.findChild<QTimer *>(QLatin1String(name)); }
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
    void notifierError_data();
    void notifierError();
    void regularCheck_data();
    void regularCheck();
    void hangUp_data();
    void hangUp();
    void connectFailures_data();
    void connectFailures();
    void productionDelays_data();
    void productionDelays();
    void platformBackendReportsConnectionProblem();
    void newConnectDropsPendingFailureReport();

private:
    std::unique_ptr<LogCapture> m_log;
};

void tst_IKEv2Manager::connectSequence_data()
{
    QTest::addColumn<QList<int>>("protocols");
    QTest::addColumn<quint32>("foreignOptions2"); // bits set in the stored entry by someone else after the first
    QTest::addColumn<QList<quint32>>("strategies");
    QTest::addColumn<QList<quint32>>("options2");
    QTest::newRow("IKEv2 to L2TP and back, the whole options word replaced")
        << QList<int>{IKEv2, L2TP, IKEv2} << 0x101u << QList<quint32>{7, 3, 7} << QList<quint32>{0x4, 0x14, 0x4};
    QTest::newRow("L2TP first still creates the IKEv2 entry; to PPTP")
        << QList<int>{L2TP, PPTP} << 0u << QList<quint32>{3, 1} << QList<quint32>{0x14, 0x4};
    QTest::newRow("other protocol keeps both words")
        << QList<int>{L2TP, OpenVPN} << 0u << QList<quint32>{3, 3} << QList<quint32>{0x14, 0x14};
}

void tst_IKEv2Manager::connectSequence()
{
    QFETCH(QList<int>, protocols);
    QFETCH(quint32, foreignOptions2);
    QFETCH(QList<quint32>, strategies);
    QFETCH(QList<quint32>, options2);
    Fixture f;
    QSignalSpy connecting(&f.manager, &IKEv2Manager::Connecting);
    QSignalSpy canCancel(&f.manager, &IKEv2Manager::CanCancelConnecting);
    QSignalSpy disconnected(&f.manager, &IKEv2Manager::Disconnected);

    // The first connect creates the entry with the creation values and stores the pre-shared key.
    f.connect(protocols.at(0));
    QCOMPARE(f.ras->calls, QStringList({"validateEntryName", "setEntryProperties", "setCredentials",
                                        "getEntryProperties", "setEntryProperties", "dial"}));
    const RasEntry created = f.ras->entryWrites.at(0);
    QVERIFY(UntouchedFields(created) == std::make_tuple(0x2C010310u, 4u, 1u, QStringLiteral("vpn"),
                                                        QStringLiteral("TovraVpn"), 1u, 2u, 1u, 0u, 15u, QByteArray()));
    QCOMPARE(created.vpnStrategy, 7u);
    QCOMPARE(created.options2, 4u);
    QVERIFY(created.localPhoneNumber.isEmpty());
    const auto [key, clear] = f.ras->credentialWrites.at(0);
    QCOMPARE(key.mask, 0x10u);
    QVERIFY2(QRegularExpression(QStringLiteral("^[A-Za-z0-9]{30}$")).match(key.password).hasMatch(),
             qPrintable(key.password));
    QCOMPARE(clear, false);
    const RasEntry setUp = f.ras->entryWrites.at(1);
    QCOMPARE(setUp.vpnStrategy, strategies.at(0));
    QCOMPARE(setUp.options2, options2.at(0));
    QCOMPARE(setUp.localPhoneNumber, QStringLiteral("nl1.vpn.tovra.test"));
    const RasDialParams dial = f.ras->dials.at(0);
    QCOMPARE(dial.entryName, QStringLiteral("TOVRAVPN"));
    QCOMPARE(dial.userName, QStringLiteral("user@example.test"));
    QCOMPARE(dial.password, QStringLiteral("api-token"));
    QVERIFY(dial.phoneNumber.isEmpty());
    const QString name = ProtocolToString(protocols.at(0));
    const QStringList logs = m_log->lines();
    QVERIFY2(
        InOrder(logs, {"IKEv2 Connection not exists. Creating...", "Creating IKEv2 connection...", "Cleaning memory...",
                       "IKEv2 connection result: successfully created.", "Setting pre-shared key...",
                       "Cleaning memory...", "L2TP / IPSec Pre-Shared Key Result: successfully set.",
                       "Setup " + name + " connection...", "Getting current " + name + " connection settings...",
                       "Setting selected server address: nl1.vpn.tovra.test", "Settings successfully set",
                       "Cleaning memory...", name + " connection started...", "Cleaning memory..."}),
        qPrintable(logs.join('\n')));
    QVERIFY(!logs.contains(name + " connection exists. Connecting..."));
    QCOMPARE(connecting.count(), 1);
    QCOMPARE(canCancel.count(), 1);

    // Later connects find the entry and rewrite only the strategy, the options word and the address.
    f.ras->stored.options2 |= foreignOptions2;
    for (int i = 1; i < protocols.size(); ++i) {
        LogCapture::clear();
        const RasEntry before = f.ras->stored;
        const QString address = QStringLiteral("s%1.vpn.tovra.test").arg(i);
        f.manager.Connect(address, protocols.at(i));
        const RasEntry written = f.ras->entryWrites.last();
        QCOMPARE(written.vpnStrategy, strategies.at(i));
        QCOMPARE(written.options2, options2.at(i));
        QCOMPARE(written.localPhoneNumber, address);
        QVERIFY2(UntouchedFields(written) == UntouchedFields(before), qPrintable(QString::number(i)));
        QVERIFY(m_log->contains(ProtocolToString(protocols.at(i)) + " connection exists. Connecting..."));
        QVERIFY(!m_log->contains("IKEv2 Connection not exists. Creating..."));
    }
    QCOMPARE(f.ras->entryWrites.size(), protocols.size() + 1);
    QCOMPARE(f.ras->dials.size(), protocols.size());
    QCOMPARE(f.ras->credentialWrites.size(), 1);
    QVERIFY(!f.ras->calls.contains("dial with a stale handle"));
    QCOMPARE(disconnected.count(), 0);
}

void tst_IKEv2Manager::notifierError_data()
{
    QTest::addColumn<int>("reports");
    QTest::addColumn<quint32>("error");
    QTest::addColumn<quint32>("extendedError");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("lines");
    QTest::newRow("error with text") << 1 << 691u << 0u << QStringLiteral("Access was denied.")
                                     << QStringList{"Error occured. Code 691: Access was denied.", "Disconnected"};
    QTest::newRow("error without text") << 1 << 809u << 0u << QString()
                                        << QStringList{"Error occured. Code : 809", "Disconnected"};
    QTest::newRow("server not responding")
        << 1 << 800u << 650u << QStringLiteral("Unable to connect.")
        << QStringList{"Error occured. Code 800: Unable to connect.", "Server Not Responding", "Disconnected"};
    QTest::newRow("two error reports") << 2 << 691u << 0u << QStringLiteral("Access was denied.")
                                       << QStringList{"Error occured. Code 691: Access was denied.", "Disconnected"};
}

void tst_IKEv2Manager::notifierError()
{
    QFETCH(int, reports);
    QFETCH(quint32, error);
    QFETCH(quint32, extendedError);
    QFETCH(QString, text);
    QFETCH(QStringList, lines);
    Fixture f;
    if (!text.isNull())
        f.ras->errorTexts.insert(error, text);
    QSignalSpy errorSpy(&f.manager, &IKEv2Manager::IKEv2ErrorOccurred);
    QSignalSpy connectedSpy(&f.manager, &IKEv2Manager::IKEv2Connected);
    QSignalSpy disconnected(&f.manager, &IKEv2Manager::Disconnected);
    f.connect();

    for (int i = 0; i < reports; ++i) {
        LogCapture::clear();
        f.ras->notify(Ras::StateDisconnected, error, extendedError);
        QCOMPARE(m_log->lines(), lines);
        QVERIFY(f.manager.serverAvailable); // the error reaches the manager queued, on this thread
    }
    QCOMPARE(errorSpy.count(), reports);
    QCOMPARE(connectedSpy.count(), 0);
    QCOMPARE(f.ras->errorStringBuffers.first(), 1024);

    QTRY_COMPARE(disconnected.count(), 1);
    QCOMPARE(f.ras->hangUps, QVector<RasHandle>{DialHandle});
    QVERIFY(!f.manager.serverAvailable);
    QVERIFY(f.manager.connectionAvailable);
    QVERIFY(m_log->contains("IKEv2 disconnected."));
    // Nothing more is scheduled.
    QTest::qWait(50);
    QCOMPARE(f.ras->hangUps.size(), 1);
    QCOMPARE(disconnected.count(), 1);
}

void tst_IKEv2Manager::regularCheck_data()
{
    QTest::addColumn<StatusScript>("script");
    QTest::addColumn<QString>("line");
    QTest::newRow("invalid handle after transient errors")
        << StatusScript{{87, 0}, {0, Ras::StateConnected}, {668, 0}, {6, 0}}
        << QStringLiteral("Regular check result: invalid handle. IKEv2 connection is broken");
    QTest::newRow("disconnected state") << StatusScript{{0, Ras::StateConnected}, {0, Ras::StateDisconnected}}
                                        << QStringLiteral("Regular check result: IKEv2 disconnected");
}

void tst_IKEv2Manager::regularCheck()
{
    QFETCH(StatusScript, script);
    QFETCH(QString, line);
    Fixture f;
    QSignalSpy connected(&f.manager, &IKEv2Manager::Connected);
    QSignalSpy disconnected(&f.manager, &IKEv2Manager::Disconnected);
    f.connect();
    f.ras->statusScript = script;
    QThread *resultThread = nullptr;
    connect(&f.manager, &IKEv2Manager::Connected, &f.manager, [&] { resultThread = QThread::currentThread(); });
    f.ras->notify(Ras::StateConnected);
    QVERIFY(m_log->contains("Connected"));
    QCOMPARE(connected.count(), 0); // queued to this thread, not yet delivered

    QTRY_COMPARE(connected.count(), 1);
    QCOMPARE(resultThread, QThread::currentThread());
    QVERIFY(m_log->contains("Starting regular check of connection state"));
    QTRY_COMPARE(disconnected.count(), 1);
    QCOMPARE(f.ras->calls.count("getConnectStatus"), script.size());
    QCOMPARE(m_log->count(line), 1);
    QVERIFY(!f.timer("statusTimer")->isActive());
    QCOMPARE(f.ras->hangUps.size(), 0);
}

void tst_IKEv2Manager::hangUp_data()
{
    QTest::addColumn<bool>("connected"); // an L2TP dial reported connected first
    QTest::addColumn<bool>("onExit");
    QTest::addColumn<int>("closeAfter"); // status queries after the hang-up that still find the connection
    QTest::addColumn<bool>("nested");    // a second Disconnect() arrives while the first one waits
    QTest::addColumn<QStringList>("lines");

    const QString l2tp = QStringLiteral("Disconnecting from L2TP server.");
    QTest::newRow("user disconnect without a connection")
        << false << false << 0 << false << QStringList{"Disconnecting from Auto server.", "Auto disconnected."};
    QTest::newRow("exit without a connection")
        << false << true << 0 << false << QStringList{"Disconnecting from Auto on exit...", "Auto disconnected."};
    QTest::newRow("connection closes three queries after the hang-up")
        << true << false << 3 << false << QStringList{l2tp, "L2TP disconnected."};
    QTest::newRow("connection never closes: the wait gives up")
        << true << false << -1 << false
        << QStringList{l2tp, "L2TP connection still open 0.3 s after hang-up, not waiting longer.",
                       "L2TP disconnected."};
    QTest::newRow("second disconnect during the wait")
        << true << false << 2 << true
        << QStringList{l2tp, l2tp, "Disconnect already in progress.", "L2TP disconnected."};
}

void tst_IKEv2Manager::hangUp()
{
    QFETCH(bool, connected);
    QFETCH(bool, onExit);
    QFETCH(int, closeAfter);
    QFETCH(bool, nested);
    QFETCH(QStringList, lines);
    Fixture f;
    f.manager.hangUpWaitLimit = 300;
    f.manager.hangUpPollPause = 20;
    QSignalSpy connectedSpy(&f.manager, &IKEv2Manager::Connected);
    QSignalSpy disconnected(&f.manager, &IKEv2Manager::Disconnected);
    if (connected) {
        f.connect(L2TP);
        f.ras->notify(Ras::StateConnected);
        QTRY_VERIFY(f.timer("statusTimer")->isActive());
    }
    f.ras->hangUpCloseAfterQueries = closeAfter;
    f.ras->calls.clear();
    f.ras->onDispatch = [&] {
        if (nested && f.ras->calls.count(QStringLiteral("dispatchMessages")) == 1)
            f.manager.Disconnect();
    };
    LogCapture::clear();

    if (onExit)
        f.manager.DisconnectOnExit();
    else
        f.manager.Disconnect();

    QCOMPARE(disconnected.count(), 1);
    QCOMPARE(f.ras->hangUps, QVector<RasHandle>{connected ? DialHandle : 0});
    QCOMPARE(m_log->lines(), lines);
    QStringList calls = f.ras->calls;
    QCOMPARE(calls.takeFirst(), QStringLiteral("hangUp"));
    // Every query follows a dispatch of the pending messages.
    for (int i = 0; i < calls.size(); ++i)
        QCOMPARE(calls.at(i), QString::fromLatin1(i % 2 ? "getConnectStatus" : "dispatchMessages"));
    const int queries = calls.count(QStringLiteral("getConnectStatus"));
    if (closeAfter >= 0)
        QCOMPARE(queries, closeAfter + 1);
    else // paused between queries: at most one query per pause within the limit
        QVERIFY2(queries >= 2 && queries <= 300 / 20 + 2, qPrintable(QString::number(queries)));
    QVERIFY(!f.timer("statusTimer")->isActive());

    if (connected) {
        // Late reports of the hung-up dial are dropped.
        f.ras->notify(Ras::StateConnected);
        f.ras->notify(Ras::StateDisconnected, 691);
        QTest::qWait(50);
        QCOMPARE(connectedSpy.count(), 1);
        QCOMPARE(disconnected.count(), 1);
        QVERIFY(f.manager.serverAvailable);
        QVERIFY(!f.timer("statusTimer")->isActive());
        QCOMPARE(f.ras->hangUps.size(), 1);
    }
}

void tst_IKEv2Manager::connectFailures_data()
{
    QTest::addColumn<bool>("entryExists");
    QTest::addColumn<quint32>("setEntryResult");
    QTest::addColumn<quint32>("getEntryResult");
    QTest::addColumn<quint32>("dialResult");
    QTest::addColumn<QString>("dialErrorText");
    QTest::addColumn<QString>("line");

    QTest::newRow("entry cannot be created")
        << false << 5u << 0u << 0u << QString() << QStringLiteral("IKEv2 connection result: error - access denied.");
    QTest::newRow("entry cannot be read") << true << 0u << 623u << 0u << QString()
                                          << QStringLiteral("Error occurred while reading current settings: 623");
    QTest::newRow("entry cannot be written")
        << true << 87u << 0u << 0u << QString() << QStringLiteral("Error occurred while setting selected server: 87");
    QTest::newRow("dial does not start") << true << 0u << 0u << 633u << QStringLiteral("The port is already in use.")
                                         << QStringLiteral(
                                                "Connection failed with error 633: The port is already in use.");
    QTest::newRow("dial does not start, no text")
        << true << 0u << 0u << 633u << QString() << QStringLiteral("Connection failed with error : 633");
}

void tst_IKEv2Manager::connectFailures()
{
    QFETCH(bool, entryExists);
    QFETCH(quint32, setEntryResult);
    QFETCH(quint32, getEntryResult);
    QFETCH(quint32, dialResult);
    QFETCH(QString, dialErrorText);
    QFETCH(QString, line);
    Fixture f;
    f.ras->entryExists = entryExists;
    f.ras->setEntryResults = {setEntryResult};
    f.ras->getEntryResult = getEntryResult;
    f.ras->dialResult = dialResult;
    if (!dialErrorText.isNull())
        f.ras->errorTexts.insert(dialResult, dialErrorText);
    QSignalSpy canCancel(&f.manager, &IKEv2Manager::CanCancelConnecting);
    QSignalSpy disconnected(&f.manager, &IKEv2Manager::Disconnected);

    f.connect();

    QVERIFY2(m_log->contains(line), qPrintable(m_log->dump()));
    QCOMPARE(f.ras->dials.size(), dialResult ? 1 : 0);
    QCOMPARE(f.ras->errorStringBuffers, dialResult ? QVector<int>{256} : QVector<int>{});
    QCOMPARE(f.ras->credentialWrites.size(), entryExists ? 0 : 1);
    QVERIFY(!f.manager.connectionAvailable);
    QVERIFY(f.manager.serverAvailable);
    QCOMPARE(canCancel.count(), 0);
    QCOMPARE(disconnected.count(), 0); // reported later, not at once
    QTRY_COMPARE(disconnected.count(), 1);
    QTest::qWait(50);
    QCOMPARE(disconnected.count(), 1);
    QCOMPARE(f.ras->hangUps.size(), 0);
}

void tst_IKEv2Manager::productionDelays_data()
{
    QTest::addColumn<QString>("trigger");
    QTest::addColumn<QString>("timer");
    QTest::addColumn<int>("interval");
    QTest::newRow("dial start failure reported after 2000 ms") << "dial fails"
                                                               << "failureTimer" << 2000;
    QTest::newRow("hang-up 3000 ms after a dial error") << "error"
                                                        << "errorHangUpTimer" << 3000;
    QTest::newRow("regular check every 5000 ms") << "connected"
                                                 << "statusTimer" << 5000;
}

void tst_IKEv2Manager::productionDelays()
{
    QFETCH(QString, trigger);
    QFETCH(QString, timer);
    QFETCH(int, interval);
    Fixture f(false);
    QSignalSpy disconnected(&f.manager, &IKEv2Manager::Disconnected);
    if (trigger == QLatin1String("dial fails"))
        f.ras->dialResult = 633;
    f.connect();
    if (trigger == QLatin1String("error"))
        f.ras->notify(Ras::StateDisconnected, 691);
    else if (trigger == QLatin1String("connected"))
        f.ras->notify(Ras::StateConnected);
    QTRY_VERIFY(f.timer(qPrintable(timer))->isActive());
    QCOMPARE(f.timer(qPrintable(timer))->interval(), interval);
    QCOMPARE(disconnected.count(), 0);
    QCOMPARE(f.ras->hangUps.size(), 0);
    QCOMPARE(f.ras->calls.count("getConnectStatus"), 0);
}

void tst_IKEv2Manager::platformBackendReportsConnectionProblem()
{
#ifdef Q_OS_WIN
    QSKIP("The Windows backend dials for real; this checks the Linux stand-in.");
#endif
    {
        IKEv2Manager manager;
        manager.failureReportDelay = 10;
        QSignalSpy canCancel(&manager, &IKEv2Manager::CanCancelConnecting);
        QSignalSpy disconnected(&manager, &IKEv2Manager::Disconnected);
        manager.Connect(QStringLiteral("nl1.vpn.tovra.test"), L2TP);
        QTRY_COMPARE(disconnected.count(), 1);
        QVERIFY(!manager.connectionAvailable);
        QCOMPARE(canCancel.count(), 0);
        QVERIFY2(m_log->contains("IKEv2 connection result: error - cannot open book."), qPrintable(m_log->dump()));
        QVERIFY(m_log->dump().contains("no NetworkManager backend"));
    }

    const std::unique_ptr<RasApi> ras = CreateRasApi();
    LogCapture::clear();
    RasHandle handle = 1;
    RasDialParams params;
    params.entryName = QStringLiteral("TOVRAVPN");
    const quint32 result = ras->dial(params, nullptr, &handle);
    QVERIFY(result != 0);
    QCOMPARE(handle, RasHandle(0));
    QString text;
    QCOMPARE(ras->getErrorString(result, 256, &text), 0u);
    QVERIFY(!text.isEmpty());
    QVERIFY(m_log->dump().contains("RAS dial is not available: no NetworkManager backend"));
    RasConnStatus status;
    QCOMPARE(ras->getConnectStatus(handle, &status), Ras::ErrorInvalidHandle);
}

void tst_IKEv2Manager::newConnectDropsPendingFailureReport()
{
    Fixture f(false);
    QSignalSpy disconnected(&f.manager, &IKEv2Manager::Disconnected);
    f.ras->dialResult = 633;
    f.connect();
    QVERIFY(f.timer("failureTimer")->isActive());
    f.ras->dialResult = 0;
    f.connect();
    QVERIFY(!f.timer("failureTimer")->isActive());
    QCOMPARE(f.ras->dials.size(), 2);
    QVERIFY(f.manager.connectionAvailable);
    QCOMPARE(disconnected.count(), 0);
}

QTEST_GUILESS_MAIN(tst_IKEv2Manager)
#include "tst_ikev2manager.moc"
