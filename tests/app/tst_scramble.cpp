#include <QtTest>

#include "app/scramble.h"

class tst_Scramble : public QObject
{
    Q_OBJECT

private slots:
    void roundTrip_data();
    void roundTrip();
    void unscrambleLineBreaks();
};

void tst_Scramble::roundTrip_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("body");
    QTest::newRow("abc") << QStringLiteral("abc") << QStringLiteral("jJWY");
    QTest::newRow("empty") << QString() << QString();
    QTest::newRow("umlaut") << QStringLiteral("Grüße") << QStringLiteral("==QZfOMvDL3R");
}

void tst_Scramble::roundTrip()
{
    QFETCH(QString, text);
    QFETCH(QString, body);
    for (int i = 0; i < 200; ++i) {
        const QString scrambled = ScrambleText(text);
        QCOMPARE(scrambled.mid(4, scrambled.size() - 8), body);
        const QString letters = scrambled.left(4) + scrambled.right(4);
        for (const QChar c : letters)
            QVERIFY2(c >= QLatin1Char('A') && c <= QLatin1Char('Y'), qPrintable(scrambled));
        QCOMPARE(UnscrambleText(scrambled), text);
    }
}

void tst_Scramble::unscrambleLineBreaks()
{
    QCOMPARE(UnscrambleText(ScrambleText(QStringLiteral("a\nb"))), QStringLiteral("a\r\nb"));
}

QTEST_APPLESS_MAIN(tst_Scramble)
#include "tst_scramble.moc"
