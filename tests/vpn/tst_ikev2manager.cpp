#include <QMutex>
#include <QSignalSpy>
#include <QThread>
#include <QtTest>
#include <functional>
#include <thread>

#include "app/apptypes.h"
#include "tovraconstants.h"
#include "vpn/ikev2manager.h"
#include "vpn/rasapi.h"

namespace {

QMutex logLock;
QStringList logLines;

void CaptureLog(QtMsgType, const QMessageLogContext &, const QString &message)
{
    QMutexLocker lock(&logLock);
    logLines << message;
}

QStringList Logs()
{
    QMutexLocker lock(&logLock);
    return logLines;
}

void ClearLogs()
{
    QMutexLocker lock(&logLock);
    logLines.clear();
}

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

constexpr RasHandle DialHandle = 0x5150;

// RAS at the seam: records every call and record, answers from a script, notifies from a thread of its own.
class FakeRas : public RasApi
{
public:
    mutable QMutex mutex;
    QStringList calls;
    QVector<RasEntry> entryWrites;
    QVector<RasCredentials> credentialWrites;
    QVector<bool> credentialClears;
    QVector<RasDialParams> dials;
    QVector<RasHandle> hangUps;
    QVector<int> errorStringBuffers;
    int statusQueries = 0;

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
        QMutexLocker lock(&mutex);
        calls << QStringLiteral("validateEntryName");
        return entryExists ? Ras::ErrorAlreadyExists : Ras::ErrorCannotFindPhonebookEntry;
    }

    quint32 setEntryProperties(const QString &name, const RasEntry &entry) override
    {
        QMutexLocker lock(&mutex);
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
        QMutexLocker lock(&mutex);
        calls << QStringLiteral("getEntryProperties");
        if (getEntryResult == 0)
            *entry = stored;
        return getEntryResult;
    }

    quint32 setCredentials(const QString &, const RasCredentials &credentials, bool clear) override
    {
        QMutexLocker lock(&mutex);
        calls << QStringLiteral("setCredentials");
        credentialWrites << credentials;
        credentialClears << clear;
        return 0;
    }

    quint32 dial(const RasDialParams &params, RasNotifier dialNotifier, RasHandle *handle) override
    {
        QMutexLocker lock(&mutex);
        calls << QStringLiteral("dial");
        dials << params;
        if (*handle != 0)
            calls << QStringLiteral("dial with a stale handle");
        notifier = dialNotifier;
        if (dialResult != 0)
            return dialResult;
        *handle = DialHandle;
        open = true;
        return 0;
    }

    quint32 getConnectStatus(RasHandle handle, RasConnStatus *status) override
    {
        QMutexLocker lock(&mutex);
        calls << QStringLiteral("getConnectStatus");
        ++statusQueries;
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
        QMutexLocker lock(&mutex);
        calls << QStringLiteral("hangUp");
        hangUps << handle;
        queriesSinceHangUp = 0;
        if (hangUpCloseAfterQueries == 0)
            open = false;
        return 0;
    }

    quint32 getErrorString(quint32 error, int bufferChars, QString *text) override
    {
        QMutexLocker lock(&mutex);
        errorStringBuffers << bufferChars;
        if (!errorTexts.contains(error))
            return Ras::ErrorInvalidParameter;
        *text = errorTexts.value(error);
        return 0;
    }

    quint32 deleteEntry(const QString &) override
    {
        QMutexLocker lock(&mutex);
        calls << QStringLiteral("deleteEntry");
        return entryExists ? 0 : Ras::ErrorCannotFindPhonebookEntry;
    }

    void dispatchMessages() override
    {
        {
            QMutexLocker lock(&mutex);
            calls << QStringLiteral("dispatchMessages");
        }
        if (onDispatch)
            onDispatch();
    }

