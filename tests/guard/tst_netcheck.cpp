#include <QtTest>
#include <unistd.h>

#include "guard/tovraipmanager.h"

// The two network checks, run by a probe inside network namespaces made for the purpose.
class tst_NetCheck : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void inNamespace_data();
    void inNamespace();
    void emptyHost();

private:
    bool Ip(const QStringList &args);
    QString namespaceName;
    QString skipReason;
    int namespaceCount = 0;
};

bool tst_NetCheck::Ip(const QStringList &args)
{
    QProcess ip;
    ip.start(QStringLiteral("ip"), args);
    return ip.waitForFinished(10000) && ip.exitStatus() == QProcess::NormalExit && ip.exitCode() == 0;
}

void tst_NetCheck::initTestCase()
{
    if (geteuid() != 0)
        skipReason = QStringLiteral("network namespaces need root");
    else if (QStandardPaths::findExecutable(QStringLiteral("ip")).isEmpty() ||
             QStandardPaths::findExecutable(QStringLiteral("ping")).isEmpty())
        skipReason = QStringLiteral("needs ip (iproute2) and ping (iputils-ping)");
}

void tst_NetCheck::cleanup()
{
    if (!namespaceName.isEmpty())
        Ip({QStringLiteral("netns"), QStringLiteral("delete"), namespaceName});
    namespaceName.clear();
}

void tst_NetCheck::inNamespace_data()
{
    QTest::addColumn<QStringList>("setup"); // ip commands run in the namespace, ";" separated words
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("expected");
    const QString pair = QStringLiteral("link add v0 type veth peer name v1");
    QTest::newRow("loopback down") << QStringList{} << "127.0.0.1"
                                   << "connected=0 ping=0";
    QTest::newRow("loopback only") << QStringList{"link set lo up"} << "127.0.0.1"
                                   << "connected=0 ping=1";
    QTest::newRow("interface down") << QStringList{"link set lo up", pair, "addr add 10.77.0.1/24 dev v0",
                                                   "link set v1 up"}
                                    << "127.0.0.1"
                                    << "connected=0 ping=1";
    QTest::newRow("interface up without carrier")
        << QStringList{"link set lo up", pair, "addr add 10.77.0.1/24 dev v0", "link set v0 up"} << "127.0.0.1"
        << "connected=0 ping=1";
    // Only the automatic IPv6 link-local addresses: no way off the link.
    QTest::newRow("interface up without address")
        << QStringList{pair, "link set v0 up", "link set v1 up"} << "127.0.0.1"
        << "connected=0 ping=0";
    QTest::newRow("interface up with address")
        << QStringList{"link set lo up", pair, "addr add 10.77.0.1/24 dev v0", "link set v0 up", "link set v1 up"}
        << "10.77.0.1"
        << "connected=1 ping=1";
    QTest::newRow("unanswered address") << QStringList{"link set lo up", pair, "addr add 10.77.0.1/24 dev v0",
                                                       "link set v0 up", "link set v1 up"}
                                        << "10.77.0.2"
                                        << "connected=1 ping=0";
}

void tst_NetCheck::inNamespace()
{
    QFETCH(QStringList, setup);
    QFETCH(QString, host);
    QFETCH(QString, expected);
    if (!skipReason.isEmpty())
        QSKIP(qPrintable(skipReason));
    namespaceName =
        QStringLiteral("tovra-netcheck-%1-%2").arg(QCoreApplication::applicationPid()).arg(++namespaceCount);
    QVERIFY(Ip({QStringLiteral("netns"), QStringLiteral("add"), namespaceName}));
    for (const QString &command : setup)
        QVERIFY2(Ip(QStringList{QStringLiteral("-n"), namespaceName} + command.split(QLatin1Char(' '))),
                 qPrintable(command));

    QProcess probe;
    probe.start(QStringLiteral("ip"), {QStringLiteral("netns"), QStringLiteral("exec"), namespaceName,
                                       QStringLiteral(TOVRA_NETCHECK_PROBE), host});
    QVERIFY(probe.waitForFinished(30000));
    QCOMPARE(probe.exitCode(), 0);
    // ping writes its own lines first; the probe's verdict is the last one.
    const QStringList lines = QString::fromLatin1(probe.readAllStandardOutput()).trimmed().split(QLatin1Char('\n'));
    QCOMPARE(lines.last(), expected);
}

void tst_NetCheck::emptyHost()
{
    QTest::ignoreMessage(QtDebugMsg, "No host to ping");
    QVERIFY(!CheckActiveNetwork(QString()));
}

QTEST_GUILESS_MAIN(tst_NetCheck)
#include "tst_netcheck.moc"
