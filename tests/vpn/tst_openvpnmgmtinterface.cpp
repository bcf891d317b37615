#include <QSignalSpy>
#include <QtTest>
#include <functional>

#include "vpn/openvpnmgmtinterface.h"
#include "vpntesthelpers.h"

using Command = std::function<void(OpenVpnMgmtInterface &)>;
Q_DECLARE_METATYPE(Command)

class tst_OpenVpnMgmtInterface : public QObject
{
    Q_OBJECT

private slots:
    void commandsOnTheWire_data();
    void commandsOnTheWire();
    void receivedChunks_data();
    void receivedChunks();
    void refusedConnectionIsReportedOnce();
    void remoteCloseIsReportedOnceAfterTheText();
    void connectAgainReplacesTheChannel();
    void disconnectWhenUnconnectedOnlyLogs();
};

void tst_OpenVpnMgmtInterface::commandsOnTheWire_data()
{
    QTest::addColumn<Command>("command");
    QTest::addColumn<QByteArray>("wire");
    QTest::addColumn<QString>("logLine"); // the "Sending command :" line, empty when there must be none
    QTest::addColumn<QString>("secret");  // must appear in no log line

    const QString noLine;
    QTest::newRow("user name") << Command([](OpenVpnMgmtInterface &i) { i.SendUsername(QStringLiteral("a@b.c")); })
                               << QByteArray("username \"Auth\" a@b.c\n")
                               << QStringLiteral(R"(Sending command : "username \"Auth\" a@b.c\n")") << QString();
    QTest::newRow("empty user name is the bare prefix")
        << Command([](OpenVpnMgmtInterface &i) { i.SendUsername(QString()); }) << QByteArray("username \"Auth\" \n")
        << QStringLiteral(R"(Sending command : "username \"Auth\" \n")") << QString();
    QTest::newRow("non-ASCII user name goes as UTF-8")
        << Command([](OpenVpnMgmtInterface &i) { i.SendUsername(QStringLiteral("jörg@x.de")); })
        << QByteArray("username \"Auth\" j\xc3\xb6rg@x.de\n")
        << QStringLiteral(R"(Sending command : "username \"Auth\" j\xC3\xB6rg@x.de\n")") << QString();
    QTest::newRow("password is masked in the log only")
        << Command([](OpenVpnMgmtInterface &i) { i.SendPassword(QStringLiteral("9f8e7d6c")); })
        << QByteArray("password \"Auth\" 9f8e7d6c\n")
        << QStringLiteral(R"(Sending command : "password \"Auth\" ********\n")") << QStringLiteral("9f8e7d6c");
    QTest::newRow("non-ASCII password: one star per character, UTF-8 on the wire")
        << Command([](OpenVpnMgmtInterface &i) { i.SendPassword(QStringLiteral("pä€")); })
        << QByteArray("password \"Auth\" p\xc3\xa4\xe2\x82\xac\n")
        << QStringLiteral(R"(Sending command : "password \"Auth\" ***\n")") << QStringLiteral("pä€");
    QTest::newRow("empty password") << Command([](OpenVpnMgmtInterface &i) { i.SendPassword(QString()); })
                                    << QByteArray("password \"Auth\" \n")
                                    << QStringLiteral(R"(Sending command : "password \"Auth\" \n")") << QString();
    QTest::newRow("SIGTERM") << Command([](OpenVpnMgmtInterface &i) { i.SendSIGTERM(); })
                             << QByteArray("signal SIGTERM\n")
                             << QStringLiteral(R"(Sending command : "signal SIGTERM\n")") << QString();
    QTest::newRow("release hold turns state notices on first")
        << Command([](OpenVpnMgmtInterface &i) { i.SendReleaseHold(); }) << QByteArray("state on\nhold release\n")
        << noLine << QString();
    QTest::newRow("state on") << Command([](OpenVpnMgmtInterface &i) { i.SetState(); }) << QByteArray("state on\n")
                              << noLine << QString();
}

void tst_OpenVpnMgmtInterface::commandsOnTheWire()
{
    QFETCH(Command, command);
    QFETCH(QByteArray, wire);
    QFETCH(QString, logLine);
    QFETCH(QString, secret);

    LogCapture log;
    ManagementPeer peer;
    QVERIFY(peer.listen());
    OpenVpnMgmtInterface channel;
    channel.Connect();
    QVERIFY(peer.waitForClient());
    QTRY_VERIFY(peer.client->state() == QAbstractSocket::ConnectedState);

    command(channel);
    QVERIFY(peer.waitForReceived(wire));
    QCOMPARE(peer.received, wire);

    const QStringList sent = log.lines().filter(QStringLiteral("Sending command :"));
    if (logLine.isEmpty()) {
        QVERIFY2(sent.isEmpty(), qPrintable(log.dump()));
    } else {
        QCOMPARE(sent, QStringList{logLine});
    }
    if (!secret.isEmpty()) {
        for (const QString &line : log.lines())
            QVERIFY2(!line.contains(secret), qPrintable(line));
    }
}

