#include <QtTest>

#include "app/apptypes.h"
#include "app/datapaths.h"

class tst_AppTypes : public QObject
{
    Q_OBJECT

private slots:
    void protocolText_data();
    void protocolText();
    void protocolWritten_data();
    void protocolWritten();
    void loginMethodText_data();
    void loginMethodText();
    void version();
    void formatVersion_data();
    void formatVersion();
    void dataPaths_data();
    void dataPaths();
    void ensureParentDir();
};

void tst_AppTypes::protocolText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("value");
    QTest::newRow("ikev2") << "ikev2" << 2;
    QTest::newRow("IKEv2") << "IKEv2" << 2;
    QTest::newRow("IKEV2") << "IKEV2" << 2;
    QTest::newRow("OpenVPN") << "OpenVPN" << 1;
    QTest::newRow("l2tp") << "l2tp" << 3;
    QTest::newRow("PPtP") << "PPtP" << 4;
    QTest::newRow("Auto") << "Auto" << 0;
    QTest::newRow("SSTP") << "SSTP" << 0;
    QTest::newRow("empty") << "" << 0;
}

void tst_AppTypes::protocolText()
{
    QFETCH(QString, text);
    QFETCH(int, value);
    QCOMPARE(int(ProtocolFromString(text)), value);
}

void tst_AppTypes::protocolWritten_data()
{
    QTest::addColumn<int>("value");
    QTest::addColumn<QString>("text");
    QTest::newRow("0") << 0 << "Auto";
    QTest::newRow("1") << 1 << "OpenVPN";
    QTest::newRow("2") << 2 << "IKEv2";
    QTest::newRow("3") << 3 << "L2TP";
    QTest::newRow("4") << 4 << "PPtP";
    QTest::newRow("out of range") << 9 << "Auto";
}

void tst_AppTypes::protocolWritten()
{
    QFETCH(int, value);
    QFETCH(QString, text);
    QCOMPARE(ProtocolToString(value), text);
}

void tst_AppTypes::loginMethodText_data()
{
    QTest::addColumn<int>("value");
    QTest::addColumn<QString>("written");
    QTest::addColumn<QString>("read");
    QTest::addColumn<int>("readValue");
    QTest::newRow("email") << 0 << "EMAIL"
                           << "email" << 0;
    QTest::newRow("facebook") << 1 << "FACEBOOK"
                              << "Facebook" << 1;
    QTest::newRow("google") << 2 << "GOOGLE"
                            << "google" << 2;
    QTest::newRow("unknown") << 7 << "Email"
                             << "twitter" << 0;
}

void tst_AppTypes::loginMethodText()
{
    QFETCH(int, value);
    QFETCH(QString, written);
    QFETCH(QString, read);
    QFETCH(int, readValue);
    QCOMPARE(LoginMethodToString(value), written);
    QCOMPARE(int(LoginMethodFromString(read)), readValue);
}

void tst_AppTypes::version()
{
    QCOMPARE(ReadAppVersion(), QStringLiteral("4.1.5.71"));
    QCOMPARE(FormatVersion(ReadAppVersion()), QStringLiteral("4.1.5 (71)"));
}

void tst_AppTypes::formatVersion_data()
{
    QTest::addColumn<QString>("version");
    QTest::addColumn<QString>("shown");
    QTest::newRow("four parts") << "4.1.5.71"
                                << "4.1.5 (71)";
    QTest::newRow("two parts") << "4.2"
                               << "4 (2)";
}

void tst_AppTypes::formatVersion()
{
    QFETCH(QString, version);
    QFETCH(QString, shown);
    QCOMPARE(FormatVersion(version), shown);
}

void tst_AppTypes::dataPaths_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("expected");
    DataPaths paths(QStringLiteral("TOVRA"));
    paths.setDir(QStringLiteral("C:/Program Files/App"));
    const QString data = QStringLiteral("C:/Program Files/App/Data/");
    QTest::newRow("log") << paths.logFile() << data + "TOVRA.log";
    QTest::newRow("settings") << paths.settingsFile() << data + "TOVRA.xml";
    QTest::newRow("token") << paths.tokenFile() << data + "TOVRA.token";
    QTest::newRow("locale") << paths.localeFile() << data + "locale.config";
    QTest::newRow("popup") << paths.popupFile() << data + "review.config";
    QTest::newRow("welcome") << paths.welcomeFile() << data + "welcome.config";
    QTest::newRow("interval") << paths.intervalFile() << data + "interval.config";
    QTest::newRow("openvpn") << paths.openVpnConfigFile() << data + "conn.ovpn";
    QTest::newRow("script") << paths.diagnosticsScript() << data + "getdata.bat";
    QTest::newRow("output") << paths.diagnosticsOutput() << data + "output.txt";
    QTest::newRow("support") << paths.supportDataFile() << data + "supportdata.log";
    QTest::newRow("translation") << paths.translationFile(QStringLiteral("de"))
                                 << QStringLiteral("C:/Program Files/App/language/language_de");
}

void tst_AppTypes::dataPaths()
{
    QFETCH(QString, path);
    QFETCH(QString, expected);
    QCOMPARE(path, expected);
}

void tst_AppTypes::ensureParentDir()
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("a/b/Data/TOVRA.xml"));
    QVERIFY(EnsureParentDir(file));
    QVERIFY(QFileInfo(dir.filePath(QStringLiteral("a/b/Data"))).isDir());
    QVERIFY(!QFile::exists(file));
    // A file standing where a folder must go makes it fail.
    QFile blocker(dir.filePath(QStringLiteral("blocker")));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    QVERIFY(!EnsureParentDir(dir.filePath(QStringLiteral("blocker/Data/x.log"))));
}

QTEST_APPLESS_MAIN(tst_AppTypes)
#include "tst_apptypes.moc"
