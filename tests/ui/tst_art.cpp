#include <QFile>
#include <QImage>
#include <QRegularExpression>
#include <QtTest>

// The drawn images listed beside the resources exist in the compiled resources at 1x and "@2x", at the
// listed size and twice that.
class TestArt : public QObject
{
    Q_OBJECT

private slots:
    void imageAndTwin_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QSize>("size");
        QFile list(QStringLiteral(TOVRA_SOURCE_DIR "/client/resources/art.list"));
        QVERIFY2(list.open(QIODevice::ReadOnly | QIODevice::Text), qPrintable(list.fileName()));
        int rows = 0;
        while (!list.atEnd()) {
            const QString line = QString::fromUtf8(list.readLine()).trimmed();
            if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
                continue;
            const QStringList fields = line.split(QRegularExpression(QStringLiteral("\\s+")));
            QVERIFY2(fields.size() == 4 || fields.size() == 5, qPrintable(line));
            QTest::newRow(qPrintable(fields[0]))
                << QStringLiteral(":/%1.png").arg(fields[0]) << QSize(fields[2].toInt(), fields[3].toInt());
            ++rows;
        }
        QVERIFY(rows > 0);
    }

    void imageAndTwin()
    {
        QFETCH(QString, path);
        QFETCH(QSize, size);
        const QImage normal(path);
        QVERIFY2(!normal.isNull(), qPrintable(path));
        QCOMPARE(normal.size(), size);
        QString twinPath = path;
        twinPath.insert(twinPath.size() - 4, QLatin1String("@2x"));
        const QImage twin(twinPath);
        QVERIFY2(!twin.isNull(), qPrintable(twinPath));
        QCOMPARE(twin.size(), size * 2);
    }
};

QTEST_MAIN(TestArt)
#include "tst_art.moc"
