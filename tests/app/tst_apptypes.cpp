#include <QtTest>

#include "app/apptypes.h"
#include "app/datapaths.h"
#include "app/scramble.h"
#include "testfiles.h"
#include "tovraconstants.h"

class tst_AppTypes : public QObject
{
    Q_OBJECT

private slots:
    void textForms_data();
    void textForms();
    void version();
    void ensureParentDir();
    void scramble_data();
    void scramble();
};

void tst_AppTypes::textForms_data()
{
    QTest::addColumn<int>("value");
    QTest::addColumn<QString>("protocol");
    QTest::addColumn<QString>("login");
    const auto row = [](const char *name, int value, const char *protocol, const char *login) {
        QTest::newRow(name) << value << QString::fromLatin1(protocol) << QString::fromLatin1(login);
    };
    row("0", 0, "Auto", "EMAIL");
    row("1", 1, "OpenVPN", "FACEBOOK");
    row("2", 2, "IKEv2", "GOOGLE");
    row("3", 3, "L2TP", "Email");
    row("4", 4, "PPtP", "Email");
    row("out of range", 9, "Auto", "Email");
}

// Written forms are exact; reading ignores case and maps anything unknown to 0.
void tst_AppTypes::textForms()
{
    QFETCH(int, value);
    QFETCH(QString, protocol);
    QFETCH(QString, login);
    QCOMPARE(ProtocolToString(value), protocol);
    QCOMPARE(int(ProtocolFromString(protocol.toLower())), value <= 4 ? value : 0);
    QCOMPARE(LoginMethodToString(value), login);
    QCOMPARE(int(LoginMethodFromString(login.toLower())), value <= 2 ? value : 0);
}

void tst_AppTypes::version()
{
    QCOMPARE(ReadAppVersion(), QString::fromUtf8(TovraConstants::ProjectVersion));
    QCOMPARE(FormatVersion(QStringLiteral("1.2.3.45")), QStringLiteral("1.2.3 (45)"));
    QCOMPARE(FormatVersion(QStringLiteral("4")), QStringLiteral("4"));
}

void tst_AppTypes::ensureParentDir()
{
    DataPaths paths(QStringLiteral("TOVRA"));
    paths.setDir(QStringLiteral("C:/Program Files/App"));
    QCOMPARE(paths.settingsFile(), QStringLiteral("C:/Program Files/App/Data/TOVRA.xml"));

    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("a/b/Data/TOVRA.xml"));
    QVERIFY(EnsureParentDir(file));
    QVERIFY(QFileInfo(dir.filePath(QStringLiteral("a/b/Data"))).isDir() && !QFile::exists(file));
    // A file standing where a folder must go makes it fail.
    QVERIFY(writeFile(dir.filePath(QStringLiteral("blocker")), ""));
    QVERIFY(!EnsureParentDir(dir.filePath(QStringLiteral("blocker/Data/x.log"))));
}

void tst_AppTypes::scramble_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("body");
    QTest::addColumn<QString>("unscrambled");
    const auto row = [](const char *name, const char *text, const char *body, const char *unscrambled) {
        QTest::newRow(name) << QString::fromUtf8(text) << QString::fromUtf8(body) << QString::fromUtf8(unscrambled);
    };
    row("abc", "abc", "jJWY", "abc");
    row("empty", "", "", "");
    row("one padding character", "ab", "=IWY", "ab");
    row("two-byte character, one padding character", "ü", "=w7w", "ü");
    row("umlaut", "Grüße", "==QZfOMvDL3R", "Grüße");
    row("line break comes back as CR LF", "a\nb", "ipQY", "a\r\nb");
}

void tst_AppTypes::scramble()
{
    QFETCH(QString, text);
    QFETCH(QString, body);
    QFETCH(QString, unscrambled);
    // Many rounds, so a letter outside A..Y would show up.
    for (int i = 0; i < 200; ++i) {
        const QString scrambled = ScrambleText(text);
        QCOMPARE(scrambled.mid(4, scrambled.size() - 8), body);
        const QString letters = scrambled.left(4) + scrambled.right(4);
        QVERIFY2(QRegularExpression(QStringLiteral("^[A-Y]{8}$")).match(letters).hasMatch(), qPrintable(scrambled));
        QCOMPARE(UnscrambleText(scrambled), unscrambled);
    }
}

QTEST_APPLESS_MAIN(tst_AppTypes)
#include "tst_apptypes.moc"