    // Runs the dial's notifier on a thread of its own, as RAS does.
    void notify(quint32 state, quint32 error = 0, quint32 extendedError = 0)
    {
        RasNotifier target;
        {
            QMutexLocker lock(&mutex);
            target = notifier;
        }
        QVERIFY(target);
        std::thread rasThread([=] { target(DialHandle, 0xCCCD, state, error, extendedError); });
        rasThread.join();
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

    QTimer *timer(const char *name) { return manager.findChild<QTimer *>(QLatin1String(name)); }
};

void CompareUntouchedFields(const RasEntry &written, const RasEntry &before)
{
    QCOMPARE(written.options, before.options);
    QCOMPARE(written.netProtocols, before.netProtocols);
    QCOMPARE(written.framingProtocol, before.framingProtocol);
    QCOMPARE(written.deviceType, before.deviceType);
    QCOMPARE(written.deviceName, before.deviceName);
    QCOMPARE(written.dialMode, before.dialMode);
    QCOMPARE(written.type, before.type);
    QCOMPARE(written.encryptionType, before.encryptionType);
    QCOMPARE(written.redialCount, before.redialCount);
    QCOMPARE(written.redialPause, before.redialPause);
    QCOMPARE(written.native, before.native);
}

} // namespace

using StatusScript = QList<QPair<quint32, quint32>>;
Q_DECLARE_METATYPE(StatusScript)

class tst_IKEv2Manager : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { qInstallMessageHandler(CaptureLog); }
    void init() { ClearLogs(); }

    void firstConnectCreatesEntry_data();
    void firstConnectCreatesEntry();
    void protocolSwitchRewritesOnlyStrategy_data();
    void protocolSwitchRewritesOnlyStrategy();
    void notifierError_data();
    void notifierError();
    void notifierSignalsReachGuiThread_data();
    void notifierSignalsReachGuiThread();
    void regularCheck_data();
    void regularCheck();
    void disconnectWithoutConnection_data();
    void disconnectWithoutConnection();
    void hangUpWait_data();
    void hangUpWait();
    void secondDisconnectDuringHangUpWait();
    void reportsAfterDisconnectAreDropped();
    void connectFailures_data();
    void connectFailures();
    void productionDelays_data();
    void productionDelays();
    void platformBackendReportsConnectionProblem();
};

void tst_IKEv2Manager::firstConnectCreatesEntry_data()
{
    QTest::addColumn<int>("protocol");
    QTest::addColumn<quint32>("strategy");
    QTest::addColumn<quint32>("options2");
    QTest::addColumn<QString>("name");
    QTest::newRow("IKEv2") << int(IKEv2) << 7u << 0x4u << QStringLiteral("IKEv2");
    QTest::newRow("L2TP still creates the IKEv2 entry") << int(L2TP) << 3u << 0x14u << QStringLiteral("L2TP");
    QTest::newRow("PPTP") << int(PPTP) << 1u << 0x4u << QStringLiteral("PPtP");
}

void tst_IKEv2Manager::firstConnectCreatesEntry()
{
    QFETCH(int, protocol);
    QFETCH(quint32, strategy);
    QFETCH(quint32, options2);
    QFETCH(QString, name);
    Fixture f;
    QSignalSpy connecting(&f.manager, &IKEv2Manager::Connecting);
    QSignalSpy canCancel(&f.manager, &IKEv2Manager::CanCancelConnecting);
    QSignalSpy disconnected(&f.manager, &IKEv2Manager::Disconnected);

    f.manager.Connect(QStringLiteral("nl1.vpn.tovra.test"), protocol);

    QCOMPARE(f.ras->calls, QStringList({"validateEntryName", "setEntryProperties", "setCredentials",
                                        "getEntryProperties", "setEntryProperties", "dial"}));
    const RasEntry created = f.ras->entryWrites.at(0);
    QCOMPARE(created.options, 0x2C010310u);
    QVERIFY(created.localPhoneNumber.isEmpty());
    QCOMPARE(created.netProtocols, 4u);
    QCOMPARE(created.framingProtocol, 1u);
    QCOMPARE(created.deviceType, QStringLiteral("vpn"));
    QCOMPARE(created.deviceName, QStringLiteral("TovraVpn"));
    QCOMPARE(created.dialMode, 1u);
    QCOMPARE(created.type, 2u);
    QCOMPARE(created.encryptionType, 1u);
    QCOMPARE(created.vpnStrategy, 7u);
    QCOMPARE(created.options2, 4u);
    QCOMPARE(created.redialCount, 0u);
    QCOMPARE(created.redialPause, 15u);
    QVERIFY(created.native.isEmpty());

    QCOMPARE(f.ras->credentialWrites.size(), 1);
    QCOMPARE(f.ras->credentialWrites.at(0).mask, 0x10u);
    const QString key = f.ras->credentialWrites.at(0).password;
    QCOMPARE(key.size(), 30);
    QVERIFY2(QRegularExpression(QStringLiteral("^[A-Za-z0-9]{30}$")).match(key).hasMatch(), qPrintable(key));
    QCOMPARE(f.ras->credentialClears.at(0), false);

    const RasEntry setUp = f.ras->entryWrites.at(1);
    QCOMPARE(setUp.vpnStrategy, strategy);
    QCOMPARE(setUp.options2, options2);
    QCOMPARE(setUp.localPhoneNumber, QStringLiteral("nl1.vpn.tovra.test"));

    const RasDialParams dial = f.ras->dials.at(0);
    QCOMPARE(dial.entryName, QStringLiteral("TOVRAVPN"));
    QCOMPARE(dial.userName, QStringLiteral("user@example.test"));
    QCOMPARE(dial.password, QStringLiteral("api-token"));
    QVERIFY(dial.phoneNumber.isEmpty());

    const QStringList logs = Logs();
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
    QCOMPARE(disconnected.count(), 0);

    // The next connect finds the entry: no second creation, no second key.
    ClearLogs();
    f.manager.Connect(QStringLiteral("de2.vpn.tovra.test"), protocol);
    QCOMPARE(f.ras->credentialWrites.size(), 1);
    QCOMPARE(f.ras->entryWrites.size(), 3);
    QVERIFY(Logs().contains(name + " connection exists. Connecting..."));
    QVERIFY(!Logs().contains("IKEv2 Connection not exists. Creating..."));
}

