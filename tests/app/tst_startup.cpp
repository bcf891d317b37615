#include <QtTest>

#include <QApplication>
#include <QFontDatabase>

#include "app/appcontext.h"
#include "app/startup.h"
#include "logcapture.h"

class tst_Startup : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void translation_data();
    void translation();
    void applicationFont();

private:
    QTemporaryDir m_dir;
};

void tst_Startup::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QDir dir(m_dir.path());
    QVERIFY(dir.mkpath(QStringLiteral("Data")));
    QVERIFY(dir.mkpath(QStringLiteral("language")));
    for (const char *code : {"nl", "de"}) {
        const QString name = QStringLiteral("language/language_%1.qm").arg(QLatin1String(code));
        QVERIFY2(QFile::copy(QStringLiteral(TOVRA_BIN_DIR "/") + name, m_dir.filePath(name)), qPrintable(name));
    }
    AppContext::instance()->dataPaths()->setDir(m_dir.path());
}

void tst_Startup::translation_data()
{
    QTest::addColumn<QByteArray>("locale");
    QTest::addColumn<QString>("code");
    QTest::addColumn<bool>("loaded");
    QTest::addColumn<QString>("text");
    QTest::newRow("no locale file") << QByteArray() << "en" << false << "Starting TOVRA VPN...";
    QTest::newRow("de") << QByteArray("de") << "de" << true << "TOVRA VPN wird gestartet...";
    QTest::newRow("nl") << QByteArray("nl\n") << "nl" << true << "TOVRA VPN wordt gestart...";
    QTest::newRow("unknown code") << QByteArray("fr") << "fr" << false << "Starting TOVRA VPN...";
}

void tst_Startup::translation()
{
    QFETCH(QByteArray, locale);
    QFETCH(QString, code);
    QFETCH(bool, loaded);
    QFETCH(QString, text);
    const QString localePath = AppContext::instance()->dataPaths()->localeFile();
    QFile::remove(localePath);
    if (!locale.isEmpty()) {
        QFile file(localePath);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(locale);
    }
    LogCapture log;
    QCOMPARE(LoadTranslation(), loaded);
    QCOMPARE(log.lines(), QStringList{QStringLiteral("Loading translation from:  ") + m_dir.path() +
                                      QStringLiteral("/language/language_") + code});
    QCOMPARE(QCoreApplication::translate("TovraMainWindow", "Starting TOVRA VPN..."), text);
}

void tst_Startup::applicationFont()
{
    LoadApplicationFont();
    const QString expected = QFile::exists(QStringLiteral(":/fonts/resources/fonts/SourceSansPro-Regular.ttf"))
                                 ? QStringLiteral("Source Sans Pro")
                                 : QStringLiteral("Arial");
    QCOMPARE(AppContext::instance()->appFont().family(), expected);
    QCOMPARE(QApplication::font().family(), expected);
}

QTEST_MAIN(tst_Startup)
#include "tst_startup.moc"
