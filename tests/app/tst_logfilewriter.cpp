#include <QtTest>

#include <thread>

#include "app/appcontext.h"
#include "app/logfilewriter.h"
#include "app/scramble.h"
#include "testfiles.h"

// Runs with the writer installed as the message handler, on a data folder that holds an earlier run's log.
class tst_LogFileWriter : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase() { qInstallMessageHandler(m_previous); }
    void lines();
    void wholeLinesFromTwoThreads();
    void stampFollowsTheClock();

private:
    // Level and unscrambled text of each line; a line out of format fails the test.
    QStringList readLines() const;
    QTemporaryDir m_dir;
    QtMessageHandler m_previous = nullptr;
};

void tst_LogFileWriter::initTestCase()
{
    QVERIFY(writeFile(m_dir.filePath(QStringLiteral("Data/TOVRA.log")), "old run\n"));
    AppContext::instance()->dataPaths()->setDir(m_dir.path());
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    m_previous = qInstallMessageHandler(LogMessageHandler);
}

QStringList tst_LogFileWriter::readLines() const
{
    static const QRegularExpression pattern(
        QStringLiteral("^([A-Z][a-z]{2}) \\d\\d \\d\\d:\\d\\d:\\d\\d \\| (Message|Critical|Fatal): "
                       "([A-Y]{4}[A-Za-z0-9+/=]*[A-Y]{4})$"));
    QFile file(m_dir.filePath(QStringLiteral("Data/TOVRA.log")));
    if (!file.open(QIODevice::ReadOnly))
        return {QStringLiteral("no log file")};
    QStringList result;
    // Text mode writes the platform's line end, LF here.
    for (const QByteArray &line : file.readAll().split('\n')) {
        const QRegularExpressionMatch match = pattern.match(QString::fromLatin1(line));
        // Month names are English whatever the locale.
        if (match.hasMatch() &&
            QStringLiteral("JanFebMarAprMayJunJulAugSepOctNovDec").indexOf(match.captured(1)) % 3 == 0)
            result.append(match.captured(2) + QLatin1Char(' ') + UnscrambleText(match.captured(3)));
        else if (!line.isEmpty())
            result.append(QStringLiteral("bad line: ") + QString::fromLatin1(line));
    }
    return result;
}

void tst_LogFileWriter::lines()
{
    qDebug() << "Get local ip";
    qWarning() << "a warning stays out";
    qInfo() << "info stays out";
    qCritical() << "Critical thing" << 42;
    qDebug().noquote() << "Grüße aus" << QStringLiteral("Köln");
    // Nothing of the tear-down reaches the file.
    LogFileWriter::instance()->enabled = false;
    qDebug() << "during tear-down";
    LogFileWriter::instance()->enabled = true;

    QCOMPARE(readLines(),
             (QStringList{QStringLiteral("Message Get local ip"), QStringLiteral("Critical Critical thing 42"),
                          QStringLiteral("Message Grüße aus Köln")}));
    // Readable by its user only, also where the earlier run's file was open to all.
    const QFile::Permissions others = QFile::ReadGroup | QFile::WriteGroup | QFile::ReadOther | QFile::WriteOther;
    QCOMPARE(QFileInfo(m_dir.filePath(QStringLiteral("Data/TOVRA.log"))).permissions() & others, QFile::Permissions());
}

void tst_LogFileWriter::wholeLinesFromTwoThreads()
{
    const int before = readLines().size();
    constexpr int perThread = 400;
    const auto spam = [](const char *who) {
        for (int i = 0; i < perThread; ++i)
            qDebug().noquote() << who << QByteArray(64, 'x');
    };
    std::thread other(spam, "worker");
    spam("main");
    other.join();

    const QStringList lines = readLines().mid(before);
    QCOMPARE(lines.size(), 2 * perThread);
    const QString tail = QLatin1Char(' ') + QString(64, QLatin1Char('x'));
    QCOMPARE(QPair(lines.count("Message worker" + tail), lines.count("Message main" + tail)),
             QPair(perThread, perThread));
}

void tst_LogFileWriter::stampFollowsTheClock()
{
    const auto stamp = [] {
        return QLocale(QStringLiteral("en")).toString(QDateTime::currentDateTime(), QStringLiteral("MMM dd hh:mm:ss"));
    };
    QList<QStringList> allowed;
    for (int i = 0; i < 2; ++i) {
        const QString before = stamp();
        qDebug() << "tick";
        allowed << QStringList{before, stamp()};
        // The next line falls in a later second.
        const qint64 second = QDateTime::currentSecsSinceEpoch();
        QVERIFY(QTest::qWaitFor([&] { return QDateTime::currentSecsSinceEpoch() > second; }, 10000));
    }
    QFile file(m_dir.filePath(QStringLiteral("Data/TOVRA.log")));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = file.readAll().trimmed().split('\n');
    for (int i = 0; i < 2; ++i) {
        const QString written = QString::fromLatin1(lines.value(lines.size() - 2 + i).left(15));
        QVERIFY2(allowed.at(i).contains(written), qPrintable(written + QLatin1Char(' ') + allowed.at(i).join(' ')));
    }
}

QTEST_GUILESS_MAIN(tst_LogFileWriter)
#include "tst_logfilewriter.moc"