void tst_IKEv2Manager::protocolSwitchRewritesOnlyStrategy_data()
{
    QTest::addColumn<QList<int>>("protocols");
    QTest::addColumn<quint32>("foreignOptions2"); // bits set in the stored entry by someone else
    QTest::addColumn<QList<quint32>>("strategies");
    QTest::addColumn<QList<quint32>>("options2");
    QTest::newRow("IKEv2 to L2TP and back")
        << QList<int>{IKEv2, L2TP, IKEv2} << 0u << QList<quint32>{7, 3, 7} << QList<quint32>{0x4, 0x14, 0x4};
    QTest::newRow("L2TP to PPTP") << QList<int>{L2TP, PPTP} << 0u << QList<quint32>{3, 1} << QList<quint32>{0x14, 0x4};
    QTest::newRow("whole options word replaced")
        << QList<int>{L2TP, IKEv2} << 0x101u << QList<quint32>{3, 7} << QList<quint32>{0x14, 0x4};
    QTest::newRow("other protocol keeps both words")
        << QList<int>{L2TP, OpenVPN} << 0u << QList<quint32>{3, 3} << QList<quint32>{0x14, 0x14};
}

void tst_IKEv2Manager::protocolSwitchRewritesOnlyStrategy()
{
    QFETCH(QList<int>, protocols);
    QFETCH(quint32, foreignOptions2);
    QFETCH(QList<quint32>, strategies);
    QFETCH(QList<quint32>, options2);
    Fixture f;
    f.manager.Connect(QStringLiteral("first.vpn.tovra.test"), IKEv2);
    QCOMPARE(f.ras->dials.size(), 1);
    f.ras->stored.options2 |= foreignOptions2;

    for (int i = 0; i < protocols.size(); ++i) {
        const RasEntry before = f.ras->stored;
        const QString address = QStringLiteral("s%1.vpn.tovra.test").arg(i);
        f.manager.Connect(address, protocols.at(i));
        const RasEntry written = f.ras->entryWrites.last();
        QCOMPARE(written.vpnStrategy, strategies.at(i));
        QCOMPARE(written.options2, options2.at(i));
        QCOMPARE(written.localPhoneNumber, address);
        CompareUntouchedFields(written, before);
        if (QTest::currentTestFailed())
            return;
    }
    QCOMPARE(f.ras->dials.size(), protocols.size() + 1);
    QCOMPARE(f.ras->credentialWrites.size(), 1);
    QVERIFY(!f.ras->calls.contains("dial with a stale handle"));
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
    QTest::newRow("unlisted extended error logs nothing")
        << 1 << 800u << 1234u << QStringLiteral("Unable to connect.")
        << QStringList{"Error occured. Code 800: Unable to connect.", "Disconnected"};
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
    f.manager.Connect(QStringLiteral("nl1.vpn.tovra.test"), IKEv2);

    for (int i = 0; i < reports; ++i) {
        ClearLogs();
        f.ras->notify(Ras::StateDisconnected, error, extendedError);
        QCOMPARE(Logs(), lines);
    }
    QCOMPARE(errorSpy.count(), reports);
    QCOMPARE(connectedSpy.count(), 0);
    QCOMPARE(f.ras->errorStringBuffers.first(), 1024);

    QTRY_COMPARE(disconnected.count(), 1);
    QCOMPARE(f.ras->hangUps, QVector<RasHandle>{DialHandle});
    QVERIFY(!f.manager.serverAvailable);
    QVERIFY(f.manager.connectionAvailable);
    QVERIFY(Logs().contains("IKEv2 disconnected."));
    // Nothing more is scheduled.
    QTest::qWait(50);
    QCOMPARE(f.ras->hangUps.size(), 1);
    QCOMPARE(disconnected.count(), 1);
}

