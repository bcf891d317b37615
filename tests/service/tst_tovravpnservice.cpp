#include <QtTest>

#include "common/servicecontroller.h"
#include "netnamespace.h"
#include "serviceprocess.h"

#include <QTcpSocket>

#include <csignal>
#include <memory>

// The service program itself: its command line, and the command protocol over TCP with "-e foreground".
// As root the service runs in a private network namespace (so it never sees the machine's routes);
// otherwise on the machine's loopback, where it cannot change anything.
class tst_TovraVPNService : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void commandLine_data();
    void commandLine();
    void installAndRemove();
    void protocol_data();
    void protocol();
    void pauseAndResume();

private:
    std::unique_ptr<QTcpSocket> connectToService();
    // Everything the service has answered on socket, read after a full exchange on a second connection.
    QByteArray answeredSoFar(QTcpSocket &socket);

    std::unique_ptr<NetNamespace> m_namespace;
    ServiceProcess m_service;
};

void tst_TovraVPNService::initTestCase()
{
    QVERIFY(QFile::exists(ServiceProcess::program()));
    if (NetNamespace::skipReason().isEmpty()) {
        m_namespace = std::make_unique<NetNamespace>();
        QVERIFY(m_namespace->isValid());
        QVERIFY(m_namespace->enter());
    }
    QVERIFY2(m_service.start(m_namespace ? m_namespace->prefix() : QStringList()), qPrintable(m_service.log()));
}

void tst_TovraVPNService::cleanupTestCase()
{
    QVERIFY(m_service.stop());
    m_namespace.reset();
}

// Runs the program with one argument; its exit code, or -1 when it did not end normally.
static int Run(const QString &argument, QByteArray *output)
{
    QProcess process;
    process.start(ServiceProcess::program(), {argument});
    if (!process.waitForFinished() || process.exitStatus() != QProcess::NormalExit)
        return -1;
    *output = process.readAllStandardOutput();
    return process.exitCode();
}

void tst_TovraVPNService::commandLine_data()
{
    QTest::addColumn<QString>("argument");
    QTest::newRow("-help") << "-help";
    QTest::newRow("other letter case") << "-INSTALL";
    QTest::newRow("empty word") << "";
}

void tst_TovraVPNService::commandLine()
{
    QFETCH(QString, argument);
    QByteArray output;
    QCOMPARE(Run(argument, &output), 0);
    QCOMPARE(output, QByteArray("Wrong argument passed. Exiting..."));
}

void tst_TovraVPNService::installAndRemove()
{
    ServiceController controller(QStringLiteral("TovraVPNService"));
    if (controller.isInstalled())
        QSKIP("TovraVPNService is installed on this machine; the test would replace its registration");

    QByteArray output;
    QCOMPARE(Run(QStringLiteral("-install"), &output), 0);
    const bool installed = controller.isInstalled();
    QCOMPARE(output, installed ? QByteArray("TOVRA VPN service was installed.\n")
                               : QByteArray("TOVRA VPN service was not installed.\n"));
    if (installed)
        QCOMPARE(QFileInfo(controller.serviceFilePath()).canonicalFilePath(),
                 QFileInfo(ServiceProcess::program()).canonicalFilePath());

    QCOMPARE(Run(QStringLiteral("-remove"), &output), 0);
    QCOMPARE(output, installed ? QByteArray("TOVRA VPN service was not stopped.\nTOVRA VPN service was uninstalled.\n")
                               : QByteArray("TOVRA VPN service was not stopped.\n"
                                            "TOVRA VPN service was not uninstalled.\n"));
    QVERIFY(!controller.isInstalled());
}

std::unique_ptr<QTcpSocket> tst_TovraVPNService::connectToService()
{
    auto socket = std::make_unique<QTcpSocket>();
    socket->connectToHost(QStringLiteral("127.0.0.1"), 56143);
    if (!socket->waitForConnected(5000))
        return nullptr;
    // Accepted and served (or refused) before the test goes on.
    if (!m_service.waitForLog(QStringLiteral("New Connection")))
        return nullptr;
    return socket;
}

