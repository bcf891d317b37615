#include <QSignalSpy>
#include <QtTest>
#include <functional>
#include <optional>

#include "vpn/openvpnmgmtinterface.h"
#include "vpntesthelpers.h"

using Channel = OpenVpnMgmtInterface;

struct CommandCase
{
    std::function<void(Channel &)> send;
    QByteArray wire;
    QString logLine; // the one "Sending command :" line; empty when there must be none
    QString secret;  // must appear in no log line
};
Q_DECLARE_METATYPE(CommandCase)

class tst_OpenVpnMgmtInterface : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void commandsOnTheWire_data();
    void commandsOnTheWire();
    void peerToChannel_data();
    void peerToChannel();
    void connectAgainReplacesTheChannel();

private:
    bool open()
    {
        if (!m_peer->listen())
            return false;
        m_channel->Connect();
        return m_peer->waitForConnected();
    }

    std::optional<LogCapture> m_log;
    std::optional<ManagementPeer> m_peer;
    std::optional<Channel> m_channel;
};

void tst_OpenVpnMgmtInterface::init()
{
    m_log.emplace();
    m_peer.emplace();
    m_channel.emplace();
}

void tst_OpenVpnMgmtInterface::cleanup()
{
    m_channel.reset();
    m_peer.reset();
}

void tst_OpenVpnMgmtInterface::commandsOnTheWire_data()
{
    QTest::addColumn<CommandCase>("c");
    QTest::newRow("user name") << CommandCase{[](Channel &c) { c.SendUsername("a@b.c"); },
                                              "username \"Auth\" a@b.c\n",
                                              R"(Sending command : "username \"Auth\" a@b.c\n")",
                                              {}};
    QTest::newRow("password is masked in the log only")
        << CommandCase{[](Channel &c) { c.SendPassword("9f8e7d6c"); }, "password \"Auth\" 9f8e7d6c\n",
                       R"(Sending command : "password \"Auth\" ********\n")", "9f8e7d6c"};
    QTest::newRow("non-ASCII password: one star per character, UTF-8 on the wire") << CommandCase{
        [](Channel &c) { c.SendPassword(QStringLiteral("pä€")); }, "password \"Auth\" p\xc3\xa4\xe2\x82\xac\n",
        R"(Sending command : "password \"Auth\" ***\n")", QStringLiteral("pä€")};
    QTest::newRow("empty password") << CommandCase{[](Channel &c) { c.SendPassword(QString()); },
                                                   "password \"Auth\" \n",
                                                   R"(Sending command : "password \"Auth\" \n")",
                                                   {}};
    QTest::newRow("SIGTERM") << CommandCase{
        [](Channel &c) { c.SendSIGTERM(); }, "signal SIGTERM\n", R"(Sending command : "signal SIGTERM\n")", {}};
    QTest::newRow("release hold turns state notices on first")
        << CommandCase{[](Channel &c) { c.SendReleaseHold(); }, "state on\nhold release\n", {}, {}};
}

void tst_OpenVpnMgmtInterface::commandsOnTheWire()
{
    QFETCH(CommandCase, c);
    QVERIFY(open());

    c.send(*m_channel);
    QVERIFY(m_peer->waitForReceived(c.wire));
    QCOMPARE(m_peer->received, c.wire);
    const QStringList sent = m_log->lines().filter(QStringLiteral("Sending command :"));
    QCOMPARE(sent, c.logLine.isEmpty() ? QStringList() : QStringList{c.logLine});
    for (const QString &line : m_log->lines())
        QVERIFY2(c.secret.isEmpty() || !line.contains(c.secret), qPrintable(line));
}

void tst_OpenVpnMgmtInterface::peerToChannel_data()
{
    QTest::addColumn<bool>("listen");
    QTest::addColumn<QByteArray>("sent");
    QTest::addColumn<bool>("close"); // the peer closes after sending
    QTest::addColumn<QStringList>("messages");
    QTest::addColumn<QString>("logLine"); // logged exactly once

    const QString notices = ">HOLD:Waiting for hold release:0\r\n>STATE:1700000000,WAIT,,,,,,\r\n";
    const QString exiting = ">STATE:1700000000,EXITING,SIGTERM,,,,,\r\n";
    QTest::newRow("two notices in one read") << true << notices.toLatin1() << false << QStringList{notices} << notices;
    QTest::newRow("bytes after a NUL are dropped") << true << QByteArray(">INFO:hello\r\n\0>HOLD:x\r\n", 22) << false
                                                   << QStringList{">INFO:hello\r\n"} << ">INFO:hello\r\n";
    QTest::newRow("a partial line is passed on as it is")
        << true << QByteArray(">STATE:1,CONNEC") << false << QStringList{">STATE:1,CONNEC"} << ">STATE:1,CONNEC";
    QTest::newRow("nobody listens: one error")
        << false << QByteArray() << false << QStringList{"Socket error"}
        << "The connection was refused by the peer. Make sure the openvpn server is running, and check that the "
           "host name and port settings are correct.";
    QTest::newRow("peer closes after its last notice: one error after the text")
        << true << exiting.toLatin1() << true << QStringList{exiting, "Socket error"} << "Remote host closed socket.";
}

void tst_OpenVpnMgmtInterface::peerToChannel()
{
    QFETCH(bool, listen);
    QFETCH(QByteArray, sent);
    QFETCH(bool, close);
    QFETCH(QStringList, messages);
    QFETCH(QString, logLine);
    QSignalSpy spy(&*m_channel, &Channel::MessageReceived);
    if (listen) {
        QVERIFY(open());
        m_peer->send(sent);
        QVERIFY(spy.wait());
    } else {
        m_channel->Connect();
    }
    if (close)
        m_peer->closeClient();

    QTRY_COMPARE(spy.count(), messages.size());
    QTest::qWait(50);
    QStringList received;
    for (const QList<QVariant> &arguments : spy)
        received << arguments.at(0).toString();
    QCOMPARE(received, messages);
    QCOMPARE(m_log->count(logLine), 1);
}

void tst_OpenVpnMgmtInterface::connectAgainReplacesTheChannel()
{
    QVERIFY(open());
    // Once after the peer went away, once while the old channel is still up.
    m_peer->closeClient();
    QTRY_VERIFY(m_peer->clientGone());
    m_channel->Connect();
    QVERIFY(m_peer->waitForClient(2));
    QVERIFY(m_peer->waitForConnected());
    QTcpSocket *second = m_peer->client;
    m_channel->Connect();
    QVERIFY(m_peer->waitForClient(3));
    QTRY_VERIFY(second->state() == QAbstractSocket::UnconnectedState);

    m_peer->received.clear();
    m_channel->SetState();
    QVERIFY(m_peer->waitForReceived("state on\n"));
    QCOMPARE(m_peer->received, QByteArray("state on\n"));
}

QTEST_GUILESS_MAIN(tst_OpenVpnMgmtInterface)
#include "tst_openvpnmgmtinterface.moc"