void tst_IKEv2Manager::notifierSignalsReachGuiThread_data()
{
    QTest::addColumn<bool>("fails");
    QTest::newRow("connected") << false;
    QTest::newRow("error") << true;
}

void tst_IKEv2Manager::notifierSignalsReachGuiThread()
{
    QFETCH(bool, fails);
    QThread *gui = QThread::currentThread();
    QThread *notifierThread = nullptr;
    QThread *resultThread = nullptr;
    Fixture f;
    auto onNotifier = [&] { notifierThread = QThread::currentThread(); };
    auto onResult = [&] { resultThread = QThread::currentThread(); };
    connect(&f.manager, &IKEv2Manager::IKEv2Connected, &f.manager, onNotifier, Qt::DirectConnection);
    connect(&f.manager, &IKEv2Manager::IKEv2ErrorOccurred, &f.manager, onNotifier, Qt::DirectConnection);
    connect(&f.manager, &IKEv2Manager::Connected, &f.manager, onResult);
    connect(&f.manager, &IKEv2Manager::Disconnected, &f.manager, onResult);
    f.manager.Connect(QStringLiteral("nl1.vpn.tovra.test"), IKEv2);

    if (fails)
        f.ras->notify(Ras::StateDisconnected, 691);
    else
        f.ras->notify(Ras::StateConnected);
    QVERIFY(notifierThread);
    QVERIFY(notifierThread != gui);
    QVERIFY(!resultThread); // queued, not yet delivered
    QTRY_VERIFY(resultThread);
    QCOMPARE(resultThread, gui);
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
    f.manager.Connect(QStringLiteral("nl1.vpn.tovra.test"), IKEv2);
    f.ras->statusScript = script;
    f.ras->notify(Ras::StateConnected);
    QVERIFY(Logs().contains("Connected"));

    QTRY_COMPARE(connected.count(), 1);
    QVERIFY(Logs().contains("Starting regular check of connection state"));
    QTRY_COMPARE(disconnected.count(), 1);
    QCOMPARE(f.ras->statusQueries, script.size());
    QCOMPARE(Logs().count(line), 1);
    QVERIFY(!f.timer("statusTimer")->isActive());
    QCOMPARE(f.ras->hangUps.size(), 0);
}

void tst_IKEv2Manager::disconnectWithoutConnection_data()
{
    QTest::addColumn<bool>("onExit");
    QTest::addColumn<QString>("line");
    QTest::newRow("user disconnect") << false << QStringLiteral("Disconnecting from Auto server.");
    QTest::newRow("exit") << true << QStringLiteral("Disconnecting from Auto on exit...");
}

void tst_IKEv2Manager::disconnectWithoutConnection()
{
    QFETCH(bool, onExit);
    QFETCH(QString, line);
    Fixture f;
    QSignalSpy disconnected(&f.manager, &IKEv2Manager::Disconnected);
    if (onExit)
        f.manager.DisconnectOnExit();
    else
        f.manager.Disconnect();
    QCOMPARE(disconnected.count(), 1);
    QCOMPARE(f.ras->calls, QStringList({"hangUp", "dispatchMessages", "getConnectStatus"}));
    QCOMPARE(f.ras->hangUps, QVector<RasHandle>{0});
    QCOMPARE(Logs(), QStringList({line, "Auto disconnected."}));
}

