#include <QtTest>

// Every image listed in art.list is compiled in at its size, with an "@2x" twin at twice that size.
class TestArt : public QObject
{
    Q_OBJECT

private slots:
    void imageAndTwin_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QSize>("size");
        QFile list(QStringLiteral(TOVRA_SOURCE_DIR "/client/resources/art.list"));
        QVERIFY(list.open(QIODevice::ReadOnly | QIODevice::Text));
        for (const QString &line : QString::fromUtf8(list.readAll()).split(QLatin1Char('\n'))) {
            const QStringList f = line.simplified().split(QLatin1Char(' '));
            if (f.size() >= 4 && !line.startsWith(QLatin1Char('#')))
                QTest::newRow(qPrintable(f[0])) << f[0] << QSize(f[2].toInt(), f[3].toInt());
        }
    }

    void imageAndTwin()
    {
        QFETCH(QString, path);
        QFETCH(QSize, size);
        QCOMPARE(QImage(QStringLiteral(":/%1.png").arg(path)).size(), size);
        QCOMPARE(QImage(QStringLiteral(":/%1@2x.png").arg(path)).size(), size * 2);
    }
};

QTEST_MAIN(TestArt)
#include "tst_art.moc"
