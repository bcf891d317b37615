#include <QtTest>

#include <QApplication>

#include "app/appcontext.h"
#include "app/startup.h"
#include "logcapture.h"
#include "testfiles.h"

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
    QVERIFY(QDir(m_dir.path()).mkpath(QStringLiteral("Data")));
    QVERIFY(QDir(m_dir.path()).mkpath(QStringLiteral("language")));
    for (const QString &name : {QStringLiteral("language/language_nl.qm"), QStringLiteral("language/language_de.qm")})
        QVERIFY2(QFile::copy(QStringLiteral(TOVRA_BIN_DIR "/") + name, m_dir.filePath(name)), qPrintable(name));
    AppContext::instance()->dataPaths()->setDir(m_dir.path());
}

void tst_Startup::translation_data()
{
    QTest::addColumn<QByteArray>("locale"); // null: no locale file
    QTest::addColumn<QString>("code");
    QTest::addColumn<QString>("text");
    const auto row = [](const char *name, const char *locale, const char *code, const char *text) {
        QTest::newRow(name) << QByteArray(locale) << QString::fromLatin1(code) << QString::fromUtf8(text);
    };
    row("no locale file", nullptr, "en", "Starting TOVRA VPN...");
    row("de", "de", "de", "TOVRA VPN wird gestartet...");
    row("nl, first line", "nl\nde", "nl", "TOVRA VPN wordt gestart...");
    row("no such translation: English", "fr", "fr", "Starting TOVRA VPN...");
}

void tst_Startup::translation()
{
    QFETCH(QByteArray, locale);
    QFETCH(QString, code);
    QFETCH(QString, text);
    const QString localePath = AppContext::instance()->dataPaths()->localeFile();
    QFile::remove(localePath);
    QVERIFY(locale.isNull() || writeFile(localePath, locale));
    LogCapture log;
    QCOMPARE(LoadTranslation(), text != QLatin1String("Starting TOVRA VPN..."));
    QCOMPARE(log.lines(), QStringList{QStringLiteral("Loading translation from: ") + m_dir.path() +
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