void tst_IKEv2Manager::hangUpWait_data()
{
    QTest::addColumn<int>("closeAfter");
    QTest::addColumn<bool>("givesUp");
    QTest::newRow("closes after three queries") << 3 << false;
    QTest::newRow("never closes") << -1 << true;
}

void tst_IKEv2Manager::hangUpWait()
{
    QFETCH(int, closeAfter);
    QFETCH(bool, givesUp);
    Fixture f;
    f.manager.hangUpWaitLimit = 300;
    f.manager.hangUpPollPause = 20;
    QSignalSpy disconnected(&f.manager, &IKEv2Manager::Disconnected);
    f.manager.Connect(QStringLiteral("nl1.vpn.tovra.test"), L2TP);
    f.ras->notify(Ras::StateConnected);
    QTRY_VERIFY(f.timer("statusTimer")->isActive());
    f.ras->hangUpCloseAfterQueries = closeAfter;
    f.ras->calls.clear();
    f.ras->statusQueries = 0;

    f.manager.Disconnect();

    QCOMPARE(disconnected.count(), 1);
    QCOMPARE(f.ras->hangUps.size(), 1);
    QStringList calls = f.ras->calls;
    QCOMPARE(calls.takeFirst(), QStringLiteral("hangUp"));
    // Every query follows a dispatch of the pending messages.
    for (int i = 0; i < calls.size(); ++i)
        QCOMPARE(calls.at(i), QString::fromLatin1(i % 2 ? "getConnectStatus" : "dispatchMessages"));
    if (givesUp) {
        // Paused between queries: at most one query per pause within the limit.
        QVERIFY(f.ras->statusQueries >= 2);
        QVERIFY2(f.ras->statusQueries <= 300 / 20 + 2, qPrintable(QString::number(f.ras->statusQueries)));
        QVERIFY(Logs().contains("L2TP connection still open 0.3 s after hang-up, not waiting longer."));
    } else {
        QCOMPARE(f.ras->statusQueries, 4);
        QVERIFY(!Logs().join('\n').contains("not waiting longer"));
    }
    QVERIFY(Logs().contains("L2TP disconnected."));
    QVERIFY(!f.timer("statusTimer")->isActive());
}

void tst_IKEv2Manager::secondDisconnectDuringHangUpWait()
{
    Fixture f;
    QSignalSpy disconnected(&f.manager, &IKEv2Manager::Disconnected);
    f.manager.Connect(QStringLiteral("nl1.vpn.tovra.test"), IKEv2);
    f.ras->hangUpCloseAfterQueries = 2;
    bool nested = false;
    f.ras->onDispatch = [&] {
        if (!nested) {
            nested = true;
            f.manager.Disconnect();
        }
    };
    f.manager.Disconnect();
    f.ras->onDispatch = nullptr;
    QVERIFY(nested);
    QCOMPARE(disconnected.count(), 1);
    QCOMPARE(f.ras->hangUps.size(), 1);
    QVERIFY(Logs().contains("Disconnect already in progress."));
}

void tst_IKEv2Manager::reportsAfterDisconnectAreDropped()
{
    Fixture f;
    QSignalSpy connected(&f.manager, &IKEv2Manager::Connected);
    QSignalSpy disconnected(&f.manager, &IKEv2Manager::Disconnected);
    f.manager.Connect(QStringLiteral("nl1.vpn.tovra.test"), IKEv2);
    f.manager.Disconnect();
    QCOMPARE(disconnected.count(), 1);

    f.ras->notify(Ras::StateConnected);
    f.ras->notify(Ras::StateDisconnected, 691);
    QTest::qWait(50);
    QCOMPARE(connected.count(), 0);
    QCOMPARE(disconnected.count(), 1);
    QVERIFY(f.manager.serverAvailable);
    QVERIFY(!f.timer("statusTimer")->isActive());
    QCOMPARE(f.ras->hangUps.size(), 1);
}