QByteArray tst_TovraVPNService::answeredSoFar(QTcpSocket &socket)
{
    // The service handles one thing at a time: once a later connection has its reply, anything the
    // earlier one was going to get has been sent.
    auto barrier = connectToService();
    if (!barrier)
        return "no barrier";
    barrier->write("REMOVE_DNS_FILTERS\n");
    if (!QTest::qWaitFor([&] { return barrier->bytesAvailable() >= 43; }, 20000))
        return "no barrier reply";
    QCoreApplication::processEvents();
    socket.waitForReadyRead(0);
    return socket.readAll();
}

void tst_TovraVPNService::protocol_data()
{
    QTest::addColumn<QByteArray>("sent");
    QTest::addColumn<QByteArray>("reply");

    const QByteArray info("SRV ERROR INFO: Default gateway () not found");
    QTest::newRow("INFO") << QByteArray("INFO\n") << info;
    QTest::newRow("trailing words") << QByteArray("INFO now please\n") << info;
    QTest::newRow("CR LF and blanks") << QByteArray("  INFO\r\n") << info;
    QTest::newRow("text after NUL ignored") << QByteArray("INFO\0DELETE\n", 12) << info;
    QTest::newRow("no line end yet") << QByteArray("INFO") << QByteArray();
    QTest::newRow("lower case") << QByteArray("info\n") << QByteArray();
    QTest::newRow("unknown word") << QByteArray("HELLO\n") << QByteArray();
    QTest::newRow("two commands in one packet") << QByteArray("INFO\nDELETE\n") << QByteArray();
    QTest::newRow("tab after word") << QByteArray("INFO\tx\n") << QByteArray();
    QTest::newRow("REMOVE without ADD") << QByteArray("REMOVE_DNS_FILTERS\n")
                                        << QByteArray("SRV SUCCESS DNS REMOVE: Wfp filters removed");
}

void tst_TovraVPNService::protocol()
{
    QFETCH(QByteArray, sent);
    QFETCH(QByteArray, reply);
    auto socket = connectToService();
    QVERIFY(socket);
    socket->write(sent);
    QVERIFY(socket->waitForBytesWritten(5000));
    if (!reply.isEmpty())
        QVERIFY(socket->bytesAvailable() > 0 || socket->waitForReadyRead(20000));
    // Exactly the reply, no line end, and the connection stays open for the client to close.
    QCOMPARE(socket->readAll() + answeredSoFar(*socket), reply);
    QCOMPARE(socket->state(), QAbstractSocket::ConnectedState);
}

void tst_TovraVPNService::pauseAndResume()
{
    auto before = connectToService();
    QVERIFY(before);

    QVERIFY(m_service.signal(SIGUSR1));
    QVERIFY2(m_service.waitForLog(QStringLiteral("Service paused")), qPrintable(m_service.log()));

    // Data on an open connection is not read while paused.
    before->write("INFO\n");
    QVERIFY(before->waitForBytesWritten(5000));

    // A connection made while paused is never served: the service closes it.
    QTcpSocket during;
    during.connectToHost(QStringLiteral("127.0.0.1"), 56143);
    QVERIFY(during.waitForConnected(5000));
    during.write("INFO\n");
    QTRY_COMPARE_WITH_TIMEOUT(during.state(), QAbstractSocket::UnconnectedState, 20000);
    QCOMPARE(during.readAll(), QByteArray());

    QVERIFY(m_service.signal(SIGUSR2));
    QVERIFY2(m_service.waitForLog(QStringLiteral("Service resumed")), qPrintable(m_service.log()));

    // What waited is handled at the next arrival of data.
    QCOMPARE(answeredSoFar(*before), QByteArray());
    before->write("\n");
    QVERIFY(before->waitForReadyRead(20000));
    QCOMPARE(before->readAll(), QByteArray("SRV ERROR INFO: Default gateway () not found"));
    QVERIFY(!m_service.log().contains(QStringLiteral("Failed")));
}

QTEST_GUILESS_MAIN(tst_TovraVPNService)
#include "tst_tovravpnservice.moc"