void tst_OpenVpnMgmtInterface::receivedChunks_data()
{
    QTest::addColumn<QByteArray>("sent");
    QTest::addColumn<QString>("message");

    QTest::newRow("two notices in one read")
        << QByteArray(">HOLD:Waiting for hold release:0\r\n>STATE:1700000000,WAIT,,,,,,\r\n")
        << QStringLiteral(">HOLD:Waiting for hold release:0\r\n>STATE:1700000000,WAIT,,,,,,\r\n");
    QTest::newRow("bytes after a NUL are dropped")
        << QByteArray(">INFO:hello\r\n\0>HOLD:x\r\n", 22) << QStringLiteral(">INFO:hello\r\n");
    QTest::newRow("a partial line is passed on as it is")
        << QByteArray(">STATE:1700000000,CONNEC") << QStringLiteral(">STATE:1700000000,CONNEC");
}

void tst_OpenVpnMgmtInterface::receivedChunks()
{
    QFETCH(QByteArray, sent);
    QFETCH(QString, message);

    LogCapture log;
    ManagementPeer peer;
    QVERIFY(peer.listen());
    OpenVpnMgmtInterface channel;
    QSignalSpy spy(&channel, &OpenVpnMgmtInterface::MessageReceived);
    channel.Connect();
    QVERIFY(peer.waitForClient());

    peer.send(sent);
    QVERIFY(spy.wait());
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).toString(), message);
    QVERIFY2(log.contains(message), qPrintable(log.dump()));
}

void tst_OpenVpnMgmtInterface::refusedConnectionIsReportedOnce()
{
    LogCapture log;
    OpenVpnMgmtInterface channel; // nobody listens on the management port
    QSignalSpy spy(&channel, &OpenVpnMgmtInterface::MessageReceived);
    channel.Connect();
    QVERIFY(spy.wait());
    QTest::qWait(50);
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).toString(), QStringLiteral("Socket error"));
    QVERIFY2(log.contains(QStringLiteral("The connection was refused by the peer. Make sure the openvpn server is "
                                         "running, and check that the host name and port settings are correct.")),
             qPrintable(log.dump()));
}

void tst_OpenVpnMgmtInterface::remoteCloseIsReportedOnceAfterTheText()
{
    LogCapture log;
    ManagementPeer peer;
    QVERIFY(peer.listen());
    OpenVpnMgmtInterface channel;
    QSignalSpy spy(&channel, &OpenVpnMgmtInterface::MessageReceived);
    channel.Connect();
    QVERIFY(peer.waitForClient());

    peer.send(">STATE:1700000000,EXITING,SIGTERM,,,,,\r\n");
    QVERIFY(spy.wait());
    peer.closeClient();
    QTRY_COMPARE(spy.count(), 2);
    QTest::qWait(50);
    QCOMPARE(spy.count(), 2);
    QCOMPARE(spy.at(0).at(0).toString(), QStringLiteral(">STATE:1700000000,EXITING,SIGTERM,,,,,\r\n"));
    QCOMPARE(spy.at(1).at(0).toString(), QStringLiteral("Socket error"));
    QCOMPARE(log.count(QStringLiteral("Remote host closed socket.")), 1);
}

void tst_OpenVpnMgmtInterface::connectAgainReplacesTheChannel()
{
    ManagementPeer peer;
    QVERIFY(peer.listen());
    OpenVpnMgmtInterface channel;
    channel.Connect();
    QVERIFY(peer.waitForClient(1));
    QTcpSocket *first = peer.client;
    QTRY_VERIFY(first->state() == QAbstractSocket::ConnectedState);

    // Once after the peer went away, once while the old channel is still up.
    peer.closeClient();
    QTRY_VERIFY(peer.clientGone());
    channel.Connect();
    QVERIFY(peer.waitForClient(2));
    QTRY_VERIFY(peer.client->state() == QAbstractSocket::ConnectedState);
    QTcpSocket *second = peer.client;
    channel.Connect();
    QVERIFY(peer.waitForClient(3));
    QTRY_VERIFY(second->state() == QAbstractSocket::UnconnectedState);

    peer.received.clear();
    channel.SetState();
    QVERIFY(peer.waitForReceived("state on\n"));
    QCOMPARE(peer.received, QByteArray("state on\n"));
}

void tst_OpenVpnMgmtInterface::disconnectWhenUnconnectedOnlyLogs()
{
    LogCapture log;
    OpenVpnMgmtInterface channel;
    QSignalSpy spy(&channel, &OpenVpnMgmtInterface::MessageReceived);
    channel.Disconnect();
    QTest::qWait(20);
    QCOMPARE(log.lines(), QStringList{QStringLiteral("Disconnecting management interface.")});
    QCOMPARE(spy.count(), 0);
}

QTEST_GUILESS_MAIN(tst_OpenVpnMgmtInterface)
#include "tst_openvpnmgmtinterface.moc"
