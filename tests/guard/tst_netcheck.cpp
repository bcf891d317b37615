#include <QtTest>

#include "api/tovraipmanager.h"
#include "netns.h"

// The two network checks, run by a probe inside network namespaces made for the purpose.
class tst_NetCheck : public QObject
{
    Q_OBJECT

private slots:
    void inNamespace_data();
    void inNamespace();
    void emptyHost();
};

void tst_NetCheck::inNamespace_data()
{
    QTest::addColumn<QStringList>("setup"); // ip commands run in the namespace, its loopback down at first
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("expected");
    const auto row = [](const char *name, const QStringList &setup, const char *host, const char *expected) {
        QTest::newRow(name) << setup << QString::fromLatin1(host) << QString::fromLatin1(expected);
    };
    const QString pair = QStringLiteral("link add v0 type veth peer name v1");
    const QString address = QStringLiteral("addr add 10.77.0.1/24 dev v0");
    const QStringList up{"link set lo up", pair, address, "link set v0 up", "link set v1 up"};
    row("loopback down", {}, "127.0.0.1", "connected=0 ping=0");
    row("interface down", {"link set lo up", pair, address, "link set v1 up"}, "127.0.0.1", "connected=0 ping=1");
    // Only the automatic IPv6 link-local addresses: no way off the link.
    row("interface up without address", {pair, "link set v0 up", "link set v1 up"}, "127.0.0.1", "connected=0 ping=0");
    row("interface up with address", up, "10.77.0.1", "connected=1 ping=1");
    row("unanswered address", up, "10.77.0.2", "connected=1 ping=0");
}

void tst_NetCheck::inNamespace()
{
    QFETCH(QStringList, setup);
    QFETCH(QString, host);
    QFETCH(QString, expected);
    const QString reason = NetNamespace::skipReason({QStringLiteral("ping")});
    if (!reason.isEmpty())
        QSKIP(qPrintable(reason));
    NetNamespace ns(false);
    QVERIFY(ns.isValid());
    QVERIFY2(ns.ip(setup), qPrintable(setup.join(QLatin1String("; "))));

    const ProcessResult probe = ns.exec({QStringLiteral(TOVRA_NETCHECK_PROBE), host});
    QVERIFY2(probe.ok(), qPrintable(probe.error));
    // ping writes its own lines first; the probe's verdict is the last one.
    QCOMPARE(QString::fromLatin1(probe.output).trimmed().split(QLatin1Char('\n')).last(), expected);
}

void tst_NetCheck::emptyHost()
{
    QTest::ignoreMessage(QtDebugMsg, "No host to ping");
    QVERIFY(!CheckActiveNetwork(QString()));
}

QTEST_GUILESS_MAIN(tst_NetCheck)
#include "tst_netcheck.moc"