void tst_IKEv2Manager::connectFailures_data()
{
    QTest::addColumn<bool>("entryExists");
    QTest::addColumn<QList<quint32>>("setEntryResults");
    QTest::addColumn<quint32>("getEntryResult");
    QTest::addColumn<quint32>("dialResult");
    QTest::addColumn<QString>("dialErrorText");
    QTest::addColumn<QString>("line");
    QTest::addColumn<int>("dials");
    QTest::newRow("entry cannot be created") << false << QList<quint32>{5} << 0u << 0u << QString()
                                             << QStringLiteral("IKEv2 connection result: error - access denied.") << 0;
    QTest::newRow("creation fails with an unlisted code")
        << false << QList<quint32>{632} << 0u << 0u << QString()
        << QStringLiteral("IKEv2 connection result: error - 632.") << 0;
    QTest::newRow("entry cannot be read") << true << QList<quint32>{} << 623u << 0u << QString()
                                          << QStringLiteral("Error occurred while reading current settings: 623") << 0;
    QTest::newRow("entry cannot be written") << true << QList<quint32>{87} << 0u << 0u << QString()
                                             << QStringLiteral("Error occurred while setting selected server: 87") << 0;
    QTest::newRow("dial does not start") << true << QList<quint32>{} << 0u << 633u
                                         << QStringLiteral("The port is already in use.")
                                         << QStringLiteral(
                                                "Connection failed with error 633: The port is already in use.")
                                         << 1;
    QTest::newRow("dial does not start, no text") << true << QList<quint32>{} << 0u << 633u << QString()
                                                  << QStringLiteral("Connection failed with error : 633") << 1;
}

void tst_IKEv2Manager::connectFailures()
{
    QFETCH(bool, entryExists);
    QFETCH(QList<quint32>, setEntryResults);
    QFETCH(quint32, getEntryResult);
    QFETCH(quint32, dialResult);
    QFETCH(QString, dialErrorText);
    QFETCH(QString, line);
    QFETCH(int, dials);
    Fixture f;
    f.ras->entryExists = entryExists;
    f.ras->setEntryResults = setEntryResults;
    f.ras->getEntryResult = getEntryResult;
    f.ras->dialResult = dialResult;
    if (!dialErrorText.isNull())
        f.ras->errorTexts.insert(dialResult, dialErrorText);
    QSignalSpy canCancel(&f.manager, &IKEv2Manager::CanCancelConnecting);
    QSignalSpy disconnected(&f.manager, &IKEv2Manager::Disconnected);

    f.manager.Connect(QStringLiteral("nl1.vpn.tovra.test"), IKEv2);

    QVERIFY2(Logs().contains(line), qPrintable(Logs().join('\n')));
    QCOMPARE(f.ras->dials.size(), dials);
    if (dialResult)
        QCOMPARE(f.ras->errorStringBuffers, QVector<int>{256});
    if (!entryExists)
        QCOMPARE(f.ras->credentialWrites.size(), 1);
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
    f.manager.Connect(QStringLiteral("nl1.vpn.tovra.test"), IKEv2);
    if (trigger == QLatin1String("error"))
        f.ras->notify(Ras::StateDisconnected, 691);
    else if (trigger == QLatin1String("connected"))
        f.ras->notify(Ras::StateConnected);
    QTRY_VERIFY(f.timer(qPrintable(timer))->isActive());
    QCOMPARE(f.timer(qPrintable(timer))->interval(), interval);
    QCOMPARE(disconnected.count(), 0);
    QCOMPARE(f.ras->hangUps.size(), 0);
    QCOMPARE(f.ras->statusQueries, 0);
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
        const QString logs = Logs().join('\n');
        QVERIFY2(logs.contains("IKEv2 connection result: error - cannot open book."), qPrintable(logs));
        QVERIFY(logs.contains("no NetworkManager backend"));
    }

    const std::unique_ptr<RasApi> ras = CreateRasApi();
    ClearLogs();
    RasHandle handle = 1;
    RasDialParams params;
    params.entryName = QStringLiteral("TOVRAVPN");
    const quint32 result = ras->dial(params, nullptr, &handle);
    QVERIFY(result != 0);
    QCOMPARE(handle, RasHandle(0));
    QString text;
    QCOMPARE(ras->getErrorString(result, 256, &text), 0u);
    QVERIFY(!text.isEmpty());
    QVERIFY(Logs().join('\n').contains("RAS dial is not available: no NetworkManager backend"));
    RasConnStatus status;
    QCOMPARE(ras->getConnectStatus(handle, &status), Ras::ErrorInvalidHandle);
}

QTEST_GUILESS_MAIN(tst_IKEv2Manager)
#include "tst_ikev2manager.moc"
